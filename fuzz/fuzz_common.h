// SPDX-License-Identifier: MIT
// Shared pieces of the fuzz targets: telling the format from the first bytes
// (as loadImage does for a file), and the tuning record they run with, every
// threshold lowered so that small inputs take every fast path.
#pragma once

#include "core/image.h"
#include "core/ops.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzzing {

inline const imgctl::Tuning &tuning() {
    static const imgctl::Tuning everyPath = imgctl::Tuning::everyPath();
    return everyPath;
}

inline imgctl::Result<imgctl::Image> decodeAny(const uint8_t *data, size_t size) {
    using namespace imgctl;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') return decodeBmp(data, size, tuning());
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return decodeJpeg(data, size);
    static const uint8_t pngSig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && std::memcmp(data, pngSig, 8) == 0) return decodePng(data, size, tuning());
    return {Error::NotImage, "not a BMP, JPEG or PNG"};
}

} // namespace fuzzing
