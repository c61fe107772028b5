#include "platform/BuiltInPixels.h"
#include "platform/Pictures.h"

// Made from resources/*.jpg at build time (EmbedPictures.cmake).
extern const TBuiltInPixels kBuiltInPixels_wallpaper;
extern const TBuiltInPixels kBuiltInPixels_logo;

namespace {

// The image reads the program's own read-only data: nothing is decoded or
// copied until someone changes it, which gives that one a copy of its own.
QImage Wrap(const TBuiltInPixels& p)
{
    return QImage(p.bits, p.width, p.height, qsizetype(p.width) * 4, QImage::Format_RGB32);
}

} // namespace

QImage BuiltInWallpaper()
{
    return Wrap(kBuiltInPixels_wallpaper);
}

QImage BuiltInLogo()
{
    return Wrap(kBuiltInPixels_logo);
}
