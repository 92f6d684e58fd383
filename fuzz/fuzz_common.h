// SPDX-License-Identifier: MIT
// Shared pieces of the fuzz targets: telling the format from the first bytes
// (as loadImage does for a file) and copying an image so that every chain
// starts from the same decoded picture.
#pragma once

#include "core/image.h"
#include "core/ops.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzzing {

inline imgctl::Result<imgctl::Image> decodeAny(const uint8_t *data, size_t size) {
    using namespace imgctl;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') return decodeBmp(data, size);
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return decodeJpeg(data, size);
    static const uint8_t pngSig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && std::memcmp(data, pngSig, 8) == 0) return decodePng(data, size);
    return {Error::NotImage, "not a BMP, JPEG or PNG"};
}

// A deep copy: pixels, palette, the RLE stream and the resolution.
inline bool cloneImage(const imgctl::Image &src, imgctl::Image &dst) {
    dst.width = src.width;
    dst.height = src.height;
    dst.bitCount = src.bitCount;
    dst.stride = src.stride;
    if (!dst.pixels.allocate(src.pixels.size())) return false;
    if (src.pixels.size()) std::memcpy(dst.pixels.data(), src.pixels.data(), src.pixels.size());
    dst.palette = src.palette;
    dst.compression = src.compression;
    dst.rle = src.rle;
    dst.xPelsPerMeter = src.xPelsPerMeter;
    dst.yPelsPerMeter = src.yPelsPerMeter;
    return true;
}

} // namespace fuzzing
