#include "ohmra/TFormOhmraFComment.h"

TFormOhmraFComment* FormOhmraFComment = nullptr;

TFormOhmraFComment::TFormOhmraFComment(QWidget* parent) : QWidget(parent)
{
    setWindowFlag(Qt::Window);
}
