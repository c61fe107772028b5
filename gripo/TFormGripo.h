#pragma once
#include <QWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QComboBox>

class TFormGripo : public QWidget {
    Q_OBJECT
public:
    explicit TFormGripo(QWidget* parent = nullptr);

};

extern TFormGripo* FormGripo;
