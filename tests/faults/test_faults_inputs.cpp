// Inputs from outside that once hung or crashed a parser (found by the fuzz
// targets; the files are in their seed corpora, so the fuzz smoke run
// replays them as well).
#include "platform/Pictures.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string Corpus(const std::string& target, const std::string& name)
{
    std::ifstream f(std::string(ULMARO_FUZZ_CORPUS) + "/" + target + "/" + name, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

} // namespace

TEST(HostileInputs, BannerAnnouncingAGiganticPictureIsRefusedAtOnce)
{
    // 239 bytes whose frame header claims 32264 x 32776 pixels: the decoder
    // used to set up gigabytes of buffers for it before looking at the size.
    const std::string bytes = Corpus("fuzz_jpeg", "huge_announced.jpg");
    ASSERT_EQ(bytes.size(), 239u);
    EXPECT_TRUE(DecodeJpeg(bytes).isNull());
    // 97 bytes claiming a picture its data could never fill: refused before
    // picture-sized memory is taken for it.
    EXPECT_TRUE(DecodeJpeg(Corpus("fuzz_jpeg", "huge_announced_short.jpg")).isNull());
    // The pictures that are fine still decode.
    EXPECT_FALSE(DecodeJpeg(Corpus("fuzz_jpeg", "rgb_16x16_420.jpg")).isNull());
}
