#include "platform/Pictures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include <jpeglib.h>
#include <sys/stat.h>

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// A small picture of known content, written with libjpeg itself.
std::string Encode(int w, int h, int components, J_COLOR_SPACE space, bool progressive = false)
{
    jpeg_compress_struct c {};
    jpeg_error_mgr err {};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buf, &size);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = components;
    c.in_color_space = space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    if (progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(size_t(w * components));
    while (c.next_scanline < c.image_height) {
        const int y = int(c.next_scanline);
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < components; ++k)
                // Left half dark, right half light; the third channel of a
                // colour picture carries a blue stripe.
                row[size_t(x * components + k)] = JSAMPLE(k == 2 && y < h / 2 ? 220 : x < w / 2 ? 30 : 200);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::string out(reinterpret_cast<char*>(buf), size);
    free(buf);
    return out;
}

bool Near(int a, int b) { return std::abs(a - b) <= 6; }

// The plain way to decode: RGB rows from the decoder, one qRgb per pixel.
QImage ReferenceDecode(const std::string& bytes)
{
    jpeg_decompress_struct d {};
    jpeg_error_mgr err {};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    QImage out(int(d.output_width), int(d.output_height), QImage::Format_RGB32);
    std::vector<JSAMPLE> row(size_t(d.output_width) * 3);
    while (d.output_scanline < d.output_height) {
        const int y = int(d.output_scanline);
        JSAMPROW r = row.data();
        jpeg_read_scanlines(&d, &r, 1);
        for (int x = 0; x < out.width(); ++x)
            out.setPixel(x, y, qRgb(row[size_t(x) * 3], row[size_t(x) * 3 + 1], row[size_t(x) * 3 + 2]));
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return out;
}

const std::string kLogoFile = std::string(ULMARO_RESOURCES_DIR) + "/logo.jpg";

} // namespace

TEST(Pictures, DecodesColourAndGreyPictures)
{
    const QImage rgb = DecodeJpeg(Encode(64, 32, 3, JCS_RGB));
    ASSERT_FALSE(rgb.isNull());
    EXPECT_EQ(rgb.size(), QSize(64, 32));
    const QRgb topLeft = rgb.pixel(4, 4), bottomRight = rgb.pixel(60, 28);
    EXPECT_TRUE(Near(qRed(topLeft), 30) && Near(qGreen(topLeft), 30) && Near(qBlue(topLeft), 220)) << std::hex << topLeft;
    EXPECT_TRUE(Near(qRed(bottomRight), 200) && Near(qGreen(bottomRight), 200) && Near(qBlue(bottomRight), 200))
        << std::hex << bottomRight;

    const QImage grey = DecodeJpeg(Encode(40, 20, 1, JCS_GRAYSCALE));
    ASSERT_FALSE(grey.isNull());
    EXPECT_EQ(grey.size(), QSize(40, 20));
    EXPECT_TRUE(Near(qRed(grey.pixel(2, 2)), 30) && Near(qBlue(grey.pixel(2, 2)), 30));
    EXPECT_TRUE(Near(qGreen(grey.pixel(38, 18)), 200));

    const QImage prog = DecodeJpeg(Encode(48, 48, 3, JCS_RGB, true));
    EXPECT_EQ(prog.size(), QSize(48, 48));
}

TEST(Pictures, ColourPicturesComeOutPixelForPixelAsThePlainDecode)
{
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"wallpaper", ReadFile(std::string(ULMARO_RESOURCES_DIR) + "/wallpaper.jpg")},
        {"logo", ReadFile(kLogoFile)},
        {"small", Encode(64, 32, 3, JCS_RGB)},
        {"odd width", Encode(37, 9, 3, JCS_RGB)},
        {"progressive", Encode(48, 48, 3, JCS_RGB, true)},
        {"one pixel", Encode(1, 1, 3, JCS_RGB)},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        const QImage ours = DecodeJpeg(bytes), plain = ReferenceDecode(bytes);
        ASSERT_FALSE(ours.isNull());
        EXPECT_EQ(ours.format(), QImage::Format_RGB32);
        ASSERT_EQ(ours.size(), plain.size());
        // Compared as stored, padding byte included (0xFF in this format).
        int differing = 0;
        for (int y = 0; y < ours.height(); ++y) {
            const auto* a = reinterpret_cast<const QRgb*>(ours.constScanLine(y));
            const auto* b = reinterpret_cast<const QRgb*>(plain.constScanLine(y));
            for (int x = 0; x < ours.width(); ++x)
                differing += a[x] != b[x];
        }
        EXPECT_EQ(differing, 0);
    }
}

TEST(Pictures, LoadsAFileAndTheBuiltInPictures)
{
    const QImage logo = LoadJpegFile(kLogoFile);
    ASSERT_FALSE(logo.isNull());
    EXPECT_EQ(logo.size(), QSize(337, 89));
    EXPECT_EQ(BuiltInLogo().size(), QSize(337, 89));
    EXPECT_EQ(BuiltInWallpaper().size(), QSize(993, 614));
    // Both are meant for a white window.
    EXPECT_GT(qGray(BuiltInLogo().pixel(336, 0)), 240);
    EXPECT_GT(qGray(BuiltInWallpaper().pixel(2, 2)), 230);
    // The built-in pictures are the ones their files decode to: made at
    // build time, they must not drift from what the decoder gives.
    EXPECT_EQ(BuiltInLogo(), logo);
    EXPECT_EQ(BuiltInWallpaper(), LoadJpegFile(std::string(ULMARO_RESOURCES_DIR) + "/wallpaper.jpg"));
    // They lie in read-only memory: a change goes to a copy of the image's
    // own, and the next caller still gets the picture.
    for (QImage (*builtIn)() : {BuiltInLogo, BuiltInWallpaper}) {
        QImage changed = builtIn();
        const QRgb before = changed.pixel(5, 5);
        changed.setPixel(5, 5, qRgb(1, 2, 3));
        changed.fill(Qt::black);
        EXPECT_EQ(builtIn().pixel(5, 5), before);
        EXPECT_NE(builtIn(), changed);
    }
}

TEST(Pictures, TruncatedDataIsAFailureNotAGreyPicture)
{
    const std::string good = ReadFile(kLogoFile);
    ASSERT_GT(good.size(), 1000u);
    for (size_t keep = 0; keep + 16 < good.size(); keep += 61)
        EXPECT_TRUE(DecodeJpeg(good.substr(0, keep)).isNull()) << "kept " << keep << " bytes";
    const std::string prog = Encode(64, 64, 3, JCS_RGB, true);
    EXPECT_TRUE(DecodeJpeg(prog.substr(0, prog.size() * 2 / 3)).isNull());
    // Only the end marker lost: every row is there, the picture is whole.
    EXPECT_EQ(DecodeJpeg(good.substr(0, good.size() - 2)).size(), QSize(337, 89));
}

TEST(Pictures, CorruptAndForeignDataFailQuietly)
{
    const std::string good = ReadFile(kLogoFile);
    std::string header = good;
    for (size_t i = 2; i < 40; ++i)
        header[i] = char(0x5A);
    EXPECT_TRUE(DecodeJpeg(header).isNull());

    // A marker in the middle of the compressed data.
    std::string body = good;
    const size_t mid = body.size() / 2;
    body[mid] = char(0xFF);
    body[mid + 1] = char(0xD9);
    EXPECT_TRUE(DecodeJpeg(body).isNull());

    EXPECT_TRUE(DecodeJpeg("Banner: this is a text file, not a picture\r\n").isNull());
    EXPECT_TRUE(DecodeJpeg(std::string("\xFF\xD8\xFF", 3)).isNull());
    EXPECT_TRUE(DecodeJpeg("").isNull());
}

TEST(Pictures, RandomDamageNeverEndsTheProgram)
{
    const std::string good = ReadFile(kLogoFile);
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    int decoded = 0;
    for (int round = 0; round < 300; ++round) {
        std::string bad = good;
        for (int k = 0; k < 1 + round % 8; ++k)
            bad[next() % bad.size()] = char(next() >> 24);
        const QImage img = DecodeJpeg(bad);
        if (!img.isNull()) {
            EXPECT_EQ(img.size(), QSize(337, 89)) << "round " << round;
            ++decoded;
        }
    }
    // Some damage is invisible to the decoder (a changed pixel value).
    EXPECT_LT(decoded, 300);
}

TEST(Pictures, FilesThatAreNoPictures)
{
    TempDir dir;
    dir.write("empty.jpg", "");
    dir.write("text.jpg", "[Menue]\nBanner=Banner.jpg\n");
    const std::string good = ReadFile(kLogoFile);
    dir.write("cut.jpg", good.substr(0, good.size() / 3));
    EXPECT_TRUE(LoadJpegFile(dir.file("empty.jpg")).isNull());
    EXPECT_TRUE(LoadJpegFile(dir.file("text.jpg")).isNull());
    EXPECT_TRUE(LoadJpegFile(dir.file("cut.jpg")).isNull());
    EXPECT_TRUE(LoadJpegFile(dir.file("missing.jpg")).isNull());
    EXPECT_TRUE(LoadJpegFile(dir.path()).isNull());
    EXPECT_TRUE(LoadJpegFile("").isNull());
    // Neither a FIFO nor a device may hang the start-up.
    ASSERT_EQ(mkfifo(dir.file("fifo.jpg").c_str(), 0600), 0);
    EXPECT_TRUE(LoadJpegFile(dir.file("fifo.jpg")).isNull());
    EXPECT_TRUE(LoadJpegFile("/dev/zero").isNull());
    dir.write("good.jpg", good);
    EXPECT_EQ(LoadJpegFile(dir.file("good.jpg")).size(), QSize(337, 89));
}
