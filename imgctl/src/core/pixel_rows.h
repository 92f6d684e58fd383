// SPDX-License-Identifier: MIT
// Reading any image's pixels as 8-bit B, G, R triples, alpha composited over
// white, and converted to sRGB when a transform is given. The depth is looked
// at once per row, never per pixel.
#pragma once

#include "colour/transform.h"
#include "core/bytes.h"
#include "core/image.h"
#include "core/pixels.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace imgctl {

// Reads rows of an image as B, G, R. Holds a reference to the image (and to
// the transform), which must outlive it. Reading is const and may run on
// several threads at once. toSrgb, when given, is a Bgr transform of the
// image's profile (ColourTransform::forImage), applied after compositing.
class BgrRows {
  public:
    explicit BgrRows(const Image &image, const ColourTransform *toSrgb = nullptr)
        : image_(image), toSrgb_(toSrgb) {
        // Indices past the palette's end read as black.
        palette_.fill(0);
        if (image.isPalette()) {
            size_t n = std::min<size_t>(image.palette.size(), 256);
            for (size_t i = 0; i < n; ++i) {
                const PaletteEntry e = overWhite(image.palette[i]);
                palette_[3 * i] = e.b;
                palette_[3 * i + 1] = e.g;
                palette_[3 * i + 2] = e.r;
            }
        }
    }

    // Writes pixels x0 .. x0 + count - 1 of row y to out as B, G, R.
    void read(uint32_t y, uint32_t x0, uint32_t count, uint8_t *out) const {
        readStored(y, x0, count, out);
        if (toSrgb_) toSrgb_->applyInPlace(out, count);
    }

    // The whole of row y as B, G, R: the image's own row when it is 24-bit
    // and needs no transform, otherwise scratch (3 * width bytes) filled with it.
    const uint8_t *row(uint32_t y, uint8_t *scratch) const {
        if (image_.bitCount == 24 && !toSrgb_) return image_.row(y);
        read(y, 0, image_.width, scratch);
        return scratch;
    }

  private:
    void readStored(uint32_t y, uint32_t x0, uint32_t count, uint8_t *out) const {
        const uint8_t *row = image_.row(y);
        const uint32_t end = x0 + count;
        switch (image_.bitCount) {
        case 1:
            for (uint32_t x = x0; x < end; ++x, out += 3)
                putIndex(out, (row[x >> 3] >> (7 - (x & 7))) & 1);
            break;
        case 4:
            for (uint32_t x = x0; x < end; ++x, out += 3)
                putIndex(out, (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15);
            break;
        case 8:
            for (uint32_t x = x0; x < end; ++x, out += 3)
                putIndex(out, row[x]);
            break;
        case 16:
            for (uint32_t x = x0; x < end; ++x, out += 3) {
                const uint32_t v = loadLe16(row + 2 * x);
                out[0] = kFiveToEight[v & 31];
                out[1] = kFiveToEight[(v >> 5) & 31];
                out[2] = kFiveToEight[(v >> 10) & 31];
            }
            break;
        case 24:
            std::memcpy(out, row + size_t{3} * x0, size_t{3} * count);
            break;
        default: // 32
            for (uint32_t x = x0; x < end; ++x, out += 3) {
                const uint8_t *p = row + size_t{4} * x;
                uint32_t a = p[3];
                if (a == 255) {
                    out[0] = p[0];
                    out[1] = p[1];
                    out[2] = p[2];
                } else {
                    out[0] = overWhite(p[0], a);
                    out[1] = overWhite(p[1], a);
                    out[2] = overWhite(p[2], a);
                }
            }
            break;
        }
    }

    void putIndex(uint8_t *out, uint32_t index) const { std::memcpy(out, &palette_[3 * index], 3); }

    const Image &image_;
    const ColourTransform *toSrgb_;
    std::array<uint8_t, 256 * 3> palette_;
};

} // namespace imgctl
