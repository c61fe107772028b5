#include "cpm/TCPMSetup.h"

TCPMSetup* CPMSetup = nullptr;

TCPMSetup::TCPMSetup(QWidget* parent) : QWidget(parent)
{
    setWindowFlag(Qt::Window);
}
