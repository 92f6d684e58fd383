// SPDX-License-Identifier: MIT
#include "colour/profile.h"

#include "colour/transform.h"
#include "core/bytes.h"

#include <lcms2.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace imgctl {
namespace {

constexpr size_t kHeaderBytes = 132; // the 128-byte header and the tag count

constexpr uint32_t tag(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 |
           uint32_t(uint8_t(s[2])) << 8 | uint32_t(uint8_t(s[3]));
}

bool usableClass(uint32_t c) {
    return c == tag("scnr") || c == tag("mntr") || c == tag("prtr") || c == tag("spac");
}

uint32_t spaceTag(ProfileSpace space) {
    switch (space) {
    case ProfileSpace::Gray:
        return tag("GRAY");
    case ProfileSpace::Cmyk:
        return tag("CMYK");
    default:
        return tag("RGB ");
    }
}

PixelLayout layoutFor(ProfileSpace space) {
    switch (space) {
    case ProfileSpace::Gray:
        return PixelLayout::Gray;
    case ProfileSpace::Cmyk:
        return PixelLayout::Cmyk;
    default:
        return PixelLayout::Bgr;
    }
}

// The profile lcms2 built, saved as bytes and checked like an embedded one.
Blob saved(cmsHPROFILE profile, ProfileSpace space) {
    if (!profile) return nullptr;
    cmsUInt32Number size = 0;
    std::vector<uint8_t> bytes;
    if (cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
        bytes.resize(size);
        if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) bytes.clear();
    }
    cmsCloseProfile(profile);
    return bytes.empty() ? nullptr : checkProfile(bytes.data(), bytes.size(), space);
}

// The sRGB tone curve.
cmsToneCurve *srgbCurve() {
    const cmsFloat64Number p[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return cmsBuildParametricToneCurve(nullptr, 4, p);
}

// A profile of the given white, primaries and red, green and blue curves
// (a gray one takes the first curve); takes the curves.
Blob built(const cmsCIExyY &white, const cmsCIExyYTRIPLE &primaries, cmsToneCurve *(&curves)[3],
           ProfileSpace space) {
    cmsHPROFILE p = nullptr;
    if (curves[0] && curves[1] && curves[2])
        p = space == ProfileSpace::Gray ? cmsCreateGrayProfile(&white, curves[0])
                                        : cmsCreateRGBProfile(&white, &primaries, curves);
    for (cmsToneCurve *c : curves)
        if (c) cmsFreeToneCurve(c);
    return saved(p, space);
}

const cmsCIExyY kD65 = {0.3127, 0.3290, 1.0};
const cmsCIExyYTRIPLE kSrgbPrimaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};

bool validChromaticity(const cmsCIExyY &c) {
    return c.x > 0 && c.y > 0 && c.x + c.y <= 1.0001;
}

} // namespace

Blob checkProfile(const uint8_t *data, size_t size, ProfileSpace space) {
    if (!data || size < kHeaderBytes || size > kMaxProfileBytes) return nullptr;
    const uint32_t declared = loadBe32(data);
    if (declared < kHeaderBytes || declared > size) return nullptr;
    if (std::memcmp(data + 36, "acsp", 4) != 0) return nullptr;
    if (!usableClass(loadBe32(data + 12)) || loadBe32(data + 16) != spaceTag(space)) return nullptr;
    Blob blob = makeBlob(data, declared);
    // lcms2 reads the tags when it builds a transform: a profile it cannot
    // transform with is of no use.
    if (!ColourTransform::toSrgb(blob, layoutFor(space))) return nullptr;
    return blob;
}

Blob pngChunkProfile(uint32_t gamma, const uint32_t *chrm, ProfileSpace space) {
    cmsCIExyY white = kD65;
    cmsCIExyYTRIPLE primaries = kSrgbPrimaries;
    if (chrm) {
        auto at = [&](int i) { return cmsCIExyY{chrm[2 * i] / 1e5, chrm[2 * i + 1] / 1e5, 1.0}; };
        white = at(0);
        primaries = {at(1), at(2), at(3)};
        for (const cmsCIExyY &c : {white, primaries.Red, primaries.Green, primaries.Blue})
            if (!validChromaticity(c)) return nullptr;
    }
    // Decoding exponents from 0.1 to 10.
    if (gamma != 0 && (gamma < 10000 || gamma > 1000000)) return nullptr;
    cmsToneCurve *curves[3];
    for (cmsToneCurve *&c : curves)
        c = gamma == 0 ? srgbCurve() : cmsBuildGamma(nullptr, 100000.0 / gamma);
    return built(white, primaries, curves, space);
}

Blob bmpCalibratedProfile(const uint32_t endpoints[9], const uint32_t gammas[3], bool &srgb) {
    double xyz[3][3];
    double sum[3] = {0, 0, 0};
    bool chromaticities = true;
    for (int p = 0; p < 3; ++p) {
        for (int c = 0; c < 3; ++c) {
            xyz[p][c] = endpoints[3 * p + c] / double(1u << 30);
            sum[c] += xyz[p][c];
        }
        chromaticities = chromaticities && std::abs(xyz[p][0] + xyz[p][1] + xyz[p][2] - 1) < 0.01;
    }
    auto chromaticity = [](const double *v) {
        const double s = v[0] + v[1] + v[2];
        return s > 0 ? cmsCIExyY{v[0] / s, v[1] / s, 1.0} : cmsCIExyY{0, 0, 0};
    };
    const cmsCIExyY white = chromaticities ? kD65 : chromaticity(sum);
    const cmsCIExyYTRIPLE primaries = {chromaticity(xyz[0]), chromaticity(xyz[1]),
                                       chromaticity(xyz[2])};
    for (const cmsCIExyY &c : {white, primaries.Red, primaries.Green, primaries.Blue})
        if (!validChromaticity(c)) return nullptr;
    // Decoding exponents from 0.1 to 10.
    bool near22 = true;
    for (int c = 0; c < 3; ++c) {
        if (gammas[c] < 6554 || gammas[c] > 655360) return nullptr;
        near22 = near22 && std::abs(gammas[c] / 65536.0 - 2.2) < 0.022;
    }
    auto close = [](const cmsCIExyY &a, const cmsCIExyY &b) {
        return std::abs(a.x - b.x) < 0.001 && std::abs(a.y - b.y) < 0.001;
    };
    if (near22 && close(white, kD65) && close(primaries.Red, kSrgbPrimaries.Red) &&
        close(primaries.Green, kSrgbPrimaries.Green) &&
        close(primaries.Blue, kSrgbPrimaries.Blue)) {
        srgb = true;
        return nullptr;
    }
    cmsToneCurve *curves[3];
    for (int c = 0; c < 3; ++c)
        curves[c] = cmsBuildGamma(nullptr, gammas[c] / 65536.0);
    return built(white, primaries, curves, ProfileSpace::Rgb);
}

} // namespace imgctl
