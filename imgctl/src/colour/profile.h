// SPDX-License-Identifier: MIT
// ICC profiles: checking the ones files embed, and building the ones that
// PNG gAMA/cHRM chunks and BMP calibrated endpoints describe. Little CMS 2
// does every colour computation; the only arithmetic here turns the files'
// numbers into the white point, primaries and tone curves it takes.
#pragma once

#include "core/image.h"

#include <cstddef>
#include <cstdint>

namespace imgctl {

// An embedded profile larger than this is ignored.
inline constexpr size_t kMaxProfileBytes = size_t{4} << 20;

// The kind of samples a profile must describe to be used.
enum class ProfileSpace { Rgb, Gray, Cmyk };

// The profile's bytes when they are a profile lcms2 can transform to sRGB
// with: at most kMaxProfileBytes, an ICC header naming the `space` wanted, a
// device class an image may carry (input, display, output or colour space)
// and tags that make a transform. Null otherwise: the image is then read as
// untagged (a bad profile never fails a read).
Blob checkProfile(const uint8_t *data, size_t size, ProfileSpace space);

// A profile built from PNG chunks: `gamma` is gAMA's value (the encoding
// exponent times 100000; 0 when absent, then the sRGB tone curve is used),
// `chrm` cHRM's eight values (white x, y, red x, y, green x, y, blue x, y,
// each times 100000; null when absent, then the sRGB primaries and white
// are used). A gray profile for gray samples. Null when the values make no
// usable profile.
Blob pngChunkProfile(uint32_t gamma, const uint32_t *chrm, ProfileSpace space);

// A profile built from a BMP V4/V5 calibrated RGB header: the red, green and
// blue end points (CIEXYZTRIPLE, nine 2.30 fixed-point numbers) and the
// three gammas (16.16 fixed point). End points that each add up to 1 are
// chromaticities, which leave the white point open: it is taken as D65.
// sRGB's primaries with gammas within 1 % of 2.2 set srgb instead (the
// files that write them mean sRGB). Null when the values make no usable
// profile.
Blob bmpCalibratedProfile(const uint32_t endpoints[9], const uint32_t gammas[3], bool &srgb);

} // namespace imgctl
