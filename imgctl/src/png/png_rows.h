// SPDX-License-Identifier: MIT
// The rows of a PNG file as the writer makes them from an image: the colour
// type chosen without loss, each row in the file's byte layout, and the
// order of the rows (for Adam7, the rows of its seven passes one after the
// other).
#pragma once

#include "core/image.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace imgctl {

// The IHDR colour types.
constexpr int kGray = 0, kRgb = 2, kPalette = 3, kRgba = 6;

enum class RowKind {
    Bgr,     // 24-bit: B, G, R to R, G, B
    Bgra,    // 32-bit with alpha: B, G, R, A to R, G, B, A
    Bgrx,    // 32-bit opaque: B, G, R, A to R, G, B
    Rgb555,  // 16-bit to 8-bit R, G, B
    Indices, // palette indices repacked to the file's bit depth
};

struct Layout {
    int colorType = kRgb;
    int bitDepth = 8;
    RowKind kind = RowKind::Bgr;
    size_t rowBytes = 0; // one row of the file, without its filter byte
    unsigned bpp = 3;    // filter distance: bytes per pixel, at least 1
};

// The colour type and depth the image is written with, without loss: a
// palette image as a palette PNG of 1, 2, 4 or 8 bits by palette size, or
// as gray when its palette is exactly the gray ramp of that depth; 16 and
// 24-bit as RGB, 32-bit as RGBA, or RGB when every pixel is opaque.
Layout chooseLayout(const Image &image);

// Makes the file's rows from the image's rows. Const: threads share one.
class PngRows {
  public:
    PngRows(const Image &image, const Layout &layout);
    // Writes row y as the file holds it (layout.rowBytes bytes) to out.
    void make(uint32_t y, uint8_t *out) const;

  private:
    void indices(const uint8_t *s, uint8_t *out) const;

    const Image &image_;
    const Layout &layout_;
    unsigned maxIndex_ = 0;
    bool indicesSafe_ = true;
};

// The file's rows in order: every row once, or the seven Adam7 passes, each
// over the sub-image of the pixels it picks (passes with no pixels left out).
class RowSequence {
  public:
    RowSequence(const Image &image, const Layout &layout, const PngRows &rows, bool interlaced);

    uint32_t count() const { return count_; }
    // Bytes of the longest row.
    size_t maxRowBytes() const { return full_; }
    // True when row r is the first of its pass (its filters see zeros above).
    bool startsPass(uint32_t r) const { return locate(r).first == r; }
    // Writes row r to out and returns its byte count. scratch holds a full
    // image row.
    size_t make(uint32_t r, uint8_t *out, uint8_t *scratch) const;

  private:
    struct Pass {
        uint32_t x0, y0, dx, dy, width, height;
        size_t rowBytes;
        uint32_t first; // index of its first row in the file
    };

    const Pass &locate(uint32_t r) const {
        size_t i = 0;
        while (i + 1 < passes_.size() && r >= passes_[i + 1].first)
            ++i;
        return passes_[i];
    }

    const PngRows &rows_;
    size_t full_;
    unsigned pixelBits_ = 8;
    std::vector<Pass> passes_;
    uint32_t count_ = 0;
    bool interlaced_ = false;
};

} // namespace imgctl
