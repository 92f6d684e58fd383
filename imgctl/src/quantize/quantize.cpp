// SPDX-License-Identifier: MIT
// Reduction to an 8-bit palette.
//
// An image of at most 256 colours keeps exactly those colours. Any other
// image gets an adaptive palette of 256 colours:
//   1. the exact colours and their counts when there are at most 16384 of
//      them, otherwise a histogram with 6 bits a channel (of every row up to
//      4 million pixels, of every n-th row above), each cell keeping the
//      exact mean of the colours that fell into it; past 4096 of them,
//      those sharing a cell of 5 bits a channel are merged, so that the
//      palette's cost stays small whatever the picture;
//   2. variance-based median cut: the box with the largest squared error is
//      split, along whichever axis and at whichever point leaves the least
//      squared error, until there are 256 boxes;
//   3. k-means refinement of the box means over those samples;
//   4. mapping each pixel to its nearest palette colour (plain RGB distance,
//      which is what the error is measured in), through a cache of the
//      nearest colour for every cell of a 7-bit-a-channel grid, filled on
//      first use by a search over the palette sorted by green (5 bits a
//      channel when dithering); exact colours are each mapped exactly.
// Dithering is Floyd-Steinberg error diffusion on a serpentine scan, with the
// carried error damped and clamped so that it adds texture without the noise
// that undamped diffusion leaves in flat areas. Large images are split into
// two halves mapped on two threads, each with its own cache; when dithering,
// each half is cut again into two bands run in lockstep.
//
// Files: exact_palette (at most 256 colours), samples (step 1), median_cut
// (steps 2 and 3), nearest_search, map_bands (step 4, dithering, threads).
// An image with a profile is reduced in sRGB: its rows are read through the
// profile's transform, or its exact colours converted as palette entries.
#include "colour/transform.h"
#include "core/ops.h"
#include "core/pixel_rows.h"
#include "quantize/exact_palette.h"
#include "quantize/map_bands.h"
#include "quantize/median_cut.h"
#include "quantize/nearest_search.h"
#include "quantize/samples.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace imgctl {
namespace {

// Past this many samples, those that share a cell of 5 bits a channel are
// merged into their weighted mean: the palette's cost then stays small
// whatever the picture, for the price of a few hundredths of a dB.
constexpr size_t kMaxPaletteSamples = 4096;

std::vector<Sample> merged(const std::vector<Sample> &samples) {
    struct Sum {
        double w = 0, c[3] = {0, 0, 0};
    };
    std::vector<Sum> cells(size_t{1} << 15);
    for (const Sample &x : samples) {
        const auto level = [&](int k) { return static_cast<uint32_t>(x.c[k]) >> 3; };
        Sum &sum = cells[(level(2) << 10) | (level(1) << 5) | level(0)];
        sum.w += x.w;
        for (int k = 0; k < 3; ++k)
            sum.c[k] += double{x.w} * x.c[k];
    }
    std::vector<Sample> out;
    for (const Sum &sum : cells)
        if (sum.w > 0)
            out.push_back(
                {{static_cast<float>(sum.c[0] / sum.w), static_cast<float>(sum.c[1] / sum.w),
                  static_cast<float>(sum.c[2] / sum.w)},
                 static_cast<float>(sum.w)});
    return out;
}

// The samples the palette is built from: the exact colours when there are
// few (fewColours is set, and exact holds them), otherwise the histogram's
// cells; merged when there are many.
std::vector<Sample> samplesFor(const BgrRows &rows, uint32_t width, uint32_t height,
                               ExactColours &exact, bool &fewColours) {
    std::vector<uint8_t> scratch(size_t{3} * width);
    fewColours = exact.count(rows, width, height, scratch.data());
    if (fewColours) {
        std::vector<Sample> s = exact.samples();
        return s.size() > kMaxPaletteSamples ? merged(s) : s;
    }
    exact = {};
    // Every row for images up to about 4 million pixels, every n-th row
    // above: a sample that size settles the palette as well as all rows do.
    const uint64_t pixels = uint64_t{width} * height;
    const uint32_t step = static_cast<uint32_t>(std::max<uint64_t>(1, pixels >> 22));
    std::vector<Cell> cells(kHistCells);
    histogramRows(rows, width, 0, height, step, cells.data(), scratch.data());
    std::vector<Sample> s = samplesOf(cells);
    return s.size() > kMaxPaletteSamples ? merged(s) : s;
}

// An adaptive palette of up to 256 colours for a 16, 24 or 32-bit image of
// more than 256, and every pixel mapped to it.
void quantize(const Image &image, bool dither, const Tuning &tuning, const ColourTransform *toSrgb,
              Image &out) {
    const BgrRows rows(image, toSrgb);
    ExactColours exact;
    bool fewColours = false;
    std::vector<Sample> samples = samplesFor(rows, image.width, image.height, exact, fewColours);
    std::vector<std::array<float, 3>> means = medianCut(samples, 256);
    refine(samples, means, 12);

    std::vector<std::array<int, 3>> doubled;
    for (const auto &m : means) {
        PaletteEntry e;
        e.b = static_cast<uint8_t>(std::clamp(std::lround(m[0]), 0l, 255l));
        e.g = static_cast<uint8_t>(std::clamp(std::lround(m[1]), 0l, 255l));
        e.r = static_cast<uint8_t>(std::clamp(std::lround(m[2]), 0l, 255l));
        out.palette.push_back(e);
        doubled.push_back({2 * e.b, 2 * e.g, 2 * e.r});
    }

    // A few colours are each mapped once, exactly; many through a cache.
    const bool exactMapping = fewColours && !dither;
    if (exactMapping) {
        const NearestSearch<int> search(doubled);
        exact.assign([&](uint32_t b, uint32_t g, uint32_t r) {
            return search.find(static_cast<int>(2 * b), static_cast<int>(2 * g),
                               static_cast<int>(2 * r));
        });
    }
    mapToPalette(rows, doubled, exactMapping ? &exact : nullptr, dither, tuning, out);
}

} // namespace

Status convertTo8(Image &image, int32_t a, int32_t b, const Tuning &tuning) {
    if (a != 0 || (b != 0 && b != 1))
        return {Error::BadArgument, "DIBto8Bit takes (0, 0) to dither or (0, 1) not to, not (" +
                                        std::to_string(a) + ", " + std::to_string(b) + ")"};
    if (image.bitCount == 8) return Status::ok();
    // The palette is chosen from the colours that will be shown: an image
    // with a profile is reduced in sRGB.
    auto toSrgb = ColourTransform::forImage(image, PixelLayout::Bgr);
    if (!toSrgb) return toSrgb.status();

    Result<Image> made = makeImage(image.width, image.height, 8);
    if (!made) return made.status();
    Image out = std::move(made).value();

    if (image.isPalette()) {
        // 1 or 4 bits: the same palette, one index a byte.
        out.palette = image.palette;
        for (uint32_t y = 0; y < image.height; ++y) {
            const uint8_t *row = image.row(y);
            uint8_t *d = out.row(y);
            for (uint32_t x = 0; x < image.width; ++x)
                d[x] = paletteIndex(row, x, image.bitCount);
        }
    } else if (exactPalette(image, out)) {
        if (toSrgb.value()) {
            auto entries = ColourTransform::toSrgb(image.colour.icc, PixelLayout::Bgra, true);
            if (!entries)
                return {Error::BadArgument, "the image's ICC profile gives no transform to sRGB"};
            convertPalette(*entries, out.palette);
        }
    } else {
        out.palette.clear();
        quantize(image, b == 0, tuning, toSrgb.value().get(), out);
    }
    keepDescription(image, out);
    if (toSrgb.value()) out.colour = {ColourKind::Srgb, nullptr};
    image = std::move(out);
    return Status::ok();
}

} // namespace imgctl
