#include "gripo/TFormGripo.h"

TFormGripo* FormGripo = nullptr;

TFormGripo::TFormGripo(QWidget* parent) : QWidget(parent)
{
    setWindowFlag(Qt::Window);
}
