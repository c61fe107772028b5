#pragma once
#include <QWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QComboBox>

class TFormChartCPM : public QWidget {
    Q_OBJECT
public:
    explicit TFormChartCPM(QWidget* parent = nullptr);

};

extern TFormChartCPM* FormChartCPM;
