// SPDX-License-Identifier: MIT
// The PNG fast reader: 8-bit RGB and RGBA files without interlacing (most
// photographs), read on two threads. One thread inflates the IDAT stream into
// a small ring of filtered rows while the calling thread undoes the row
// filters and writes the rows straight into the image in B, G, R(, A) order,
// so inflating and unfiltering overlap.
//
// Accepts: the whole file in memory, the offset of the first IDAT chunk's
//   header, and an allocated image of the file's size, 24-bit for RGB and
//   32-bit for RGBA.
// Returns: ok with every row filled; Corrupt naming the cause when an IDAT
//   chunk is cut off or fails its CRC, the image data ends early or does not
//   inflate, or a row names an unknown filter; Unsupported, with nothing
//   read, when no second thread can be had.
// Taken: by decodePng for such a file of at least
//   Tuning::pngFastReadMinPixels pixels when Tuning::maxThreads is 2 or more.
// Falls back to: libpng's row reader (png_read.cpp) when not taken or when it
//   returns Unsupported.
// Unlike libpng it skips the stream's Adler-32 (every IDAT CRC is checked),
// stops once the last row is inflated, and leaves the chunks after the image
// data unread.
#pragma once

#include "core/image.h"
#include "core/tuning.h"

#include <cstddef>
#include <cstdint>

namespace imgctl {

Status readPngFast(const uint8_t *data, size_t size, size_t idatPos, const Tuning &tuning,
                   Image &image);

} // namespace imgctl
