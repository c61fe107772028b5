#include "platform/Pictures.h"

#include <cmath>
#include <csetjmp>
#include <filesystem>
#include <fstream>

#include <jpeglib.h>
#include <jerror.h>

namespace {

// Larger pictures are not banners; refusing them keeps a mistaken setting
// from eating the machine's memory.
constexpr std::streamoff kMaxFileBytes = 64 * 1024 * 1024;
constexpr JDIMENSION kMaxSide = 16384;
constexpr long kMaxDecoderMemory = 512L * 1024 * 1024;

// libjpeg's own error handling prints and calls exit(). Ours jumps back to
// the decoder, which then reports failure.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool endOfData;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings that mean part of the picture would be made up (grey fill after
// a premature end, garbage after a broken entropy segment) count as errors:
// a half-grey banner is worse than the built-in logo. The end of the data
// alone is noted: a single-scan file whose every coded bit arrived (only the
// end marker lost) is still whole; anything really missing shows up as a
// marker hit inside the compressed data, or as missing scans (checked once
// the picture is decoded).
void EmitMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;
    switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
        reinterpret_cast<ErrorManager*>(cinfo->err)->endOfData = true;
        break;
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_MUST_RESYNC:
        ErrorExit(cinfo);
    default:
        break;
    }
    ++cinfo->err->num_warnings;
}

void OutputMessage(j_common_ptr) {}

inline QRgb CmykToRgb(const JSAMPLE* p, bool adobeInverted)
{
    int c = p[0], m = p[1], y = p[2], k = p[3];
    if (!adobeInverted) {
        c = 255 - c;
        m = 255 - m;
        y = 255 - y;
        k = 255 - k;
    }
    return qRgb(c * k / 255, m * k / 255, y * k / 255);
}

// Fills `out`; on any libjpeg error the jump lands here and `out` is left
// null. Kept apart from the caller so that no local of the caller is
// touched between setjmp and longjmp.
void Decode(const unsigned char* data, unsigned long size, QImage& out)
{
    jpeg_decompress_struct cinfo {};
    ErrorManager err {};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.emit_message = EmitMessage;
    err.pub.output_message = OutputMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        out = QImage();
        return;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, size);
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK)
        ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
    // A few hundred bytes can announce a picture of gigabytes: refuse it
    // before the decoder sets up its buffers for it, and bound what those
    // buffers may take in any case.
    if (cinfo.image_width == 0 || cinfo.image_height == 0 || cinfo.image_width > kMaxSide ||
        cinfo.image_height > kMaxSide)
        ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
    cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
    // Each 8 x 8 block of each component costs at least one bit of
    // Huffman-coded data: a file too short for that holds less than its
    // header claims, and no picture-sized memory is set aside for it.
    if (!cinfo.arith_code) {
        double blocks = 0;
        for (int c = 0; c < cinfo.num_components; ++c) {
            const jpeg_component_info& ci = cinfo.comp_info[c];
            blocks += std::ceil(double(cinfo.image_width) * ci.h_samp_factor / cinfo.max_h_samp_factor / 8.0) *
                      std::ceil(double(cinfo.image_height) * ci.v_samp_factor / cinfo.max_v_samp_factor / 8.0);
        }
        if (double(size) * 8.0 < blocks)
            ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
    }
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : cinfo.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_RGB;
#if defined(JCS_EXTENSIONS) && Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    // Colour pictures come out of the decoder in the image's own pixel
    // layout (blue, green, red, then 0xFF: qRgb in memory), which spares a
    // copy of every pixel; the wallpaper is decoded while the program starts.
    const bool direct = cinfo.out_color_space == JCS_RGB;
    if (direct)
        cinfo.out_color_space = JCS_EXT_BGRX;
#else
    const bool direct = false;
#endif
    jpeg_start_decompress(&cinfo);
    const JDIMENSION w = cinfo.output_width, h = cinfo.output_height;
    const int comps = cinfo.output_components;
    if (w == 0 || h == 0 || w > kMaxSide || h > kMaxSide || (comps != 1 && comps != 3 && comps != 4))
        ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
    out = QImage(int(w), int(h), QImage::Format_RGB32);
    if (out.isNull())
        ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
    if (direct) {
        if (comps != 4)
            ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
        while (cinfo.output_scanline < h) {
            JSAMPROW rows[1] = {out.scanLine(int(cinfo.output_scanline))};
            if (jpeg_read_scanlines(&cinfo, rows, 1) != 1)
                ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
        }
    }
    JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, w * comps, 1);
    while (cinfo.output_scanline < h) {
        const int y = int(cinfo.output_scanline);
        if (jpeg_read_scanlines(&cinfo, row, 1) != 1)
            ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        const JSAMPLE* src = row[0];
        for (JDIMENSION x = 0; x < w; ++x, src += comps) {
            if (comps == 1)
                dst[x] = qRgb(src[0], src[0], src[0]);
            else if (comps == 3)
                dst[x] = qRgb(src[0], src[1], src[2]);
            else
                dst[x] = CmykToRgb(src, cinfo.saw_Adobe_marker);
        }
    }
    // Progressive and other multi-scan files are read whole before the
    // first row comes out, so an early end there means lost scans.
    if (err.endOfData && jpeg_has_multiple_scans(&cinfo))
        ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
}

QImage DecodeBytes(const unsigned char* data, std::size_t size)
{
    QImage img;
    if (data && size > 0)
        Decode(data, static_cast<unsigned long>(size), img);
    return img;
}

} // namespace

QImage DecodeJpeg(const std::string& bytes)
{
    return DecodeBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

QImage LoadJpegFile(const std::string& path)
{
    // Only plain files: opening a FIFO or a device named in the settings
    // would block the start-up or read forever.
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec))
        return {};
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    if (!f)
        return {};
    const std::streamoff size = f.tellg();
    if (size <= 0 || size > kMaxFileBytes)
        return {};
    std::string bytes(static_cast<std::size_t>(size), '\0');
    f.seekg(0);
    if (!f.read(bytes.data(), size))
        return {};
    return DecodeJpeg(bytes);
}
