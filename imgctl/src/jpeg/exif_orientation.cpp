// SPDX-License-Identifier: MIT
#include "jpeg/exif_orientation.h"

#include "core/bytes.h"

#include <cstring>

namespace imgctl {

int exifOrientation(const uint8_t *data, size_t size) {
    static const uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (size < 6 || std::memcmp(data, kExif, 6) != 0) return 0;
    const uint8_t *t = data + 6; // the TIFF header; offsets count from here
    const size_t n = size - 6;
    if (n < 8) return 0;
    bool little;
    if (t[0] == 'I' && t[1] == 'I')
        little = true;
    else if (t[0] == 'M' && t[1] == 'M')
        little = false;
    else
        return 0;
    auto u16 = [&](size_t at) -> uint32_t { return little ? loadLe16(t + at) : loadBe16(t + at); };
    auto u32 = [&](size_t at) -> uint32_t { return little ? loadLe32(t + at) : loadBe32(t + at); };
    if (u16(2) != 42) return 0;
    const uint32_t ifd = u32(4);
    if (ifd > n || n - ifd < 2) return 0;
    const uint32_t count = u16(ifd);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = size_t{ifd} + 2 + size_t{i} * 12;
        if (at > n || n - at < 12) return 0;
        if (u16(at) != 0x0112) continue;
        const uint32_t type = u16(at + 2);
        uint32_t value;
        if (type == 3) // SHORT
            value = u16(at + 8);
        else if (type == 4) // LONG, seen from a few writers
            value = u32(at + 8);
        else
            return 0;
        return (u32(at + 4) >= 1 && value >= 1 && value <= 8) ? static_cast<int>(value) : 0;
    }
    return 0;
}

} // namespace imgctl
