// SPDX-License-Identifier: MIT
// The quantizer's mapping: every pixel to the index of its palette colour,
// nearest or dithered, in bands of rows on several threads.
//
// Plain mapping goes through a cache of the nearest colour for every cell of
// a 7-bit-a-channel grid, filled on first use by a search over the palette;
// exact colours (at most kExactColours) are each mapped once, exactly.
// Dithering is Floyd-Steinberg error diffusion on a serpentine scan over a
// 5-bit grid, with the carried error damped and clamped, two bands of rows
// run in lockstep (when the part is at least 64 rows tall) so that their
// independent chains of lookups overlap.
//
// Accepts: the image's rows, the palette (and the palette's colours doubled,
//   for searching cell centres), the exact colours with their indices
//   assigned when mapping them exactly (else null), whether to dither, and
//   an 8-bit image of the same size whose indices it fills.
// Returns: nothing; throws only what allocation throws.
// Taken: images of at least Tuning::quantizeThreadsMinPixels pixels and two
//   rows are cut into two halves, each with its own cache and its own error
//   rows (diffusion starts afresh at each half's first row), mapped on up to
//   Tuning::maxThreads threads. Which thread maps a half does not change its
//   indices: one thread and two give the same image.
// Falls back to: one part over the whole image on the calling thread.
#pragma once

#include "core/pixel_rows.h"
#include "core/tuning.h"
#include "quantize/samples.h"

#include <array>
#include <vector>

namespace imgctl {

void mapToPalette(const BgrRows &rows, const std::vector<std::array<int, 3>> &doubled,
                  const ExactColours *exact, bool dither, const Tuning &tuning, Image &out);

} // namespace imgctl
