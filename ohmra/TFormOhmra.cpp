#include "ohmra/TFormOhmra.h"

TFormOhmra* FormOhmra = nullptr;

TFormOhmra::TFormOhmra(QWidget* parent) : QWidget(parent)
{
    setWindowFlag(Qt::Window);
}
