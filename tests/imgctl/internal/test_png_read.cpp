// SPDX-License-Identifier: MIT
// The PNG decoder: the layouts each PNG kind maps to, damaged files and size
// limits. (The corpus files' pixels are checked with every other format's in
// tests/imgctl/public/test_corpus_pixels.cpp.)
#include "core/ops.h"
#include "corpus.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <cstring>
#include <zlib.h>

using namespace imgctl;
using namespace test_images;
using testing_support::corpus;
using testing_support::readFile;

namespace {

Result<Image> decodeFile(const std::string &relative) {
    std::vector<uint8_t> bytes = readFile(corpus(relative));
    return decodePng(bytes.data(), bytes.size());
}

struct Layout {
    const char *file;
    uint16_t bitCount;
    size_t paletteSize; // 0: no palette
    bool gray;          // every entry gray and opaque
    bool translucent;   // some entry or pixel below full alpha
};

class PngLayout : public ::testing::TestWithParam<Layout> {};

TEST_P(PngLayout, KeepsTheDataInTheClosestBitmapLayout) {
    const Layout &want = GetParam();
    auto img = decodeFile(want.file);
    ASSERT_TRUE(img) << img.status().message();
    EXPECT_EQ(img->bitCount, want.bitCount);
    EXPECT_EQ(img->palette.size(), want.paletteSize);
    EXPECT_EQ(hasGrayPalette(img.value()), want.gray);
    EXPECT_EQ(hasTransparency(img.value()), want.translucent);
    EXPECT_GE(img->stride * 8, size_t{img->width} * img->bitCount);
    EXPECT_EQ(img->stride % 4, 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, PngLayout,
                         ::testing::Values(Layout{"pngsuite/basn0g01.png", 1, 2, true, false},
                                           Layout{"pngsuite/basn0g02.png", 4, 4, true, false},
                                           Layout{"pngsuite/basn0g04.png", 4, 16, true, false},
                                           Layout{"pngsuite/basn0g08.png", 8, 256, true, false},
                                           Layout{"pngsuite/basn0g16.png", 8, 256, true, false},
                                           Layout{"pngsuite/basn2c08.png", 24, 0, false, false},
                                           Layout{"pngsuite/basn2c16.png", 24, 0, false, false},
                                           Layout{"pngsuite/basn3p01.png", 1, 2, false, false},
                                           Layout{"pngsuite/basn3p02.png", 4, 4, false, false},
                                           Layout{"pngsuite/basn3p04.png", 4, 15, false, false},
                                           Layout{"pngsuite/basn3p08.png", 8, 256, false, false},
                                           Layout{"pngsuite/basn4a08.png", 32, 0, false, true},
                                           Layout{"pngsuite/basn6a16.png", 32, 0, false, true},
                                           Layout{"pngsuite/ftbbn3p08.png", 8, 246, false, true},
                                           Layout{"pngsuite/ftbbn2c16.png", 32, 0, false, true},
                                           Layout{"pngsuite/ftbwn0g16.png", 32, 0, false, true},
                                           Layout{"pngsuite/ftbbn0g04.png", 4, 16, false, true},
                                           Layout{"pngsuite/testpngs/gray-2-tRNS.png", 4, 4, false,
                                                  true}),
                         [](const auto &info) { return testName(info.param.file); });

TEST(PngRead, GrayKeyMakesOneEntryTransparent) {
    auto img = decodeFile("pngsuite/testpngs/gray-4-tRNS.png");
    ASSERT_TRUE(img) << img.status().message();
    int transparent = 0;
    for (size_t i = 0; i < img->palette.size(); ++i) {
        const PaletteEntry &e = img->palette[i];
        EXPECT_EQ(e.r, i * 17);
        EXPECT_TRUE(e.r == e.g && e.g == e.b);
        transparent += e.a == 0;
        EXPECT_TRUE(e.a == 0 || e.a == 255);
    }
    EXPECT_EQ(transparent, 1);
}

// ---- Damaged files ----

struct BadFile {
    std::string path;
    std::string expect; // decode, reject or any
};

std::vector<BadFile> badPngs() {
    std::vector<BadFile> files;
    for (const auto &row : testing_support::readTsv(corpusRoot() / "bad/EXPECT.tsv"))
        if (row.size() >= 2 && row[0].rfind("png/", 0) == 0)
            files.push_back({"bad/" + row[0], row[1]});
    // The libpng crash files: a lying chunk length with no image data after
    // it, and a broken IHDR, must fail; the rest may decode.
    for (const char *folder : {"pngsuite/bad/crashers", "pngsuite/bad/badpal"})
        for (const std::string &path : listFiles(folder, ".png")) {
            std::string name = std::filesystem::path(path).filename().string();
            bool reject =
                name == "bad_iCCP.png" || (name.rfind("huge_", 0) == 0 && name != "huge_IDAT.png");
            files.push_back({path, reject ? "reject" : "any"});
        }
    return files;
}

class DamagedPng : public ::testing::TestWithParam<BadFile> {};

TEST_P(DamagedPng, FailsCleanlyOrDecodesSafely) {
    const BadFile &f = GetParam();
    std::vector<uint8_t> bytes = readFile(corpus(f.path));
    auto img = decodePng(bytes.data(), bytes.size());
    if (f.expect == "reject") {
        ASSERT_FALSE(img) << "decoded";
        EXPECT_FALSE(img.status().message().empty());
        EXPECT_NE(img.status().code(), Error::None);
    } else if (f.expect == "decode") {
        ASSERT_TRUE(img) << img.status().message();
    }
    if (img)
        toRgba(img.value()); // every index must name a palette entry
    else
        EXPECT_EQ(img.status().message().rfind("PNG: ", 0), 0u) << img.status().message();
}

INSTANTIATE_TEST_SUITE_P(Corpus, DamagedPng, ::testing::ValuesIn(badPngs()),
                         [](const auto &info) { return testName(info.param.path); });

TEST(PngRead, CrcErrorFails) {
    std::vector<uint8_t> bytes = readFile(corpus("bad/png/bad-crc-idat.png"));
    auto img = decodePng(bytes.data(), bytes.size());
    ASSERT_FALSE(img);
    EXPECT_EQ(img.status().code(), Error::Corrupt);
    EXPECT_NE(img.status().message().find("CRC"), std::string::npos) << img.status().message();
}

// ---- Size limits on made-up headers ----

void putBe32(std::vector<uint8_t> &out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(static_cast<uint8_t>(v >> s));
}

void putChunk(std::vector<uint8_t> &out, const char *type, const std::vector<uint8_t> &body) {
    putBe32(out, static_cast<uint32_t>(body.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    putBe32(out, static_cast<uint32_t>(crc32(0, out.data() + start, out.size() - start)));
}

// A PNG whose IHDR claims width x height 8-bit RGB, with one IDAT holding
// rawBytes zero bytes (filter type 0, black pixels), deflated.
std::vector<uint8_t> pngClaiming(uint32_t width, uint32_t height, size_t rawBytes = 4096) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    putBe32(ihdr, width);
    putBe32(ihdr, height);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    putChunk(out, "IHDR", ihdr);
    std::vector<uint8_t> raw(rawBytes, 0), packed(compressBound(raw.size()));
    uLongf packedSize = packed.size();
    compress(packed.data(), &packedSize, raw.data(), raw.size());
    packed.resize(packedSize);
    putChunk(out, "IDAT", packed);
    putChunk(out, "IEND", {});
    return out;
}

// Within the side limit but more than 1 GiB of pixels. (Larger sides and
// headers larger than their data are checked through the C interface with
// the other hostile files.)
TEST(PngRead, SizesPastTheLimitsAreRefusedUpFront) {
    auto wide = pngClaiming(65535, 6000);
    auto img = decodePng(wide.data(), wide.size());
    ASSERT_FALSE(img);
    EXPECT_EQ(img.status().code(), Error::TooLarge) << img.status().message();

    // The same data behind an honest header decodes.
    auto honest = pngClaiming(31, 33, 33 * (1 + 31 * 3));
    img = decodePng(honest.data(), honest.size());
    ASSERT_TRUE(img) << img.status().message();
    EXPECT_EQ(img->bitCount, 24);
}

} // namespace
