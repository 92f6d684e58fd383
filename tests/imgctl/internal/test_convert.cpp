// SPDX-License-Identifier: MIT
// Depth conversion to 16 bits and moving colours toward gray, from
// every depth, checked pixel by pixel against plain arithmetic.
#include "core/ops.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace imgctl;
using namespace test_images;

namespace {

// A palette of chosen colours, one of them translucent and one clear.
std::vector<PaletteEntry> testPalette(size_t n) {
    std::vector<PaletteEntry> p;
    for (size_t i = 0; i < n; ++i)
        p.push_back({static_cast<uint8_t>(i * 37 + 5), static_cast<uint8_t>(i * 91 + 200),
                     static_cast<uint8_t>(255 - i * 13), 255});
    p[1 % n].a = 128;
    if (n > 2) p[2].a = 0;
    return p;
}

// A 13x5 image of the given depth with varied pixels (13 is odd and not a
// multiple of 8, so partial bytes and row padding both occur), run-length
// compressed at 4 and 8 bits.
Image sample(uint16_t bits) {
    std::mt19937 rng(bits);
    const uint32_t alphas[] = {255, 0, 128, 1, 254};
    Image img = makeFilled(13, 5, bits, [&](uint32_t x, uint32_t y) -> uint32_t {
        if (bits <= 8) return (x + 3 * y) % (1u << std::min<int>(bits, 4));
        const uint32_t colour = rng() & (bits == 16 ? 0x7FFF : 0xFFFFFF);
        return bits == 32 ? colour | alphas[(x + y) % 5] << 24 : colour;
    });
    if (bits <= 8) img.palette = testPalette(size_t{1} << std::min<int>(bits, 4));
    if (bits == 4 || bits == 8) {
        if (!compressRle(img)) std::abort();
    }
    img.xPelsPerMeter = 2835;
    img.yPelsPerMeter = 1417;
    return img;
}

// The nearest of the 32 levels v * 255 / 31, found by trying them all.
uint32_t nearestLevel(int c) {
    uint32_t best = 0;
    for (uint32_t v = 1; v < 32; ++v)
        if (std::abs(v * 255.0 / 31 - c) < std::abs(best * 255.0 / 31 - c)) best = v;
    return best;
}

class FromEveryDepth : public ::testing::TestWithParam<uint16_t> {};

// To 16 bits each channel of the colour as it shows over white is rounded
// (flag 1) or truncated (flag 0); the palette and any run-length stream go,
// the resolution stays. (Widening to 24 bits is checked on every corpus
// picture in tests/imgctl/public/test_corpus_pixels.cpp.)
TEST_P(FromEveryDepth, To16RoundsOrTruncatesTheColourOverWhite) {
    const Image source = sample(GetParam());
    for (int flag : {0, 1}) {
        Image img = copyOf(source);
        ASSERT_TRUE(convertTo16(img, flag).isOk());
        EXPECT_EQ(img.bitCount, 16);
        EXPECT_EQ(img.stride, strideFor(13, 16));
        EXPECT_EQ(img.compression, Compression::None);
        EXPECT_TRUE(img.rle.empty());
        EXPECT_TRUE(img.palette.empty());
        EXPECT_EQ(img.xPelsPerMeter, 2835);
        EXPECT_EQ(img.yPelsPerMeter, 1417);
        for (uint32_t y = 0; y < img.height; ++y)
            for (uint32_t x = 0; x < img.width; ++x) {
                // (A 16-bit source comes out unchanged by either rule.)
                const Bgr c = shownAt(source, x, y);
                uint32_t want = 0;
                for (int k = 0; k < 3; ++k)
                    want |= (flag ? nearestLevel(c[k]) : c[k] >> 3u) << (5 * k);
                ASSERT_EQ(rawAt(img, x, y), want) << "flag " << flag << " pixel " << x << "," << y;
            }
    }
}

// Level L: c' = c + (Y - c) * L / 255 with Y = 0.299 R + 0.587 G + 0.114 B.
// Integer arithmetic may land one level off the exact value; 16-bit pixels
// are compared on their 5-bit levels. Level 0 changes nothing; a palette
// image changes only its palette, its indices and stream kept.
TEST_P(FromEveryDepth, GrayMovesColoursTowardLuminance) {
    const uint16_t bits = GetParam();
    const Image source = sample(bits);
    for (int level : {0, 1, 100, 128, 254, 255}) {
        Image img = copyOf(source);
        ASSERT_TRUE(grayImage(img, level).isOk());
        if (level == 0) {
            EXPECT_EQ(fuzzing::difference(img, source), "");
        }
        EXPECT_EQ(img.bitCount, bits);
        EXPECT_EQ(img.stride, source.stride);
        EXPECT_EQ(img.rle, source.rle);
        EXPECT_EQ(img.compression, source.compression);
        ASSERT_EQ(img.palette.size(), source.palette.size());
        for (uint32_t y = 0; y < img.height; ++y)
            for (uint32_t x = 0; x < img.width; ++x) {
                Bgra before = colourAt(source, x, y), after = colourAt(img, x, y);
                if (bits <= 8) {
                    ASSERT_EQ(rawAt(img, x, y), rawAt(source, x, y)); // same index
                }
                EXPECT_EQ(after[3], before[3]) << "alpha kept";
                double lum = 0.299 * before[2] + 0.587 * before[1] + 0.114 * before[0];
                for (int c = 0; c < 3; ++c) {
                    double want = before[c] + (lum - before[c]) * level / 255.0;
                    double tolerance = bits == 16 ? 255.0 / 31 / 2 + 1 : 1;
                    ASSERT_NEAR(after[c], want, tolerance)
                        << "level " << level << " pixel " << x << "," << y << " channel " << c;
                }
                if (level == 255) {
                    EXPECT_EQ(after[0], after[1]);
                    EXPECT_EQ(after[1], after[2]);
                }
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, FromEveryDepth, ::testing::Values(1, 4, 8, 16, 24, 32),
                         [](const auto &info) { return std::to_string(info.param) + "bit"; });

} // namespace
