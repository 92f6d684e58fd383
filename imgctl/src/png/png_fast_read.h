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
// It takes and refuses the files libpng's path does, with the same pixels
// (fuzz/fuzz_png_fast.cpp checks it): after the last row it inflates what
// libpng inflates then (one more call, and on to the stream's end when that
// gives data past the last row), checking each IDAT chunk's CRC on the way
// and ignoring damage past the last row; like libpng's path it skips the
// stream's Adler-32 (the CRCs cover the same bytes) and leaves the chunks
// after the image data unread. libpng hands zlib at most 8 kB of a chunk at
// a time, this reader the whole chunk; a file could tell the two apart only
// with over 8 kB of deflate data giving no pixels right after the last row.
#pragma once

#include "core/image.h"
#include "core/tuning.h"

#include <cstddef>
#include <cstdint>

namespace imgctl {

Status readPngFast(const uint8_t *data, size_t size, size_t idatPos, const Tuning &tuning,
                   Image &image);

} // namespace imgctl
