// SPDX-License-Identifier: MIT
// Drawing an image, scaled, onto a caller's 32-bit surface.
//
// The source rectangle is mapped onto the destination rectangle; only the
// part of the destination that lies on the surface is computed. Mode 4 is a
// box filter: each destination pixel is the average of the source area it
// covers, every source pixel weighted by the fraction of it that falls
// inside. Modes 1 to 3 take the source pixel under the destination pixel's
// centre. An image with a profile is drawn in sRGB: each finished row of the
// destination goes through the profile's transform.
#include "colour/transform.h"
#include "core/ops.h"
#include "core/pixel_rows.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <vector>

namespace imgctl {

namespace {

// The visible span [first, last) of a destination range [d, d + length) on a
// surface of `size` pixels, relative to d.
struct Span {
    int64_t first = 0, last = 0;
    bool empty() const { return first >= last; }
};

Span visible(int32_t d, int32_t length, int32_t size) {
    int64_t begin = std::max<int64_t>(d, 0), end = std::min<int64_t>(int64_t{d} + length, size);
    return {begin - d, end - d};
}

// Box-filter weights along one axis: destination pixel i (of dstLength)
// covers source positions [i * srcLength, (i + 1) * srcLength) measured in
// units of 1 / dstLength source pixel, so every weight is a whole number and
// the weights of one destination pixel add up to srcLength.
struct Taps {
    std::vector<uint32_t> start; // per destination pixel, offset into index/weight
    std::vector<uint32_t> index; // source pixel, relative to the rectangle
    std::vector<uint32_t> weight;
};

Taps boxTaps(const Span &span, uint32_t srcLength, uint32_t dstLength) {
    Taps t;
    t.start.reserve(static_cast<size_t>(span.last - span.first) + 1);
    for (int64_t i = span.first; i < span.last; ++i) {
        t.start.push_back(static_cast<uint32_t>(t.index.size()));
        uint64_t lo = static_cast<uint64_t>(i) * srcLength;
        uint64_t hi = lo + srcLength;
        for (uint64_t s = lo / dstLength; s * dstLength < hi; ++s) {
            uint64_t from = std::max(lo, s * dstLength), to = std::min(hi, (s + 1) * dstLength);
            t.index.push_back(static_cast<uint32_t>(s));
            t.weight.push_back(static_cast<uint32_t>(to - from));
        }
    }
    t.start.push_back(static_cast<uint32_t>(t.index.size()));
    return t;
}

// The source pixel (relative to the rectangle) under each visible destination
// pixel's centre.
std::vector<uint32_t> nearestTaps(const Span &span, uint32_t srcLength, uint32_t dstLength) {
    std::vector<uint32_t> taps;
    taps.reserve(static_cast<size_t>(span.last - span.first));
    for (int64_t i = span.first; i < span.last; ++i)
        taps.push_back(static_cast<uint32_t>((static_cast<uint64_t>(2 * i + 1) * srcLength) /
                                             (2ull * dstLength)));
    return taps;
}

inline uint32_t packPixel(uint32_t b, uint32_t g, uint32_t r) {
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

// Checks the arguments a drawing is given.
Status checkDrawing(const Image &image, const ImgctlSurface &surface, int32_t dw, int32_t dh,
                    int32_t sx, int32_t sy, int32_t sw, int32_t sh, uint32_t rop, int32_t mode) {
    if (rop != IMGCTL_SRCCOPY)
        return {Error::BadArgument,
                "raster operation " + std::to_string(rop) + " is not SRCCOPY, the only one drawn"};
    if (mode < 1 || mode > 4)
        return {Error::BadArgument, "stretch mode " + std::to_string(mode) + " is not 1..4"};
    if (!surface.pixels || surface.width <= 0 || surface.height <= 0 ||
        int64_t{surface.stride_bytes} < int64_t{surface.width} * 4 || surface.stride_bytes % 4 != 0)
        return {Error::BadArgument, "the surface has no pixels or a size or stride that does "
                                    "not fit its width"};
    if (dw <= 0 || dh <= 0) return {Error::BadArgument, "the destination rectangle is empty"};
    if (sx < 0 || sy < 0 || sw <= 0 || sh <= 0 || int64_t{sx} + sw > image.width ||
        int64_t{sy} + sh > image.height)
        return {Error::BadArgument, "the source rectangle does not lie inside the " +
                                        std::to_string(image.width) + "x" +
                                        std::to_string(image.height) + " image"};
    return Status::ok();
}

// A drawing's source rectangle, destination size and visible part, and
// where its rows land on the surface.
struct Drawing {
    const ImgctlSurface &surface;
    int32_t dx, dy;
    uint32_t sx, sy, srcW, srcH, dstW, dstH;
    Span cols, rows;

    size_t visibleWidth() const { return static_cast<size_t>(cols.last - cols.first); }
    // Where visible destination row i (from rows.first) starts on the surface.
    uint8_t *surfaceRow(int64_t i) const {
        return reinterpret_cast<uint8_t *>(surface.pixels) +
               static_cast<size_t>(dy + rows.first + i) *
                   static_cast<size_t>(surface.stride_bytes) +
               static_cast<size_t>(dx + cols.first) * 4;
    }
};

// Modes 1 to 3: the source pixel under each destination pixel's centre.
void drawNearest(const BgrRows &reader, const ColourTransform *toSrgb, const Drawing &d) {
    const size_t outW = d.visibleWidth();
    std::vector<uint8_t> line(size_t{3} * d.srcW); // one source row of the rectangle
    std::vector<uint32_t> out(outW);
    const std::vector<uint32_t> xs = nearestTaps(d.cols, d.srcW, d.dstW);
    const std::vector<uint32_t> ys = nearestTaps(d.rows, d.srcH, d.dstH);
    uint32_t loaded = UINT32_MAX;
    for (size_t j = 0; j < ys.size(); ++j) {
        if (ys[j] != loaded) {
            reader.read(d.sy + ys[j], d.sx, d.srcW, line.data());
            loaded = ys[j];
            for (size_t i = 0; i < outW; ++i) {
                const uint8_t *p = &line[size_t{3} * xs[i]];
                out[i] = packPixel(p[0], p[1], p[2]);
            }
            if (toSrgb) toSrgb->applyInPlace(reinterpret_cast<uint8_t *>(out.data()), outW);
        }
        std::memcpy(d.surfaceRow(static_cast<int64_t>(j)), out.data(), outW * 4);
    }
}

// Mode 4, area averaging. A source row is first reduced across to the
// visible destination columns (weights adding up to srcW), then rows are
// summed with their vertical weights (adding up to srcH).
void drawArea(const BgrRows &reader, const ColourTransform *toSrgb, const Drawing &d) {
    const size_t outW = d.visibleWidth();
    std::vector<uint8_t> line(size_t{3} * d.srcW); // one source row of the rectangle
    std::vector<uint32_t> out(outW);
    const Taps tx = boxTaps(d.cols, d.srcW, d.dstW);
    const Taps ty = boxTaps(d.rows, d.srcH, d.dstH);
    std::vector<uint32_t> across(outW * 3); // the last reduced source row
    std::vector<uint64_t> sum(outW * 3);
    const uint64_t total = uint64_t{d.srcW} * d.srcH;
    uint32_t reduced = UINT32_MAX;
    for (size_t j = 0; j + 1 < ty.start.size(); ++j) {
        std::fill(sum.begin(), sum.end(), 0);
        for (uint32_t k = ty.start[j]; k < ty.start[j + 1]; ++k) {
            const uint32_t srcY = ty.index[k];
            if (srcY != reduced) {
                reader.read(d.sy + srcY, d.sx, d.srcW, line.data());
                for (size_t i = 0; i < outW; ++i) {
                    uint32_t b = 0, g = 0, r = 0;
                    for (uint32_t t = tx.start[i]; t < tx.start[i + 1]; ++t) {
                        const uint8_t *p = &line[size_t{3} * tx.index[t]];
                        const uint32_t w = tx.weight[t];
                        b += p[0] * w;
                        g += p[1] * w;
                        r += p[2] * w;
                    }
                    across[3 * i] = b;
                    across[3 * i + 1] = g;
                    across[3 * i + 2] = r;
                }
                reduced = srcY;
            }
            const uint64_t w = ty.weight[k];
            for (size_t i = 0; i < outW * 3; ++i)
                sum[i] += across[i] * w;
        }
        for (size_t i = 0; i < outW; ++i)
            out[i] = packPixel(static_cast<uint32_t>((sum[3 * i] + total / 2) / total),
                               static_cast<uint32_t>((sum[3 * i + 1] + total / 2) / total),
                               static_cast<uint32_t>((sum[3 * i + 2] + total / 2) / total));
        if (toSrgb) toSrgb->applyInPlace(reinterpret_cast<uint8_t *>(out.data()), outW);
        std::memcpy(d.surfaceRow(static_cast<int64_t>(j)), out.data(), outW * 4);
    }
}

} // namespace

Status drawImage(const Image &image, const ImgctlSurface &surface, int32_t dx, int32_t dy,
                 int32_t dw, int32_t dh, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                 uint32_t rop, int32_t mode) {
    if (Status s = checkDrawing(image, surface, dw, dh, sx, sy, sw, sh, rop, mode); !s) return s;
    const Drawing d{surface,
                    dx,
                    dy,
                    static_cast<uint32_t>(sx),
                    static_cast<uint32_t>(sy),
                    static_cast<uint32_t>(sw),
                    static_cast<uint32_t>(sh),
                    static_cast<uint32_t>(dw),
                    static_cast<uint32_t>(dh),
                    visible(dx, dw, surface.width),
                    visible(dy, dh, surface.height)};
    if (d.cols.empty() || d.rows.empty()) return Status::ok();
    // The surface's 0xFFRRGGBB words are B, G, R, A in memory.
    static_assert(std::endian::native == std::endian::little);
    auto toSrgb = ColourTransform::forImage(image, PixelLayout::Bgra);
    if (!toSrgb) return toSrgb.status();
    const BgrRows reader(image);
    if (mode == 4)
        drawArea(reader, toSrgb.value().get(), d);
    else
        drawNearest(reader, toSrgb.value().get(), d);
    return Status::ok();
}

} // namespace imgctl
