#pragma once
#include <QWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QComboBox>

class TFormHelp : public QWidget {
    Q_OBJECT
public:
    explicit TFormHelp(QWidget* parent = nullptr);
    void FillHelp() {}
};

extern TFormHelp* FormHelp;
