// SPDX-License-Identifier: MIT
// Small files whose headers claim huge pictures, built byte by byte so that
// the limit tests and the limit measurements use the very same inputs and
// need no encoder: a baseline JPEG of all-zero blocks, a PNG around a given
// IDAT payload, a BMP with a given header and pixel bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>
#include <zlib.h>

namespace hostile {

using Bytes = std::vector<uint8_t>;

// The low n bytes of v, most or least significant first.
inline void putBe(Bytes &b, uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i)
        b.push_back(uint8_t(v >> 8 * i));
}
inline void putLe(Bytes &b, uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
        b.push_back(uint8_t(v >> 8 * i));
}

// A baseline JPEG of `components` (1 or 3) components, all sampled 1x1,
// whose every block is flat gray: one DC code and one AC code, both "0",
// so a block is two zero bits. `scanBytes` bytes of scan data follow.
inline Bytes jpeg(uint16_t width, uint16_t height, int components, size_t scanBytes) {
    Bytes b = {0xFF, 0xD8, 0xFF, 0xDB, 0, 67, 0}; // 8-bit quantisation table 0
    b.insert(b.end(), 64, 1);
    b.insert(b.end(), {0xFF, 0xC0, 0, uint8_t(8 + 3 * components), 8});
    putBe(b, height, 2);
    putBe(b, width, 2);
    b.push_back(uint8_t(components));
    for (int c = 0; c < components; ++c)
        b.insert(b.end(), {uint8_t(c + 1), 0x11, 0});
    for (uint8_t cls : {0x00, 0x10}) { // DC table 0, AC table 0: one symbol, code length 1
        b.insert(b.end(), {0xFF, 0xC4, 0, 2 + 1 + 16 + 1, cls, 1});
        b.insert(b.end(), 16, 0);
    }
    b.insert(b.end(), {0xFF, 0xDA, 0, uint8_t(6 + 2 * components), uint8_t(components)});
    for (int c = 0; c < components; ++c)
        b.insert(b.end(), {uint8_t(c + 1), 0x00});
    b.insert(b.end(), {0, 63, 0});
    b.insert(b.end(), scanBytes, 0);
    b.insert(b.end(), {0xFF, 0xD9});
    return b;
}

inline void pngChunk(Bytes &b, const char type[4], const Bytes &data) {
    putBe(b, uint32_t(data.size()), 4);
    size_t start = b.size();
    b.insert(b.end(), type, type + 4);
    b.insert(b.end(), data.begin(), data.end());
    putBe(b, uint32_t(crc32(0, b.data() + start, uInt(b.size() - start))), 4);
}

// A PNG of 8-bit samples (colourType 0 gray, 2 RGB, 6 RGBA) whose IDAT holds
// `idat` as it is.
inline Bytes png(uint32_t width, uint32_t height, uint8_t colourType, const Bytes &idat) {
    Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    putBe(ihdr, width, 4);
    putBe(ihdr, height, 4);
    ihdr.insert(ihdr.end(), {8, colourType, 0, 0, 0});
    pngChunk(b, "IHDR", ihdr);
    pngChunk(b, "IDAT", idat);
    pngChunk(b, "IEND", {});
    return b;
}

// A zlib stream of stored blocks holding `raw` (no compression).
inline Bytes zlibStored(const Bytes &raw) {
    Bytes z = {0x78, 0x01};
    size_t pos = 0;
    do {
        size_t n = std::min<size_t>(raw.size() - pos, 65535);
        z.push_back(pos + n == raw.size() ? 1 : 0);
        putLe(z, uint32_t(n), 2);
        putLe(z, uint32_t(~n & 0xFFFF), 2);
        z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
        pos += n;
    } while (pos < raw.size());
    putBe(z, uint32_t(adler32(1, raw.data(), uInt(raw.size()))), 4);
    return z;
}

// A BMP's fields: masks go inside a header longer than 40 bytes, after a
// 40-byte one; the palette (`colors`, 0x00RRGGBB) comes before the pixels.
struct Bmp {
    uint32_t infoSize = 40;
    int32_t width = 1, height = 1;
    uint16_t planes = 1, bits = 24;
    uint32_t compression = 0, clrUsed = 0;
    std::vector<uint32_t> masks, colors;
    Bytes pixels;
};

inline Bytes bmp(const Bmp &s) {
    const size_t headers = 14 + s.infoSize + (s.infoSize == 40 ? 4 * s.masks.size() : 0);
    const auto off = uint32_t(headers + 4 * s.colors.size());
    Bytes b = {'B', 'M'};
    for (uint32_t x : {off + uint32_t(s.pixels.size()), 0u, off, s.infoSize, uint32_t(s.width),
                       uint32_t(s.height), s.planes | uint32_t{s.bits} << 16, s.compression,
                       uint32_t(s.pixels.size()), 2835u, 2835u, s.clrUsed, 0u})
        putLe(b, x, 4);
    for (uint32_t m : s.masks)
        putLe(b, m, 4);
    b.resize(headers);
    for (uint32_t c : s.colors)
        putLe(b, c, 4);
    b.insert(b.end(), s.pixels.begin(), s.pixels.end());
    return b;
}

// One with a 40-byte info header and a gray palette of `paletteEntries`.
inline Bytes bmp(int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                 uint32_t paletteEntries, const Bytes &pixels) {
    Bmp s{40, width, height, 1, bits, compression, paletteEntries, {}, {}, pixels};
    for (uint32_t i = 0; i < paletteEntries; ++i)
        s.colors.push_back(i * 0x010101u);
    return bmp(s);
}

// An RLE8 stream of `runs` runs of 255 pixels of index 1, then end-of-bitmap:
// the most pixels a stream of that length can draw.
inline Bytes rle8Runs(size_t runs) {
    Bytes s;
    for (size_t i = 0; i < runs; ++i)
        s.insert(s.end(), {255, 1});
    s.insert(s.end(), {0, 1});
    return s;
}

struct Case {
    std::string name;
    Bytes bytes;
    std::string expect; // a piece of the failure message
};

// The oversized headers and the decompression bombs whose payload needs no
// compressor. Each must fail before its pixels are allocated.
inline std::vector<Case> oversizedCases() {
    return {
        {"jpeg-65500x65500", jpeg(65500, 65500, 3, 4096), "65500x65500"},
        // Inside the size limits (16,000 x 16,000 x 3 is 768 MB), but 4 KB of
        // scan data cannot code that many blocks.
        {"jpeg-16000x16000-4KB", jpeg(16000, 16000, 3, 4096), "cannot hold"},
        {"png-100000x100000", png(100000, 100000, 2, zlibStored(Bytes(3 * 64 + 1, 0))), "100000"},
        // Within the side limit but more than 1 GiB of pixels.
        {"png-65535x6000", png(65535, 6000, 2, zlibStored({0, 0, 0, 0})), "65535x6000"},
        {"bmp-width-2147483647", bmp(2147483647, 1, 24, 0, 0, Bytes(96, 0)), "2147483647"},
        {"bmp-width-2147483647-1bit", bmp(2147483647, 1, 1, 0, 2, Bytes(64, 0)), "2147483647"},
        // Inside the size limits (16,000 x 16,000 RGBA is 1,024,000,000 bytes),
        // but 4 KB of IDAT cannot inflate to that much.
        {"png-bomb-16000x16000-4KB", png(16000, 16000, 6, zlibStored(Bytes(4096, 0))), "too short"},
        // 65,535 x 65,535 RLE8 from a 2 KB stream: 4 GB of pixels.
        {"bmp-rle8-bomb-65535x65535-2KB", bmp(65535, 65535, 8, 1, 256, rle8Runs(1024)),
         "65535x65535"},
        // 65,535 x 16,000 RLE8 (1 GB, inside the size limit) from a 2 KB stream.
        {"bmp-rle8-bomb-65535x16000-2KB", bmp(65535, 16000, 8, 1, 256, rle8Runs(1024)),
         "RLE stream cannot describe"},
    };
}

} // namespace hostile
