// SPDX-License-Identifier: MIT
// The row filters: plain loops that the compiler vectorises (this file is
// built at -O3).
#include "png/png_filter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace imgctl {
namespace {

// The filters as separate loops over restrict-qualified rows, so that each
// vectorises; i < bpp has no left neighbour (a = c = 0).
void filterSub(const uint8_t *__restrict cur, size_t n, size_t bpp, uint8_t *__restrict out) {
    for (size_t i = 0; i < bpp; ++i)
        out[i] = cur[i];
    for (size_t i = bpp; i < n; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - cur[i - bpp]);
}

void filterUp(const uint8_t *__restrict cur, const uint8_t *__restrict prev, size_t n,
              uint8_t *__restrict out) {
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - prev[i]);
}

void filterAverage(const uint8_t *__restrict cur, const uint8_t *__restrict prev, size_t n,
                   size_t bpp, uint8_t *__restrict out) {
    for (size_t i = 0; i < bpp; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - (prev[i] >> 1));
    for (size_t i = bpp; i < n; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - ((cur[i - bpp] + prev[i]) >> 1));
}

void filterPaeth(const uint8_t *__restrict cur, const uint8_t *__restrict prev, size_t n,
                 size_t bpp, uint8_t *__restrict out) {
    for (size_t i = 0; i < bpp; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - prev[i]);
    for (size_t i = bpp; i < n; ++i) {
        const int16_t a = cur[i - bpp], b = prev[i], c = prev[i - bpp];
        const int16_t pa = static_cast<int16_t>(std::abs(b - c));
        const int16_t pb = static_cast<int16_t>(std::abs(a - c));
        const int16_t pc = static_cast<int16_t>(std::abs(a + b - 2 * c));
        const int16_t bc = pb <= pc ? b : c;
        const int16_t pred = (pa <= pb && pa <= pc) ? a : bc;
        out[i] = static_cast<uint8_t>(cur[i] - pred);
    }
}

// Sum of the bytes read as signed magnitudes.
uint32_t magnitudeSum(const uint8_t *__restrict v, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += static_cast<uint32_t>(std::abs(static_cast<int8_t>(v[i])));
    return sum;
}

} // namespace

RowFilter::RowFilter(size_t maxBytes, unsigned bpp, bool adaptive)
    : bpp_(bpp), adaptive_(adaptive) {
    if (adaptive) candidates_.resize(4 * maxBytes);
}

void RowFilter::filter(const uint8_t *cur, const uint8_t *prev, size_t n, uint8_t *out) {
    if (!adaptive_) {
        out[0] = 0;
        std::memcpy(out + 1, cur, n);
        return;
    }
    const size_t bpp = std::min<size_t>(bpp_, n);
    uint8_t *sub = candidates_.data(), *up = sub + n, *avg = up + n, *pae = avg + n;
    filterSub(cur, n, bpp, sub);
    filterUp(cur, prev, n, up);
    filterAverage(cur, prev, n, bpp, avg);
    filterPaeth(cur, prev, n, bpp, pae);
    const uint32_t sums[5] = {magnitudeSum(cur, n), magnitudeSum(sub, n), magnitudeSum(up, n),
                              magnitudeSum(avg, n), magnitudeSum(pae, n)};
    int best = 0;
    for (int f = 1; f < 5; ++f)
        if (sums[f] < sums[best]) best = f;
    out[0] = static_cast<uint8_t>(best);
    std::memcpy(out + 1, best == 0 ? cur : candidates_.data() + (best - 1) * n, n);
}

} // namespace imgctl
