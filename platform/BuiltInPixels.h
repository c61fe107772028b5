#pragma once

// A picture built into the program as decoded pixels: rows of
// QImage::Format_RGB32, four bytes a pixel, no padding, in read-only data.
struct TBuiltInPixels {
    const unsigned char* bits;
    int width;
    int height;
};
