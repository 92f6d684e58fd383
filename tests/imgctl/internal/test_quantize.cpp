// SPDX-License-Identifier: MIT
// Reduction to an 8-bit palette: exact for images of at most 256 colours, an
// adaptive palette of good quality otherwise, with and without dithering.
#include "core/ops.h"
#include "quantize/median_cut.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

using namespace imgctl;
using namespace test_images;

namespace {

// Smooth gradients in all three channels with noise: tens of thousands of
// colours.
Image gradientNoise(uint32_t w, uint32_t h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-10, 10);
    return makeFilled(w, h, 24, [&](uint32_t x, uint32_t y) {
        auto ch = [&](int v) { return static_cast<uint8_t>(std::clamp(v + noise(rng), 0, 255)); };
        return bgra(ch(static_cast<int>(x * 255 / w)), ch(static_cast<int>(y * 255 / h)),
                    ch(static_cast<int>((x + y) * 255 / (w + h))));
    });
}

// The PSNR of `reduced` against `source`, both laid over white.
double psnr(const Image &source, const Image &reduced) {
    return psnr(overWhiteRgba(toRgba(source)), overWhiteRgba(toRgba(reduced)));
}

// DIBto8Bit's second flag: 0 dithers, 1 maps to the nearest colour.
class BothModes : public ::testing::TestWithParam<int32_t> {};

// Pictures of at most 256 colours keep every colour exactly, each colour one
// palette entry: a gray ramp (a gray palette), 200 colours some of them
// translucent, and 5-5-5 pixels.
TEST_P(BothModes, FewColoursAreKeptExactly) {
    const std::pair<Image, size_t> cases[] = {
        {makeFilled(256, 3, 24, [](uint32_t x, uint32_t) { return bgra(x, x, x); }), 256},
        {makeFilled(40, 25, 32,
                    [](uint32_t x, uint32_t y) {
                        uint32_t n = (x + 40 * y) % 200;
                        return bgra(n, n * 7, n * 13, n < 50 ? n * 5 : 255);
                    }),
         200},
        {makeFilled(
             33, 9, 16,
             [](uint32_t x, uint32_t y) { return ((x % 25) * 997 + (y % 9) * 31) & 0x7FFF; }),
         225}};
    for (const auto &[source, colours] : cases) {
        SCOPED_TRACE(source.bitCount);
        Image img = copyOf(source);
        ASSERT_TRUE(convertTo8(img, 0, GetParam()).isOk());
        EXPECT_EQ(img.bitCount, 8);
        EXPECT_TRUE(toRgba(img) == toRgba(source)) << "a colour changed";
        EXPECT_EQ(img.palette.size(), colours);
        EXPECT_EQ(hasGrayPalette(img), source.bitCount == 24);
        EXPECT_EQ(hasTransparency(img), source.bitCount == 32);
    }
}

// A uniform 6x6x6 cube gives about 25 dB on a noisy gradient; an adaptive
// palette must do clearly better, dithered or not. One colour too many for an
// exact palette: at most one is merged.
TEST_P(BothModes, ManyColoursGetAGoodAdaptivePalette) {
    const bool dither = GetParam() == 0;
    const std::tuple<Image, size_t, double> cases[] = {
        {gradientNoise(300, 200, 1), 201, dither ? 30.0 : 31.0},
        {makeFilled(257, 2, 24,
                    [](uint32_t x, uint32_t) { return bgra(x, x * 3, x < 256 ? 255 - x : 77); }),
         256, 40.0},
        // Composited, clear pixels of many colours all show white.
        {makeFilled(64, 64, 32, [](uint32_t x, uint32_t y) { return bgra(x * 4, y * 4, 9, 0); }), 1,
         999}};
    for (const auto &[source, minColours, minPsnr] : cases) {
        Image img = copyOf(source);
        ASSERT_TRUE(convertTo8(img, 0, GetParam()).isOk());
        ASSERT_EQ(img.bitCount, 8);
        EXPECT_LE(img.palette.size(), 256u);
        EXPECT_GE(img.palette.size(), minColours);
        // toRgba fails the test on an index past the palette.
        EXPECT_GT(psnr(source, img), minPsnr);
    }
}

// A palette image of 1 or 4 bits widens to 8 with its palette and indices;
// an 8-bit one, its palette short, stays as it is, its stream included.
TEST_P(BothModes, PaletteDepthsKeepTheirPaletteAndIndices) {
    for (uint16_t bits : {1, 4, 8}) {
        Image source = makeFilled(19, 7, bits, [&](uint32_t x, uint32_t y) {
            return bits == 8 ? x * y % 82 : (x * 5 + y) % (bits == 1 ? 2 : 13);
        });
        source.palette.assign(bits == 8 ? 82 : size_t{1} << bits, PaletteEntry{1, 2, 3, 255});
        source.palette[1] = {200, 100, 50, 7};
        if (bits > 1) {
            ASSERT_TRUE(compressRle(source).isOk());
        }
        Image img = copyOf(source);
        ASSERT_TRUE(convertTo8(img, 0, GetParam()).isOk());
        if (bits == 8) {
            EXPECT_EQ(fuzzing::difference(img, source), "");
            continue;
        }
        EXPECT_EQ(img.palette, source.palette);
        EXPECT_EQ(img.compression, Compression::None);
        EXPECT_TRUE(img.rle.empty());
        for (uint32_t y = 0; y < img.height; ++y)
            for (uint32_t x = 0; x < img.width; ++x)
                ASSERT_EQ(rawAt(img, x, y), rawAt(source, x, y));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, BothModes, ::testing::Values(0, 1),
                         [](const auto &info) { return info.param ? "nearest" : "dithered"; });

// Mean squared error of 8x8 block averages: what the eye sees from afar.
double blockError(const Image &a, const Image &b) {
    double sum = 0;
    int blocks = 0;
    for (uint32_t by = 0; by + 8 <= a.height; by += 8)
        for (uint32_t bx = 0; bx + 8 <= a.width; bx += 8, ++blocks)
            for (int c = 0; c < 3; ++c) {
                double d = 0;
                for (uint32_t y = by; y < by + 8; ++y)
                    for (uint32_t x = bx; x < bx + 8; ++x)
                        d += shownAt(a, x, y)[c] - shownAt(b, x, y)[c];
                sum += (d / 64) * (d / 64);
            }
    return sum / (3.0 * blocks);
}

TEST(Quantize, DitheringKeepsAreaAveragesTrue) {
    // A smooth picture of far more colours than 256: mapped to the nearest
    // colour it bands, dithered its local averages stay close to the source.
    const Image source =
        makeFilled(256, 256, 24, [](uint32_t x, uint32_t y) { return bgra(x, y, (x * y) >> 8); });
    Image plain = copyOf(source), dithered = copyOf(source);
    ASSERT_TRUE(convertTo8(plain, 0, 1).isOk());
    ASSERT_TRUE(convertTo8(dithered, 0, 0).isOk());
    const double plainError = blockError(source, plain);
    const double ditheredError = blockError(source, dithered);
    EXPECT_LT(ditheredError, plainError / 2) << plainError << " vs " << ditheredError;
    // Nearest mapping is the better pixel by pixel.
    EXPECT_GT(psnr(source, plain), psnr(source, dithered));
}

// Dithered in four bands (two halves of 202 rows, each two bands run in
// lockstep), every band starts its error diffusion afresh: in a picture of
// identical rows, the first rows of the bands (0, 50, 101 and 151) come out
// alike, whichever band of a half is the taller.
TEST(Quantize, EveryDitheredBandStartsAfresh) {
    Image img = makeFilled(
        300, 202, 24, [](uint32_t x, uint32_t) { return bgra(x * 255 / 299, x % 3 * 60, 90); });
    ASSERT_TRUE(convertTo8(img, 0, 0, Tuning::everyPath()).isOk());
    for (uint32_t y : {50u, 101u, 151u})
        EXPECT_EQ(0, std::memcmp(img.row(0), img.row(y), 300)) << "row " << y;
    EXPECT_NE(0, std::memcmp(img.row(0), img.row(1), 300)) << "the rows are dithered";
}

// A palette colour that no sample is nearest to moves onto the sample served
// worst; the others move to the mean of their samples.
TEST(Quantize, RefinementMovesAnUnusedColourOntoTheWorstSample) {
    const std::vector<Sample> samples = {{{0, 0, 0}, 1}, {{30, 0, 0}, 1}};
    using Palette = std::vector<std::array<float, 3>>;
    const std::pair<int, Palette> cases[] = {
        {1, {{15, 0, 0}, {30, 0, 0}}}, // both samples nearer to {10, 0, 0}
        {12, {{0, 0, 0}, {30, 0, 0}}}, // then each sample its own colour
    };
    for (const auto &[rounds, want] : cases) {
        Palette palette = {{10, 0, 0}, {200, 200, 200}};
        refine(samples, palette, rounds);
        EXPECT_EQ(palette, want) << rounds << " rounds";
    }
}

} // namespace
