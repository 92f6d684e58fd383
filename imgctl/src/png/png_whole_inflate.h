// SPDX-License-Identifier: MIT
// The PNG whole-stream reader: 8-bit RGB and RGBA files without interlacing,
// inflated in one call by libdeflate, which is much faster than zlib's
// streaming inflate but needs the whole stream and the whole output at once.
// The IDAT chunks are joined into one buffer (the file's pages behind each
// joined part are let go at once, so the file and its copy are not both
// held), the stream is inflated straight into the image's own pixel buffer,
// enlarged to hold the filtered rows at its end, and the rows are unfiltered
// from there into place front to back in B, G, R(, A) order: a row's final
// place never reaches a filtered row not yet read.
//
// Accepts: the whole file in memory (mapped read-only and private, or any
//   buffer), the offset of the first IDAT chunk's header, and an allocated
//   image of the file's size, 24-bit for RGB and 32-bit for RGBA.
// Returns: ok with every row filled; Corrupt naming the cause when a row
//   names an unknown filter; OutOfMemory when the joined stream or the
//   enlarged buffer cannot be had; Unsupported, with the image untouched,
//   when an IDAT chunk is cut off or fails its CRC (it may lie past the last
//   row, where libpng never looks) or the stream does not inflate to exactly
//   the rows the header promises (too short, damaged, longer, or a wrong
//   Adler-32): libpng tells these apart and may still accept the file.
// Taken: by decodePng for such a file of at least
//   Tuning::pngWholeInflateMinPixels pixels, before the two-thread reader.
// Falls back to: the two-thread reader (png_fast_read.h) or libpng's row
//   reader when not taken or when it returns Unsupported.
// Like the two-thread reader it leaves the chunks after the image data
// unread. fileMapped: data is a private read-only file mapping whose pages
// may be let go (io/page_release.h).
#pragma once

#include "core/image.h"

#include <cstddef>
#include <cstdint>

namespace imgctl {

Status readPngWhole(const uint8_t *data, size_t size, size_t idatPos, bool fileMapped,
                    Image &image);

} // namespace imgctl
