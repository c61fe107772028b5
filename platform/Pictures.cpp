// Placeholder until the picture layer lands.
#include "platform/Pictures.h"

QImage DecodeJpeg(const std::string&) { return {}; }
QImage LoadJpegFile(const std::string&) { return {}; }
QImage BuiltInWallpaper() { return {}; }
QImage BuiltInLogo() { return {}; }
