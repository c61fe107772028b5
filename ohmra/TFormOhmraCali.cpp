#include "ohmra/TFormOhmraCali.h"

TFormOhmraCali* FormOhmraCali = nullptr;

TFormOhmraCali::TFormOhmraCali(QWidget* parent) : QWidget(parent)
{
    setWindowFlag(Qt::Window);
}
