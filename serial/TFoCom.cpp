#include "serial/TFoCom.h"

TFoCom* FoCom = nullptr;

TFoCom::TFoCom(QWidget* parent) : QWidget(parent)
{
    setWindowFlag(Qt::Window);
}
