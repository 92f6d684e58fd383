// SPDX-License-Identifier: MIT
#include "quantize/samples.h"

namespace imgctl {

void histogramRows(const BgrRows &rows, uint32_t width, uint32_t y0, uint32_t y1, uint32_t step,
                   Cell *cells, uint8_t *scratch) {
    for (uint32_t y = y0; y < y1; y += step) {
        const uint8_t *p = rows.row(y, scratch);
        for (uint32_t x = 0; x < width; ++x, p += 3) {
            Cell &c = cells[cellOf(p[0], p[1], p[2])];
            ++c.n;
            c.b += p[0] & 3;
            c.g += p[1] & 3;
            c.r += p[2] & 3;
        }
    }
}

std::vector<Sample> samplesOf(const std::vector<Cell> &cells) {
    std::vector<Sample> s;
    for (uint32_t i = 0; i < kHistCells; ++i) {
        const Cell &c = cells[i];
        if (!c.n) continue;
        float n = static_cast<float>(c.n);
        s.push_back({{static_cast<float>((i & 63) << 2) + static_cast<float>(c.b) / n,
                      static_cast<float>(((i >> 6) & 63) << 2) + static_cast<float>(c.g) / n,
                      static_cast<float>((i >> 12) << 2) + static_cast<float>(c.r) / n},
                     n});
    }
    return s;
}

} // namespace imgctl
