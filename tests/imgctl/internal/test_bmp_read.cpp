// SPDX-License-Identifier: MIT
// The BMP reader: damaged files of every format, headers made here at the
// limits, and the RLE expander on hand-made streams. (What loaded suite files
// hold is checked through HeadDIB, their pixels against the reference
// renderings with every other format's in test_corpus_pixels.cpp; fuzzing
// covers truncated and mutated files.)
#include "bmp/rle_read.h"
#include "core/ops.h"
#include "corpus.h"
#include "hostile_files.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

using namespace imgctl;
using namespace testing_support;
using namespace test_images;

namespace {

// ---- Damaged files ----

struct ExpectCase {
    std::string path, expect; // expect: reject, decode or any
};

// The damaged-file corpus with its expectations; the BMP Suite's bad and odd
// files, of which those whose headers are absurd must be refused, not guessed
// at; the libpng crash files, of which a lying chunk length with no image data
// after it and a broken IHDR must fail.
std::vector<ExpectCase> badFiles() {
    std::vector<ExpectCase> cases;
    for (const auto &row : readTsv(corpus("bad/EXPECT.tsv")))
        if (row.size() >= 2) cases.push_back({"bad/" + row[0], row[1]});
    for (const auto &row : readTsv(corpus("jpeg/bad/EXPECT.tsv")))
        if (row.size() >= 2) cases.push_back({"jpeg/" + row[0], row[1]});
    const std::set<std::string> refused = {"badbitcount", "badheadersize", "badpalettesize",
                                           "badwidth",    "reallybig",     "shortfile",
                                           "bad_iCCP"};
    for (const char *folder :
         {"bmpsuite/b", "bmpsuite/x", "pngsuite/bad/crashers", "pngsuite/bad/badpal"})
        for (const std::string &name : listing(corpusDir() / folder)) {
            const std::string stem = std::filesystem::path(name).stem();
            const bool huge = stem.starts_with("huge_") && stem != "huge_IDAT";
            cases.push_back(
                {folder + ("/" + name), refused.count(stem) || huge ? "reject" : "any"});
        }
    return cases;
}

class DamagedFile : public ::testing::TestWithParam<ExpectCase> {};

TEST_P(DamagedFile, FailsNamingTheCauseOrGivesAWellFormedImage) {
    const ExpectCase &c = GetParam();
    const std::vector<uint8_t> bytes = readFile(corpus(c.path));
    const std::string format = c.path.starts_with("jpeg/") ? "JPEG"
                               : c.path.starts_with("bmpsuite/") || c.path.starts_with("bad/bmp/")
                                   ? "BMP"
                                   : "PNG";
    Result<Image> img = format == "BMP"   ? decodeBmp(bytes.data(), bytes.size())
                        : format == "PNG" ? decodePng(bytes.data(), bytes.size())
                                          : decodeJpeg(bytes.data(), bytes.size());
    if (c.expect != "any") {
        ASSERT_EQ(img.isOk(), c.expect == "decode") << (img ? "decoded" : img.status().message());
    }
    if (img)
        EXPECT_EQ(fuzzing::malformed(img.value()), "");
    else
        EXPECT_TRUE(img.status().message().starts_with(format + ": ")) << img.status().message();
    if (img && format == "JPEG") {
        EXPECT_EQ(img->width, 256u);
        EXPECT_EQ(img->height, 192u);
    }
    if (c.path == "bad/png/bad-crc-idat.png") {
        EXPECT_EQ(img.status().code(), Error::Corrupt);
        EXPECT_NE(img.status().message().find("CRC"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, DamagedFile, ::testing::ValuesIn(badFiles()),
                         [](const auto &info) { return testName(info.param.path); });

// ---- Files made here ----

using hostile::Bmp;

// A 2x2 24-bit file with one change.
template <typename Change> Bmp rgb(Change change) {
    Bmp s;
    s.width = 2;
    s.height = 2;
    s.pixels.assign(16, 0);
    change(s);
    return s;
}

// Sizes over the limits fail before anything is allocated; a file far too
// short for its size is corrupt.
Bmp sized(int32_t w, int32_t h, uint16_t bits) {
    return rgb([&](Bmp &s) {
        s.width = w, s.height = h, s.bits = bits;
        if (bits <= 8) s.colors.assign(size_t{1} << bits, 0);
    });
}

TEST(BmpHeaders, InvalidFieldsAreNamed) {
    struct Case {
        const char *what;
        Bmp fields;
        Error code;
        const char *inMessage;
    };
    auto masks16 = [](std::vector<uint32_t> masks) {
        return rgb([&](Bmp &s) { s.bits = 16, s.compression = 3, s.masks = masks; });
    };
    const Case cases[] = {
        {"depth 7", rgb([](Bmp &s) { s.bits = 7; }), Error::Corrupt, "bits per pixel 7"},
        {"64-bit", rgb([](Bmp &s) { s.bits = 64, s.pixels.assign(32, 0); }), Error::Unsupported,
         "64"},
        {"header 66", rgb([](Bmp &s) { s.infoSize = 66; }), Error::Corrupt, "header size 66"},
        {"planes", rgb([](Bmp &s) { s.planes = 3; }), Error::Corrupt, "planes"},
        {"width", rgb([](Bmp &s) { s.width = -2; }), Error::Corrupt, "width"},
        {"RLE8 on 24", rgb([](Bmp &s) { s.compression = 1; }), Error::Corrupt, "RLE8"},
        {"CMYK", rgb([](Bmp &s) { s.compression = 11; }), Error::Unsupported, "CMYK"},
        {"mask gap", masks16({0x7C00, 0x03E0, 0x15}), Error::Corrupt, "one run"},
        {"mask outside", masks16({0x7C0000, 0x03E0, 0x1F}), Error::Corrupt, "outside"},
        {"masks zero", masks16({0, 0, 0}), Error::Corrupt, "all 0"},
        {"huffman", rgb([](Bmp &s) {
             s.bits = 1, s.compression = 3, s.colors = {0, 0xFFFFFF};
         }),
         Error::Unsupported, "Huffman"},
        {"palette past the end", rgb([](Bmp &s) { s.bits = 1, s.clrUsed = 1, s.pixels = {}; }),
         Error::Corrupt, "palette of 1 colours runs past"},
        {"not BM", rgb([](Bmp &) {}), Error::NotImage, ""},
        {"wide", sized(65536, 1, 8), Error::TooLarge, "65536"},
        {"tall", sized(1, 65536, 8), Error::TooLarge, "65536"},
        {"large", sized(40000, 40000, 32), Error::TooLarge, "40000"},
        {"short", sized(20000, 20000, 8), Error::Corrupt, ""},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes = hostile::bmp(c.fields);
        if (c.code == Error::NotImage) bytes[0] = 0x89, bytes[1] = 'P';
        Result<Image> img = decodeBmp(bytes.data(), bytes.size());
        ASSERT_FALSE(img.isOk()) << c.what;
        EXPECT_EQ(img.status().code(), c.code) << c.what << ": " << img.status().message();
        EXPECT_NE(img.status().message().find(c.inMessage), std::string::npos)
            << c.what << ": " << img.status().message();
    }
}

// Pixels of files made here, top row first, against plain reading of the
// fields: an index past a short palette shows black (the palette grown to the
// highest index used, and no further), bit-fields of every width scale to
// eight bits, and an alpha channel that is never set means opaque.
TEST(BmpRead, MadeFilesGiveTheirPixels) {
    struct Case {
        const char *what;
        Bmp fields;
        size_t paletteSize;
        std::vector<Pixel> pixels;
    };
    const Pixel first{0x40, 0x50, 0x60, 255}, second{0x10, 0x20, 0x30, 255}, black{0, 0, 0, 255};
    auto shortPalette = [](uint16_t bits, int32_t width, std::vector<uint8_t> row) {
        Bmp s;
        s.width = width, s.bits = bits, s.clrUsed = bits == 1 ? 1 : 2;
        s.colors = {0x405060, 0x102030};
        s.colors.resize(s.clrUsed);
        s.pixels = row;
        return s;
    };
    // 32-bit pixels: 2-bit red, 11-bit green, 18-bit blue, 1-bit alpha.
    Bmp odd;
    odd.width = 3, odd.bits = 32, odd.compression = 6;
    odd.masks = {0xC0000000, 0x3FF80000, 0x0007FFFE, 0x00000001};
    for (uint32_t p : {0xFFFFFFFFu, (1u << 30) | (1023u << 19) | (1u << 1) | 1, 0u})
        for (int k = 0; k < 4; ++k)
            odd.pixels.push_back(uint8_t(p >> (8 * k)));
    Bmp noAlpha;
    noAlpha.infoSize = 124, noAlpha.width = 2, noAlpha.bits = 32, noAlpha.compression = 3;
    noAlpha.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    noAlpha.pixels = {1, 2, 3, 0, 4, 5, 6, 0};
    const Case cases[] = {
        {"8-bit", shortPalette(8, 4, {0, 1, 5, 1}), 6, {first, second, black, second}},
        {"4-bit", shortPalette(4, 3, {0x01, 0xE0, 0, 0}), 15, {first, second, black}},
        {"1-bit", shortPalette(1, 3, {0x40, 0, 0, 0}), 2, {first, black, first}},
        {"1-bit, no index past", shortPalette(1, 3, {0x00, 0, 0, 0}), 1, {first, first, first}},
        // red 1/3 -> 85, green 1023/2047 -> 127, blue 1/262143 -> 0
        {"odd masks", odd, 0, {{255, 255, 255, 255}, {85, 127, 0, 255}, {0, 0, 0, 0}}},
        {"alpha never set", noAlpha, 0, {{3, 2, 1, 255}, {6, 5, 4, 255}}},
    };
    for (const Case &c : cases) {
        const hostile::Bytes bytes = hostile::bmp(c.fields);
        Result<Image> img = decodeBmp(bytes.data(), bytes.size());
        ASSERT_TRUE(img.isOk()) << c.what << ": " << img.status().message();
        ASSERT_EQ(fuzzing::malformed(img.value()), "") << c.what;
        EXPECT_EQ(img->palette.size(), c.paletteSize) << c.what;
        Rgba px = toRgba(img.value());
        EXPECT_EQ(px.px.size(), 4 * c.pixels.size()) << c.what;
        for (size_t i = 0; i < c.pixels.size(); ++i)
            EXPECT_EQ(px.pixel(i), c.pixels[i]) << c.what << " pixel " << i;
    }
}

// ---- The RLE expander ----

// Hand-made streams expanded into an image of zeros: how the stream ended,
// and the indices, one digit each, top row first.
TEST(RleExpander, CodesClipAndLeaveZeros) {
    struct Case {
        const char *what;
        std::vector<uint8_t> stream;
        RleKind kind;
        bool topDown;
        RleEnd end;
        std::vector<std::string> rows;
    };
    // Bottom row: a run of two 5s. Delta right 1, up 1, to x = 3. A literal
    // of three pixels of which one fits (plus its pad byte). End of line,
    // then a single 6, end of bitmap.
    const std::vector<uint8_t> codes = {2, 5, 0, 2, 1, 1, 0, 3, 7, 8, 9, 0, 0, 0, 1, 6, 0, 1};
    // RLE4: row 0 a run of 5 alternating 1,2; row 1 a literal of 3 (two
    // bytes, already even), end of bitmap without end of line.
    const std::vector<uint8_t> codes4 = {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1};
    std::vector<uint8_t> many; // runs on rows below the image
    for (int i = 0; i < 10; ++i)
        many.insert(many.end(), {255, 7, 0, 0});
    using enum RleKind;
    using enum RleEnd;
    const Case cases[] = {
        {"codes", codes, Rle8, false, EndOfBitmap, {"6000", "0007", "5500"}},
        {"top-down", codes, Rle8, true, EndOfBitmap, {"5500", "0007", "6000"}},
        {"RLE4", codes4, Rle4, false, EndOfBitmap, {"34500", "12121"}},
        {"cut in a literal", {0, 6, 1, 2}, Rle8, false, StreamEnded, {"12000000"}},
        {"cut after a code", {3}, Rle8, false, StreamEnded, {"00"}},
        {"cut in a delta", {0, 2, 1}, Rle8, false, StreamEnded, {"00"}},
        {"rows past the image", many, Rle8, false, PastImage, {"777", "777"}},
        {"delta past the image", {0, 2, 200, 200, 5, 1}, Rle8, false, PastImage, {"000"}},
    };
    for (const Case &c : cases) {
        const auto w = uint32_t(c.rows[0].size()), h = uint32_t(c.rows.size());
        Image img = makeImage(w, h, c.kind == Rle4 ? 4 : 8).value();
        std::memset(img.pixels.data(), 0, img.pixels.size());
        EXPECT_EQ(expandRleStream(c.stream.data(), c.stream.size(), c.kind, c.topDown, img), c.end)
            << c.what;
        std::vector<std::string> rows(h);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                rows[y] += char('0' + paletteIndex(img.row(y), x, img.bitCount));
        EXPECT_EQ(rows, c.rows) << c.what;
    }
}

} // namespace
