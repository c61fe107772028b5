#pragma once
#include <QImage>
#include <string>

// JPEG pictures, decoded with libjpeg. A truncated, corrupt or non-JPEG input
// never ends the program: the decoder reports failure and returns a null image.
QImage DecodeJpeg(const std::string& bytes);
QImage LoadJpegFile(const std::string& path);

// The pictures built into the program: decoded from resources/*.jpg by the
// decoder above when the program is built, so showing them costs no decoding.
QImage BuiltInWallpaper();
QImage BuiltInLogo();
