#include "platform/FontWarmUp.h"

#include <fontconfig/fontconfig.h>

void WarmUpFontConfiguration()
{
    // The configuration becomes the library's current one; Qt's font
    // database, populated later on the GUI thread, then finds it loaded.
    FcInit();
}
