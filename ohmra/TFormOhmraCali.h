#pragma once
#include <QWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QComboBox>

class TFormOhmraCali : public QWidget {
    Q_OBJECT
public:
    explicit TFormOhmraCali(QWidget* parent = nullptr);
    QPushButton* BitBtn_exit = new QPushButton(this);
};

extern TFormOhmraCali* FormOhmraCali;
