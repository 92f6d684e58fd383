// SPDX-License-Identifier: MIT
// What the PNG readers that do without libpng share (png_fast_read.h,
// png_whole_inflate.h): the IDAT chunks with their CRCs checked, undoing
// the row filters of 8-bit RGB and RGBA rows, and the turn from R, G, B(, A)
// to the image's B, G, R(, A).
#pragma once

#include "core/bytes.h"

#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

template <size_t Bpp> inline void swapRow(const uint8_t *src, uint8_t *dst, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, src += Bpp, dst += Bpp) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
        if constexpr (Bpp == 4) dst[3] = src[3];
    }
}

// Sub, Average and Paeth depend on the pixel just undone. The loops below
// keep that pixel in registers instead of reading it back from the row just
// written: a load of a byte stored a moment before waits for the store, and
// on a photograph (Paeth on nearly every row) that wait made unfiltering the
// slowest part of reading the file.

// The Paeth predictor, branch-free (photographs make the branches
// unpredictable): a wins ties over b, and b over c.
inline unsigned paeth(unsigned ua, unsigned ub, unsigned uc) {
    const int a = static_cast<int>(ua), b = static_cast<int>(ub), c = static_cast<int>(uc);
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    const unsigned ab = pb < pa ? ub : ua;
    const int pab = pb < pa ? pb : pa;
    return pc < pab ? uc : ab;
}

// Undoes a filter that predicts each byte from a (left), b (above) and c
// (above left), one variable per channel.
template <size_t Bpp, class Predict>
inline void undoFromLeft(uint8_t *x, const uint8_t *prev, size_t n, Predict predict) {
    unsigned a[Bpp] = {}, c[Bpp] = {}; // left and upper-left neighbours, per channel
    for (size_t i = 0; i < n; i += Bpp) {
        // Unrolled, so that a and c stay in registers.
#pragma GCC unroll 4
        for (size_t k = 0; k < Bpp; ++k) {
            const unsigned b = prev[i + k];
            const unsigned v = (x[i + k] + predict(a[k], b, c[k])) & 0xFFu;
            x[i + k] = static_cast<uint8_t>(v);
            a[k] = v;
            c[k] = b;
        }
    }
}

#if defined(__SSE2__)
// Paeth on all of a pixel's channels at once, in 16-bit lanes (SSE2, which every
// x86-64 processor has): the choice is made for all channels together by
// masks, as the scalar paeth() makes it for one.
struct PaethLanes {
    // A pixel's bytes in lanes 0 .. bpp - 1. With `spare`, the 4 bytes at p
    // may be read (a 3-byte pixel's lane 3 then holds the next pixel's first
    // byte, which nothing uses); otherwise the value is built in a register:
    // a copy through memory would wait for its parts to be stored.
    static __m128i load(const uint8_t *p, size_t bpp, bool spare) {
        uint32_t v;
        if (bpp == 4 || spare)
            std::memcpy(&v, p, 4);
        else
            v = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
        return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(v)), _mm_setzero_si128());
    }
    static void store(uint8_t *p, __m128i v, size_t bpp) {
        const uint32_t out = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
        if (bpp == 4) {
            std::memcpy(p, &out, 4);
            return;
        }
        // From the register, not through a copy in memory.
        const uint16_t low = static_cast<uint16_t>(out);
        std::memcpy(p, &low, 2);
        p[2] = static_cast<uint8_t>(out >> 16);
    }
    static __m128i abs16(__m128i v) {
        return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
    }
    static __m128i pick(__m128i mask, __m128i yes, __m128i no) {
        return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
    }
    // The unfiltered pixel: filtered d plus the prediction from a, b, c.
    static __m128i undo(__m128i a, __m128i b, __m128i c, __m128i d) {
        const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
        const __m128i pa = abs16(bc), pb = abs16(ac), pc = abs16(_mm_add_epi16(bc, ac));
        const __m128i bWins = _mm_cmpgt_epi16(pa, pb);
        const __m128i ab = pick(bWins, b, a), pab = _mm_min_epi16(pa, pb);
        const __m128i predicted = pick(_mm_cmpgt_epi16(pab, pc), c, ab);
        return _mm_and_si128(_mm_add_epi16(d, predicted), _mm_set1_epi16(0xFF));
    }
};

// Undoes a Paeth row in place; with `turned`, also writes it there in the
// image's channel order (B, G, R(, A)), sparing a pass of swapRow.
template <size_t Bpp>
inline void unpaethRow(uint8_t *x, const uint8_t *prev, size_t n, uint8_t *turned = nullptr) {
    __m128i a = _mm_setzero_si128(), c = a;
    for (size_t i = 0; i < n; i += Bpp) {
        const bool spare = i + 4 <= n;
        const __m128i b = PaethLanes::load(prev + i, Bpp, spare);
        a = PaethLanes::undo(a, b, c, PaethLanes::load(x + i, Bpp, spare));
        PaethLanes::store(x + i, a, Bpp);
        if (turned)
            PaethLanes::store(turned + i, _mm_shufflelo_epi16(a, _MM_SHUFFLE(3, 0, 1, 2)), Bpp);
        c = b;
    }
}

#else
template <size_t Bpp>
inline void unpaethRow(uint8_t *x, const uint8_t *prev, size_t n, uint8_t *turned = nullptr) {
    undoFromLeft<Bpp>(x, prev, n, paeth);
    if (turned) swapRow<Bpp>(x, turned, static_cast<uint32_t>(n / Bpp));
}

#endif

// Undoes one row's filter in place; prev is the unfiltered row above (zeros
// for the first row); n is a whole number of Bpp-byte pixels. Returns false
// for an unknown filter type.
template <size_t Bpp>
inline bool unfilterRow(uint8_t filter, uint8_t *x, const uint8_t *prev, size_t n) {
    switch (filter) {
    case 0:
        return true;
    case 1:
        undoFromLeft<Bpp>(x, prev, n, [](unsigned a, unsigned, unsigned) { return a; });
        return true;
    case 2:
        for (size_t i = 0; i < n; ++i)
            x[i] = static_cast<uint8_t>(x[i] + prev[i]);
        return true;
    case 3:
        undoFromLeft<Bpp>(x, prev, n,
                          [](unsigned a, unsigned b, unsigned) { return (a + b) >> 1; });
        return true;
    case 4:
        unpaethRow<Bpp>(x, prev, n);
        return true;
    default:
        return false;
    }
}

} // namespace imgctl
