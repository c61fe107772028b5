#include "acquisition/TFormDisplay.h"

TFormDisplay* FormDisplay = nullptr;

TFormDisplay::TFormDisplay(QWidget* parent) : QWidget(parent)
{
    setWindowFlag(Qt::Window);
}
