// SPDX-License-Identifier: MIT
// The EXIF orientation of a JPEG file, read from its APP1 segment.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imgctl {

// The EXIF Orientation (tag 0x0112 of IFD0), 1-8, or 0 when absent or
// unreadable. data is an APP1 segment body.
int exifOrientation(const uint8_t *data, size_t size);

} // namespace imgctl
