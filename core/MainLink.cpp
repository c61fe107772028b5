#include "core/MainLink.h"

TMainLink& MainLink()
{
    static TMainLink link;
    return link;
}
