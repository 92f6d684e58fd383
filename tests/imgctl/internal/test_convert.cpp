// SPDX-License-Identifier: MIT
// Depth conversions to 24 and 16 bits and moving colours toward gray, from
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
// multiple of 8, so partial bytes and row padding both occur).
Image sample(uint16_t bits) {
    std::mt19937 rng(bits);
    const uint32_t alphas[] = {255, 0, 128, 1, 254};
    Image img = makeFilled(13, 5, bits, [&](uint32_t x, uint32_t y) -> uint32_t {
        switch (bits) {
        case 1:
        case 4:
        case 8:
            return (x + 3 * y) % (1u << std::min<int>(bits, 4));
        case 16:
            return rng() & 0x7FFF;
        case 24:
            return rng() & 0xFFFFFF;
        default:
            return (rng() & 0xFFFFFF) | (alphas[(x + y) % 5] << 24);
        }
    });
    if (bits <= 8) img.palette = testPalette(size_t{1} << std::min<int>(bits, 4));
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

TEST_P(FromEveryDepth, To24KeepsEveryColourOverWhite) {
    const Image source = sample(GetParam());
    Image img = copyOf(source);
    ASSERT_TRUE(convertTo24(img).isOk());
    EXPECT_EQ(img.bitCount, 24);
    EXPECT_EQ(img.stride, strideFor(13, 24));
    EXPECT_EQ(img.compression, Compression::None);
    EXPECT_TRUE(img.palette.empty());
    EXPECT_EQ(img.xPelsPerMeter, 2835);
    EXPECT_EQ(img.yPelsPerMeter, 1417);
    for (uint32_t y = 0; y < img.height; ++y)
        for (uint32_t x = 0; x < img.width; ++x) {
            Bgr want = shownAt(source, x, y);
            Bgra got = colourAt(img, x, y);
            ASSERT_EQ((Bgr{got[0], got[1], got[2]}), want) << "pixel " << x << "," << y;
        }
}

TEST_P(FromEveryDepth, To16RoundsOrTruncatesEachChannel) {
    const Image source = sample(GetParam());
    for (int flag : {0, 1}) {
        Image img = copyOf(source);
        ASSERT_TRUE(convertTo16(img, flag).isOk());
        EXPECT_EQ(img.bitCount, 16);
        EXPECT_EQ(img.compression, Compression::None);
        for (uint32_t y = 0; y < img.height; ++y)
            for (uint32_t x = 0; x < img.width; ++x) {
                if (GetParam() == 16) {
                    ASSERT_EQ(rawAt(img, x, y), rawAt(source, x, y)); // unchanged
                    continue;
                }
                Bgr c = shownAt(source, x, y);
                uint32_t want = 0;
                for (int k = 0; k < 3; ++k)
                    want |= (flag ? nearestLevel(c[k]) : c[k] >> 3u) << (5 * k);
                ASSERT_EQ(rawAt(img, x, y), want) << "flag " << flag << " pixel " << x << "," << y;
            }
    }
}

TEST_P(FromEveryDepth, GrayLevelZeroChangesNothing) {
    const Image source = sample(GetParam());
    Image img = copyOf(source);
    ASSERT_TRUE(grayImage(img, 0).isOk());
    EXPECT_TRUE(sameImage(img, source));
}

// Level L: c' = c + (Y - c) * L / 255 with Y = 0.299 R + 0.587 G + 0.114 B.
// Integer arithmetic may land one level off the exact value; 16-bit pixels
// are compared on their 5-bit levels.
TEST_P(FromEveryDepth, GrayMovesColoursTowardLuminance) {
    const uint16_t bits = GetParam();
    const Image source = sample(bits);
    for (int level : {1, 100, 128, 254, 255}) {
        Image img = copyOf(source);
        ASSERT_TRUE(grayImage(img, level).isOk());
        EXPECT_EQ(img.bitCount, bits);
        EXPECT_EQ(img.stride, source.stride);
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

TEST(Convert, SixteenToTwentyFourWidensEveryLevel) {
    // Every 5-bit level in every channel.
    Image img = makeFilled(32, 3, 16, [](uint32_t x, uint32_t y) { return x << (5 * y); });
    ASSERT_TRUE(convertTo24(img).isOk());
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 32; ++x) {
            Bgra c = colourAt(img, x, y);
            uint8_t level = static_cast<uint8_t>(std::lround(x * 255.0 / 31));
            for (uint32_t k = 0; k < 3; ++k)
                ASSERT_EQ(c[k], k == y ? level : 0) << x;
        }
}

TEST(Convert, SixteenBitRoundingAgainstTruncationOnEveryValue) {
    Image source = makeFilled(256, 1, 24, [](uint32_t x, uint32_t) {
        return bgra(static_cast<uint8_t>(x), static_cast<uint8_t>(255 - x),
                    static_cast<uint8_t>(x));
    });
    Image rounded = copyOf(source), truncated = copyOf(source);
    ASSERT_TRUE(convertTo16(rounded, 1).isOk());
    ASSERT_TRUE(convertTo16(truncated, 0).isOk());
    int differ = 0;
    for (uint32_t x = 0; x < 256; ++x) {
        uint32_t r = rawAt(rounded, x, 0), t = rawAt(truncated, x, 0);
        EXPECT_EQ(r & 31, nearestLevel(static_cast<int>(x)));
        EXPECT_EQ(t & 31, x >> 3);
        EXPECT_EQ((r >> 5) & 31, nearestLevel(static_cast<int>(255 - x)));
        differ += (r != t);
    }
    EXPECT_GT(differ, 32); // the flag really changes the reduction
}

TEST(Convert, LeavingAPaletteDropsTheRunLengthStream) {
    Image img = makeFilled(20, 4, 8, [](uint32_t x, uint32_t) { return x / 5; });
    img.palette = testPalette(4);
    ASSERT_TRUE(compressRle(img).isOk());
    ASSERT_EQ(img.compression, Compression::Rle8);
    Image for16 = copyOf(img);
    ASSERT_TRUE(convertTo24(img).isOk());
    EXPECT_EQ(img.compression, Compression::None);
    EXPECT_TRUE(img.rle.empty());
    ASSERT_TRUE(convertTo16(for16, 1).isOk());
    EXPECT_EQ(for16.compression, Compression::None);
    EXPECT_TRUE(for16.rle.empty());
}

TEST(Gray, CompressedPaletteImageChangesOnlyItsPalette) {
    Image img = makeFilled(30, 6, 4, [](uint32_t x, uint32_t y) { return (x / 4 + y) % 3; });
    img.palette = {{0, 0, 255, 255}, {0, 200, 0, 255}, {255, 0, 0, 100}};
    ASSERT_TRUE(compressRle(img).isOk());
    const Image before = copyOf(img);
    ASSERT_TRUE(grayImage(img, 255).isOk());
    EXPECT_EQ(img.compression, Compression::Rle4);
    EXPECT_EQ(img.rle, before.rle);
    for (uint32_t y = 0; y < img.height; ++y)
        ASSERT_EQ(0, std::memcmp(img.row(y), before.row(y), 15));
    // Pure red, green and blue become their luminance; alpha stays.
    EXPECT_EQ(img.palette[0], (PaletteEntry{76, 76, 76, 255}));
    EXPECT_EQ(img.palette[1], (PaletteEntry{117, 117, 117, 255}));
    EXPECT_EQ(img.palette[2], (PaletteEntry{29, 29, 29, 100}));
}

TEST(Gray, GrayColoursStayPut) {
    Image img = makeFilled(256, 1, 24, [](uint32_t x, uint32_t) {
        return bgra(static_cast<uint8_t>(x), static_cast<uint8_t>(x), static_cast<uint8_t>(x));
    });
    const Image before = copyOf(img);
    ASSERT_TRUE(grayImage(img, 200).isOk());
    EXPECT_TRUE(sameImage(img, before));
}

} // namespace
