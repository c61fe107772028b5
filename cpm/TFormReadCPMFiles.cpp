#include "cpm/TFormReadCPMFiles.h"

TFormReadCPMFiles* FormReadCPMFiles = nullptr;

TFormReadCPMFiles::TFormReadCPMFiles(QWidget* parent) : QWidget(parent)
{
    setWindowFlag(Qt::Window);
}
