#include "cpm/TFormChartCPM.h"

TFormChartCPM* FormChartCPM = nullptr;

TFormChartCPM::TFormChartCPM(QWidget* parent) : QWidget(parent)
{
    setWindowFlag(Qt::Window);
}
