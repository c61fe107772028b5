#pragma once
#include <QWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QComboBox>

class TFoCom : public QWidget {
    Q_OBJECT
public:
    explicit TFoCom(QWidget* parent = nullptr);

};

extern TFoCom* FoCom;
