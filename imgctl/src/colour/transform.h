// SPDX-License-Identifier: MIT
// Colour transforms to sRGB through Little CMS 2, and what the library does
// with them: rows of pixels, palettes, whole images in place. Untagged and
// sRGB images never reach this code.
//
// Rendering intent: perceptual when the source profile holds a perceptual
// table (an A2B0 lookup table), otherwise relative colorimetric with black
// point compensation.
#pragma once

#include "colour/profile.h"
#include "core/image.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace imgctl {

// The layouts a transform reads and writes.
enum class PixelLayout {
    Bgr,         // B, G, R in, B, G, R out
    Bgra,        // B, G, R, A in and out, alpha copied
    Gray,        // one gray sample in, one out (the sRGB tone curve, neutral)
    Gray16,      // the same with native 16-bit samples, for exact tables
    Cmyk,        // C, M, Y, K (0 = no ink) in, B, G, R out
    CmykInverted // C, M, Y, K stored inverted (255 = no ink, Adobe) in, B, G, R out
};

// One transform from a profile to sRGB. Safe to use from several threads
// at once.
class ColourTransform {
  public:
    ~ColourTransform();
    ColourTransform(const ColourTransform &) = delete;
    ColourTransform &operator=(const ColourTransform &) = delete;

    // A transform from `profile` (checked by checkProfile) to sRGB, or null
    // when lcms2 cannot make one. exact: lcms2 computes each pixel through
    // the whole pipeline instead of its faster tables (which lose a few
    // levels in the darks of steep curves): for palettes and tables.
    static std::unique_ptr<ColourTransform> toSrgb(const Blob &profile, PixelLayout layout,
                                                   bool exact = false);
    // The transform a 24 or 32-bit image with a profile needs for its rows
    // (Bgr or Bgra); null for an image without a profile.
    static Result<std::unique_ptr<ColourTransform>> forImage(const Image &image,
                                                             PixelLayout layout);

    // Transforms `count` pixels from in to out (which may not overlap).
    void apply(const uint8_t *in, uint8_t *out, size_t count) const;
    // Transforms `count` pixels of a layout whose input and output are alike
    // (B, G, R; B, G, R, A; gray) in place.
    void applyInPlace(uint8_t *pixels, size_t count) const;

    // True when the source profile's perceptual table was used.
    bool perceptual() const { return perceptual_; }

  private:
    ColourTransform() = default;
    void *handle_ = nullptr;
    size_t inBytes_ = 3, outBytes_ = 3;
    bool perceptual_ = false;
};

// Gives a freshly decoded image the colour space of a profile its file
// embeds or implies (already checked for the file's kind of samples: Rgb or
// Gray). A 24 or 32-bit image with an RGB profile keeps it; a 16-bit one is
// widened to 24 bits first. A palette image has its palette converted to
// sRGB, and gray samples (a gray palette, or the equal B, G, R of a gray
// image with alpha) go through the gray profile's curve to sRGB: those
// images are then sRGB. Fails only when memory is short.
Status takeProfile(Image &image, const Blob &profile, ProfileSpace samples);

// Converts the pixels of an image with a profile to sRGB in place, row by
// row, and marks it sRGB. Does nothing to other images. Fails (leaving the
// image as it was) only when no transform can be made.
Status convertToSrgb(Image &image);

// The palette of an image converted through a Bgra transform.
void convertPalette(const ColourTransform &transform, std::vector<PaletteEntry> &palette);

} // namespace imgctl
