// The banner picture named in SETUP_ULMARO.INI is any file a user points
// at: the decoder must turn every byte string into a picture or a null
// image, never a crash, a hang or a read outside the data.
#include "platform/Pictures.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QImage img = DecodeJpeg(std::string(reinterpret_cast<const char*>(data), size));
    if (!img.isNull()) {
        // Touch the first and last pixel so a short buffer would show.
        volatile QRgb a = img.pixel(0, 0);
        volatile QRgb b = img.pixel(img.width() - 1, img.height() - 1);
        (void)a;
        (void)b;
    }
    return 0;
}
