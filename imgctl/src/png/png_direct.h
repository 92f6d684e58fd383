// SPDX-License-Identifier: MIT
// What the PNG readers that do without libpng share (png_fast_read.h,
// png_whole_inflate.h): the IDAT chunks with their CRCs checked, undoing
// the row filters of 8-bit RGB and RGBA rows, and the turn from R, G, B(, A)
// to the image's B, G, R(, A).
#pragma once

#include "core/bytes.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace imgctl {

// The IDAT chunks from the first one's header at `pos`, CRCs checked.
class IdatStream {
  public:
    IdatStream(const uint8_t *data, size_t size, size_t pos)
        : data_(data), size_(size), pos_(pos) {}

    // The next chunk's data, or an empty span at the end of the IDAT run;
    // false with a message when a chunk is cut off or its CRC is wrong.
    bool next(const uint8_t *&chunk, uint32_t &length, std::string &error) {
        chunk = nullptr;
        length = 0;
        if (size_ - pos_ < 8 || std::memcmp(data_ + pos_ + 4, "IDAT", 4) != 0) return true;
        const uint32_t n = loadBe32(data_ + pos_);
        if (n > size_ - pos_ - 8 || size_ - pos_ - 8 - n < 4) {
            error = "PNG: the file ends early";
            return false;
        }
        const uint8_t *type = data_ + pos_ + 4;
        const uLong crc = crc32(crc32(0L, type, 4), type + 4, n);
        if (crc != loadBe32(type + 4 + n)) {
            error = "PNG: IDAT: CRC error";
            return false;
        }
        chunk = type + 4;
        length = n;
        pos_ += size_t{n} + 12;
        return true;
    }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_;
};

// Undoes one row's filter in place; prev is the unfiltered row above (zeros
// for the first row). Returns false for an unknown filter type.
template <size_t Bpp>
inline bool unfilterRow(uint8_t filter, uint8_t *x, const uint8_t *prev, size_t n) {
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (size_t i = Bpp; i < n; ++i)
            x[i] = static_cast<uint8_t>(x[i] + x[i - Bpp]);
        return true;
    case 2:
        for (size_t i = 0; i < n; ++i)
            x[i] = static_cast<uint8_t>(x[i] + prev[i]);
        return true;
    case 3:
        for (size_t i = 0; i < Bpp; ++i)
            x[i] = static_cast<uint8_t>(x[i] + (prev[i] >> 1));
        for (size_t i = Bpp; i < n; ++i)
            x[i] = static_cast<uint8_t>(x[i] + ((x[i - Bpp] + prev[i]) >> 1));
        return true;
    case 4:
        for (size_t i = 0; i < Bpp; ++i)
            x[i] = static_cast<uint8_t>(x[i] + prev[i]);
        // Branch-free choice (photographs make the branches unpredictable):
        // a wins ties over b, and b over c.
        for (size_t i = Bpp; i < n; ++i) {
            const int a = x[i - Bpp], b = prev[i], c = prev[i - Bpp];
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int ab = pb < pa ? b : a;
            const int pab = pb < pa ? pb : pa;
            x[i] = static_cast<uint8_t>(x[i] + (pc < pab ? c : ab));
        }
        return true;
    default:
        return false;
    }
}

template <size_t Bpp> inline void swapRow(const uint8_t *src, uint8_t *dst, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, src += Bpp, dst += Bpp) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
        if constexpr (Bpp == 4) dst[3] = src[3];
    }
}

} // namespace imgctl
