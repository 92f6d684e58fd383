// SPDX-License-Identifier: MIT
// Reading fields out of the bytes of a written file, for tests that check
// what a BMP, JPEG or PNG file says about itself. Every access is
// bounds-checked (std::vector::at), so a short file fails the test instead of
// reading past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

inline uint32_t le16(const std::vector<uint8_t> &d, size_t at) {
    return d.at(at) | (d.at(at + 1) << 8);
}
inline uint32_t le32(const std::vector<uint8_t> &d, size_t at) {
    return le16(d, at) | (le16(d, at + 2) << 16);
}
inline uint32_t be16(const std::vector<uint8_t> &d, size_t at) {
    return (d.at(at) << 8) | d.at(at + 1);
}
inline uint32_t be32(const std::vector<uint8_t> &d, size_t at) {
    return (be16(d, at) << 16) | be16(d, at + 2);
}

// Offset of the FF byte of the first JPEG segment with this marker, looking
// no further than the first scan's header; 0 when there is none.
inline size_t jpegSegment(const std::vector<uint8_t> &f, uint8_t marker) {
    size_t at = 2;
    while (at + 4 <= f.size() && f[at] == 0xFF) {
        if (f[at + 1] == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (f[at + 1] == marker) return at;
        if (f[at + 1] == 0xDA) break;
        at += 2 + be16(f, at + 2);
    }
    return 0;
}

// The frame marker of a JPEG file (0xC0 baseline, 0xC2 progressive, ...), or
// -1.
inline int jpegFrame(const std::vector<uint8_t> &f) {
    for (int marker = 0xC0; marker <= 0xCF; ++marker)
        if (marker != 0xC4 && marker != 0xC8 && marker != 0xCC &&
            jpegSegment(f, static_cast<uint8_t>(marker)))
            return marker;
    return -1;
}

// The first chunk of each type in a PNG file: offset of its data, length.
inline std::map<std::string, std::pair<size_t, uint32_t>> pngChunks(const std::vector<uint8_t> &f) {
    std::map<std::string, std::pair<size_t, uint32_t>> chunks;
    for (size_t at = 8; at + 12 <= f.size(); at += 12 + size_t{be32(f, at)}) {
        std::string type(f.begin() + long(at) + 4, f.begin() + long(at) + 8);
        chunks.try_emplace(type, at + 8, be32(f, at));
    }
    return chunks;
}

} // namespace testing_support
