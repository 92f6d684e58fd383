// SPDX-License-Identifier: MIT
#include "quantize/exact_palette.h"

#include "core/bytes.h"
#include "core/pixels.h"

#include <algorithm>
#include <vector>

namespace imgctl {
namespace {

// A small open-addressing set of colour keys that gives up past 256 keys.
class ColourSet {
  public:
    ColourSet() : slots_(kSlots, 0) {}

    // Adds key; false once more than 256 distinct keys have been seen.
    bool add(uint32_t key) {
        if (key == last_ && count_ > 0) return true;
        last_ = key;
        const uint64_t stored = (uint64_t{1} << 32) | key;
        for (uint32_t i = hash(key);; i = (i + 1) & (kSlots - 1)) {
            if (slots_[i] == stored) return true;
            if (slots_[i] == 0) {
                if (count_ == 256) return false;
                slots_[i] = stored;
                ++count_;
                return true;
            }
        }
    }

    // The keys, in ascending order.
    std::vector<uint32_t> keys() const {
        std::vector<uint32_t> k;
        for (uint64_t s : slots_)
            if (s) k.push_back(static_cast<uint32_t>(s));
        std::sort(k.begin(), k.end());
        return k;
    }

    // Gives every key its position in keys() (call once, after adding).
    void number() {
        std::vector<uint32_t> k = keys();
        indexOf_.assign(kSlots, 0);
        for (uint32_t n = 0; n < k.size(); ++n)
            indexOf_[find(k[n])] = static_cast<uint8_t>(n);
    }

    uint8_t indexOf(uint32_t key) const { return indexOf_[find(key)]; }

  private:
    static constexpr uint32_t kSlots = 1024;
    static uint32_t hash(uint32_t key) { return (key * 2654435761u) >> 22; }
    uint32_t find(uint32_t key) const {
        const uint64_t stored = (uint64_t{1} << 32) | key;
        uint32_t i = hash(key);
        while (slots_[i] != stored)
            i = (i + 1) & (kSlots - 1);
        return i;
    }

    std::vector<uint64_t> slots_;
    std::vector<uint8_t> indexOf_;
    uint32_t count_ = 0;
    uint32_t last_ = 0;
};

// The colour key of pixel x of a 16, 24 or 32-bit row: the 15-bit value,
// B | G << 8 | R << 16, or that with A << 24.
template <int Bits> inline uint32_t keyAt(const uint8_t *row, uint32_t x) {
    if constexpr (Bits == 16) {
        return loadLe16(row + 2 * x) & 0x7FFF;
    } else if constexpr (Bits == 24) {
        const uint8_t *p = row + size_t{3} * x;
        return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16);
    } else {
        return loadLe32(row + size_t{4} * x);
    }
}

template <int Bits> bool collectColours(const Image &image, ColourSet &set) {
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t *row = image.row(y);
        for (uint32_t x = 0; x < image.width; ++x)
            if (!set.add(keyAt<Bits>(row, x))) return false;
    }
    return true;
}

template <int Bits> void mapExact(const Image &image, const ColourSet &set, Image &out) {
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t *row = image.row(y);
        uint8_t *dst = out.row(y);
        uint32_t lastKey = keyAt<Bits>(row, 0);
        uint8_t lastIndex = set.indexOf(lastKey);
        for (uint32_t x = 0; x < image.width; ++x) {
            uint32_t key = keyAt<Bits>(row, x);
            if (key != lastKey) {
                lastKey = key;
                lastIndex = set.indexOf(key);
            }
            dst[x] = lastIndex;
        }
    }
}

PaletteEntry entryForKey(uint32_t key, uint16_t bitCount) {
    PaletteEntry e;
    if (bitCount == 16) {
        e.b = kFiveToEight[key & 31];
        e.g = kFiveToEight[(key >> 5) & 31];
        e.r = kFiveToEight[(key >> 10) & 31];
    } else {
        e.b = static_cast<uint8_t>(key);
        e.g = static_cast<uint8_t>(key >> 8);
        e.r = static_cast<uint8_t>(key >> 16);
        e.a = bitCount == 32 ? static_cast<uint8_t>(key >> 24) : 255;
    }
    return e;
}

} // namespace

bool exactPalette(const Image &image, Image &out) {
    ColourSet set;
    bool few = image.bitCount == 16   ? collectColours<16>(image, set)
               : image.bitCount == 24 ? collectColours<24>(image, set)
                                      : collectColours<32>(image, set);
    if (!few) return false;
    set.number();
    for (uint32_t key : set.keys())
        out.palette.push_back(entryForKey(key, image.bitCount));
    if (image.bitCount == 16)
        mapExact<16>(image, set, out);
    else if (image.bitCount == 24)
        mapExact<24>(image, set, out);
    else
        mapExact<32>(image, set, out);
    return true;
}

} // namespace imgctl
