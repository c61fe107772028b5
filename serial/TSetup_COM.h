#pragma once
#include <QWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QComboBox>

class TSetup_COM : public QWidget {
    Q_OBJECT
public:
    explicit TSetup_COM(QWidget* parent = nullptr);
    QComboBox* ComboBoxDeviceName = new QComboBox(this);
};

extern TSetup_COM* Setup_COM;
