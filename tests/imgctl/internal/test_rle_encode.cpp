// SPDX-License-Identifier: MIT
// The RLE writer: streams that every reader takes, expanding to the same
// pixels. A strict expander here checks the stream's shape on its own.
#include "core/ops.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <random>

using namespace imgctl;

namespace {

// Expands a stream as the strictest reader would: no delta codes accepted,
// each row must end with end-of-line, the image with end-of-bitmap, absolute
// runs padded to 16 bits. Returns rows top-down, one byte per pixel.
::testing::AssertionResult strictExpand(const std::vector<uint8_t> &s, uint32_t width,
                                        uint32_t height, bool four,
                                        std::vector<std::vector<uint8_t>> &rows) {
    rows.assign(height, {});
    size_t i = 0;
    for (uint32_t line = 0; line < height; ++line) {
        std::vector<uint8_t> &row = rows[height - 1 - line];
        for (;;) {
            if (i + 2 > s.size()) return ::testing::AssertionFailure() << "stream ends early";
            uint8_t a = s[i], b = s[i + 1];
            i += 2;
            if (a > 0) {
                for (int k = 0; k < a; ++k)
                    row.push_back(four ? ((k & 1) ? (b & 15) : (b >> 4)) : b);
            } else if (b == 0) {
                break; // end of line
            } else if (b == 1) {
                return ::testing::AssertionFailure() << "end-of-bitmap before row " << line;
            } else if (b == 2) {
                return ::testing::AssertionFailure() << "delta code written";
            } else {
                size_t bytes = four ? (b + 1u) / 2 : b;
                if (b < 3) return ::testing::AssertionFailure() << "absolute run of " << int(b);
                if (i + bytes > s.size()) return ::testing::AssertionFailure() << "short run";
                for (int k = 0; k < b; ++k)
                    row.push_back(four ? ((k & 1) ? (s[i + k / 2] & 15) : (s[i + k / 2] >> 4))
                                       : s[i + k]);
                i += bytes + (bytes & 1);
            }
        }
        if (row.size() != width)
            return ::testing::AssertionFailure()
                   << "row " << line << " has " << row.size() << " pixels, not " << width;
    }
    if (i + 2 != s.size() || s[i] != 0 || s[i + 1] != 1)
        return ::testing::AssertionFailure() << "no end-of-bitmap at the end";
    return ::testing::AssertionSuccess();
}

Image paletteImage(uint32_t w, uint32_t h, uint16_t bits, const std::vector<uint8_t> &idx) {
    Image img =
        test_images::makeFilled(w, h, bits, [&](uint32_t x, uint32_t y) { return idx[y * w + x]; });
    img.palette.resize(size_t{1} << bits);
    return img;
}

struct Pattern {
    const char *name;
    uint32_t w, h;
    uint16_t bits;
    std::vector<uint8_t> (*make)(uint32_t w, uint32_t h, uint16_t bits);
};

std::vector<uint8_t> flat(uint32_t w, uint32_t h, uint16_t) {
    return std::vector<uint8_t>(w * h, 3);
}
std::vector<uint8_t> noise(uint32_t w, uint32_t h, uint16_t bits) {
    std::mt19937 rng(w * 31 + h);
    std::vector<uint8_t> v(w * h);
    for (auto &p : v)
        p = static_cast<uint8_t>(rng() & ((1u << bits) - 1));
    return v;
}
std::vector<uint8_t> mixed(uint32_t w, uint32_t h, uint16_t bits) {
    std::vector<uint8_t> v = noise(w, h, bits);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = w / 3; x < 2 * w / 3; ++x)
            v[y * w + x] = 1;
    return v;
}
std::vector<uint8_t> alternating(uint32_t w, uint32_t h, uint16_t) {
    std::vector<uint8_t> v(w * h);
    for (uint32_t i = 0; i < w * h; ++i)
        v[i] = (i % w) & 1 ? 5 : 9;
    return v;
}

class RleEncode : public ::testing::TestWithParam<Pattern> {};

TEST_P(RleEncode, StreamIsStrictAndExpandsToSamePixels) {
    const Pattern &p = GetParam();
    std::vector<uint8_t> idx = p.make(p.w, p.h, p.bits);
    Image img = paletteImage(p.w, p.h, p.bits, idx);
    std::vector<uint8_t> stream = encodeRle(img);
    std::vector<std::vector<uint8_t>> rows;
    ASSERT_TRUE(strictExpand(stream, p.w, p.h, p.bits == 4, rows));
    for (uint32_t y = 0; y < p.h; ++y)
        for (uint32_t x = 0; x < p.w; ++x)
            ASSERT_EQ(rows[y][x], idx[y * p.w + x]) << "pixel " << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, RleEncode,
    ::testing::Values(Pattern{"flat8", 300, 7, 8, flat}, Pattern{"noise8", 257, 5, 8, noise},
                      Pattern{"mixed8", 100, 9, 8, mixed}, Pattern{"one8", 1, 1, 8, flat},
                      Pattern{"two8", 2, 3, 8, noise}, Pattern{"flat4", 513, 4, 4, flat},
                      Pattern{"noise4", 77, 6, 4, noise}, Pattern{"mixed4", 99, 5, 4, mixed},
                      Pattern{"alt4", 600, 2, 4, alternating}, Pattern{"one4", 1, 2, 4, noise},
                      Pattern{"three4", 3, 3, 4, noise}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(RleEncode, FlatImageCompressesWell) {
    Image img = paletteImage(640, 480, 8, flat(640, 480, 8));
    // Three runs and an end-of-line per row, plus end-of-bitmap.
    EXPECT_LE(encodeRle(img).size(), 480u * 8 + 2);
}

TEST(RleEncode, CompressOnlyPaletteDepthsAndMarksTheImage) {
    Image img = paletteImage(16, 2, 8, mixed(16, 2, 8));
    ASSERT_TRUE(compressRle(img).isOk());
    EXPECT_EQ(img.compression, Compression::Rle8);
    EXPECT_FALSE(img.rle.empty());
    ASSERT_TRUE(expandRle(img).isOk());
    EXPECT_EQ(img.compression, Compression::None);
    EXPECT_TRUE(img.rle.empty());

    Image rgb = makeImage(4, 4, 24).value();
    Status s = compressRle(rgb);
    EXPECT_EQ(s.code(), Error::BadArgument);
    EXPECT_EQ(rgb.compression, Compression::None);
}

} // namespace
