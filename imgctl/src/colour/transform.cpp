// SPDX-License-Identifier: MIT
#include "colour/transform.h"

#include "core/ops.h"

#include <lcms2.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace imgctl {
namespace {

struct Formats {
    cmsUInt32Number in, out;
    size_t inBytes, outBytes;
};

Formats formatsOf(PixelLayout layout) {
    switch (layout) {
    case PixelLayout::Bgra:
        return {TYPE_BGRA_8, TYPE_BGRA_8, 4, 4};
    case PixelLayout::Gray:
        return {TYPE_GRAY_8, TYPE_GRAY_8, 1, 1};
    case PixelLayout::Gray16:
        return {TYPE_GRAY_16, TYPE_GRAY_16, 2, 2};
    case PixelLayout::Cmyk:
        return {TYPE_CMYK_8, TYPE_BGR_8, 4, 3};
    case PixelLayout::CmykInverted:
        return {TYPE_CMYK_8_REV, TYPE_BGR_8, 4, 3};
    default:
        return {TYPE_BGR_8, TYPE_BGR_8, 3, 3};
    }
}

// sRGB, or for gray samples a gray profile with the sRGB tone curve (whose
// grays are sRGB's grays).
cmsHPROFILE srgbFor(PixelLayout layout) {
    if (layout != PixelLayout::Gray && layout != PixelLayout::Gray16)
        return cmsCreate_sRGBProfile();
    const cmsFloat64Number p[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve *curve = cmsBuildParametricToneCurve(nullptr, 4, p);
    if (!curve) return nullptr;
    const cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    cmsHPROFILE gray = cmsCreateGrayProfile(&d65, curve);
    cmsFreeToneCurve(curve);
    return gray;
}

} // namespace

ColourTransform::~ColourTransform() {
    if (handle_) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(handle_));
}

std::unique_ptr<ColourTransform> ColourTransform::toSrgb(const Blob &profile, PixelLayout layout,
                                                         bool exact) {
    if (!profile || profile->empty()) return nullptr;
    cmsHPROFILE source =
        cmsOpenProfileFromMem(profile->data(), static_cast<cmsUInt32Number>(profile->size()));
    if (!source) return nullptr;
    cmsHPROFILE target = srgbFor(layout);
    const Formats f = formatsOf(layout);
    const bool perceptual = cmsIsCLUT(source, INTENT_PERCEPTUAL, LCMS_USED_AS_INPUT);
    // No cache: the transform is then safe to share between threads.
    cmsUInt32Number flags = cmsFLAGS_NOCACHE;
    if (!perceptual) flags |= cmsFLAGS_BLACKPOINTCOMPENSATION;
    if (exact) flags |= cmsFLAGS_NOOPTIMIZE;
    if (layout == PixelLayout::Bgra) flags |= cmsFLAGS_COPY_ALPHA;
    cmsHTRANSFORM handle =
        target ? cmsCreateTransform(source, f.in, target, f.out,
                                    perceptual ? INTENT_PERCEPTUAL : INTENT_RELATIVE_COLORIMETRIC,
                                    flags)
               : nullptr;
    cmsCloseProfile(source);
    if (target) cmsCloseProfile(target);
    if (!handle) return nullptr;
    std::unique_ptr<ColourTransform> t(new ColourTransform);
    t->handle_ = handle;
    t->inBytes_ = f.inBytes;
    t->outBytes_ = f.outBytes;
    t->perceptual_ = perceptual;
    return t;
}

Result<std::unique_ptr<ColourTransform>> ColourTransform::forImage(const Image &image,
                                                                   PixelLayout layout) {
    if (!image.hasProfile()) return std::unique_ptr<ColourTransform>();
    auto t = toSrgb(image.colour.icc, layout);
    if (!t) return {Error::BadArgument, "the image's ICC profile gives no transform to sRGB"};
    return t;
}

void ColourTransform::apply(const uint8_t *in, uint8_t *out, size_t count) const {
    constexpr size_t kStep = size_t{1} << 30;
    auto *t = static_cast<cmsHTRANSFORM>(handle_);
    for (size_t done = 0; done < count; done += kStep) {
        const size_t n = std::min(kStep, count - done);
        cmsDoTransform(t, in + done * inBytes_, out + done * outBytes_,
                       static_cast<cmsUInt32Number>(n));
    }
}

void ColourTransform::applyInPlace(uint8_t *pixels, size_t count) const {
    constexpr size_t kChunk = 1024;
    uint8_t copy[kChunk * 4];
    for (size_t done = 0; done < count; done += kChunk) {
        const size_t n = std::min(kChunk, count - done);
        uint8_t *at = pixels + done * inBytes_;
        std::memcpy(copy, at, n * inBytes_);
        cmsDoTransform(static_cast<cmsHTRANSFORM>(handle_), copy, at,
                       static_cast<cmsUInt32Number>(n));
    }
}

void convertPalette(const ColourTransform &transform, std::vector<PaletteEntry> &palette) {
    std::vector<uint8_t> bgra(palette.size() * 4);
    for (size_t i = 0; i < palette.size(); ++i) {
        bgra[4 * i] = palette[i].b;
        bgra[4 * i + 1] = palette[i].g;
        bgra[4 * i + 2] = palette[i].r;
        bgra[4 * i + 3] = palette[i].a;
    }
    transform.applyInPlace(bgra.data(), palette.size());
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = {bgra[4 * i], bgra[4 * i + 1], bgra[4 * i + 2], bgra[4 * i + 3]};
}

Status takeProfile(Image &image, const Blob &profile, ProfileSpace samples) {
    if (!profile) return Status::ok();
    if (samples == ProfileSpace::Gray) {
        // A table of the 256 levels, computed exactly at 16 bits.
        auto t = ColourTransform::toSrgb(profile, PixelLayout::Gray16, true);
        if (!t) return Status::ok();
        uint16_t levels[256], shown[256];
        for (uint32_t v = 0; v < 256; ++v)
            levels[v] = static_cast<uint16_t>(v * 257);
        t->apply(reinterpret_cast<const uint8_t *>(levels), reinterpret_cast<uint8_t *>(shown),
                 256);
        uint8_t lut[256];
        for (uint32_t v = 0; v < 256; ++v)
            lut[v] = static_cast<uint8_t>((shown[v] + 128u) / 257u);
        if (image.isPalette()) {
            for (PaletteEntry &e : image.palette)
                e = {lut[e.b], lut[e.g], lut[e.r], e.a};
        } else {
            const size_t step = image.bitCount / 8;
            for (uint32_t y = 0; y < image.height; ++y) {
                uint8_t *p = image.row(y);
                for (uint32_t x = 0; x < image.width; ++x, p += step)
                    for (int c = 0; c < 3; ++c)
                        p[c] = lut[p[c]];
            }
        }
        image.colour = {ColourKind::Srgb, nullptr};
        return Status::ok();
    }
    if (image.isPalette()) {
        auto t = ColourTransform::toSrgb(profile, PixelLayout::Bgra, true);
        if (!t) return Status::ok();
        convertPalette(*t, image.palette);
        image.colour = {ColourKind::Srgb, nullptr};
        return Status::ok();
    }
    if (image.bitCount == 16)
        if (Status s = convertTo24(image); !s) return s;
    image.colour = {ColourKind::Icc, profile};
    return Status::ok();
}

Status convertToSrgb(Image &image) {
    if (!image.hasProfile()) return Status::ok();
    auto t = ColourTransform::forImage(image,
                                       image.bitCount == 32 ? PixelLayout::Bgra : PixelLayout::Bgr);
    if (!t) return t.status();
    const size_t count = image.width;
    for (uint32_t y = 0; y < image.height; ++y)
        t.value()->applyInPlace(image.row(y), count);
    image.colour = {ColourKind::Srgb, nullptr};
    return Status::ok();
}

Status stripImage(Image &image) {
    if (Status s = convertToSrgb(image); !s) return s;
    image.colour = {};
    image.meta = {};
    return Status::ok();
}

} // namespace imgctl
