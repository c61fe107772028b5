#include "app/TFormHelp.h"

TFormHelp* FormHelp = nullptr;

TFormHelp::TFormHelp(QWidget* parent) : QWidget(parent)
{
    setWindowFlag(Qt::Window);
}
