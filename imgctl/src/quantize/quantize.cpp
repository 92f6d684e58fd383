// SPDX-License-Identifier: MIT
// Reduction to an 8-bit palette.
//
// An image of at most 256 colours keeps exactly those colours. Any other
// image gets an adaptive palette of 256 colours:
//   1. the exact colours and their counts when there are at most 16384 of
//      them, otherwise a histogram with 6 bits a channel (of every row up to
//      4 million pixels, of every n-th row above), each cell keeping the
//      exact mean of the colours that fell into it;
//   2. variance-based median cut: the box with the largest squared error is
//      split, along whichever axis and at whichever point leaves the least
//      squared error, until there are 256 boxes;
//   3. k-means refinement of the box means over those samples;
//   4. mapping each pixel to its nearest palette colour (plain RGB distance,
//      which is what the error is measured in), through a cache of the
//      nearest colour for every cell of a 7-bit-a-channel grid, filled on
//      first use by a search over the palette sorted by green (5 bits a
//      channel when dithering); exact colours are each mapped exactly.
// Dithering is Floyd-Steinberg error diffusion on a serpentine scan, with the
// carried error damped and clamped so that it adds texture without the noise
// that undamped diffusion leaves in flat areas. Large images are split into
// two halves mapped on two threads, each with its own cache; when dithering,
// each half is cut again into two bands run in lockstep.
#include "core/ops.h"
#include "core/pixel_rows.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace imgctl {

namespace {

// ---------------------------------------------------------------------------
// Images of at most 256 colours

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
        return (row[2 * x] | (uint32_t{row[2 * x + 1]} << 8)) & 0x7FFF;
    } else if constexpr (Bits == 24) {
        const uint8_t *p = row + size_t{3} * x;
        return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16);
    } else {
        const uint8_t *p = row + size_t{4} * x;
        return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
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

// Fills out with the image's own colours when it has at most 256; false
// (out untouched) otherwise.
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

// ---------------------------------------------------------------------------
// Histogram

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

// Mean colours of the occupied cells, each weighted by its count.
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

// ---------------------------------------------------------------------------
// Median cut

inline int levelOf(float c) {
    return std::clamp(static_cast<int>(c), 0, 255);
}

struct Moments {
    double w = 0, s[3] = {0, 0, 0}, ss = 0;
    void add(const Moments &o) {
        w += o.w;
        ss += o.ss;
        for (int k = 0; k < 3; ++k)
            s[k] += o.s[k];
    }
    void add(const Sample &x) {
        w += x.w;
        for (int k = 0; k < 3; ++k) {
            s[k] += double{x.w} * x.c[k];
            ss += double{x.w} * x.c[k] * x.c[k];
        }
    }
    void sub(const Moments &o) {
        w -= o.w;
        ss -= o.ss;
        for (int k = 0; k < 3; ++k)
            s[k] -= o.s[k];
    }
    // Weighted squared distance of the samples to their mean.
    double error() const {
        if (w <= 0) return 0;
        return std::max(0.0, ss - (s[0] * s[0] + s[1] * s[1] + s[2] * s[2]) / w);
    }
};

struct Box {
    size_t begin, end;
    Moments m;
    bool solid = false; // every sample has the same colour
};

Moments momentsOf(const std::vector<Sample> &s, size_t begin, size_t end) {
    Moments m;
    for (size_t i = begin; i < end; ++i)
        m.add(s[i]);
    return m;
}

// Splits the samples into at most `colours` boxes and returns their means.
std::vector<std::array<float, 3>> medianCut(std::vector<Sample> &s, size_t colours) {
    std::vector<Box> boxes{{0, s.size(), momentsOf(s, 0, s.size()), false}};
    std::array<std::vector<Moments>, 3> levels;
    for (auto &axis : levels)
        axis.resize(256);
    while (boxes.size() < colours) {
        // The box with the most squared error that can still be split.
        size_t pick = boxes.size();
        double worst = 0;
        for (size_t i = 0; i < boxes.size(); ++i)
            if (!boxes[i].solid && boxes[i].end - boxes[i].begin > 1 &&
                boxes[i].m.error() > worst) {
                worst = boxes[i].m.error();
                pick = i;
            }
        if (pick == boxes.size()) break;
        Box &box = boxes[pick];
        const auto first = s.begin() + static_cast<ptrdiff_t>(box.begin);
        const auto last = s.begin() + static_cast<ptrdiff_t>(box.end);

        // Try each axis, cutting between whole levels: the samples' moments
        // gathered per level, then every cut weighed from running sums.
        for (auto &axis : levels)
            std::fill(axis.begin(), axis.end(), Moments{});
        for (size_t i = box.begin; i < box.end; ++i)
            for (int axis = 0; axis < 3; ++axis)
                levels[axis][levelOf(s[i].c[axis])].add(s[i]);
        double bestError = std::numeric_limits<double>::infinity();
        int bestAxis = 0, bestCut = 0;
        for (int axis = 0; axis < 3; ++axis) {
            Moments left;
            for (int cut = 1; cut < 256; ++cut) {
                left.add(levels[axis][cut - 1]);
                if (left.w <= 0) continue;
                Moments right = box.m;
                right.sub(left);
                if (right.w <= 0) break;
                double e = left.error() + right.error();
                if (e < bestError) {
                    bestError = e;
                    bestAxis = axis;
                    bestCut = cut;
                }
            }
        }
        if (bestCut == 0) { // every sample on one level of every axis
            box.solid = true;
            continue;
        }
        const size_t bestAt = static_cast<size_t>(
            std::partition(first, last,
                           [&](const Sample &x) { return levelOf(x.c[bestAxis]) < bestCut; }) -
            s.begin());
        Box right{bestAt, box.end, momentsOf(s, bestAt, box.end), false};
        box.end = bestAt;
        box.m = momentsOf(s, box.begin, bestAt);
        boxes.push_back(right);
    }
    std::vector<std::array<float, 3>> means;
    for (const Box &b : boxes) {
        const double w = std::max(b.m.w, 1e-9);
        means.push_back({static_cast<float>(b.m.s[0] / w), static_cast<float>(b.m.s[1] / w),
                         static_cast<float>(b.m.s[2] / w)});
    }
    return means;
}

// ---------------------------------------------------------------------------
// Nearest colour

// Nearest-colour search over a palette sorted by green: from the entry
// closest in green outward both ways, stopping a direction once the green
// difference alone passes the best distance found.
template <class T> class NearestSearch {
  public:
    explicit NearestSearch(const std::vector<std::array<T, 3>> &palette) {
        order_.resize(palette.size());
        std::iota(order_.begin(), order_.end(), 0);
        std::sort(order_.begin(), order_.end(),
                  [&](int a, int b) { return palette[a][1] < palette[b][1]; });
        for (int i : order_)
            sorted_.push_back(palette[i]);
    }

    // Index into the palette given to the constructor.
    int find(T b, T g, T r) const {
        const size_t n = sorted_.size();
        size_t up = static_cast<size_t>(
            std::lower_bound(sorted_.begin(), sorted_.end(), g,
                             [](const std::array<T, 3> &e, T v) { return e[1] < v; }) -
            sorted_.begin());
        size_t down = up; // entries below `down` are still to look at
        T best = std::numeric_limits<T>::max();
        size_t bestAt = up < n ? up : n - 1;
        bool goUp = up<n, goDown = down> 0;
        while (goUp || goDown) {
            if (goUp) {
                const std::array<T, 3> &e = sorted_[up];
                T dg = e[1] - g, d2 = dg * dg;
                if (d2 >= best) {
                    goUp = false;
                } else {
                    T db = e[0] - b, dr = e[2] - r;
                    d2 += db * db + dr * dr;
                    if (d2 < best) {
                        best = d2;
                        bestAt = up;
                    }
                    goUp = ++up < n;
                }
            }
            if (goDown) {
                const std::array<T, 3> &e = sorted_[down - 1];
                T dg = g - e[1], d2 = dg * dg;
                if (d2 >= best) {
                    goDown = false;
                } else {
                    T db = e[0] - b, dr = e[2] - r;
                    d2 += db * db + dr * dr;
                    if (d2 < best) {
                        best = d2;
                        bestAt = down - 1;
                    }
                    goDown = --down > 0;
                }
            }
        }
        return order_[bestAt];
    }

  private:
    std::vector<int> order_;
    std::vector<std::array<T, 3>> sorted_;
};

// ---------------------------------------------------------------------------
// k-means

// Moves each palette colour to the mean of the samples nearest to it, a few
// rounds or until the error stops falling. A colour left with no samples is
// moved onto the sample that is worst served.
void refine(const std::vector<Sample> &s, std::vector<std::array<float, 3>> &palette, int rounds) {
    std::vector<Moments> sums(palette.size());
    double previous = std::numeric_limits<double>::infinity();
    for (int round = 0; round < rounds; ++round) {
        NearestSearch<float> search(palette);
        std::fill(sums.begin(), sums.end(), Moments{});
        double total = 0, worst = -1;
        size_t worstAt = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            const Sample &x = s[i];
            int k = search.find(x.c[0], x.c[1], x.c[2]);
            sums[k].add(x);
            float db = x.c[0] - palette[k][0], dg = x.c[1] - palette[k][1],
                  dr = x.c[2] - palette[k][2];
            double e = double{x.w} * (db * db + dg * dg + dr * dr);
            total += e;
            if (e > worst) {
                worst = e;
                worstAt = i;
            }
        }
        for (size_t k = 0; k < palette.size(); ++k) {
            if (sums[k].w > 0) {
                for (int c = 0; c < 3; ++c)
                    palette[k][c] = static_cast<float>(sums[k].s[c] / sums[k].w);
            } else {
                palette[k] = {s[worstAt].c[0], s[worstAt].c[1], s[worstAt].c[2]};
            }
        }
        if (total > previous * 0.999) break;
        previous = total;
    }
}

// ---------------------------------------------------------------------------
// Mapping

// The nearest palette index for every cell of a grid of Bits bits a channel,
// found on first use for the cell's centre. An entry holds the index in its
// low byte and, for the dithering grid, the colour itself above it (B, G, R
// from bit 8 up), which spares error diffusion a second dependent load.
template <int Bits, class Entry> class MapCache {
  public:
    MapCache(const std::vector<std::array<int, 3>> &doubled,
             const std::vector<PaletteEntry> &palette)
        : search_(doubled), palette_(palette), index_(size_t{1} << (3 * Bits), kUnknown) {}

    static constexpr bool kWithColour = sizeof(Entry) == 4;

    uint32_t operator()(uint32_t b, uint32_t g, uint32_t r) {
        const uint32_t cell =
            ((r >> kShift) << (2 * Bits)) | ((g >> kShift) << Bits) | (b >> kShift);
        const uint32_t v = index_[cell];
        if (v != kUnknown) [[likely]]
            return v;
        return fill(cell, b >> kShift, g >> kShift, r >> kShift);
    }

  private:
    static constexpr int kShift = 8 - Bits;
    // Index 255 holding white packs to this too; such a cell is simply
    // searched each time.
    static constexpr Entry kUnknown = static_cast<Entry>(~Entry{0});

    [[gnu::noinline]] uint32_t fill(uint32_t cell, uint32_t b, uint32_t g, uint32_t r) {
        // The centre of the cell in doubled units: 2 * (c << kShift) + (1 << kShift) - 1.
        constexpr int half = (1 << kShift) - 1;
        const int k = search_.find(static_cast<int>(b << (kShift + 1)) + half,
                                   static_cast<int>(g << (kShift + 1)) + half,
                                   static_cast<int>(r << (kShift + 1)) + half);
        const PaletteEntry &e = palette_[static_cast<size_t>(k)];
        uint32_t v = static_cast<uint32_t>(k);
        if constexpr (kWithColour)
            v |= (uint32_t{e.b} << 8) | (uint32_t{e.g} << 16) | (uint32_t{e.r} << 24);
        index_[cell] = static_cast<Entry>(v);
        return v;
    }

    NearestSearch<int> search_;
    const std::vector<PaletteEntry> &palette_;
    std::vector<Entry> index_;
};

// Plain mapping uses a fine grid (4 MB). Dithering uses a coarse one (128 kB,
// so it stays in the processor's cache along its chain of dependent
// lookups); the carried error makes up for the grid's own error, at about
// 0.7 dB of PSNR on photographs.
using PlainCache = MapCache<7, uint16_t>;
using DitherCache = MapCache<5, uint32_t>;

void mapRows(const BgrRows &rows, PlainCache &cache, Image &out, uint32_t y0, uint32_t y1,
             uint8_t *scratch) {
    for (uint32_t y = y0; y < y1; ++y) {
        const uint8_t *p = rows.row(y, scratch);
        uint8_t *d = out.row(y);
        for (uint32_t x = 0; x < out.width; ++x, p += 3)
            d[x] = static_cast<uint8_t>(cache(p[0], p[1], p[2]));
    }
}

// Error diffusion: of the error left at a pixel, 7/16 goes ahead, 3/16 to
// the pixel below behind, 5/16 below, 1/16 below ahead, the direction
// alternating each row. The error arriving at a pixel is scaled by
// kCarry/16 and clamped to +-kClamp before it is added.
constexpr int kCarry = 14;
constexpr int kClamp = 40;

inline int32_t carried(int32_t sixteenths) {
    return std::clamp((sixteenths * kCarry) / 256, -kClamp, kClamp);
}

// One band of rows being dithered, with its own error rows (in 1/16 units,
// a guard pixel at each end) and its own scratch row.
struct DitherBand {
    uint32_t y0 = 0, rows = 0;
    int32_t *cur = nullptr, *next = nullptr;
    uint8_t *scratch = nullptr;
};

// Dithers rows first .. last - 1 (counted within each band) of N bands in
// lockstep. The bands' chains of error diffusion are independent, so the
// processor overlaps them; one chain alone mostly waits on its own lookups.
template <int N>
void ditherInLockstep(const BgrRows &rows, DitherCache &cache, Image &out, DitherBand *bands,
                      uint32_t first, uint32_t last) {
    const int32_t w = static_cast<int32_t>(out.width);
    for (uint32_t r = first; r < last; ++r) {
        const uint8_t *src[N];
        uint8_t *dst[N];
        int32_t ahead[N][3] = {};
        for (int i = 0; i < N; ++i) {
            src[i] = rows.row(bands[i].y0 + r, bands[i].scratch);
            dst[i] = out.row(bands[i].y0 + r);
        }
        const int32_t dir = (r & 1) == 0 ? 1 : -1;
        int32_t x = dir == 1 ? 0 : w - 1;
        for (int32_t n = 0; n < w; ++n, x += dir) {
            for (int i = 0; i < N; ++i) {
                const uint8_t *p = src[i] + 3 * x;
                const int32_t *e = bands[i].cur + 3 * (x + 1);
                const int32_t vb = std::clamp(p[0] + carried(e[0] + ahead[i][0]), 0, 255);
                const int32_t vg = std::clamp(p[1] + carried(e[1] + ahead[i][1]), 0, 255);
                const int32_t vr = std::clamp(p[2] + carried(e[2] + ahead[i][2]), 0, 255);
                const uint32_t q = cache(static_cast<uint32_t>(vb), static_cast<uint32_t>(vg),
                                         static_cast<uint32_t>(vr));
                dst[i][x] = static_cast<uint8_t>(q);
                const int32_t eb = vb - static_cast<int32_t>((q >> 8) & 255),
                              eg = vg - static_cast<int32_t>((q >> 16) & 255),
                              er = vr - static_cast<int32_t>(q >> 24);
                ahead[i][0] = eb * 7;
                ahead[i][1] = eg * 7;
                ahead[i][2] = er * 7;
                int32_t *below = bands[i].next + 3 * (x + 1);
                below[-3 * dir] += eb * 3;
                below[-3 * dir + 1] += eg * 3;
                below[-3 * dir + 2] += er * 3;
                below[0] += eb * 5;
                below[1] += eg * 5;
                below[2] += er * 5;
                below[3 * dir] += eb;
                below[3 * dir + 1] += eg;
                below[3 * dir + 2] += er;
            }
        }
        for (int i = 0; i < N; ++i) {
            std::swap(bands[i].cur, bands[i].next);
            std::fill(bands[i].next, bands[i].next + 3 * (w + 2), 0);
        }
    }
}

// Dithers one or two bands, the first at least as tall as the second.
void ditherBands(const BgrRows &rows, DitherCache &cache, Image &out, DitherBand *bands,
                 int count) {
    if (count == 2) {
        ditherInLockstep<2>(rows, cache, out, bands, 0, bands[1].rows);
        ditherInLockstep<1>(rows, cache, out, bands, bands[1].rows, bands[0].rows);
    } else {
        ditherInLockstep<1>(rows, cache, out, bands, 0, bands[0].rows);
    }
}

Status quantize(const Image &image, bool dither, Image &out) {
    const BgrRows rows(image);
    const uint32_t width = image.width, height = image.height;
    const uint64_t pixels = uint64_t{width} * height;
    const bool twoThreads =
        pixels >= (1u << 20) && height >= 2 && std::thread::hardware_concurrency() >= 2;

    std::vector<uint8_t> scratch(size_t{3} * width);
    ExactColours exact;
    const bool fewColours = exact.count(rows, width, height, scratch.data());
    std::vector<Sample> samples;
    if (fewColours) {
        samples = exact.samples();
    } else {
        exact = {};
        // Every row for images up to about 4 million pixels, every n-th row
        // above: a sample that size settles the palette as well as all rows do.
        const uint32_t step = static_cast<uint32_t>(std::max<uint64_t>(1, pixels >> 22));
        std::vector<Cell> cells(kHistCells);
        histogramRows(rows, width, 0, height, step, cells.data(), scratch.data());
        samples = samplesOf(cells);
    }
    std::vector<std::array<float, 3>> means = medianCut(samples, 256);
    refine(samples, means, 12);

    std::vector<std::array<int, 3>> doubled;
    for (const auto &m : means) {
        PaletteEntry e;
        e.b = static_cast<uint8_t>(std::clamp(std::lround(m[0]), 0l, 255l));
        e.g = static_cast<uint8_t>(std::clamp(std::lround(m[1]), 0l, 255l));
        e.r = static_cast<uint8_t>(std::clamp(std::lround(m[2]), 0l, 255l));
        out.palette.push_back(e);
        doubled.push_back({2 * e.b, 2 * e.g, 2 * e.r});
    }

    // A few colours are each mapped once, exactly; many through a cache.
    const bool exactMapping = fewColours && !dither;
    if (exactMapping) {
        const NearestSearch<int> search(doubled);
        exact.assign([&](uint32_t b, uint32_t g, uint32_t r) {
            return search.find(static_cast<int>(2 * b), static_cast<int>(2 * g),
                               static_cast<int>(2 * r));
        });
    }

    // The image is cut into bands of rows: one per thread, and for dithering
    // two per thread, run in lockstep. Error diffusion starts afresh at each
    // band's first row.
    const int threads = twoThreads ? 2 : 1;
    const int perThread = dither && height >= 64 ? 2 : 1;
    const int bandCount = threads * perThread;
    const size_t errorRow = size_t{3} * (width + 2);
    std::vector<int32_t> errors(dither ? 2 * errorRow * bandCount : 0);
    std::vector<uint8_t> bandScratch(
        image.bitCount == 24 ? 0 : size_t{3} * width * static_cast<size_t>(bandCount));
    std::vector<DitherBand> bands(static_cast<size_t>(bandCount));
    for (int i = 0; i < bandCount; ++i) {
        DitherBand &b = bands[static_cast<size_t>(i)];
        b.y0 = static_cast<uint32_t>(uint64_t{height} * static_cast<uint32_t>(i) /
                                     static_cast<uint32_t>(bandCount));
        b.rows = static_cast<uint32_t>(uint64_t{height} * static_cast<uint32_t>(i + 1) /
                                       static_cast<uint32_t>(bandCount)) -
                 b.y0;
        if (dither) {
            b.cur = errors.data() + 2 * errorRow * static_cast<size_t>(i);
            b.next = b.cur + errorRow;
        }
        b.scratch = bandScratch.empty()
                        ? nullptr
                        : bandScratch.data() + size_t{3} * width * static_cast<size_t>(i);
    }
    std::fill(errors.begin(), errors.end(), 0);
    // Later bands are never shorter; lockstep wants the taller one first.
    for (int t = 0; t < threads && perThread == 2; ++t)
        std::swap(bands[static_cast<size_t>(2 * t)], bands[static_cast<size_t>(2 * t + 1)]);

    // Everything the threads need is allocated before any of them starts.
    std::vector<PlainCache> plain;
    std::vector<DitherCache> dithering;
    for (int i = 0; i < threads; ++i) {
        if (dither)
            dithering.emplace_back(doubled, out.palette);
        else if (!exactMapping)
            plain.emplace_back(doubled, out.palette);
    }
    auto work = [&](int t) {
        DitherBand *mine = bands.data() + perThread * t;
        if (dither) {
            ditherBands(rows, dithering[static_cast<size_t>(t)], out, mine, perThread);
            return;
        }
        const uint32_t y0 = mine->y0, y1 = mine->y0 + mine->rows;
        if (exactMapping)
            exact.mapRows(rows, out, y0, y1, mine->scratch);
        else
            mapRows(rows, plain[static_cast<size_t>(t)], out, y0, y1, mine->scratch);
    };
    if (threads == 2) {
        // Without a second thread to be had, this one does both halves.
        std::thread second;
        try {
            second = std::thread(work, 1);
        } catch (const std::system_error &) {
        }
        work(0);
        if (second.joinable())
            second.join();
        else
            work(1);
    } else {
        work(0);
    }
    return Status::ok();
}

} // namespace

Status convertTo8(Image &image, int32_t a, int32_t b) {
    if (a != 0 || (b != 0 && b != 1))
        return {Error::BadArgument, "DIBto8Bit takes (0, 0) to dither or (0, 1) not to, not (" +
                                        std::to_string(a) + ", " + std::to_string(b) + ")"};
    if (image.bitCount == 8) return Status::ok();

    Result<Image> made = makeImage(image.width, image.height, 8);
    if (!made) return made.status();
    Image out = std::move(made).value();

    if (image.isPalette()) {
        // 1 or 4 bits: the same palette, one index a byte.
        out.palette = image.palette;
        for (uint32_t y = 0; y < image.height; ++y) {
            const uint8_t *row = image.row(y);
            uint8_t *d = out.row(y);
            for (uint32_t x = 0; x < image.width; ++x)
                d[x] = paletteIndex(row, x, image.bitCount);
        }
    } else if (!exactPalette(image, out)) {
        out.palette.clear();
        Status status = quantize(image, b == 0, out);
        if (!status) return status;
    }
    out.xPelsPerMeter = image.xPelsPerMeter;
    out.yPelsPerMeter = image.yPelsPerMeter;
    image = std::move(out);
    return Status::ok();
}

} // namespace imgctl
