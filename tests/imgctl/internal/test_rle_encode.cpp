// SPDX-License-Identifier: MIT
// The RLE writer: streams that every reader takes, expanding to the same
// pixels. A strict expander here checks the stream's shape on its own.
#include "core/ops.h"
#include "test_images.h"

#include <gtest/gtest.h>

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

struct Pattern {
    const char *name;
    uint32_t w, h;
    uint16_t bits;
    char kind; // 'f' one index, 'a' two alternating, 'n' noise, 'm' noise but the middle third
};

uint32_t patternAt(const Pattern &p, uint32_t x, uint32_t y) {
    if (p.kind == 'f' || (p.kind == 'm' && x >= p.w / 3 && x < 2 * p.w / 3)) return 3;
    if (p.kind == 'a') return x & 1 ? 5 : 9;
    return ((x * 2654435761u) ^ (y * 2246822519u)) >> 13 & ((1u << p.bits) - 1);
}

class RleEncode : public ::testing::TestWithParam<Pattern> {};

// A flat row takes the fewest codes: runs of 255 and an end of line.
TEST_P(RleEncode, StreamIsStrictAndExpandsToSamePixels) {
    const Pattern &p = GetParam();
    Image img = test_images::makeFilled(p.w, p.h, p.bits,
                                        [&](uint32_t x, uint32_t y) { return patternAt(p, x, y); });
    img.palette.resize(size_t{1} << p.bits);
    const std::vector<uint8_t> stream = encodeRle(img);
    std::vector<std::vector<uint8_t>> rows;
    ASSERT_TRUE(strictExpand(stream, p.w, p.h, p.bits == 4, rows));
    for (uint32_t y = 0; y < p.h; ++y)
        for (uint32_t x = 0; x < p.w; ++x)
            ASSERT_EQ(rows[y][x], patternAt(p, x, y)) << "pixel " << x << "," << y;
    if (p.kind == 'f') {
        EXPECT_LE(stream.size(), p.h * (2 * ((p.w + 254) / 255) + 2) + 2);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, RleEncode,
    ::testing::Values(Pattern{"flat8", 300, 7, 8, 'f'}, Pattern{"noise8", 257, 5, 8, 'n'},
                      Pattern{"mixed8", 100, 9, 8, 'm'}, Pattern{"two8", 2, 3, 8, 'n'},
                      Pattern{"flat4", 513, 4, 4, 'f'}, Pattern{"mixed4", 99, 5, 4, 'm'},
                      Pattern{"alt4", 600, 2, 4, 'a'}, Pattern{"one4", 1, 2, 4, 'n'},
                      Pattern{"three4", 3, 3, 4, 'n'}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
