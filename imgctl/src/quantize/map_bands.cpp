// SPDX-License-Identifier: MIT
// The quantizer's mapping; its contract is in map_bands.h.
#include "quantize/map_bands.h"

#include "core/parallel.h"
#include "quantize/nearest_search.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>

namespace imgctl {
namespace {

// The nearest palette index for every cell of a grid of Bits bits a channel,
// found on first use for the cell's centre. An entry holds the index in its
// low byte and, for the dithering grid, the colour itself above it (B, G, R
// from bit 8 up), which spares error diffusion a second dependent load.
// The parts of an image share one grid: a cell filled twice at once gets the
// same value both times, so relaxed loads and stores are enough.
template <int Bits, class Entry> class MapCache {
  public:
    MapCache(const std::vector<std::array<int, 3>> &doubled,
             const std::vector<PaletteEntry> &palette)
        : search_(doubled), palette_(palette), index_(size_t{1} << (3 * Bits)) {
        for (std::atomic<Entry> &e : index_)
            e.store(kUnknown, std::memory_order_relaxed);
    }

    static constexpr bool kWithColour = sizeof(Entry) == 4;

    uint32_t operator()(uint32_t b, uint32_t g, uint32_t r) {
        const uint32_t cell =
            ((r >> kShift) << (2 * Bits)) | ((g >> kShift) << Bits) | (b >> kShift);
        const uint32_t v = index_[cell].load(std::memory_order_relaxed);
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
        index_[cell].store(static_cast<Entry>(v), std::memory_order_relaxed);
        return v;
    }

    NearestSearch<int> search_;
    const std::vector<PaletteEntry> &palette_;
    std::vector<std::atomic<Entry>> index_;
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

} // namespace

void mapToPalette(const BgrRows &rows, const std::vector<std::array<int, 3>> &doubled,
                  const ExactColours *exact, bool dither, const Tuning &tuning, Image &out) {
    const uint32_t width = out.width, height = out.height;
    // The image is cut into parts: two halves for a large image, else one;
    // and for dithering each part into two bands, run in lockstep. Error
    // diffusion starts afresh at each band's first row.
    const bool halves = uint64_t{width} * height >= tuning.quantizeThreadsMinPixels && height >= 2;
    const int parts = halves ? 2 : 1;
    const int perPart = dither && height >= 64 ? 2 : 1;
    const int bandCount = parts * perPart;
    const size_t errorRow = size_t{3} * (width + 2);
    std::vector<int32_t> errors(dither ? 2 * errorRow * bandCount : 0);
    std::vector<uint8_t> bandScratch(size_t{3} * width * static_cast<size_t>(bandCount));
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
        b.scratch = bandScratch.data() + size_t{3} * width * static_cast<size_t>(i);
    }
    // Later bands are never shorter; lockstep wants the taller one first.
    for (int p = 0; p < parts && perPart == 2; ++p)
        std::swap(bands[static_cast<size_t>(2 * p)], bands[static_cast<size_t>(2 * p + 1)]);

    // Everything the parts need is allocated before any thread starts.
    std::optional<PlainCache> plain;
    std::optional<DitherCache> dithering;
    if (dither)
        dithering.emplace(doubled, out.palette);
    else if (!exact)
        plain.emplace(doubled, out.palette);
    runParallel(static_cast<unsigned>(parts), tuning, [&](unsigned p) {
        DitherBand *mine = bands.data() + perPart * p;
        if (dither) {
            ditherBands(rows, *dithering, out, mine, perPart);
            return;
        }
        const uint32_t y0 = mine->y0, y1 = mine->y0 + mine->rows;
        if (exact)
            exact->mapRows(rows, out, y0, y1, mine->scratch);
        else
            mapRows(rows, *plain, out, y0, y1, mine->scratch);
    });
}

} // namespace imgctl
