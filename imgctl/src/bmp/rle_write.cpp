// SPDX-License-Identifier: MIT
// Writing RLE8 / RLE4 streams, and switching an image between its compressed
// and expanded forms.
#include "core/ops.h"

#include <algorithm>
#include <string>

namespace imgctl {
namespace {

constexpr size_t kMaxRun = 255;

// Pixel indices of one row, one byte per pixel.
void unpackRow(const Image &image, uint32_t y, std::vector<uint8_t> &out) {
    const uint8_t *row = image.row(y);
    out.resize(image.width);
    if (image.bitCount == 8) {
        std::copy(row, row + image.width, out.begin());
    } else {
        for (uint32_t x = 0; x < image.width; ++x)
            out[x] = paletteIndex(row, x, 4);
    }
}

// Length of the encoded run starting at i. RLE8: equal pixels. RLE4: pixels
// alternating between the first two (equal pixels included).
size_t runLength(const std::vector<uint8_t> &p, size_t i, bool four) {
    size_t n = p.size();
    size_t len = 1;
    if (!four) {
        while (i + len < n && len < kMaxRun && p[i + len] == p[i])
            ++len;
    } else {
        if (i + 1 < n) len = 2;
        while (i + len < n && len < kMaxRun && p[i + len] == p[i + (len & 1)])
            ++len;
    }
    return len;
}

void encodeRow(const std::vector<uint8_t> &p, bool four, std::vector<uint8_t> &out) {
    // A run shorter than this is cheaper inside an absolute block.
    const size_t worthRun = four ? 4 : 3;
    size_t n = p.size();
    size_t i = 0;
    while (i < n) {
        size_t run = runLength(p, i, four);
        if (run >= worthRun || run == n - i) {
            out.push_back(static_cast<uint8_t>(run));
            out.push_back(four ? static_cast<uint8_t>((p[i] << 4) | p[std::min(i + 1, n - 1)])
                               : p[i]);
            i += run;
            continue;
        }
        // Gather literal pixels until a worthwhile run starts.
        size_t j = i;
        while (j < n && j - i < kMaxRun && runLength(p, j, four) < worthRun)
            ++j;
        if (j == i) j = i + 1;
        size_t len = j - i;
        if (len < 3) {
            // Absolute mode needs at least 3 pixels: write short runs instead.
            for (size_t k = i; k < j; ++k) {
                out.push_back(1);
                out.push_back(four ? static_cast<uint8_t>(p[k] << 4) : p[k]);
            }
        } else {
            out.push_back(0);
            out.push_back(static_cast<uint8_t>(len));
            size_t bytes = 0;
            if (four) {
                for (size_t k = i; k < j; k += 2, ++bytes)
                    out.push_back(static_cast<uint8_t>((p[k] << 4) | (k + 1 < j ? p[k + 1] : 0)));
            } else {
                out.insert(out.end(), p.begin() + static_cast<ptrdiff_t>(i),
                           p.begin() + static_cast<ptrdiff_t>(j));
                bytes = len;
            }
            if (bytes & 1) out.push_back(0); // absolute runs end on a 16-bit boundary
        }
        i = j;
    }
}

} // namespace

std::vector<uint8_t> encodeRle(const Image &image) {
    const bool four = image.bitCount == 4;
    std::vector<uint8_t> out;
    out.reserve(size_t{image.height} * 4 + image.width / 2);
    std::vector<uint8_t> pixels;
    // BMP rows are stored bottom-up.
    for (uint32_t y = image.height; y-- > 0;) {
        unpackRow(image, y, pixels);
        encodeRow(pixels, four, out);
        out.push_back(0); // end of line
        out.push_back(0);
    }
    out.push_back(0); // end of bitmap
    out.push_back(1);
    return out;
}

Status expandRle(Image &image) {
    // The pixels already hold the expanded indices.
    image.compression = Compression::None;
    image.rle.clear();
    image.rle.shrink_to_fit();
    return Status::ok();
}

Status compressRle(Image &image) {
    if (image.bitCount != 8 && image.bitCount != 4)
        return {Error::BadArgument, "run-length coding needs a 4 or 8-bit image, not " +
                                        std::to_string(image.bitCount) + "-bit"};
    if (image.compression != Compression::None) return Status::ok();
    std::vector<uint8_t> stream = encodeRle(image);
    image.rle = std::move(stream);
    image.compression = image.bitCount == 8 ? Compression::Rle8 : Compression::Rle4;
    return Status::ok();
}

} // namespace imgctl
