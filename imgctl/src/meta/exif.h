// SPDX-License-Identifier: MIT
// EXIF and XMP, read as untrusted input: every offset and count is checked
// against the block before use, the IFDs followed are at most a few and
// never revisited, so a crafted block costs no more than its own length.
//
// What a converted file keeps of them: the EXIF TIFF body with its layout
// untouched (so that maker notes keep their offsets) except that the
// Orientation is 1, since the pixels come out upright, and the thumbnail
// (IFD1 and its data) is gone; the XMP packet with a tiff:Orientation of 1.
// A block that does not parse is dropped whole.
#pragma once

#include "core/image.h"

#include <cstddef>
#include <cstdint>

namespace imgctl {

// EXIF or XMP larger than this is dropped.
inline constexpr size_t kMaxMetadataBytes = size_t{1} << 20;

// The JPEG APP1 headers of the two.
inline constexpr char kExifHeader[] = "Exif\0"; // with the array's own NUL: six bytes
inline constexpr size_t kExifHeaderSize = 6;
inline constexpr char kXmpHeader[] = "http://ns.adobe.com/xap/1.0/"; // and its NUL: 29 bytes
inline constexpr size_t kXmpHeaderSize = 29;

// The EXIF Orientation (tag 0x0112 of IFD0), 1-8, or 0 when absent or
// unreadable. data is an APP1 segment body ("Exif\0\0" and the TIFF body).
int exifOrientation(const uint8_t *data, size_t size);

// The TIFF body of an EXIF block as a converted file keeps it, or null when
// it does not parse: a TIFF header, IFD0 and the EXIF, GPS and
// interoperability IFDs it points to, each entry's value inside the block,
// no IFD reached twice.
Blob cleanExif(const uint8_t *tiff, size_t size);

// The XMP packet as a converted file keeps it, or null when it is empty,
// too large, holds a NUL byte or is no XMP (names neither x:xmpmeta nor
// rdf:RDF).
Blob cleanXmp(const uint8_t *packet, size_t size);

} // namespace imgctl
