// SPDX-License-Identifier: MIT
// The PNG chunks that carry metadata: eXIf (the EXIF TIFF body) and the iTXt
// chunk with the keyword "XML:com.adobe.xmp" (the XMP packet), found by
// walking the file's chunk list, before or after the image data. Each chunk
// is read only when it lies wholly inside the file and its CRC is right;
// a compressed XMP packet is inflated up to kMaxMetadataBytes. The first of
// each is kept, cleaned (meta/exif.h); anything that does not parse is left
// out and never fails the read.
#pragma once

#include "core/image.h"

#include <cstddef>
#include <cstdint>

namespace imgctl {

Metadata readPngMetadata(const uint8_t *data, size_t size);

// The keyword of the iTXt chunk that holds XMP.
inline constexpr char kXmpKeyword[] = "XML:com.adobe.xmp";

} // namespace imgctl
