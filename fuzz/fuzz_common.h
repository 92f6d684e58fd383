// SPDX-License-Identifier: MIT
// Shared pieces of the fuzz targets: the tuning they run with (every
// threshold lowered so that small inputs take every fast path), telling the
// format from the first bytes, images made from raw input bytes, scratch
// files on tmpfs, and stopping with a message on whatever is a finding: an
// internal error, an exception escaping the core, or two paths that
// disagree.
//
// Each target's check is LLVMFuzzerTestOneInput itself; built with the
// ordinary compiler and replay_main.cpp, the same check runs over the kept
// inputs in tests/regressions/ as a ctest test.
#pragma once

#include "core/image.h"
#include "core/ops.h"
#include "core/pixels.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace fuzzing {

inline const imgctl::Tuning &tuning() {
    static const imgctl::Tuning everyPath = imgctl::Tuning::everyPath();
    return everyPath;
}

// A finding: says what went wrong and stops the process.
[[noreturn]] inline void fail(const std::string &what) {
    std::fprintf(stderr, "FINDING: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

// An internal error is the library's own fault, never the input's.
inline void expectNotInternal(const imgctl::Status &s, const char *step) {
    if (s.code() == imgctl::Error::Internal) fail(std::string(step) + ": " + s.message());
}

// Runs a target's check; an exception escaping the core is a finding.
template <class Check> int guarded(Check check) {
    try {
        check();
    } catch (const std::exception &e) {
        fail(std::string("exception escaped the core: ") + e.what());
    } catch (...) {
        fail("unknown exception escaped the core");
    }
    return 0;
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

// Empty when the two images are the same in every field and pixel (the
// rows' padding aside), otherwise the first difference.
inline std::string difference(const imgctl::Image &a, const imgctl::Image &b) {
    if (a.width != b.width || a.height != b.height || a.bitCount != b.bitCount ||
        a.stride != b.stride)
        return "size or depth: " + std::to_string(a.bitCount) + " bits against " +
               std::to_string(b.bitCount);
    const uint64_t bits = uint64_t{a.width} * a.bitCount;
    for (uint32_t y = 0; y < a.height; ++y)
        for (size_t i = 0; i < (bits + 7) / 8; ++i) {
            // The unused low bits of a row's last byte are padding too.
            const unsigned used = i < bits / 8 ? 8 : bits % 8;
            if ((a.row(y)[i] ^ b.row(y)[i]) >> (8 - used))
                return "pixel byte " + std::to_string(i) + " of row " + std::to_string(y) + ": " +
                       std::to_string(a.row(y)[i]) + " against " + std::to_string(b.row(y)[i]);
        }
    if (a.palette != b.palette) return "the palettes";
    if (a.compression != b.compression || a.rle != b.rle) return "the run-length streams";
    if (a.xPelsPerMeter != b.xPelsPerMeter || a.yPelsPerMeter != b.yPelsPerMeter)
        return "the resolution";
    return {};
}

// Empty when a decoded image describes its own buffer (sizes within the
// limits, a palette fitting its depth and every index inside it, the
// compression flag agreeing with the stream), otherwise what does not.
inline std::string malformed(const imgctl::Image &im) {
    using namespace imgctl;
    if (im.width == 0 || im.height == 0 || im.width > kMaxDimension || im.height > kMaxDimension ||
        im.stride != strideFor(im.width, im.bitCount) ||
        im.pixels.size() < size_t{im.height} * im.stride)
        return "the size does not fit the buffer";
    if (im.isPalette()) {
        if (im.bitCount != 1 && im.bitCount != 4 && im.bitCount != 8)
            return "palette depth " + std::to_string(im.bitCount);
        if (im.palette.empty() || im.palette.size() > (size_t{1} << im.bitCount))
            return "a palette of " + std::to_string(im.palette.size());
        for (uint32_t y = 0; y < im.height; ++y)
            for (uint32_t x = 0; x < im.width; ++x)
                if (paletteIndex(im.row(y), x, im.bitCount) >= im.palette.size())
                    return "an index past the palette at " + std::to_string(x) + "," +
                           std::to_string(y);
    } else if (im.bitCount != 16 && im.bitCount != 24 && im.bitCount != 32) {
        return "depth " + std::to_string(im.bitCount);
    }
    if ((im.compression != Compression::None) != !im.rle.empty())
        return "the compression flag and the stream disagree";
    return {};
}

// Reads the input front to back: settings first, then the rest as data.
// Past the end every byte reads as zero.
struct Input {
    const uint8_t *data;
    size_t size, pos = 0;
    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    const uint8_t *rest() const { return data + pos; }
    size_t left() const { return size - pos; }
    // Byte k of the rest, repeated past its end; 0 when nothing is left.
    uint8_t restAt(size_t k) const { return left() ? data[pos + k % left()] : 0; }
};

// An image made from the input: header bytes choose the size (1 to maxSide
// a side), the depth (one of `depths`), a ramp and, for palette depths, the
// palette (a gray ramp or colours from the input); the remaining bytes,
// repeated, are the pixel bytes, each plus the ramp at its place, so that a
// few bytes make a picture of many colours. Palette indices stay within the
// palette, as every reader leaves them.
inline imgctl::Image rawImage(Input &in, uint32_t maxSide, std::initializer_list<uint16_t> depths) {
    using namespace imgctl;
    const uint32_t width = 1 + in.byte() % maxSide, height = 1 + in.byte() % maxSide;
    const uint16_t bits = depths.begin()[in.byte() % depths.size()];
    const uint8_t ramp = in.byte();
    Image image = makeImage(width, height, bits).value();
    std::memset(image.pixels.data(), 0, image.pixels.size());
    uint32_t entries = 0;
    if (image.isPalette()) {
        const uint8_t how = in.byte();
        entries = 1 + how % (1u << bits);
        if (how & 0x80) {
            image.palette = entries > 1 ? grayRamp(entries) : std::vector<PaletteEntry>(1);
        } else {
            for (uint32_t i = 0; i < entries; ++i)
                image.palette.push_back({in.byte(), in.byte(), in.byte(), 255});
        }
    }
    size_t k = 0;
    const uint32_t perRow = bits < 8 ? width : static_cast<uint32_t>(width * (bits / 8));
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = image.row(y);
        for (uint32_t i = 0; i < perRow; ++i, ++k) {
            const uint8_t v = static_cast<uint8_t>(in.restAt(k) + ramp * (i + 3 * y));
            if (bits == 1)
                row[i / 8] = static_cast<uint8_t>(row[i / 8] | (v % entries) << (7 - i % 8));
            else if (bits == 4)
                row[i / 2] = static_cast<uint8_t>(row[i / 2] | (v % entries) << (i % 2 ? 0 : 4));
            else
                row[i] = bits == 8 ? static_cast<uint8_t>(v % entries) : v;
        }
    }
    return image;
}

// A scratch file name of this process on tmpfs (where there is one):
// nubaro-fuzz-<what>-<pid>, which fuzz/run-fuzz clears up after a process
// that died.
inline std::string scratchPath(const char *what) {
    return std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/nubaro-fuzz-" +
           what + "-" + std::to_string(getpid());
}

inline std::vector<uint8_t> readWhole(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace fuzzing
