// SPDX-License-Identifier: MIT
#include "png/png_rows.h"

#include "core/bytes.h"
#include "core/pixels.h"

#include <algorithm>
#include <cstring>

namespace imgctl {
namespace {

// Bits per index needed for a palette of n entries.
int depthForPalette(size_t n) {
    if (n <= 2) return 1;
    if (n <= 4) return 2;
    if (n <= 16) return 4;
    return 8;
}

} // namespace

Layout chooseLayout(const Image &image) {
    Layout l;
    if (image.isPalette()) {
        l.kind = RowKind::Indices;
        l.bitDepth = depthForPalette(image.palette.size());
        // Gray when the palette is the full gray ramp of that depth.
        const bool gray =
            image.palette.size() == (size_t{1} << l.bitDepth) && isGrayRamp(image.palette);
        l.colorType = gray ? kGray : kPalette;
        l.bpp = 1;
    } else if (image.bitCount == 16) {
        l.kind = RowKind::Rgb555;
    } else if (image.bitCount == 32) {
        if (hasTransparency(image)) {
            l.colorType = kRgba;
            l.kind = RowKind::Bgra;
            l.bpp = 4;
        } else {
            l.kind = RowKind::Bgrx;
        }
    }
    const int channels = l.colorType == kRgb ? 3 : l.colorType == kRgba ? 4 : 1;
    l.rowBytes = static_cast<size_t>((uint64_t{image.width} * channels * l.bitDepth + 7) / 8);
    return l;
}

PngRows::PngRows(const Image &image, const Layout &layout) : image_(image), layout_(layout) {
    maxIndex_ = image.palette.empty() ? 0 : static_cast<unsigned>(image.palette.size() - 1);
    // Indices never pass the palette when it has every entry the depth
    // can name; otherwise each row is checked and clamped.
    indicesSafe_ = !image.isPalette() || maxIndex_ + 1 >= (1u << image.bitCount);
}

void PngRows::make(uint32_t y, uint8_t *out) const {
    const uint8_t *s = image_.row(y);
    const uint32_t w = image_.width;
    switch (layout_.kind) {
    case RowKind::Bgr:
        for (uint32_t x = 0; x < w; ++x, s += 3, out += 3) {
            out[0] = s[2];
            out[1] = s[1];
            out[2] = s[0];
        }
        break;
    case RowKind::Bgra:
        for (uint32_t x = 0; x < w; ++x, s += 4, out += 4) {
            out[0] = s[2];
            out[1] = s[1];
            out[2] = s[0];
            out[3] = s[3];
        }
        break;
    case RowKind::Bgrx:
        for (uint32_t x = 0; x < w; ++x, s += 4, out += 3) {
            out[0] = s[2];
            out[1] = s[1];
            out[2] = s[0];
        }
        break;
    case RowKind::Rgb555:
        for (uint32_t x = 0; x < w; ++x, s += 2, out += 3) {
            const unsigned v = loadLe16(s);
            out[0] = kFiveToEight[(v >> 10) & 31];
            out[1] = kFiveToEight[(v >> 5) & 31];
            out[2] = kFiveToEight[v & 31];
        }
        break;
    case RowKind::Indices:
        indices(s, out);
        break;
    }
}

void PngRows::indices(const uint8_t *s, uint8_t *out) const {
    const int depth = layout_.bitDepth;
    const uint16_t bits = image_.bitCount;
    const uint32_t w = image_.width;
    const size_t bytes = layout_.rowBytes;
    bool inRange = indicesSafe_;
    if (!inRange) {
        inRange = true;
        for (uint32_t x = 0; x < w && inRange; ++x)
            inRange = paletteIndex(s, x, bits) <= maxIndex_;
    }
    if (depth == bits && inRange) {
        // Same packing: copy, clearing the unused low bits of a last
        // partial byte.
        std::memcpy(out, s, bytes);
        unsigned tail = static_cast<unsigned>((uint64_t{w} * depth) % 8);
        if (tail) out[bytes - 1] &= static_cast<uint8_t>(0xFF00u >> tail);
        return;
    }
    std::memset(out, 0, bytes);
    const unsigned perByte = 8 / depth;
    for (uint32_t x = 0; x < w; ++x) {
        unsigned v = std::min<unsigned>(paletteIndex(s, x, bits), maxIndex_);
        unsigned shift = 8 - depth * (x % perByte + 1);
        out[x / perByte] |= static_cast<uint8_t>(v << shift);
    }
}

RowSequence::RowSequence(const Image &image, const Layout &layout, const PngRows &rows,
                         bool interlaced)
    : rows_(rows), full_(layout.rowBytes) {
    pixelBits_ = layout.bitDepth * (layout.colorType == kRgb    ? 3
                                    : layout.colorType == kRgba ? 4
                                                                : 1);
    static const uint32_t adam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                         {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    static const uint32_t whole[1][4] = {{0, 0, 1, 1}};
    const auto &table = interlaced ? adam7 : whole;
    const int n = interlaced ? 7 : 1;
    uint32_t first = 0;
    for (int i = 0; i < n; ++i) {
        Pass p{table[i][0], table[i][1], table[i][2], table[i][3], 0, 0, 0, first};
        p.width = image.width > p.x0 ? (image.width - p.x0 + p.dx - 1) / p.dx : 0;
        p.height = image.height > p.y0 ? (image.height - p.y0 + p.dy - 1) / p.dy : 0;
        if (p.width == 0 || p.height == 0) continue;
        p.rowBytes = static_cast<size_t>((uint64_t{p.width} * pixelBits_ + 7) / 8);
        passes_.push_back(p);
        first += p.height;
    }
    count_ = first;
    interlaced_ = interlaced;
}

size_t RowSequence::make(uint32_t r, uint8_t *out, uint8_t *scratch) const {
    const Pass &p = locate(r);
    const uint32_t y = p.y0 + (r - p.first) * p.dy;
    if (!interlaced_) {
        rows_.make(y, out);
        return p.rowBytes;
    }
    rows_.make(y, scratch);
    if (pixelBits_ >= 8) {
        const size_t b = pixelBits_ / 8;
        for (uint32_t k = 0; k < p.width; ++k)
            std::memcpy(out + k * b, scratch + size_t{p.x0 + k * p.dx} * b, b);
    } else {
        const unsigned d = pixelBits_, mask = (1u << d) - 1;
        std::memset(out, 0, p.rowBytes);
        for (uint32_t k = 0; k < p.width; ++k) {
            const uint64_t from = uint64_t{p.x0 + k * p.dx} * d, to = uint64_t{k} * d;
            unsigned v = (scratch[from / 8] >> (8 - d - from % 8)) & mask;
            out[to / 8] |= static_cast<uint8_t>(v << (8 - d - to % 8));
        }
    }
    return p.rowBytes;
}

} // namespace imgctl
