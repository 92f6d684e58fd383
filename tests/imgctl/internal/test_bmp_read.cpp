// SPDX-License-Identifier: MIT
// The BMP reader: what loaded BMP Suite files hold, damaged files, headers
// made here at the limits, and the RLE expander on hand-made streams. (The
// suite's pixels against its reference renderings are checked with every
// other format's in tests/imgctl/public/test_corpus_pixels.cpp; fuzzing
// covers truncated and mutated files.)
#include "bmp/rle_read.h"
#include "core/ops.h"
#include "corpus.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace imgctl;
using namespace testing_support;
using namespace test_images;

namespace {

Result<Image> decodeFile(const std::filesystem::path &path) {
    std::vector<uint8_t> bytes = readFile(path);
    return decodeBmp(bytes.data(), bytes.size());
}

Result<Image> decodeBytes(const std::vector<uint8_t> &bytes) {
    return decodeBmp(bytes.data(), bytes.size());
}

// The structure every decoded image must have, whatever the file was.
::testing::AssertionResult wellFormed(const Image &img) {
    auto fail = [] { return ::testing::AssertionFailure(); };
    if (img.width == 0 || img.height == 0) return fail() << "empty image";
    if (img.stride != strideFor(img.width, img.bitCount)) return fail() << "stride";
    if (img.pixels.size() < img.stride * img.height) return fail() << "pixel buffer too small";
    if (img.isPalette()) {
        if (img.bitCount != 1 && img.bitCount != 4 && img.bitCount != 8)
            return fail() << "palette depth " << img.bitCount;
        if (img.palette.empty() || img.palette.size() > (size_t{1} << img.bitCount))
            return fail() << "palette of " << img.palette.size();
        for (uint32_t y = 0; y < img.height; ++y)
            for (uint32_t x = 0; x < img.width; ++x)
                if (paletteIndex(img.row(y), x, img.bitCount) >= img.palette.size())
                    return fail() << "index past the palette at " << x << "," << y;
    } else if (img.bitCount != 16 && img.bitCount != 24 && img.bitCount != 32) {
        return fail() << "depth " << img.bitCount;
    }
    if ((img.compression != Compression::None) != !img.rle.empty())
        return fail() << "compression flag and stream disagree";
    return ::testing::AssertionSuccess();
}

// ---- The BMP Suite ----

// q, b and x files: an error with a message, or a well-formed image of the
// suite's size.
class BmpSuiteBad : public ::testing::TestWithParam<std::string> {};

TEST_P(BmpSuiteBad, FailsCleanlyOrGivesTheHeadersSize) {
    Result<Image> img = decodeFile(corpus(GetParam()));
    if (!img) {
        EXPECT_FALSE(img.status().message().empty());
        return;
    }
    EXPECT_TRUE(wellFormed(img.value()));
    EXPECT_EQ(img->width, 127u);
    EXPECT_EQ(img->height, 64u);
}

std::vector<std::string> badSuiteFiles() {
    std::vector<std::string> files = listFiles("bmpsuite/b");
    for (const char *folder : {"bmpsuite/q", "bmpsuite/x"})
        for (const std::string &f : listFiles(folder))
            files.push_back(f);
    return files;
}

INSTANTIATE_TEST_SUITE_P(Corpus, BmpSuiteBad, ::testing::ValuesIn(badSuiteFiles()),
                         [](const auto &info) { return testName(info.param); });

// These must be refused outright, not decoded with a guess.
TEST(BmpSuite, AbsurdHeadersAreRefused) {
    for (const char *name : {"b/badbitcount.bmp", "b/badheadersize.bmp", "b/badpalettesize.bmp",
                             "b/badwidth.bmp", "b/reallybig.bmp", "b/shortfile.bmp"}) {
        Result<Image> img = decodeFile(corpus(std::string("bmpsuite/") + name));
        EXPECT_FALSE(img.isOk()) << name;
    }
    Result<Image> big = decodeFile(corpus("bmpsuite/b/reallybig.bmp"));
    EXPECT_EQ(big.status().code(), Error::TooLarge);
}

// ---- The damaged-file corpus ----

struct ExpectCase {
    std::string path, expect;
};

std::vector<ExpectCase> badBmpCases() {
    std::vector<ExpectCase> cases;
    for (const auto &row : readTsv(corpus("bad/EXPECT.tsv")))
        if (row.size() >= 2 && row[0].starts_with("bmp/")) cases.push_back({row[0], row[1]});
    return cases;
}

class DamagedBmp : public ::testing::TestWithParam<ExpectCase> {};

TEST_P(DamagedBmp, BehavesAsExpected) {
    const ExpectCase &c = GetParam();
    Result<Image> img = decodeFile(corpus("bad/" + c.path));
    if (c.expect == "reject") {
        ASSERT_FALSE(img.isOk()) << "decoded " << img->width << "x" << img->height;
        EXPECT_FALSE(img.status().message().empty());
    } else if (c.expect == "decode") {
        ASSERT_TRUE(img.isOk()) << img.status().message();
    }
    if (img)
        EXPECT_TRUE(wellFormed(img.value()));
    else
        EXPECT_FALSE(img.status().message().empty());
}

INSTANTIATE_TEST_SUITE_P(Corpus, DamagedBmp, ::testing::ValuesIn(badBmpCases()),
                         [](const auto &info) { return testName(info.param.path); });

// The RLE base file: a run of one colour per row (colour = row from the bottom).
TEST(DamagedBmp, RleBaseAndClippedRunsKeepTheirRows) {
    Result<Image> good = decodeFile(corpus("bad/bmp/rle8-good.bmp"));
    ASSERT_TRUE(good.isOk()) << good.status().message();
    EXPECT_EQ(good->compression, Compression::Rle8);
    Result<Image> clipped = decodeFile(corpus("bad/bmp/rle8-run-past-row-end.bmp"));
    ASSERT_TRUE(clipped.isOk()) << clipped.status().message();
    // Rows other than the damaged one are untouched by the overlong run.
    size_t same = 0;
    for (uint32_t y = 0; y < 8; ++y)
        same += std::memcmp(good->row(y), clipped->row(y), 16) == 0;
    EXPECT_GE(same, 7u);
}

TEST(DamagedBmp, PngFilesAreNotBmp) {
    std::vector<std::string> files = listFiles("pngsuite/bad/crashers");
    for (const std::string &f : listFiles("pngsuite/bad/badpal"))
        files.push_back(f);
    for (const std::string &f : listFiles("bad/png"))
        files.push_back(f);
    for (const std::string &f : files) {
        Result<Image> img = decodeFile(corpus(f));
        ASSERT_FALSE(img.isOk()) << f;
        EXPECT_EQ(img.status().code(), Error::NotImage) << f;
    }
}

// ---- What a loaded image holds ----

struct Shape {
    const char *file;
    uint16_t bits;
    Compression compression;
    size_t paletteSize; // checked for palette images; always opaque
};

TEST(BmpRead, LoadedImagesKeepWhatABmpCanHold) {
    const Shape shapes[] = {
        {"g/pal1.bmp", 1, Compression::None, 2},
        {"q/pal2.bmp", 4, Compression::None, 4},
        {"g/pal4.bmp", 4, Compression::None, 12},
        {"g/pal4rle.bmp", 4, Compression::Rle4, 12},
        {"g/pal8.bmp", 8, Compression::None, 252},   // biClrUsed
        {"g/pal8-0.bmp", 8, Compression::None, 256}, // 0 means the full palette
        {"g/pal8rle.bmp", 8, Compression::Rle8, 252},
        {"g/pal8os2.bmp", 8, Compression::None, 256},
        {"q/pal8os2sp.bmp", 8, Compression::None, 252}, // OS/2 1.x: up to the pixels
        {"q/pal8oversizepal.bmp", 8, Compression::None, 256},
        {"g/rgb16.bmp", 16, Compression::None, 0},
        {"g/rgb16bfdef.bmp", 16, Compression::None, 0},
        {"g/rgb16-565.bmp", 24, Compression::None, 0},
        {"g/rgb24.bmp", 24, Compression::None, 0},
        {"g/rgb32.bmp", 24, Compression::None, 0},
        {"g/rgb32bf.bmp", 24, Compression::None, 0},
        {"q/rgb32fakealpha.bmp", 24, Compression::None, 0},
        {"q/rgba32-1.bmp", 32, Compression::None, 0},
        {"q/rgba16-4444.bmp", 32, Compression::None, 0},
        {"q/rgb24rle24.bmp", 24, Compression::None, 0},
    };
    for (const Shape &s : shapes) {
        Result<Image> img = decodeFile(corpus(std::string("bmpsuite/") + s.file));
        ASSERT_TRUE(img.isOk()) << s.file << ": " << img.status().message();
        EXPECT_EQ(img->bitCount, s.bits) << s.file;
        EXPECT_EQ(img->compression, s.compression) << s.file;
        EXPECT_EQ(img->rle.empty(), s.compression == Compression::None) << s.file;
        EXPECT_EQ(img->palette.size(), s.paletteSize) << s.file;
        for (const PaletteEntry &e : img->palette)
            EXPECT_EQ(e.a, 255) << s.file;
    }
}

// ---- Files made here ----

struct BmpFields {
    uint32_t infoSize = 40;
    int32_t width = 1, height = 1;
    uint16_t planes = 1, bits = 24;
    uint32_t compression = 0;
    uint32_t clrUsed = 0;
    std::vector<uint32_t> masks;  // written after a 40-byte header, or inside a longer one
    std::vector<uint32_t> colors; // palette, 0x00RRGGBB
    std::vector<uint8_t> pixels;
};

void put16(std::vector<uint8_t> &v, size_t at, uint32_t x) {
    v[at] = uint8_t(x);
    v[at + 1] = uint8_t(x >> 8);
}
void put32(std::vector<uint8_t> &v, size_t at, uint32_t x) {
    put16(v, at, x & 0xFFFF);
    put16(v, at + 2, x >> 16);
}

std::vector<uint8_t> makeBmp(const BmpFields &s) {
    const bool masksAfter = s.infoSize == 40 && !s.masks.empty();
    size_t off = 14 + s.infoSize + (masksAfter ? 4 * s.masks.size() : 0) + 4 * s.colors.size();
    std::vector<uint8_t> v(off);
    v[0] = 'B';
    v[1] = 'M';
    put32(v, 2, uint32_t(off + s.pixels.size()));
    put32(v, 10, uint32_t(off));
    put32(v, 14, s.infoSize);
    put32(v, 18, uint32_t(s.width));
    put32(v, 22, uint32_t(s.height));
    put16(v, 26, s.planes);
    put16(v, 28, s.bits);
    put32(v, 30, s.compression);
    put32(v, 46, s.clrUsed);
    size_t at = 14 + s.infoSize;
    if (masksAfter) {
        for (uint32_t m : s.masks)
            put32(v, at, m), at += 4;
    } else {
        for (size_t i = 0; i < s.masks.size(); ++i)
            put32(v, 54 + 4 * i, s.masks[i]);
    }
    for (uint32_t c : s.colors)
        put32(v, at, c), at += 4;
    v.insert(v.end(), s.pixels.begin(), s.pixels.end());
    return v;
}

TEST(BmpLimits, OversizedHeadersFailBeforeAllocating) {
    struct Case {
        int32_t w, h;
        uint16_t bits;
    };
    for (Case c :
         {Case{2147483647, 1, 24}, Case{2147483647, 1, 1}, Case{65536, 1, 8}, Case{1, 65536, 8},
          Case{40000, 40000, 32}, Case{65536, 65536, 32}, Case{1, -2147483647 - 1, 24}}) {
        BmpFields s;
        s.width = c.w;
        s.height = c.h;
        s.bits = c.bits;
        if (c.bits <= 8) s.colors.assign(size_t{1} << c.bits, 0);
        s.pixels.assign(96, 0);
        Result<Image> img = decodeBytes(makeBmp(s));
        ASSERT_FALSE(img.isOk()) << c.w << "x" << c.h;
        EXPECT_EQ(img.status().code(), Error::TooLarge) << img.status().message();
    }
}

TEST(BmpLimits, TinyFilesCannotClaimLargeImages) {
    // Within the limits, but the file holds a fraction of the pixels.
    BmpFields s;
    s.width = 20000;
    s.height = 20000;
    s.bits = 8;
    s.colors.assign(256, 0);
    s.pixels.assign(100, 0);
    Result<Image> raw = decodeBytes(makeBmp(s));
    ASSERT_FALSE(raw.isOk());
    EXPECT_EQ(raw.status().code(), Error::Corrupt);
    s.compression = 1; // RLE8: a few codes cannot cover 400 million pixels
    s.pixels = {255, 1, 0, 0, 0, 1};
    Result<Image> rle = decodeBytes(makeBmp(s));
    ASSERT_FALSE(rle.isOk());
    EXPECT_EQ(rle.status().code(), Error::Corrupt);
    EXPECT_NE(rle.status().message().find("RLE"), std::string::npos) << rle.status().message();
}

TEST(BmpHeaders, InvalidFieldsAreNamed) {
    struct Case {
        const char *what;
        BmpFields spec;
        Error code;
        const char *inMessage;
    };
    auto rgb = [](auto change) {
        BmpFields s;
        s.width = 2;
        s.height = 2;
        s.pixels.assign(16, 0);
        change(s);
        return s;
    };
    const Case cases[] = {
        {"depth 7", rgb([](BmpFields &s) { s.bits = 7; }), Error::Corrupt, "bits per pixel 7"},
        {"64-bit", rgb([](BmpFields &s) {
             s.bits = 64;
             s.pixels.assign(32, 0);
         }),
         Error::Unsupported, "64"},
        {"header 66", rgb([](BmpFields &s) { s.infoSize = 66; }), Error::Corrupt, "header size 66"},
        {"planes", rgb([](BmpFields &s) { s.planes = 3; }), Error::Corrupt, "planes"},
        {"width", rgb([](BmpFields &s) { s.width = -2; }), Error::Corrupt, "width"},
        {"RLE8 on 24", rgb([](BmpFields &s) { s.compression = 1; }), Error::Corrupt, "RLE8"},
        {"CMYK", rgb([](BmpFields &s) { s.compression = 11; }), Error::Unsupported, "CMYK"},
        {"mask gap", rgb([](BmpFields &s) {
             s.bits = 16;
             s.compression = 3;
             s.masks = {0x7C00, 0x03E0, 0x0015};
         }),
         Error::Corrupt, "one run"},
        {"mask outside", rgb([](BmpFields &s) {
             s.bits = 16;
             s.compression = 3;
             s.masks = {0x7C0000, 0x03E0, 0x001F};
         }),
         Error::Corrupt, "outside"},
        {"masks zero", rgb([](BmpFields &s) {
             s.bits = 16;
             s.compression = 3;
             s.masks = {0, 0, 0};
         }),
         Error::Corrupt, "all 0"},
        {"huffman", rgb([](BmpFields &s) {
             s.bits = 1;
             s.compression = 3;
             s.colors = {0, 0xFFFFFF};
         }),
         Error::Unsupported, "Huffman"},
    };
    for (const Case &c : cases) {
        Result<Image> img = decodeBytes(makeBmp(c.spec));
        ASSERT_FALSE(img.isOk()) << c.what;
        EXPECT_EQ(img.status().code(), c.code) << c.what << ": " << img.status().message();
        EXPECT_NE(img.status().message().find(c.inMessage), std::string::npos)
            << c.what << ": " << img.status().message();
    }
    std::vector<uint8_t> truncated = makeBmp(rgb([](BmpFields &) {}));
    truncated.resize(truncated.size() - 8);
    Result<Image> cut = decodeBytes(truncated);
    ASSERT_FALSE(cut.isOk());
    EXPECT_NE(cut.status().message().find("offset 54"), std::string::npos)
        << cut.status().message();
}

TEST(BmpRead, IndicesPastAShortPaletteShowBlack) {
    struct Case {
        uint16_t bits;
        int32_t width;
        std::vector<uint8_t> row; // one stored row, padded
        size_t paletteSize;       // grown to the highest index used
    };
    const Case cases[] = {
        {8, 4, {0, 1, 5, 1}, 6},
        {4, 3, {0x01, 0xE0, 0, 0}, 15}, // indices 0, 1, 14
        {1, 3, {0x40, 0, 0, 0}, 2},     // indices 0, 1, 0 with a 1-entry palette
    };
    for (const Case &c : cases) {
        BmpFields s;
        s.width = c.width;
        s.bits = c.bits;
        s.clrUsed = c.bits == 1 ? 1 : 2;
        s.colors = {0x405060, 0x102030};
        s.colors.resize(s.clrUsed);
        s.pixels = c.row;
        Result<Image> img = decodeBytes(makeBmp(s));
        ASSERT_TRUE(img.isOk()) << img.status().message();
        ASSERT_TRUE(wellFormed(img.value()));
        EXPECT_EQ(img->palette.size(), c.paletteSize) << c.bits;
        Rgba px = toRgba(img.value());
        EXPECT_EQ(px.pixel(0), (Pixel{0x40, 0x50, 0x60, 255})) << c.bits;
        EXPECT_EQ(px.pixel(c.bits == 1 ? 1 : 2), (Pixel{0, 0, 0, 255})) << c.bits;
    }
}

TEST(BmpRead, TwoBitPixelsWidenToFourBits) {
    for (int32_t w = 1; w <= 9; ++w) {
        BmpFields s;
        s.width = w;
        s.height = 2;
        s.bits = 2;
        s.colors = {0, 0x555555, 0xAAAAAA, 0xFFFFFF};
        // Row pixels 0, 1, 2, 3, 0, ... (bottom row) and 3, 2, 1, 0, ... (top row).
        std::vector<uint8_t> rows(8, 0);
        for (int32_t x = 0; x < w; ++x) {
            rows[x / 4] |= uint8_t((x % 4) << (6 - 2 * (x % 4)));
            rows[4 + x / 4] |= uint8_t((3 - x % 4) << (6 - 2 * (x % 4)));
        }
        s.pixels = rows;
        Result<Image> img = decodeBytes(makeBmp(s));
        ASSERT_TRUE(img.isOk()) << img.status().message();
        ASSERT_EQ(img->bitCount, 4);
        for (int32_t x = 0; x < w; ++x) {
            EXPECT_EQ(paletteIndex(img->row(1), uint32_t(x), 4), x % 4) << w << " " << x;
            EXPECT_EQ(paletteIndex(img->row(0), uint32_t(x), 4), 3 - x % 4) << w << " " << x;
        }
    }
}

TEST(BmpRead, BitfieldsScaleEveryWidthToEightBits) {
    // 32-bit pixels: 2-bit red, 11-bit green, 18-bit blue, 1-bit alpha.
    BmpFields s;
    s.width = 3;
    s.bits = 32;
    s.compression = 6; // alpha bit-fields
    s.masks = {0xC0000000, 0x3FF80000, 0x0007FFFE, 0x00000001};
    const uint32_t px[3] = {0xFFFFFFFF, (1u << 30) | (1023u << 19) | (1u << 1) | 1, 0};
    for (uint32_t p : px)
        for (int k = 0; k < 4; ++k)
            s.pixels.push_back(uint8_t(p >> (8 * k)));
    Result<Image> img = decodeBytes(makeBmp(s));
    ASSERT_TRUE(img.isOk()) << img.status().message();
    ASSERT_EQ(img->bitCount, 32);
    Rgba out = toRgba(img.value());
    EXPECT_EQ(out.pixel(0), (Pixel{255, 255, 255, 255}));
    // red 1/3 -> 85, green 1023/2047 -> 127, blue 1/262143 -> 0
    EXPECT_EQ(out.pixel(1), (Pixel{85, 127, 0, 255}));
    EXPECT_EQ(out.pixel(2), (Pixel{0, 0, 0, 0}));
}

TEST(BmpRead, AlphaThatIsNeverSetMeansOpaque) {
    BmpFields s;
    s.infoSize = 124;
    s.width = 2;
    s.bits = 32;
    s.compression = 3;
    s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    s.pixels = {1, 2, 3, 0, 4, 5, 6, 0};
    Result<Image> img = decodeBytes(makeBmp(s));
    ASSERT_TRUE(img.isOk()) << img.status().message();
    ASSERT_EQ(img->bitCount, 32);
    EXPECT_EQ(toRgba(img.value()).pixel(1), (Pixel{6, 5, 4, 255}));
}

// ---- The RLE expander ----

Image expand(const std::vector<uint8_t> &stream, uint32_t w, uint32_t h, RleKind kind,
             RleEnd expectEnd, bool topDown = false) {
    uint16_t bits = kind == RleKind::Rle4 ? 4 : kind == RleKind::Rle8 ? 8 : 24;
    Image img = makeImage(w, h, bits).value();
    EXPECT_EQ(expandRleStream(stream.data(), stream.size(), kind, topDown, img), expectEnd);
    return img;
}

std::vector<std::vector<uint8_t>> indices(const Image &img) {
    std::vector<std::vector<uint8_t>> rows(img.height);
    for (uint32_t y = 0; y < img.height; ++y)
        for (uint32_t x = 0; x < img.width; ++x)
            rows[y].push_back(paletteIndex(img.row(y), x, img.bitCount));
    return rows;
}

using Rows = std::vector<std::vector<uint8_t>>;

TEST(RleExpander, Rle8CodesClipAndLeaveZeros) {
    // Bottom row: a run of two 5s. Delta right 1, up 1, to x = 3. A literal
    // of three pixels of which one fits (plus its pad byte). End of line,
    // then a single 6, end of bitmap.
    const std::vector<uint8_t> s = {2, 5, 0, 2, 1, 1, 0, 3, 7, 8, 9, 0, 0, 0, 1, 6, 0, 1};
    Image img = expand(s, 4, 3, RleKind::Rle8, RleEnd::EndOfBitmap);
    EXPECT_EQ(indices(img), (Rows{{6, 0, 0, 0}, {0, 0, 0, 7}, {5, 5, 0, 0}}));
    Image down = expand(s, 4, 3, RleKind::Rle8, RleEnd::EndOfBitmap, true);
    EXPECT_EQ(indices(down), (Rows{{5, 5, 0, 0}, {0, 0, 0, 7}, {6, 0, 0, 0}}));
}

TEST(RleExpander, Rle4RunsAlternateAndLiteralsPad) {
    // Row 0 (bottom): run of 5 alternating 1,2. Row 1: literal of 3 (two
    // bytes, already even), end of bitmap without end of line.
    const std::vector<uint8_t> s = {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1};
    Image img = expand(s, 5, 2, RleKind::Rle4, RleEnd::EndOfBitmap);
    EXPECT_EQ(indices(img), (Rows{{3, 4, 5, 0, 0}, {1, 2, 1, 2, 1}}));
    // An odd-byte literal in RLE8 skips one pad byte before the next code.
    const std::vector<uint8_t> t = {0, 3, 1, 2, 3, 0xEE, 2, 9, 0, 1};
    Image img8 = expand(t, 5, 1, RleKind::Rle8, RleEnd::EndOfBitmap);
    EXPECT_EQ(indices(img8), (Rows{{1, 2, 3, 9, 9}}));
}

TEST(RleExpander, StreamsThatStopEarlyOrOverrunAreSafe) {
    // Cut inside a literal: the present pixels are kept.
    Image cut = expand({0, 6, 1, 2}, 8, 1, RleKind::Rle8, RleEnd::StreamEnded);
    EXPECT_EQ(indices(cut), (Rows{{1, 2, 0, 0, 0, 0, 0, 0}}));
    // A code byte with nothing after it.
    expand({3}, 4, 1, RleKind::Rle8, RleEnd::StreamEnded);
    expand({0}, 4, 1, RleKind::Rle8, RleEnd::StreamEnded);
    expand({0, 2, 1}, 4, 1, RleKind::Rle8, RleEnd::StreamEnded);
    // Runs on rows below the image and a delta far past it.
    std::vector<uint8_t> many;
    for (int i = 0; i < 10; ++i)
        many.insert(many.end(), {255, 7, 0, 0});
    Image tall = expand(many, 3, 2, RleKind::Rle8, RleEnd::PastImage);
    EXPECT_EQ(indices(tall), (Rows{{7, 7, 7}, {7, 7, 7}}));
    expand({0, 2, 200, 200, 5, 1}, 3, 2, RleKind::Rle8, RleEnd::PastImage);
    // End of line on the last row followed by end of bitmap is a clean end.
    expand({3, 1, 0, 0, 0, 1}, 3, 1, RleKind::Rle8, RleEnd::EndOfBitmap);
}

TEST(RleExpander, Rle24RunsAndLiterals) {
    // Run of 2 of (B,G,R) = (1,2,3), literal of three pixels (9 bytes + pad).
    const std::vector<uint8_t> s = {2, 1, 2, 3, 0, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0, 0, 1};
    Image img = expand(s, 5, 1, RleKind::Rle24, RleEnd::EndOfBitmap);
    const uint8_t *p = img.row(0);
    EXPECT_EQ(std::vector<uint8_t>(p, p + 15),
              (std::vector<uint8_t>{1, 2, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

// The stream the reader keeps (our own encoding) expands to the same pixels.
TEST(RleExpander, TheKeptStreamExpandsToTheSamePixels) {
    for (const char *file :
         {"g/pal8rle.bmp", "g/pal4rle.bmp", "q/pal8rlecut.bmp", "q/pal4rletrns.bmp"}) {
        Result<Image> img = decodeFile(corpus(std::string("bmpsuite/") + file));
        ASSERT_TRUE(img.isOk()) << file;
        RleKind kind = img->bitCount == 8 ? RleKind::Rle8 : RleKind::Rle4;
        Image again = expand(img->rle, img->width, img->height, kind, RleEnd::EndOfBitmap);
        EXPECT_EQ(indices(again), indices(img.value())) << file;
    }
}

} // namespace
