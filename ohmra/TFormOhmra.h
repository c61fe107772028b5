#pragma once
#include <QWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QComboBox>

class TFormOhmra : public QWidget {
    Q_OBJECT
public:
    explicit TFormOhmra(QWidget* parent = nullptr);
    QPlainTextEdit* MemoInfo = new QPlainTextEdit(this);
    QPushButton* BitBtn_save = new QPushButton(this);
    QPushButton* BitBtn_start = new QPushButton(this);
    QPushButton* BitBtn_stop = new QPushButton(this);
};

extern TFormOhmra* FormOhmra;
