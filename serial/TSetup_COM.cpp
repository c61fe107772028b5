#include "serial/TSetup_COM.h"

TSetup_COM* Setup_COM = nullptr;

TSetup_COM::TSetup_COM(QWidget* parent) : QWidget(parent)
{
    setWindowFlag(Qt::Window);
}
