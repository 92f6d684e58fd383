// SPDX-License-Identifier: MIT
// Depth conversions to 24 and 16 bits, and moving colours toward gray.
//
// Every conversion builds the new pixels in a fresh buffer and swaps it in
// only when it is complete, so a failure leaves the image as it was. The
// exceptions are 32 to 24 bits and 24 to 16 bits, done in place (the pixels
// only shrink) because they cannot fail once started; they need no second
// buffer, which keeps the peak memory of a large photograph down.
// A 16-bit image is always sRGB: an image with a profile is converted to
// sRGB, row by row, on its way down.
#include "colour/transform.h"
#include "core/bytes.h"
#include "core/ops.h"
#include "core/pixel_rows.h"

#include <array>
#include <string>
#include <vector>

namespace imgctl {

namespace {

// Replaces image's pixels with out's, keeping the resolution, colour space
// and metadata. The result is never compressed: the run-length stream only
// describes palette indices.
void adopt(Image &image, Image &&out) {
    keepDescription(image, out);
    image = std::move(out);
}

// 32-bit B, G, R, A to 24-bit B, G, R over white, in the same buffer. Each
// pixel is read before anything is written at or past it, since the new rows
// are shorter and start no later than the old ones.
void shrink32To24(Image &image) {
    const size_t oldStride = image.stride;
    const size_t newStride = strideFor(image.width, 24);
    uint8_t *base = image.pixels.data();
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t *src = base + size_t{y} * oldStride;
        uint8_t *dst = base + size_t{y} * newStride;
        for (uint32_t x = 0; x < image.width; ++x, src += 4, dst += 3) {
            uint32_t b = src[0], g = src[1], r = src[2], a = src[3];
            if (a != 255) {
                b = overWhite(b, a);
                g = overWhite(g, a);
                r = overWhite(r, a);
            }
            dst[0] = static_cast<uint8_t>(b);
            dst[1] = static_cast<uint8_t>(g);
            dst[2] = static_cast<uint8_t>(r);
        }
    }
    image.stride = newStride;
    image.bitCount = 24;
}

// Luminance 0.299 R + 0.587 G + 0.114 B in 16-bit fixed point (the weights
// add up to exactly 65536, so a gray colour keeps its value), rounded.
inline uint32_t luminance(uint32_t r, uint32_t g, uint32_t b) {
    return (19595 * r + 38470 * g + 7471 * b + 32768) >> 16;
}

// Moves colours toward their luminance by level / 255:
// c' = round((c * (255 - level) + Y * level) / 255).
class GrayMixer {
  public:
    explicit GrayMixer(int level) {
        for (uint32_t v = 0; v < 256; ++v) {
            keep_[v] = v * static_cast<uint32_t>(255 - level);
            toward_[v] = v * static_cast<uint32_t>(level);
        }
    }
    void mix(uint8_t &b, uint8_t &g, uint8_t &r) const {
        uint32_t y = toward_[luminance(r, g, b)];
        b = static_cast<uint8_t>(div255(keep_[b] + y));
        g = static_cast<uint8_t>(div255(keep_[g] + y));
        r = static_cast<uint8_t>(div255(keep_[r] + y));
    }

  private:
    std::array<uint32_t, 256> keep_, toward_;
};

} // namespace

Status convertTo24(Image &image) {
    if (image.bitCount == 24) return Status::ok();
    if (image.bitCount == 32) {
        shrink32To24(image);
        return Status::ok();
    }
    Result<Image> made = makeImage(image.width, image.height, 24);
    if (!made) return made.status();
    Image out = std::move(made).value();
    BgrRows rows(image);
    for (uint32_t y = 0; y < image.height; ++y)
        rows.read(y, 0, image.width, out.row(y));
    adopt(image, std::move(out));
    return Status::ok();
}

Status convertTo16(Image &image, int32_t flag) {
    if (flag != 0 && flag != 1)
        return {Error::BadArgument,
                "the 16-bit flag is 1 (round) or 0 (truncate), not " + std::to_string(flag)};
    if (image.bitCount == 16) return Status::ok();
    auto toSrgb = ColourTransform::forImage(image, PixelLayout::Bgr);
    if (!toSrgb) return toSrgb.status();
    const ColourTransform *transform = toSrgb.value().get();

    // Each channel's 5-bit field already shifted into place.
    std::array<uint16_t, 256> blue{}, green{}, red{};
    for (uint32_t c = 0; c < 256; ++c) {
        uint32_t level = flag == 1 ? nearestFive(c) : c >> 3;
        blue[c] = static_cast<uint16_t>(level);
        green[c] = static_cast<uint16_t>(level << 5);
        red[c] = static_cast<uint16_t>(level << 10);
    }

    if (image.bitCount == 24) {
        // In place, as 32 to 24 bits: each 3-byte pixel is read before its
        // 2 bytes are written at or before it.
        const size_t newStride = strideFor(image.width, 16);
        uint8_t *base = image.pixels.data();
        std::vector<uint8_t> converted(transform ? size_t{3} * image.width : 0);
        for (uint32_t y = 0; y < image.height; ++y) {
            const uint8_t *s = base + size_t{y} * image.stride;
            uint8_t *d = base + size_t{y} * newStride;
            if (transform) {
                transform->apply(s, converted.data(), image.width);
                s = converted.data();
            }
            for (uint32_t x = 0; x < image.width; ++x, s += 3, d += 2) {
                storeLe16(d, blue[s[0]] | green[s[1]] | red[s[2]]);
            }
        }
        image.stride = newStride;
        image.bitCount = 16;
        if (transform) image.colour = {ColourKind::Srgb, nullptr};
        return Status::ok();
    }

    Result<Image> made = makeImage(image.width, image.height, 16);
    if (!made) return made.status();
    Image out = std::move(made).value();
    BgrRows rows(image, transform);
    std::vector<uint8_t> scratch(size_t{3} * image.width);
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t *s = rows.row(y, scratch.data());
        uint8_t *d = out.row(y);
        for (uint32_t x = 0; x < image.width; ++x, s += 3, d += 2) {
            storeLe16(d, blue[s[0]] | green[s[1]] | red[s[2]]);
        }
    }
    adopt(image, std::move(out));
    if (transform) image.colour = {ColourKind::Srgb, nullptr};
    return Status::ok();
}

Status grayImage(Image &image, int level) {
    if (level < 0 || level > 255)
        return {Error::BadArgument, "gray level " + std::to_string(level) + " is not 0..255"};
    if (level == 0) return Status::ok();
    GrayMixer mixer(level);

    if (image.isPalette()) {
        // Only the colours change: the indices, and so any run-length
        // stream, stay valid.
        for (PaletteEntry &e : image.palette)
            mixer.mix(e.b, e.g, e.r);
        return Status::ok();
    }

    if (image.bitCount == 16) {
        // Every 5-5-5 value mapped once, then the pixels looked up.
        std::vector<uint16_t> table(32768);
        for (uint32_t v = 0; v < 32768; ++v) {
            uint8_t b = kFiveToEight[v & 31], g = kFiveToEight[(v >> 5) & 31],
                    r = kFiveToEight[(v >> 10) & 31];
            mixer.mix(b, g, r);
            table[v] = static_cast<uint16_t>(nearestFive(b) | (nearestFive(g) << 5) |
                                             (nearestFive(r) << 10));
        }
        for (uint32_t y = 0; y < image.height; ++y) {
            uint8_t *p = image.row(y);
            for (uint32_t x = 0; x < image.width; ++x, p += 2) {
                storeLe16(p, table[loadLe16(p) & 0x7FFF]);
            }
        }
        return Status::ok();
    }

    // 24 or 32 bits; alpha stays as it is.
    const size_t step = image.bitCount / 8;
    for (uint32_t y = 0; y < image.height; ++y) {
        uint8_t *p = image.row(y);
        for (uint32_t x = 0; x < image.width; ++x, p += step)
            mixer.mix(p[0], p[1], p[2]);
    }
    return Status::ok();
}

} // namespace imgctl
