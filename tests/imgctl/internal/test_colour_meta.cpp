// SPDX-License-Identifier: MIT
// Colour spaces and metadata through the writers: tagged pictures written as
// BMP, PNG and JPEG look, once shown in sRGB (lcms2 called here, the files
// read back by Qt, their profiles by libjpeg or by hand), like the source
// shown the same way; EXIF survives with orientation 1 and no thumbnail;
// bad profiles and bad EXIF are dropped without failing the read.
#include "core/ops.h"
#include "corpus.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QImageReader>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <zlib.h>

using namespace imgctl;
using namespace test_images;
using testing_support::readFile;
using testing_support::TempDir;

namespace {

std::vector<uint8_t> bytesOf(cmsHPROFILE p) {
    cmsUInt32Number n = 0;
    cmsSaveProfileToMem(p, nullptr, &n);
    std::vector<uint8_t> out(n);
    cmsSaveProfileToMem(p, out.data(), &n);
    cmsCloseProfile(p);
    return out;
}

std::vector<uint8_t> systemProfile(const char *name) {
    return readFile(std::filesystem::path("/usr/share/color/icc/colord") / name);
}

// sRGB with a linear curve, as a PNG gAMA of 1.0 describes.
std::vector<uint8_t> linearProfile() {
    cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE srgb = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve *linear = cmsBuildGamma(nullptr, 1.0);
    cmsToneCurve *curves[3] = {linear, linear, linear};
    std::vector<uint8_t> out = bytesOf(cmsCreateRGBProfile(&d65, &srgb, curves));
    cmsFreeToneCurve(linear);
    return out;
}

// A table-based RGB profile whose perceptual table (A2B0) is sRGB with red
// and green swapped and whose colorimetric one (A2B1) is plain sRGB: which
// one a conversion used shows in every colourful pixel.
std::vector<uint8_t> swappingLutProfile() {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab =
        cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    auto table = [&](bool swap) {
        cmsPipeline *p = cmsPipelineAlloc(nullptr, 3, 3);
        cmsStage *clut = cmsStageAllocCLut16bit(nullptr, 17, 3, 3, nullptr);
        struct Cargo {
            cmsHTRANSFORM t;
            bool swap;
        } cargo{toLab, swap};
        cmsStageSampleCLut16bit(
            clut,
            [](const cmsUInt16Number in[], cmsUInt16Number out[], void *c) -> cmsInt32Number {
                auto *k = static_cast<Cargo *>(c);
                double rgb[3] = {in[k->swap ? 1 : 0] / 65535.0, in[k->swap ? 0 : 1] / 65535.0,
                                 in[2] / 65535.0};
                cmsCIELab l;
                cmsDoTransform(k->t, rgb, &l, 1);
                cmsFloat2LabEncoded(out, &l);
                return 1;
            },
            &cargo, 0);
        // Identity curves around the table: the stored form (A curves,
        // table, B curves) needs both.
        cmsPipelineInsertStage(p, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
        cmsPipelineInsertStage(p, cmsAT_END, clut);
        cmsPipelineInsertStage(p, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
        return p;
    };
    cmsHPROFILE out = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(out, 4.3);
    cmsSetDeviceClass(out, cmsSigDisplayClass);
    cmsSetColorSpace(out, cmsSigRgbData);
    cmsSetPCS(out, cmsSigLabData);
    cmsWriteTag(out, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipeline *perceptual = table(true), *colorimetric = table(false);
    cmsWriteTag(out, cmsSigAToB0Tag, perceptual);
    cmsWriteTag(out, cmsSigAToB1Tag, colorimetric);
    cmsPipelineFree(perceptual);
    cmsPipelineFree(colorimetric);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(srgb);
    cmsCloseProfile(lab);
    return bytesOf(out);
}

// ---- Reading back what the files carry, without the library ----

// The body of the first chunk of a type in a PNG file; empty when none.
std::vector<uint8_t> pngChunk(const std::vector<uint8_t> &f, const char *type) {
    for (size_t pos = 8; pos + 12 <= f.size();) {
        const uint32_t n = be32(f, pos);
        if (n > f.size() - pos - 12) break;
        if (std::memcmp(&f[pos + 4], type, 4) == 0)
            return {f.begin() + long(pos) + 8, f.begin() + long(pos + 8 + n)};
        pos += 12 + size_t(n);
    }
    return {};
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

// A JPEG's ICC profile (libjpeg joins its APP2 markers) and APP1 bodies.
struct JpegExtras {
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
    JOCTET *icc = nullptr;
    unsigned int n = 0;
    if (jpeg_read_icc_profile(&cinfo, &icc, &n)) x.profile.assign(icc, icc + n);
    std::free(icc);
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1) x.app1.emplace_back(m->data, m->data + m->data_length);
    jpeg_destroy_decompress(&cinfo);
    return x;
}

// Our image over white (what a JPEG or a 24-bit file keeps of alpha).
Rgba overWhiteRgba(Rgba px) {
    for (size_t p = 0; p < px.px.size(); p += 4) {
        for (int k = 0; k < 3; ++k)
            px.px[p + k] = overWhite(px.px[p + k], px.px[p + 3]);
        px.px[p + 3] = 255;
    }
    return px;
}

double psnr(const Rgba &a, const Rgba &b) {
    double sum = 0;
    for (size_t i = 0; i < a.px.size(); ++i)
        if (i % 4 != 3) sum += (a.px[i] - b.px[i]) * (a.px[i] - b.px[i]);
    const double mse = sum / (a.px.size() * 3.0 / 4);
    return mse == 0 ? 1000 : 10 * std::log10(255.0 * 255.0 / mse);
}

// ---- Tagged pictures written in every format ----

struct Tagged {
    const char *name;
    std::function<std::vector<uint8_t>()> profile;
    bool alpha;
};

void PrintTo(const Tagged &t, std::ostream *os) {
    *os << t.name;
}

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
    ASSERT_TRUE(saveBmp(src, (dir / "o.bmp").c_str()));
    ASSERT_TRUE(savePng(src, (dir / "o.png").c_str(), 6, false));
    ASSERT_TRUE(saveJpeg(src, (dir / "o.jpg").c_str(), 95, false));
    // The BMP holds sRGB pixels; PNG and JPEG the source's, with its profile.
    const std::vector<uint8_t> png = readFile(dir / "o.png");
    const JpegExtras jpeg = jpegExtras(readFile(dir / "o.jpg"));
    EXPECT_EQ(pngProfile(png), profile);
    EXPECT_EQ(jpeg.profile, profile);
    const Rgba bmp = qtRgba(QImageReader(QString::fromStdString((dir / "o.bmp").string())).read());
    const Rgba pngShown = shownWith(qtRgba(qtRead(dir / "o.png")), pngProfile(png));
    const Rgba jpgShown = shownWith(qtRgba(qtRead(dir / "o.jpg")), jpeg.profile);
    EXPECT_TRUE(sameRgba(bmp, shown, 2));
    EXPECT_TRUE(sameRgba(pngShown, shown, 2));
    // A wide gamut's code values lie closer together than sRGB's: JPEG's
    // error grows when shown in sRGB.
    EXPECT_GE(psnr(jpgShown, flat), 32);

    // The preview shows it too.
    QImage preview(int(src.width), int(src.height), QImage::Format_RGB32);
    ImgctlSurface surface{reinterpret_cast<uint32_t *>(preview.bits()), preview.width(),
                          preview.height(), int32_t(preview.bytesPerLine())};
    ASSERT_TRUE(drawImage(src, surface, 0, 0, surface.width, surface.height, 0, 0, surface.width,
                          surface.height, IMGCTL_SRCCOPY, 4));
    EXPECT_TRUE(sameRgba(qtRgba(preview), flat, 3));

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
                      Tagged{"Linear", linearProfile, false},
                      // The perceptual table is taken where there is one.
                      Tagged{"PerceptualTable", swappingLutProfile, false}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- CMYK through its profile ----

// A CMYK profile whose table (A2B0) holds the plain formula's sRGB colour of
// each ink mix raised to the power 1.5, so that it cannot pass for the plain
// formula itself (no ink stays white).
std::vector<uint8_t> cmykProfile() {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile(), lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab =
        cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsPipeline *p = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage *clut = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
    cmsStageSampleCLut16bit(
        clut,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void *t) -> cmsInt32Number {
            const double k = 1 - in[3] / 65535.0;
            double rgb[3];
            for (int c = 0; c < 3; ++c)
                rgb[c] = std::pow((1 - in[c] / 65535.0) * k, 1.5);
            cmsCIELab l;
            cmsDoTransform(static_cast<cmsHTRANSFORM>(t), rgb, &l, 1);
            cmsFloat2LabEncoded(out, &l);
            return 1;
        },
        toLab, 0);
    cmsPipelineInsertStage(p, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsPipelineInsertStage(p, cmsAT_END, clut);
    cmsPipelineInsertStage(p, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsHPROFILE out = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(out, 4.3);
    cmsSetDeviceClass(out, cmsSigOutputClass);
    cmsSetColorSpace(out, cmsSigCmykData);
    cmsSetPCS(out, cmsSigLabData);
    cmsWriteTag(out, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsWriteTag(out, cmsSigAToB0Tag, p);
    cmsPipelineFree(p);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(srgb);
    cmsCloseProfile(lab);
    return bytesOf(out);
}

// A CMYK JPEG (libjpeg marks it Adobe, inks stored inverted) with a profile
// is read through it: the library's pixels are the file's inks, as libjpeg
// decodes them here, rendered by lcms2 called here.
TEST(CmykProfile, InksGoThroughTheFilesProfile) {
    const std::vector<uint8_t> profile = cmykProfile();
    ASSERT_FALSE(profile.empty());
    constexpr int kSize = 16;
    std::vector<uint8_t> inks(kSize * kSize * 4);
    for (int i = 0; i < kSize * kSize; ++i)
        for (int c = 0; c < 4; ++c)
            inks[4 * i + c] = uint8_t(255 - (i * (37 + 50 * c)) % 256);
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
    jpeg_set_quality(&out, 95, TRUE);
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

    // The inks as stored, decoded by libjpeg here.
    jpeg_decompress_struct in{};
    in.err = jpeg_std_error(&err);
    jpeg_create_decompress(&in);
    jpeg_mem_src(&in, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&in, TRUE);
    ASSERT_EQ(in.jpeg_color_space, JCS_CMYK);
    ASSERT_TRUE(in.saw_Adobe_marker);
    jpeg_start_decompress(&in);
    std::vector<uint8_t> stored(kSize * kSize * 4);
    while (in.output_scanline < in.output_height) {
        JSAMPROW row = &stored[size_t(in.output_scanline) * kSize * 4];
        jpeg_read_scanlines(&in, &row, 1);
    }
    jpeg_finish_decompress(&in);
    jpeg_destroy_decompress(&in);
    Rgba expected{kSize, kSize, std::vector<uint8_t>(kSize * kSize * 4, 255)};
    cmsHPROFILE cmyk = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(cmyk, TYPE_CMYK_8_REV, srgb, TYPE_RGBA_8,
                                         INTENT_PERCEPTUAL, cmsFLAGS_NOOPTIMIZE);
    ASSERT_NE(t, nullptr);
    cmsDoTransform(t, stored.data(), expected.px.data(), kSize * kSize);
    cmsDeleteTransform(t);
    cmsCloseProfile(cmyk);
    cmsCloseProfile(srgb);

    Result<Image> img = decodeJpeg(bytes.data(), bytes.size());
    ASSERT_TRUE(img) << img.status().message();
    EXPECT_EQ(img->colour.kind, ColourKind::Srgb);
    EXPECT_TRUE(sameRgba(toRgba(img.value()), expected, 2));
}

// ---- Profiles that are ignored ----

// A JPEG of a small picture with the given profile bytes in APP2 markers.
std::vector<uint8_t> jpegWithProfile(const std::vector<uint8_t> &profile) {
    Image img = build(allKinds()[12], 16, 16);
    img.colour = {ColourKind::Icc, std::make_shared<const std::vector<uint8_t>>(profile)};
    TempDir dir;
    EXPECT_TRUE(saveJpeg(img, (dir / "p.jpg").c_str(), 90, false));
    return readFile(dir / "p.jpg");
}

TEST(BadProfiles, AreIgnoredAndTheImageReadAsUntagged) {
    std::vector<uint8_t> good = systemProfile("AdobeRGB1998.icc");
    std::vector<uint8_t> truncated(good.begin(), good.begin() + long(good.size() / 2));
    std::vector<uint8_t> huge = good;
    huge.resize(size_t{5} << 20); // over 4 MiB
    std::vector<uint8_t> wrongClass = good;
    std::memcpy(&wrongClass[12], "link", 4);
    std::vector<uint8_t> gray = readFile("/usr/share/color/icc/Gray.icc"); // not RGB
    for (const auto &bad : {truncated, huge, wrongClass, gray}) {
        std::vector<uint8_t> file = jpegWithProfile(bad);
        Result<Image> img = decodeJpeg(file.data(), file.size());
        ASSERT_TRUE(img) << img.status().message();
        EXPECT_EQ(img->colour.kind, ColourKind::Untagged);
    }
    std::vector<uint8_t> file = jpegWithProfile(good);
    Result<Image> img = decodeJpeg(file.data(), file.size());
    ASSERT_TRUE(img);
    ASSERT_TRUE(img->hasProfile());
    EXPECT_EQ(*img->colour.icc, good);
}

// ---- EXIF ----

// A big-endian EXIF TIFF body: IFD0 (Orientation 6, Model, XResolution,
// a pointer to the EXIF IFD), the EXIF IFD (DateTimeOriginal), then IFD1
// with a thumbnail at the end. thumbnailAt is where IFD1 starts.
struct Exif {
    std::vector<uint8_t> tiff;
    size_t ifd1 = 0;
};

Exif cameraExif() {
    Exif e;
    std::vector<uint8_t> &t = e.tiff;
    auto u16 = [&](uint32_t v) { t.insert(t.end(), {uint8_t(v >> 8), uint8_t(v)}); };
    auto u32 = [&](uint32_t v) {
        t.insert(t.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    };
    auto entry = [&](uint32_t tag, uint32_t type, uint32_t count, uint32_t value) {
        u16(tag);
        u16(type);
        u32(count);
        u32(value);
    };
    t = {'M', 'M', 0, 42};
    u32(8);
    // IFD0 at 8: 4 entries (8 + 2 + 48 + 4 = 62); values from 62.
    u16(4);
    entry(0x0110, 2, 12, 62);      // Model
    entry(0x0112, 3, 1, 6u << 16); // Orientation 6
    entry(0x011A, 5, 1, 74);       // XResolution
    entry(0x8769, 4, 1, 82);       // EXIF IFD
    u32(0);                        // next IFD, set below
    t.insert(t.end(), {'N', 'u', 'b', 'a', 'r', 'o', 'C', 'a', 'm', ' ', '1', 0}); // 62
    u32(300);                                                                      // 74: 300/1
    u32(1);
    // EXIF IFD at 82: one entry (82 + 2 + 12 + 4 = 100); the date at 100.
    u16(1);
    entry(0x9003, 2, 20, 100);
    u32(0);
    const char date[] = "2024:06:01 12:34:56";
    t.insert(t.end(), date, date + 20);
    // IFD1 at 120 with a 64-byte thumbnail after it.
    e.ifd1 = t.size();
    t[58] = uint8_t(e.ifd1 >> 24), t[59] = uint8_t(e.ifd1 >> 16), t[60] = uint8_t(e.ifd1 >> 8),
    t[61] = uint8_t(e.ifd1);
    u16(2);
    entry(0x0201, 4, 1, uint32_t(e.ifd1 + 2 + 24 + 4));
    entry(0x0202, 4, 1, 64);
    u32(0);
    t.insert(t.end(), 64, 0xAB);
    return e;
}

// What every output keeps: the same body up to IFD1, with Orientation 1 and
// no next IFD.
std::vector<uint8_t> keptExif(const Exif &e) {
    std::vector<uint8_t> k(e.tiff.begin(), e.tiff.begin() + long(e.ifd1));
    k[8 + 2 + 12 + 8] = 0, k[8 + 2 + 12 + 9] = 1; // Orientation value
    std::fill(k.begin() + 58, k.begin() + 62, 0);
    return k;
}

TEST(Exif, SurvivesJpegToJpegAndThroughPngWithOrientationOne) {
    const Exif exif = cameraExif();
    // A camera JPEG: the writer puts the block it is given, orientation 6
    // and thumbnail included, into an APP1 segment.
    Image picture = build(allKinds()[12], 24, 16);
    picture.meta.exif = makeBlob(exif.tiff.data(), exif.tiff.size());
    TempDir dir;
    ASSERT_TRUE(saveJpeg(picture, (dir / "camera.jpg").c_str(), 90, false));
    const std::vector<uint8_t> camera = readFile(dir / "camera.jpg");
    const std::vector<uint8_t> written = keptExif(exif);

    Result<Image> fromJpeg = decodeJpeg(camera.data(), camera.size());
    ASSERT_TRUE(fromJpeg) << fromJpeg.status().message();
    EXPECT_EQ(fromJpeg->width, 16u); // turned upright
    ASSERT_TRUE(saveJpeg(fromJpeg.value(), (dir / "a.jpg").c_str(), 90, false));
    ASSERT_TRUE(savePng(fromJpeg.value(), (dir / "b.png").c_str(), 6, false));
    Result<Image> fromPng = loadImage((dir / "b.png").c_str());
    ASSERT_TRUE(fromPng);
    ASSERT_TRUE(saveJpeg(fromPng.value(), (dir / "c.jpg").c_str(), 90, false));

    std::vector<uint8_t> header = {'E', 'x', 'i', 'f', 0, 0};
    header.insert(header.end(), written.begin(), written.end());
    for (const char *name : {"a.jpg", "c.jpg"}) {
        SCOPED_TRACE(name);
        const JpegExtras x = jpegExtras(readFile(dir / name));
        ASSERT_EQ(x.app1.size(), 1u);
        EXPECT_EQ(x.app1[0], header);
    }
    EXPECT_EQ(pngChunk(readFile(dir / "b.png"), "eXIf"), written);
}

TEST(Exif, MalformedBlocksAreDroppedWithoutFailingTheRead) {
    const Exif good = cameraExif();
    auto with = [&](size_t at, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> t = good.tiff;
        std::copy(bytes.begin(), bytes.end(), t.begin() + long(at));
        return t;
    };
    const std::vector<std::vector<uint8_t>> bad = {
        {},                                  // empty
        {'M', 'M', 0, 42, 0, 0},             // cut inside the header
        with(0, {'M', 'X'}),                 // no byte order
        with(4, {0xFF, 0xFF, 0xFF, 0xF0}),   // IFD0 past the end
        with(8, {0x7F, 0xFF}),               // entry count past the end
        with(8 + 2 + 8, {0, 0, 0xFF, 0xF0}), // Model's value past the end
        with(8 + 2 + 4, {0x40, 0, 0, 0}),    // a count whose bytes overflow
        with(8 + 2 + 36 + 8, {0, 0, 0, 8}),  // EXIF IFD pointing at IFD0: a cycle
        with(82 + 2 + 12, {0, 0, 0, 0}),     // (fine: ends the EXIF IFD)
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE(i);
        Image picture = build(allKinds()[12], 8, 8);
        picture.meta.exif = makeBlob(bad[i].data(), bad[i].size());
        TempDir dir;
        ASSERT_TRUE(saveJpeg(picture, (dir / "x.jpg").c_str(), 90, false));
        std::vector<uint8_t> f = readFile(dir / "x.jpg");
        Result<Image> img = decodeJpeg(f.data(), f.size());
        ASSERT_TRUE(img) << img.status().message();
        EXPECT_EQ(img->meta.exif != nullptr, i + 1 == bad.size());
    }
}

} // namespace
