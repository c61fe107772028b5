#pragma once
#include <QWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QComboBox>

class TFormDisplay : public QWidget {
    Q_OBJECT
public:
    explicit TFormDisplay(QWidget* parent = nullptr);

};

extern TFormDisplay* FormDisplay;
