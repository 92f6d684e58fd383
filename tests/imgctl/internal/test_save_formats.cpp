// SPDX-License-Identifier: MIT
// The BMP, PNG and JPEG writers at every depth: files read back by Qt with
// the same pixels (JPEG within a tolerance), header fields checked in the
// files' own bytes or by libjpeg. Colour and metadata: tagged pictures keep
// their profile and look, once shown in sRGB (lcms2 called here), like the
// source; CMYK goes through its profile; bad profiles are dropped; EXIF
// survives with orientation 1 and no thumbnail, and turns what is read.
#include "colour/profile.h"
#include "core/ops.h"
#include "corpus.h"
#include "hostile_files.h"
#include "jpeg/huffman_recoder.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QImageReader>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <jpeglib.h>
#include <lcms2.h>
#include <zlib.h>

using namespace imgctl;
using namespace test_images;
using namespace testing_support;

namespace {

// One kind of test image: a name, its PNG layout, and what it is built from.
struct Kind {
    std::string name;
    uint16_t bits;
    // What a PNG file of it holds: colour type and bit depth.
    int pngType, pngDepth;
    // Palette kinds: entries, whether gray (a full ramp when `ramp`), whether
    // some entries are translucent, whether run-length compressed. 32-bit
    // kinds: whether some pixels are not opaque.
    int paletteSize = 0;
    bool gray = false, ramp = false, translucent = false, rle = false, alpha = false;
};

std::vector<Kind> allKinds() {
    return {
        {"Pal1", 1, 3, 1, 2},
        {"Gray1", 1, 0, 1, 2, true, true},
        {"Pal4", 4, 3, 4, 16},
        {"Pal4Of3", 4, 3, 2, 3},
        {"Gray4", 4, 0, 4, 16, true, true},
        {"Pal8", 8, 3, 8, 200},
        {"Gray8", 8, 0, 8, 256, true, true},
        {"Gray8Partial", 8, 3, 8, 100, true, false},
        {"Pal8Translucent", 8, 3, 8, 40, false, false, true},
        {"Rle8", 8, 3, 8, 60, false, false, false, true},
        {"Rle4", 4, 3, 4, 12, false, false, false, true},
        {"Rgb16", 16, 2, 8},
        {"Rgb24", 24, 2, 8},
        {"Rgb32", 32, 2, 8},
        {"Rgb32Alpha", 32, 6, 8, 0, false, false, false, false, true},
    };
}

// A smooth colour picture with some detail; the same for every depth. Bytes
// past the last pixel of each row are left as garbage (0xA5), which writers
// must not copy into files.
Image build(const Kind &k, uint32_t w, uint32_t h) {
    Image img = makeImage(w, h, k.bits).value();
    img.xPelsPerMeter = 3780; // 96 dpi
    img.yPelsPerMeter = 2835; // 72 dpi
    std::memset(img.pixels.data(), 0xA5, img.pixels.size());
    if (k.paletteSize) {
        const int n = k.paletteSize;
        for (int i = 0; i < n; ++i) {
            PaletteEntry e;
            if (k.gray) {
                uint8_t v = k.ramp ? static_cast<uint8_t>(i * 255 / (n - 1))
                                   : static_cast<uint8_t>((i * 37 + 11) % 256);
                e = {v, v, v, 255};
            } else {
                e = {static_cast<uint8_t>(i * 97 % 256), static_cast<uint8_t>(i * 53 % 256),
                     static_cast<uint8_t>(255 - i * 29 % 256), 255};
            }
            // Translucent entries in the middle, opaque ones at the end.
            if (k.translucent && i < n - 5) e.a = static_cast<uint8_t>(i * 255 / n);
            img.palette.push_back(e);
        }
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                putRaw(img.row(y), x, k.bits, ((x / 3) * 7 + (y / 2) * 3) % n);
        if (k.rle && !compressRle(img)) std::abort();
        return img;
    }
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t b = static_cast<uint8_t>(x * 255 / std::max(w - 1, 1u));
            uint8_t g = static_cast<uint8_t>(y * 255 / std::max(h - 1, 1u));
            uint8_t r = static_cast<uint8_t>((x + y) * 255 / std::max(w + h - 2, 1u));
            uint8_t a = k.alpha ? static_cast<uint8_t>(255 - (x * y) % 256) : 255;
            putRaw(img.row(y), x, k.bits,
                   k.bits == 16 ? ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3) : bgra(b, g, r, a));
        }
    return img;
}

// A picture of a kind at 203x141 (several bands and split parts with the
// tuning lowered); 24- and 32-bit ones with grain (`mask` of noise in each
// channel), so that compressors emit many blocks.
Image grainy(const Kind &k, unsigned seed, int mask = 7) {
    Image img = build(k, 203, 141);
    std::mt19937 rng(seed);
    for (uint32_t y = 0; y < img.height && k.bits >= 24; ++y)
        for (uint32_t x = 0; x < img.width * (k.bits / 8); ++x)
            if (k.bits != 32 || x % 4 != 3) img.row(y)[x] ^= static_cast<uint8_t>(rng() & mask);
    return img;
}

// What libjpeg reads of a JPEG's header: its frame, sampling and density,
// its ICC profile (joined from its APP2 markers) and APP1 bodies.
struct JpegExtras {
    bool progressive = false;
    int components = 0;
    std::vector<std::pair<int, int>> sampling;
    std::tuple<int, int, int> density; // unit, x, y
    std::vector<uint8_t> profile;
    std::vector<std::vector<uint8_t>> app1;
};

JpegExtras jpegExtras(const std::vector<uint8_t> &f) {
    JpegExtras x;
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, f.data(), static_cast<unsigned long>(f.size()));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);
    x.progressive = cinfo.progressive_mode;
    x.components = cinfo.num_components;
    for (int c = 0; c < cinfo.num_components; ++c)
        x.sampling.push_back({cinfo.comp_info[c].h_samp_factor, cinfo.comp_info[c].v_samp_factor});
    x.density = {cinfo.density_unit, cinfo.X_density, cinfo.Y_density}; // 0, 1, 1 without JFIF
    JOCTET *icc = nullptr;
    unsigned int n = 0;
    if (jpeg_read_icc_profile(&cinfo, &icc, &n)) x.profile.assign(icc, icc + n);
    std::free(icc);
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1) x.app1.emplace_back(m->data, m->data + m->data_length);
    jpeg_destroy_decompress(&cinfo);
    return x;
}

// ---- BMP ----

class SaveBmp : public ::testing::TestWithParam<Kind> {};

TEST_P(SaveBmp, HeaderFieldsAndPixelsAsQtReadsThem) {
    const Kind &k = GetParam();
    Image img = build(k, 37, 23); // odd sizes: row padding and partial bytes
    TempDir dir;
    auto path = dir / "out.bmp";
    Status s = saveBmp(img, path.c_str());
    ASSERT_TRUE(s) << s.message();

    std::vector<uint8_t> f = readFile(path); // fields read with bounds checks
    const uint32_t biSize = le32(f, 14);
    EXPECT_EQ(biSize, k.alpha ? 124u : 40u);
    const uint32_t clrUsed = le32(f, 46);
    EXPECT_EQ(clrUsed, img.palette.size());
    const uint32_t offBits = le32(f, 10);
    EXPECT_EQ(offBits, 14 + biSize + 4 * clrUsed);
    EXPECT_EQ(le32(f, 34), f.size() - offBits) << "biSizeImage";
    EXPECT_EQ(le16(f, 28), k.bits);
    const uint32_t expectCompression = k.rle ? (k.bits == 8 ? 1u : 2u) : k.alpha ? 3u : 0u;
    EXPECT_EQ(le32(f, 30), expectCompression);
    EXPECT_EQ(le32(f, 38), 3780u);
    EXPECT_EQ(le32(f, 42), 2835u);
    // With alpha: red, green, blue and alpha masks, then the colour space (sRGB).
    const uint32_t masks[] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000, 0x73524742};
    for (size_t i = 0; i < 5 && k.alpha; ++i)
        EXPECT_EQ(le32(f, 54 + 4 * i), masks[i]) << "field at " << 54 + 4 * i;
    for (uint32_t i = 0; i < clrUsed; ++i)
        EXPECT_EQ(f[14 + biSize + 4 * i + 3], 0) << "reserved byte of palette entry " << i;

    if (k.rle) {
        EXPECT_TRUE(std::equal(img.rle.begin(), img.rle.end(), f.begin() + offBits));
    }
    // Qt widens 5-bit channels by shifting instead of replicating the top bits.
    EXPECT_TRUE(sameRgba(qtRgba(path), k.alpha ? toRgba(img) : overWhiteRgba(toRgba(img)),
                         k.bits == 16 ? 7 : 0));
}

INSTANTIATE_TEST_SUITE_P(Kinds, SaveBmp, ::testing::ValuesIn(allKinds()),
                         [](const auto &info) { return info.param.name; });

// ---- PNG ----

// The pictures are cut into several bands (the tuning lowered so that small
// ones are) that are compressed on their own and joined into one zlib
// stream. (Whole pictures at the usual tuning go through the corpus round
// trips in tests/imgctl/public/test_corpus_pixels.cpp.)
class SavePng : public ::testing::TestWithParam<std::tuple<Kind, int, bool>> {};

TEST_P(SavePng, ColourTypeWithoutLossAndPixelsAsQtReadsThem) {
    const auto &[k, level, interlaced] = GetParam();
    const Image img = grainy(k, unsigned(level));
    TempDir dir;
    auto path = dir / "out.png";
    Status s = savePng(img, path.c_str(), level, interlaced, Tuning::everyPath());
    ASSERT_TRUE(s) << s.message();

    std::vector<uint8_t> f = readFile(path);
    auto chunks = pngChunks(f);
    ASSERT_TRUE(chunks.count("IHDR"));
    ASSERT_TRUE(chunks.count("IEND"));
    const size_t ihdr = chunks["IHDR"].first;
    // Trailing opaque entries are trimmed from tRNS.
    const int trns = k.translucent ? k.paletteSize - 5 : 0;
    EXPECT_EQ(be32(f, ihdr), 203u);
    EXPECT_EQ(be32(f, ihdr + 4), 141u);
    EXPECT_EQ(f[ihdr + 8], k.pngDepth) << "bit depth";
    EXPECT_EQ(f[ihdr + 9], k.pngType) << "colour type";
    EXPECT_EQ(f[ihdr + 12], interlaced ? 1 : 0) << "interlace method";
    EXPECT_EQ(chunks.count("PLTE"), k.pngType == 3 ? 1u : 0u);
    ASSERT_EQ(chunks.count("tRNS"), trns ? 1u : 0u);
    if (trns) {
        EXPECT_EQ(chunks["tRNS"].second, uint32_t(trns));
    }
    ASSERT_TRUE(chunks.count("pHYs"));
    size_t phys = chunks["pHYs"].first;
    EXPECT_EQ(be32(f, phys), 3780u);
    EXPECT_EQ(be32(f, phys + 4), 2835u);
    EXPECT_EQ(f[phys + 8], 1) << "unit: metre";

    EXPECT_TRUE(sameRgba(qtRgba(path), toRgba(img)));
    // Adam7 on pictures so small that some passes hold no pixels at all.
    for (auto [w, h] : {std::pair{1u, 1u}, {2u, 3u}, {5u, 1u}, {3u, 9u}, {9u, 2u}}) {
        if (!interlaced || k.rle) break;
        const Image tiny = build(k, w, h);
        ASSERT_TRUE(savePng(tiny, path.c_str(), level, true)) << w << "x" << h;
        EXPECT_TRUE(sameRgba(qtRgba(path), toRgba(tiny))) << w << "x" << h;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, SavePng,
                         ::testing::Combine(::testing::ValuesIn(allKinds()),
                                            ::testing::Values(1, 9), ::testing::Bool()),
                         [](const auto &info) {
                             return std::get<0>(info.param).name + "_Level" +
                                    std::to_string(std::get<1>(info.param)) +
                                    (std::get<2>(info.param) ? "_Adam7" : "");
                         });

// ---- JPEG ----

// Baseline pictures are encoded, with the tuning lowered, by the split
// encoder (two parts whose tables are optimised afterwards; that it gives
// libjpeg's whole-image coefficients is checked by the fuzz_jpeg_split
// replay), progressive ones in one go.
class SaveJpeg : public ::testing::TestWithParam<std::tuple<Kind, bool, int>> {};

TEST_P(SaveJpeg, MarkersAndPixelsAsQtReadsThem) {
    const auto &[k, progressive, quality] = GetParam();
    const Image img = grainy(k, unsigned(quality));
    TempDir dir;
    auto path = dir / "out.jpg";
    Status s = saveJpeg(img, path.c_str(), quality, progressive, Tuning::everyPath());
    ASSERT_TRUE(s) << s.message();
    ASSERT_TRUE(saveJpeg(img, (dir / "w.jpg").c_str(), quality, progressive, Tuning::plainPaths()));
    const std::vector<uint8_t> f = readFile(path);

    JpegExtras info = jpegExtras(f);
    EXPECT_EQ(info.progressive, progressive);
    ASSERT_EQ(info.components, k.gray ? 1 : 3);
    if (!k.gray) {
        const int n = quality < 90 ? 2 : 1;
        EXPECT_EQ(info.sampling, (std::vector<std::pair<int, int>>{{n, n}, {1, 1}, {1, 1}}));
    }
    // Dots per centimetre.
    EXPECT_EQ(info.density, std::tuple(2, 38, 28));

    const Rgba q = qtRgba(path), want = overWhiteRgba(toRgba(img));
    ASSERT_EQ(q.width, 203);
    // Smooth pictures come back close. The colour palette pictures are
    // 3-pixel stripes of unrelated colours, whose chroma 4:2:0 cannot keep;
    // their luma still must come back close.
    if (quality > 1 && k.paletteSize && !k.gray) {
        EXPECT_GE(psnr(q, want, true), 30);
        EXPECT_GE(psnr(q, want), quality < 90 ? 14 : 24);
    } else if (quality > 1) {
        // Alpha changing from pixel to pixel leaves a busy picture over white.
        EXPECT_GE(psnr(q, want), k.alpha && quality < 90 ? 24 : 30);
    }
    // The parts' tables are optimised afterwards as the whole image's are:
    // only the restart markers cost more.
    if (!progressive) {
        EXPECT_LT(f.size(), readFile(dir / "w.jpg").size() * 102 / 100 + 64);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, SaveJpeg,
                         ::testing::Combine(::testing::ValuesIn(allKinds()), ::testing::Bool(),
                                            ::testing::Values(1, 85, 100)),
                         [](const auto &info) {
                             return std::get<0>(info.param).name +
                                    (std::get<1>(info.param) ? "_Progressive" : "") + "_Q" +
                                    std::to_string(std::get<2>(info.param));
                         });

// A write refused while the split encoder writes its parts fails the save
// with the disk's cause. In a child: a write past its file-size limit.
TEST(SaveJpegSplit, WriteFailureNamesTheDisksCause) {
    // Noise at quality 100: parts over the output buffer's 1 MiB.
    Image img = makeFilled(1024, 1024, 24, [rng = std::mt19937(3)](uint32_t, uint32_t) mutable {
        return uint32_t(rng());
    });
    TempDir dir;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        Tuning alone = Tuning::everyPath(); // the pool's threads are not in the child
        alone.maxThreads = 1;
        Status s = saveJpeg(img, (dir / "s.jpg").c_str(), 100, false, alone);
        _exit(static_cast<int>(s.code()));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(Error::DiskFull));
}

// The parts' joint tables are the ones libjpeg builds from the same counts,
// also where an optimal code would pass 16 bits (counts halving from symbol
// to symbol) and for a table of one symbol.
extern "C" void jpeg_gen_optimal_table(j_compress_ptr, JHUFF_TBL *, long *);

TEST(SaveJpegSplit, TablesAsLibjpegBuildsThem) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    std::mt19937 rng(7);
    for (int shape = 0; shape < 3; ++shape) {
        std::array<uint32_t, 256> counts{};
        std::array<long, 257> freq{};
        for (int s = 0; s < 256; ++s) {
            counts[s] = shape == 0   ? (s < 29 ? 1u << (28 - s) : 0)
                        : shape == 1 ? rng() % 4000
                                     : s == 9;
            freq[s] = counts[s];
        }
        const HuffTable ours = optimalTable(counts);
        JHUFF_TBL theirs{};
        jpeg_gen_optimal_table(&cinfo, &theirs, freq.data());
        EXPECT_TRUE(std::equal(ours.bits.begin() + 1, ours.bits.end(), theirs.bits + 1)) << shape;
        EXPECT_TRUE(std::equal(ours.vals.begin(), ours.vals.begin() + ours.count(), theirs.huffval))
            << shape;
    }
    jpeg_destroy_compress(&cinfo);
}

// ---- Colour ----

std::vector<uint8_t> systemProfile(const char *name) {
    return readFile(std::filesystem::path("/usr/share/color/icc/colord") / name);
}

// A table-based profile of `channels` device values (0 to 1) to Lab: its
// tables (A2B0, then A2B1 when a second is given) hold the Lab of the sRGB
// colour each function gives for each device value.
using DeviceToSrgb = void (*)(const double *device, double *rgb);

std::vector<uint8_t> tableProfile(cmsColorSpaceSignature space, cmsProfileClassSignature kind,
                                  int channels, std::initializer_list<DeviceToSrgb> tables) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile(), lab = cmsCreateLab4Profile(nullptr);
    struct Cargo {
        cmsHTRANSFORM toLab;
        DeviceToSrgb fn;
        int channels;
    } cargo{
        cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0),
        nullptr, channels};
    cmsHPROFILE out = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(out, 4.3);
    cmsSetDeviceClass(out, kind);
    cmsSetColorSpace(out, space);
    cmsSetPCS(out, cmsSigLabData);
    cmsWriteTag(out, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsTagSignature tag = cmsSigAToB0Tag;
    for (DeviceToSrgb fn : tables) {
        cargo.fn = fn;
        cmsStage *clut = cmsStageAllocCLut16bit(nullptr, 9, channels, 3, nullptr);
        cmsStageSampleCLut16bit(
            clut,
            [](const cmsUInt16Number in[], cmsUInt16Number out[], void *c) -> cmsInt32Number {
                const auto *k = static_cast<const Cargo *>(c);
                double device[4], rgb[3];
                for (int i = 0; i < k->channels; ++i)
                    device[i] = in[i] / 65535.0;
                k->fn(device, rgb);
                cmsCIELab l;
                cmsDoTransform(k->toLab, rgb, &l, 1);
                cmsFloat2LabEncoded(out, &l);
                return 1;
            },
            &cargo, 0);
        // Identity curves around the table: the stored form (A curves,
        // table, B curves) needs both.
        cmsPipeline *p = cmsPipelineAlloc(nullptr, channels, 3);
        cmsPipelineInsertStage(p, cmsAT_END, cmsStageAllocToneCurves(nullptr, channels, nullptr));
        cmsPipelineInsertStage(p, cmsAT_END, clut);
        cmsPipelineInsertStage(p, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
        cmsWriteTag(out, tag, p);
        cmsPipelineFree(p);
        tag = cmsSigAToB1Tag;
    }
    cmsDeleteTransform(cargo.toLab);
    cmsCloseProfile(srgb);
    cmsCloseProfile(lab);
    cmsUInt32Number n = 0;
    cmsSaveProfileToMem(out, nullptr, &n);
    std::vector<uint8_t> bytes(n);
    cmsSaveProfileToMem(out, bytes.data(), &n);
    cmsCloseProfile(out);
    return bytes;
}

// An RGB profile whose perceptual table is sRGB with red and green swapped
// and whose colorimetric one is plain sRGB: which one a conversion used
// shows in every colourful pixel.
std::vector<uint8_t> swappingTableProfile() {
    return tableProfile(
        cmsSigRgbData, cmsSigDisplayClass, 3,
        {[](const double *d, double *rgb) { rgb[0] = d[1], rgb[1] = d[0], rgb[2] = d[2]; },
         [](const double *d, double *rgb) { std::copy_n(d, 3, rgb); }});
}

// A CMYK profile whose table holds the plain formula's sRGB colour of each
// ink mix raised to the power 1.5, so that it cannot pass for the plain
// formula itself (no ink stays white).
std::vector<uint8_t> cmykProfile() {
    return tableProfile(cmsSigCmykData, cmsSigOutputClass, 4, {[](const double *d, double *rgb) {
                            for (int c = 0; c < 3; ++c)
                                rgb[c] = std::pow((1 - d[c]) * (1 - d[3]), 1.5);
                        }});
}

// The body of the first chunk of a type in a PNG file; empty when none.
std::vector<uint8_t> pngChunk(const std::vector<uint8_t> &f, const char *type) {
    auto chunks = pngChunks(f);
    auto it = chunks.find(type);
    if (it == chunks.end()) return {};
    auto [at, n] = it->second;
    return {f.begin() + long(at), f.begin() + long(at + n)};
}

std::vector<uint8_t> pngProfile(const std::vector<uint8_t> &f) {
    std::vector<uint8_t> iccp = pngChunk(f, "iCCP");
    if (iccp.empty()) return {};
    const size_t start = std::strlen(reinterpret_cast<const char *>(iccp.data())) + 2;
    std::vector<uint8_t> out(8 << 20);
    uLongf n = out.size();
    EXPECT_EQ(uncompress(out.data(), &n, iccp.data() + start, iccp.size() - start), Z_OK);
    out.resize(n);
    return out;
}

// Pixels as they are shown: rendered to sRGB by lcms2 when a profile is
// given, by the library's policy: perceptual where the profile has a
// perceptual table, otherwise relative colorimetric with black point
// compensation.
Rgba shownWith(Rgba px, const std::vector<uint8_t> &profile) {
    if (profile.empty()) return px;
    cmsHPROFILE source = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
    EXPECT_NE(source, nullptr) << "lcms2 cannot open the profile";
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    const bool perceptual = cmsIsCLUT(source, INTENT_PERCEPTUAL, LCMS_USED_AS_INPUT);
    cmsHTRANSFORM t = cmsCreateTransform(
        source, TYPE_RGBA_8, srgb, TYPE_RGBA_8,
        perceptual ? INTENT_PERCEPTUAL : INTENT_RELATIVE_COLORIMETRIC,
        cmsFLAGS_COPY_ALPHA | (perceptual ? 0 : cmsFLAGS_BLACKPOINTCOMPENSATION));
    cmsCloseProfile(source);
    cmsCloseProfile(srgb);
    if (!t) return {};
    const std::vector<uint8_t> in = px.px;
    cmsDoTransform(t, in.data(), px.px.data(), cmsUInt32Number(in.size() / 4));
    cmsDeleteTransform(t);
    return px;
}

// ---- Tagged pictures written in every format ----

struct Tagged {
    const char *name;
    std::function<std::vector<uint8_t>()> profile;
    bool alpha;
};

class TaggedOutputs : public ::testing::TestWithParam<Tagged> {};

TEST_P(TaggedOutputs, ShowTheSourceColoursInEveryFormat) {
    const Tagged &t = GetParam();
    const std::vector<uint8_t> profile = t.profile();
    Image src = build(t.alpha ? allKinds()[14] : allKinds()[12], 96, 64);
    src.colour = {ColourKind::Icc, std::make_shared<const std::vector<uint8_t>>(profile)};
    const Rgba shown = shownWith(toRgba(src), profile);
    // What holds no alpha is laid over white in the image's own space.
    const Rgba flat = shownWith(overWhiteRgba(toRgba(src)), profile);

    TempDir dir;
    ASSERT_TRUE(savePng(src, (dir / "o.png").c_str(), 6, false));
    ASSERT_TRUE(saveJpeg(src, (dir / "o.jpg").c_str(), 95, false));
    // PNG and JPEG hold the source's pixels, with its profile. (Pictures
    // shown through their profile, and BMP files written from them, are
    // checked with the corpus in tests/imgctl/public/test_corpus_pixels.cpp.)
    const std::vector<uint8_t> png = readFile(dir / "o.png");
    const JpegExtras jpeg = jpegExtras(readFile(dir / "o.jpg"));
    EXPECT_EQ(pngProfile(png), profile);
    EXPECT_EQ(jpeg.profile, profile);
    const Result<Image> back = loadImage((dir / "o.jpg").c_str());
    ASSERT_TRUE(back && back->hasProfile());
    EXPECT_EQ(*back->colour.icc, profile) << "read back";
    const Rgba pngShown = shownWith(qtRgba(dir / "o.png"), pngProfile(png));
    const Rgba jpgShown = shownWith(qtRgba(dir / "o.jpg"), jpeg.profile);
    EXPECT_TRUE(sameRgba(pngShown, shown, 2));
    // A wide gamut's code values lie closer together than sRGB's: JPEG's
    // error grows when shown in sRGB.
    EXPECT_GE(psnr(jpgShown, flat), 32);

    // 16 and 8 bits are reduced from the sRGB colours, and are sRGB.
    Image sixteen = copyOf(src), eight = copyOf(src);
    ASSERT_TRUE(convertTo16(sixteen, 1));
    ASSERT_TRUE(convertTo8(eight, 0, 1));
    EXPECT_EQ(sixteen.colour.kind, ColourKind::Srgb);
    EXPECT_EQ(eight.colour.kind, ColourKind::Srgb);
    EXPECT_TRUE(sameRgba(toRgba(sixteen), flat, 5));
    EXPECT_GE(psnr(overWhiteRgba(toRgba(eight)), flat), 30);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, TaggedOutputs,
    ::testing::Values(Tagged{"AdobeRgb", [] { return systemProfile("AdobeRGB1998.icc"); }, false},
                      Tagged{"ProPhotoAlpha", [] { return systemProfile("ProPhotoRGB.icc"); },
                             true},
                      // The perceptual table is taken where there is one.
                      Tagged{"PerceptualTable", swappingTableProfile, false}),
    [](const auto &info) { return std::string(info.param.name); });

// A CMYK JPEG (libjpeg marks it Adobe, inks stored inverted) with a profile
// is read through it: the library's pixels are the file's inks rendered by
// lcms2 called here. Flat 8x8 blocks at quality 100 keep their inks exactly.
TEST(CmykProfile, InksGoThroughTheFilesProfile) {
    const std::vector<uint8_t> profile = cmykProfile();
    ASSERT_FALSE(profile.empty());
    constexpr int kSize = 64;
    std::vector<uint8_t> inks(kSize * kSize * 4);
    for (int i = 0; i < kSize * kSize; ++i)
        for (int c = 0; c < 4; ++c)
            inks[4 * i + c] =
                uint8_t(255 - ((i % kSize / 8 + i / kSize / 8 * 8) * (37 + 50 * c)) % 256);
    unsigned char *file = nullptr;
    unsigned long fileSize = 0;
    jpeg_compress_struct out{};
    jpeg_error_mgr err{};
    out.err = jpeg_std_error(&err);
    jpeg_create_compress(&out);
    jpeg_mem_dest(&out, &file, &fileSize);
    out.image_width = out.image_height = kSize;
    out.input_components = 4;
    out.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&out);
    jpeg_set_quality(&out, 100, TRUE);
    jpeg_start_compress(&out, TRUE);
    jpeg_write_icc_profile(&out, profile.data(), unsigned(profile.size()));
    for (int y = 0; y < kSize; ++y) {
        JSAMPROW row = &inks[size_t(y) * kSize * 4];
        jpeg_write_scanlines(&out, &row, 1);
    }
    jpeg_finish_compress(&out);
    jpeg_destroy_compress(&out);
    const std::vector<uint8_t> bytes(file, file + fileSize);
    std::free(file);

    Rgba expected{kSize, kSize, std::vector<uint8_t>(kSize * kSize * 4, 255)};
    cmsHPROFILE cmyk = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(cmyk, TYPE_CMYK_8_REV, srgb, TYPE_RGBA_8,
                                         INTENT_PERCEPTUAL, cmsFLAGS_NOOPTIMIZE);
    ASSERT_NE(t, nullptr);
    cmsDoTransform(t, inks.data(), expected.px.data(), kSize * kSize);
    cmsDeleteTransform(t);
    cmsCloseProfile(cmyk);
    cmsCloseProfile(srgb);

    Result<Image> img = decodeJpeg(bytes.data(), bytes.size());
    ASSERT_TRUE(img) << img.status().message();
    EXPECT_EQ(img->colour.kind, ColourKind::Srgb);
    EXPECT_TRUE(sameRgba(toRgba(img.value()), expected, 2));
}

// ---- Profiles that are dropped ----

// Profiles cut short, too large, of a class that describes no device, or of
// another colour space than the picture's; a gAMA past a tenfold exponent.
TEST(Profiles, BadOnesAreDropped) {
    for (auto [gamma, kept] : std::initializer_list<std::pair<uint32_t, bool>>{
             {9999, false}, {10000, true}, {1000000, true}, {1000001, false}})
        EXPECT_EQ(pngChunkProfile(gamma, nullptr, ProfileSpace::Rgb) != nullptr, kept) << gamma;
    const std::vector<uint8_t> good = systemProfile("AdobeRGB1998.icc");
    std::vector<uint8_t> truncated(good.begin(), good.begin() + long(good.size() / 2));
    std::vector<uint8_t> huge = good, wrongClass = swappingTableProfile();
    huge.resize(size_t{5} << 20);            // over 4 MiB
    std::memcpy(&wrongClass[12], "link", 4); // a table lcms2 would take as a device link
    const std::vector<uint8_t> gray = readFile("/usr/share/color/icc/Gray.icc");
    for (const auto &bad : {truncated, huge, wrongClass, gray})
        EXPECT_EQ(checkProfile(bad.data(), bad.size(), ProfileSpace::Rgb), nullptr);
    EXPECT_NE(checkProfile(good.data(), good.size(), ProfileSpace::Rgb), nullptr);
    EXPECT_NE(checkProfile(gray.data(), gray.size(), ProfileSpace::Gray), nullptr);
}

// ---- EXIF ----

// An EXIF TIFF body (big-endian unless `little`): IFD0 at 8 (Model,
// Orientation, XResolution, the EXIF IFD) and its values at 62 and 74; IFD1
// at 82 and its 16-byte thumbnail at 112, between IFD0's values and the EXIF
// IFD's; the date at 128; the EXIF IFD (DateTimeOriginal) last, at 148,
// ending at 166.
std::vector<uint8_t> cameraExif(bool little = false, uint16_t orientation = 6) {
    std::vector<uint8_t> t = {uint8_t(little ? 'I' : 'M'), uint8_t(little ? 'I' : 'M')};
    auto u16 = [&](uint32_t v) { little ? hostile::putLe(t, v, 2) : hostile::putBe(t, v, 2); };
    auto u32 = [&](uint32_t v) { little ? hostile::putLe(t, v, 4) : hostile::putBe(t, v, 4); };
    auto entry = [&](uint32_t tag, uint32_t type, uint32_t count, uint32_t value) {
        u16(tag);
        u16(type);
        u32(count);
        u32(value);
    };
    u16(42);
    u32(8);
    u16(4);
    entry(0x0110, 2, 12, 62); // Model
    entry(0x0112, 3, 1, little ? orientation : uint32_t{orientation} << 16);
    entry(0x011A, 5, 1, 74);  // XResolution
    entry(0x8769, 4, 1, 148); // EXIF IFD
    u32(82);                  // IFD1
    const char model[] = "NubaroCam 1", date[] = "2024:06:01 12:34:56";
    t.insert(t.end(), model, model + 12);
    u32(300); // 300/1
    u32(1);
    u16(2);
    entry(0x0201, 4, 1, 112); // thumbnail offset
    entry(0x0202, 4, 1, 16);  // and length
    u32(0);
    t.insert(t.end(), 16, 0xAB);
    t.insert(t.end(), date, date + 20);
    u16(1);
    entry(0x9003, 2, 20, 128);
    u32(0);
    return t;
}

TEST(Exif, SurvivesJpegToJpegAndThroughPngWithOrientationOneAndNoThumbnail) {
    const std::vector<uint8_t> exif = cameraExif();
    // Every output keeps the whole body with Orientation 1, no IFD after
    // IFD0, and IFD1 and the thumbnail cleared.
    std::vector<uint8_t> kept = exif;
    kept[31] = 1;
    std::fill(kept.begin() + 58, kept.begin() + 62, 0);
    std::fill(kept.begin() + 82, kept.begin() + 128, 0);
    // A camera JPEG: the writer puts the block it is given, orientation 6
    // and thumbnail included, into an APP1 segment.
    Image picture = build(allKinds()[12], 24, 16);
    picture.meta.exif = makeBlob(exif.data(), exif.size());
    TempDir dir;
    ASSERT_TRUE(saveJpeg(picture, (dir / "camera.jpg").c_str(), 90, false));
    const std::vector<uint8_t> camera = readFile(dir / "camera.jpg");

    Result<Image> fromJpeg = decodeJpeg(camera.data(), camera.size());
    ASSERT_TRUE(fromJpeg) << fromJpeg.status().message();
    ASSERT_TRUE(saveJpeg(fromJpeg.value(), (dir / "a.jpg").c_str(), 90, false));
    ASSERT_TRUE(savePng(fromJpeg.value(), (dir / "b.png").c_str(), 6, false));
    Result<Image> fromPng = loadImage((dir / "b.png").c_str());
    ASSERT_TRUE(fromPng);
    ASSERT_TRUE(saveJpeg(fromPng.value(), (dir / "c.jpg").c_str(), 90, false));

    std::vector<uint8_t> header = {'E', 'x', 'i', 'f', 0, 0};
    header.insert(header.end(), kept.begin(), kept.end());
    for (const char *name : {"a.jpg", "c.jpg"}) {
        SCOPED_TRACE(name);
        const JpegExtras x = jpegExtras(readFile(dir / name));
        ASSERT_EQ(x.app1.size(), 1u);
        EXPECT_EQ(x.app1[0], header);
    }
    EXPECT_EQ(pngChunk(readFile(dir / "b.png"), "eXIf"), kept);
}

// A corpus JPEG with an APP1 segment of `body` right after SOI (so it is the
// first APP1); an EXIF block when `exif`.
std::vector<uint8_t> withApp1(const std::string &file, std::vector<uint8_t> body,
                              bool exif = true) {
    if (exif) body.insert(body.begin(), {'E', 'x', 'i', 'f', 0, 0});
    std::vector<uint8_t> bytes = readFile(corpus(file)),
                         segment = {0xFF, 0xE1, uint8_t((body.size() + 2) >> 8),
                                    uint8_t(body.size() + 2)};
    segment.insert(segment.end(), body.begin(), body.end());
    bytes.insert(bytes.begin() + 2, segment.begin(), segment.end());
    return bytes;
}

// What a viewer shows of an upright picture stored with EXIF orientation n
// (1 to 8): 5 to 8 turned a quarter clockwise, then mirrored.
QImage turned(const QImage &upright, int n) {
    constexpr bool kAcross[9] = {false, false, true, true, false, true, false, false, true};
    constexpr bool kUpDown[9] = {false, false, false, true, true, false, false, true, true};
    const QImage q = n >= 5 ? upright.transformed(QTransform().rotate(90)) : upright;
    return q.mirrored(kAcross[n], kUpDown[n]);
}

// EXIF blocks first in a file without one, in either byte order, turn the
// picture (as Qt turns the reference here, as a viewer would); broken ones
// do not survive, nor turn it unless their Orientation entry is whole. The
// camera's own block after a block that is not EXIF (XMP) still counts.
TEST(ExifRead, BlocksTurnThePictureAndBrokenOnesAreDropped) {
    const std::vector<uint8_t> little = cameraExif(true), big = cameraExif();
    auto with = [&](size_t at, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> t = big;
        std::copy(bytes.begin(), bytes.end(), t.begin() + long(at));
        return t;
    };
    struct Case {
        std::vector<uint8_t> tiff;
        int orientation; // as the picture is turned
        bool kept;
    };
    const Case cases[] = {
        {{}, 1, false},                      // no TIFF header
        {{'M', 'M', 0, 42, 0, 0}, 1, false}, // cut inside the header
        {with(0, {'M', 'X'}), 1, false},     // no byte order
        {with(4, {0xF0, 0xFF}), 1, false},   // IFD0 past the end
        {with(8, {0x7F, 0xFF}), 1, false},   // entry count past the end
        // Another entry broken, the Orientation entry whole: turned, dropped.
        {with(8 + 2 + 8, {0, 0, 0xFF, 0xF0}), 6, false},   // Model's value past the end
        {with(8 + 2 + 4, {0x40, 0, 0, 0}), 6, false},      // a count whose bytes overflow
        {with(8 + 2 + 36 + 8, {0, 0, 0, 8}), 6, false},    // EXIF IFD pointing at IFD0: a cycle
        {{little.begin(), little.begin() + 30}, 1, false}, // the Orientation entry cut off
        {{big.begin(), big.begin() + 30}, 1, false},
        {cameraExif(false, 9), 1, true},             // no such orientation
        {with(148 + 2 + 12, {0, 0, 0, 0}), 6, true}, // (fine: ends the EXIF IFD)
        {cameraExif(true, 3), 3, true},              // (fine: little-endian)
        {cameraExif(true, 7), 7, true},
    };
    const QImage gray(QString::fromStdString(corpus("jpeg/ref/grayscale.png").string()));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::vector<uint8_t> file = withApp1("jpeg/grayscale.jpg", cases[i].tiff);
        auto img = decodeJpeg(file.data(), file.size());
        ASSERT_TRUE(img) << i << ": " << img.status().message();
        EXPECT_TRUE(sameRgba(toRgba(img.value()), qtRgba(turned(gray, cases[i].orientation)), 3))
            << i;
        EXPECT_EQ(img->meta.exif != nullptr, cases[i].kept) << i;
    }
    const char xmp[] = "http://ns.adobe.com/xap/1.0/";
    const std::vector<uint8_t> file =
        withApp1("jpeg/orient-8.jpg", std::vector<uint8_t>(xmp, xmp + sizeof xmp), false);
    auto img = decodeJpeg(file.data(), file.size());
    ASSERT_TRUE(img) << img.status().message();
    EXPECT_TRUE(sameRgba(toRgba(img.value()), qtRgba(corpus("jpeg/ref/orient-1.png")), 3));
}

// A BMP's calibrated endpoints (sRGB's primaries here) with a gamma within
// 1 % of 2.2 mean sRGB, and no profile is built; other gammas build one.
TEST(BmpCalibrated, SrgbPrimariesWithGammaNear22AreSrgb) {
    constexpr double kXyz[9] = {0.64, 0.33, 0.03, 0.30, 0.60, 0.10, 0.15, 0.06, 0.79};
    uint32_t endpoints[9];
    for (int i = 0; i < 9; ++i)
        endpoints[i] = uint32_t(std::lround(kXyz[i] * (1 << 30)));
    for (auto [gamma, srgb] : {std::pair{2.2, true}, {2.21, true}, {1.0, false}, {2.4, false}}) {
        const uint32_t g = uint32_t(std::lround(gamma * 65536));
        const uint32_t gammas[3] = {g, g, g};
        bool isSrgb = false;
        const Blob built = bmpCalibratedProfile(endpoints, gammas, isSrgb);
        EXPECT_EQ(isSrgb, srgb) << gamma;
        EXPECT_EQ(built != nullptr, !srgb) << gamma;
    }
}

// ---- A 16-bit image keeps its colours in every format ----

// Each writer as the program uses it on a 16-bit image, and how far its decode
// may stray from the exact colours (gray stays exact in every format).
struct SixteenBitWriter {
    const char *name;
    Status (*save)(const Image &, const char *);
    int colourTolerance;
};

class SixteenBitColours : public ::testing::TestWithParam<SixteenBitWriter> {};

TEST_P(SixteenBitColours, EveryLevelWidensToTheSameColour) {
    // Rows of 8x8 blocks: gray, red, green and blue, each of the 32 levels a
    // flat block (flat 4:4:4 blocks at quality 100 come back from JPEG
    // exactly in gray, within the colour conversion's rounding otherwise).
    const Image img = makeFilled(32 * 8, 4 * 8, 16, [](uint32_t x, uint32_t y) {
        const uint32_t v = x / 8, masks[4] = {0x7FFF, 0x7C00, 0x03E0, 0x001F};
        return (v << 10 | v << 5 | v) & masks[y / 8];
    });
    TempDir dir;
    const auto path = dir / (std::string("out.") + GetParam().name);
    Status s = GetParam().save(img, path.c_str());
    ASSERT_TRUE(s) << s.message();
    const Rgba got = qtRgba(path), want = toRgba(img);
    ASSERT_EQ(std::pair(got.width, got.height), std::pair(want.width, want.height));
    for (size_t i = 0; i < want.px.size() / 4; ++i) {
        const int allowed = i < size_t(want.width) * 8 ? 0 : GetParam().colourTolerance;
        for (int c = 0; c < 3; ++c)
            ASSERT_LE(std::abs(got.pixel(i)[c] - want.pixel(i)[c]), allowed) << "pixel " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Writers, SixteenBitColours,
    ::testing::Values(
        // A 16-bit BMP keeps the fields: the program widens it with DIBto24Bit.
        SixteenBitWriter{"bmp",
                         [](const Image &i, const char *p) {
                             Image wide = copyOf(i);
                             if (Status s = convertTo24(wide); !s) return s;
                             return saveBmp(wide, p);
                         },
                         0},
        SixteenBitWriter{"png",
                         [](const Image &i, const char *p) { return savePng(i, p, 6, false); }, 0},
        SixteenBitWriter{
            "jpg", [](const Image &i, const char *p) { return saveJpeg(i, p, 100, false); }, 2}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
