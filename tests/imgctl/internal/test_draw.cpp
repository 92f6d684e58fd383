// SPDX-License-Identifier: MIT
// Drawing onto a 32-bit surface: area averaging against a reference box
// filter computed here, nearest-pixel modes, parts of the source, clipping
// and the raster operation.
#include "core/ops.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <random>

using namespace imgctl;
using namespace test_images;

namespace {

// A surface with a canary value everywhere, and padding after each row.
struct Surface {
    Surface(int32_t w, int32_t h, int32_t padPixels = 3)
        : pixels(static_cast<size_t>((w + padPixels) * h), kCanary), s{pixels.data(), w, h,
                                                                       (w + padPixels) * 4} {}
    uint32_t at(int32_t x, int32_t y) const {
        return pixels[static_cast<size_t>(y * s.stride_bytes / 4 + x)];
    }
    static constexpr uint32_t kCanary = 0x12345678;
    std::vector<uint32_t> pixels;
    ImgctlSurface s;
};

// 640x480 of 16x16 blocks of random colours.
Image blocks() {
    std::mt19937 rng(5);
    std::vector<uint32_t> colour(40 * 30);
    for (uint32_t &c : colour)
        c = rng() & 0xFFFFFF;
    return makeFilled(640, 480, 24,
                      [&](uint32_t x, uint32_t y) { return colour[(y / 16) * 40 + x / 16]; });
}

// A source part and where it is drawn.
struct Rect {
    int32_t x, y, w, h;
};

// The exact box-filter average over the source area under destination pixel
// (X, Y), in doubles: each source pixel weighted by its covered fraction.
Bgr boxAverage(const Image &img, const Rect &src, int X, int Y, const Rect &dst) {
    const double x0 = src.x + X * double(src.w) / dst.w,
                 x1 = src.x + (X + 1) * double(src.w) / dst.w;
    const double y0 = src.y + Y * double(src.h) / dst.h,
                 y1 = src.y + (Y + 1) * double(src.h) / dst.h;
    double sum[3] = {0, 0, 0}, total = 0;
    for (int y = int(y0); y < int(std::ceil(y1)); ++y)
        for (int x = int(x0); x < int(std::ceil(x1)); ++x) {
            double w = (std::min(x1, x + 1.0) - std::max(x0, double(x))) *
                       (std::min(y1, y + 1.0) - std::max(y0, double(y)));
            Bgr c = shownAt(img, static_cast<uint32_t>(x), static_cast<uint32_t>(y));
            for (int k = 0; k < 3; ++k)
                sum[k] += w * c[k];
            total += w;
        }
    return {static_cast<uint8_t>(std::lround(sum[0] / total)),
            static_cast<uint8_t>(std::lround(sum[1] / total)),
            static_cast<uint8_t>(std::lround(sum[2] / total))};
}

// The source pixel whose centre lies under destination pixel (X, Y).
Bgr nearest(const Image &img, const Rect &src, int X, int Y, const Rect &dst) {
    return shownAt(img, uint32_t(src.x + (2 * X + 1) * src.w / (2 * dst.w)),
                   uint32_t(src.y + (2 * Y + 1) * src.h / (2 * dst.h)));
}

::testing::AssertionResult near(uint32_t got, const Bgr &want, int tolerance) {
    if ((got >> 24) != 0xFF) return ::testing::AssertionFailure() << "alpha byte not 0xFF";
    for (int k = 0; k < 3; ++k)
        if (std::abs(static_cast<int>((got >> (8 * k)) & 255) - want[k]) > tolerance)
            return ::testing::AssertionFailure() << std::hex << got << " channel " << k;
    return ::testing::AssertionSuccess();
}

// Mode 4 gives each destination pixel the box-filter average of the source
// area under it (shrinking, enlarging or one to one), modes 1 to 3 the
// source pixel under its centre; only the part of the destination on the
// surface is written.
TEST(Draw, EachPixelIsTheAreaAverageOrTheNearestPixel) {
    const Image big = blocks();
    const Image small =
        makeFilled(5, 3, 24, [](uint32_t x, uint32_t y) { return bgra(x * 60, y * 120, 7); });
    const Image grid =
        makeFilled(4, 4, 24, [](uint32_t x, uint32_t y) { return bgra(x * 50, y * 50, 99); });
    const Image ramp =
        makeFilled(30, 30, 24, [](uint32_t x, uint32_t y) { return bgra(x * 8, y * 8, 1); });
    struct Case {
        const Image &img;
        Rect src, dst;
        int32_t surfaceW, surfaceH, mode, tolerance;
    };
    const Case cases[] = {
        {big, {0, 0, 640, 480}, {0, 0, 33, 33}, 33, 33, 4, 1},
        {small, {0, 0, 5, 3}, {0, 0, 5, 3}, 5, 3, 4, 0},
        {small, {0, 0, 5, 3}, {0, 0, 13, 8}, 13, 8, 4, 1},
        {grid, {0, 0, 4, 4}, {0, 0, 8, 8}, 8, 8, 1, 0},
        {grid, {0, 0, 4, 4}, {0, 0, 8, 8}, 8, 8, 2, 0},
        {grid, {0, 0, 4, 4}, {0, 0, 2, 2}, 2, 2, 3, 0},
        {big, {48, 32, 16, 16}, {0, 0, 16, 16}, 16, 16, 4, 0},
        {ramp, {4, 6, 20, 20}, {-5, 3, 20, 20}, 10, 10, 1, 0},
        {ramp, {4, 6, 20, 20}, {-5, 3, 20, 20}, 10, 10, 4, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        Surface surface(c.surfaceW, c.surfaceH);
        ASSERT_TRUE(drawImage(c.img, surface.s, c.dst.x, c.dst.y, c.dst.w, c.dst.h, c.src.x,
                              c.src.y, c.src.w, c.src.h, IMGCTL_SRCCOPY, c.mode));
        for (int y = 0; y < c.surfaceH; ++y)
            for (int x = 0; x < c.surfaceW + 3; ++x) {
                const int X = x - c.dst.x, Y = y - c.dst.y;
                if (x >= c.surfaceW || X < 0 || Y < 0 || X >= c.dst.w || Y >= c.dst.h) {
                    ASSERT_EQ(surface.at(x, y), Surface::kCanary) << i << " at " << x << "," << y;
                    continue;
                }
                const Bgr want = c.mode == 4 ? boxAverage(c.img, c.src, X, Y, c.dst)
                                             : nearest(c.img, c.src, X, Y, c.dst);
                ASSERT_TRUE(near(surface.at(x, y), want, c.tolerance))
                    << i << " at " << x << "," << y;
            }
    }
}

} // namespace
