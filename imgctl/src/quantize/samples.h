// SPDX-License-Identifier: MIT
// What the quantizer's palette is built from: the exact colours of an image
// with their counts when there are few of them, otherwise a histogram with 6
// bits a channel, each cell keeping the exact mean of the colours that fell
// into it.
#pragma once

#include "core/pixel_rows.h"

#include <cstdint>
#include <vector>

namespace imgctl {

constexpr int kHistBits = 6;
constexpr uint32_t kHistCells = 1u << (3 * kHistBits);

// One histogram cell: its pixel count and the sums of the bits below the
// cell's own 6 (so the sums stay small enough for 32 bits).
struct Cell {
    uint32_t n = 0, b = 0, g = 0, r = 0;
};

inline uint32_t cellOf(uint32_t b, uint32_t g, uint32_t r) {
    return ((r >> 2) << 12) | ((g >> 2) << 6) | (b >> 2);
}

// A colour of the histogram with its weight (pixel count).
struct Sample {
    float c[3]; // B, G, R
    float w;
};

// Counts rows y0, y0 + step, ... below y1 into cells (kHistCells of them).
void histogramRows(const BgrRows &rows, uint32_t width, uint32_t y0, uint32_t y1, uint32_t step,
                   Cell *cells, uint8_t *scratch);

// Mean colours of the occupied cells, each weighted by its count.
std::vector<Sample> samplesOf(const std::vector<Cell> &cells);

// The exact colours of an image with their counts, when there are at most
// kExactColours of them (graphics rather than photographs): then no two
// colours share a sample, and each is later mapped on its own.
constexpr uint32_t kExactColours = 16384;

class ExactColours {
  public:
    // Counts the colours; false as soon as there are too many.
    bool count(const BgrRows &rows, uint32_t width, uint32_t height, uint8_t *scratch) {
        keys_.assign(kSlots, 0);
        counts_.assign(kSlots, 0);
        uint32_t used = 0;
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t *p = rows.row(y, scratch);
            uint32_t lastSlot = 0, lastKey = 0;
            for (uint32_t x = 0; x < width; ++x, p += 3) {
                const uint32_t key = keyOf(p);
                if (key != lastKey) {
                    lastKey = key;
                    lastSlot = slotOf(key);
                    if (keys_[lastSlot] == 0) {
                        if (used == kExactColours) return false;
                        keys_[lastSlot] = key;
                        ++used;
                    }
                }
                ++counts_[lastSlot];
            }
        }
        return true;
    }

    std::vector<Sample> samples() const {
        std::vector<Sample> s;
        for (uint32_t i = 0; i < kSlots; ++i)
            if (keys_[i])
                s.push_back(
                    {{static_cast<float>(keys_[i] & 255), static_cast<float>((keys_[i] >> 8) & 255),
                      static_cast<float>((keys_[i] >> 16) & 255)},
                     static_cast<float>(counts_[i])});
        return s;
    }

    // Gives every colour its nearest palette index (finder(b, g, r)).
    template <class Finder> void assign(Finder finder) {
        index_.assign(kSlots, 0);
        for (uint32_t i = 0; i < kSlots; ++i)
            if (keys_[i])
                index_[i] = static_cast<uint8_t>(
                    finder(keys_[i] & 255, (keys_[i] >> 8) & 255, (keys_[i] >> 16) & 255));
        counts_ = {};
    }

    void mapRows(const BgrRows &rows, Image &out, uint32_t y0, uint32_t y1,
                 uint8_t *scratch) const {
        for (uint32_t y = y0; y < y1; ++y) {
            const uint8_t *p = rows.row(y, scratch);
            uint8_t *d = out.row(y);
            uint32_t lastKey = 0;
            uint8_t last = 0;
            for (uint32_t x = 0; x < out.width; ++x, p += 3) {
                const uint32_t key = keyOf(p);
                if (key != lastKey) {
                    lastKey = key;
                    last = index_[slotOf(key)];
                }
                d[x] = last;
            }
        }
    }

  private:
    static constexpr uint32_t kSlots = 4 * kExactColours; // a power of two
    // B | G << 8 | R << 16, with bit 24 set so that no key is 0.
    static uint32_t keyOf(const uint8_t *p) {
        return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (1u << 24);
    }
    // The key's slot, or the empty slot where it belongs.
    uint32_t slotOf(uint32_t key) const {
        uint32_t i = (key * 2654435761u) >> 16;
        while (keys_[i] != key && keys_[i] != 0)
            i = (i + 1) & (kSlots - 1);
        return i;
    }

    std::vector<uint32_t> keys_, counts_;
    std::vector<uint8_t> index_;
};

} // namespace imgctl
