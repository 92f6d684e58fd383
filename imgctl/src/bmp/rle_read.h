// SPDX-License-Identifier: MIT
// Expanding the run-length streams a BMP file may hold: RLE8, RLE4 and OS/2's
// RLE24.
#pragma once

#include "core/image.h"

#include <cstddef>
#include <cstdint>

namespace imgctl {

enum class RleKind : uint8_t { Rle4, Rle8, Rle24 };

// How an expansion stopped.
enum class RleEnd : uint8_t {
    EndOfBitmap, // the stream's end-of-bitmap code
    PastImage,   // an end-of-line or delta moved below the last row
    StreamEnded, // the bytes ran out first (no end-of-bitmap)
};

// The most pixels a stream of streamSize bytes can describe: every code of
// at least two bytes draws at most 255 pixels. A header that asks for more is
// lying, and is refused before its pixels are allocated.
inline uint64_t rleMaxPixels(size_t streamSize) {
    return uint64_t{255} * ((streamSize + 1) / 2);
}

// Expands `stream` into `image`, whose pixels are allocated and whose depth
// matches the kind (4, 8 or 24 bits). Rows are stored bottom-up unless
// topDown. Every pixel the stream leaves undefined (skipped by a delta, cut
// off by an early end-of-line or end-of-bitmap, or never reached) becomes 0:
// palette index 0, or black for RLE24. Pixels that fall right of a row's end
// or below the image are dropped, never written.
RleEnd expandRleStream(const uint8_t *stream, size_t size, RleKind kind, bool topDown,
                       Image &image);

} // namespace imgctl
