// SPDX-License-Identifier: MIT
// The PNG decoder: every valid corpus file against Qt's decoder, interlaced
// twins, the layouts each PNG kind maps to, damaged files and size limits.
#include "core/ops.h"
#include "corpus.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
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

std::vector<std::string> validPngs() {
    std::vector<std::string> all;
    for (const char *folder : {"pngsuite", "pngsuite/interlaced", "pngsuite/testpngs",
                               "pngsuite/testpngs/png-3", "pngsuite/extra"})
        for (std::string &f : listFiles(folder, ".png"))
            all.push_back(std::move(f));
    return all;
}

class ValidPng : public ::testing::TestWithParam<std::string> {};

// The file without the chunks of the given types; the body of the last one
// removed goes to `removed`.
std::vector<uint8_t> withoutChunks(const std::vector<uint8_t> &bytes,
                                   std::initializer_list<const char *> types,
                                   std::vector<uint8_t> *removed = nullptr) {
    std::vector<uint8_t> kept(bytes.begin(), bytes.begin() + 8);
    for (size_t pos = 8; pos + 12 <= bytes.size();) {
        uint32_t length = be32(bytes, pos);
        if (length > bytes.size() - pos - 12) break;
        bool drop = false;
        for (const char *t : types)
            drop = drop || std::memcmp(&bytes[pos + 4], t, 4) == 0;
        if (!drop)
            kept.insert(kept.end(), bytes.begin() + pos, bytes.begin() + pos + 12 + length);
        else if (removed)
            removed->assign(bytes.begin() + pos + 8, bytes.begin() + pos + 8 + length);
        pos += 12 + length;
    }
    return kept;
}

// Qt's decode, shown in sRGB, as the reference (managed: Qt converted it).
// Qt mishandles the tRNS colour key of 16-bit RGB files (random alpha), so
// for those Qt reads the file without its tRNS chunk and the alpha comes
// from comparing Qt's 16-bit samples with the key.
Rgba qtReference(const std::string &relative, bool &managed) {
    std::vector<uint8_t> bytes = readFile(corpus(relative));
    if (bytes.size() < 33 || bytes[24] != 16 || bytes[25] != 2)
        return qtShown(qtRead(corpus(relative)), &managed);
    std::vector<uint8_t> trns;
    std::vector<uint8_t> stripped = withoutChunks(bytes, {"tRNS"}, &trns);
    std::vector<uint16_t> key;
    for (size_t i = 0; trns.size() == 6 && i < 3; ++i)
        key.push_back(uint16_t(trns[2 * i] << 8 | trns[2 * i + 1]));
    testing_support::TempDir dir;
    {
        std::ofstream out(dir / "stripped.png", std::ios::binary);
        out.write(reinterpret_cast<const char *>(stripped.data()),
                  std::streamsize(stripped.size()));
    }
    Rgba ref = qtShown(qtRead(dir / "stripped.png"), &managed);
    if (ref.width == 0 || key.empty()) return ref;
    QImage wide = qtRead(dir / "stripped.png").convertToFormat(QImage::Format_RGBA64);
    for (int y = 0; y < ref.height; ++y) {
        auto *row = reinterpret_cast<const QRgba64 *>(wide.constScanLine(y));
        for (int x = 0; x < ref.width; ++x)
            if (row[x].red() == key[0] && row[x].green() == key[1] && row[x].blue() == key[2])
                ref.px[(size_t(y) * ref.width + x) * 4 + 3] = 0;
    }
    return ref;
}

// Shown in sRGB, our decode (its profile applied by lcms2 here; palettes and
// gray are converted on reading) matches Qt's, which Qt's own colour engine
// renders from iCCP, sRGB, gAMA and cHRM: exactly where neither converts,
// within 2 levels where they do. Qt rounds 16-bit samples to 8 bits as
// png_set_scale_16 does.
TEST_P(ValidPng, MatchesQt) {
    auto img = decodeFile(GetParam());
    ASSERT_TRUE(img) << img.status().message();
    bool managed = false;
    Rgba expected = qtReference(GetParam(), managed);
    ASSERT_GT(expected.width, 0) << "Qt cannot read it";
    EXPECT_TRUE(sameRgba(shownRgba(img.value()), expected, managed ? 2 : 0));
}

INSTANTIATE_TEST_SUITE_P(Corpus, ValidPng, ::testing::ValuesIn(validPngs()),
                         [](const auto &info) { return testName(info.param); });

// iNAME.png holds the pixels of NAME.png, Adam7 interlaced (three of them
// are not interlaced despite the name; they still hold the same pixels).
TEST(PngRead, InterlacedTwinsEqualTheirOriginals) {
    int pairs = 0;
    for (const char *folder : {"pngsuite", "pngsuite/interlaced"})
        for (const std::string &path : listFiles(folder, ".png")) {
            std::string name = std::filesystem::path(path).filename().string();
            if (name[0] != 'i' || !std::filesystem::exists(corpus("pngsuite/" + name.substr(1))))
                continue;
            SCOPED_TRACE(path);
            auto twin = decodeFile(path);
            // The twins lack the originals' gAMA (1.0).
            const std::vector<uint8_t> bytes =
                withoutChunks(readFile(corpus("pngsuite/" + name.substr(1))), {"gAMA"});
            auto original = decodePng(bytes.data(), bytes.size());
            ASSERT_TRUE(twin) << twin.status().message();
            ASSERT_TRUE(original) << original.status().message();
            EXPECT_TRUE(sameRgba(toRgba(twin.value()), toRgba(original.value())));
            ++pairs;
        }
    EXPECT_EQ(pairs, 30);
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

TEST(PngRead, PhysInMetresGivesTheResolution) {
    auto img = decodeFile("pngsuite/extra/pngtest.png");
    ASSERT_TRUE(img) << img.status().message();
    EXPECT_GT(img->xPelsPerMeter, 0);
    EXPECT_GT(img->yPelsPerMeter, 0);
    auto none = decodeFile("pngsuite/basn2c08.png");
    ASSERT_TRUE(none);
    EXPECT_EQ(none->xPelsPerMeter, 0);
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
