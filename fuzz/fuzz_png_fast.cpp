// SPDX-License-Identifier: MIT
// Differential: a PNG file through each of the two direct readers (the
// whole-stream reader, png/png_whole_inflate.h, and the two-thread reader,
// png/png_fast_read.h) and through libpng's row reader, the tuning switching
// each on alone. Each gives libpng's image, or both refuse the file.
//
// An input that is a PNG file is read as it is and again with every chunk's
// CRC made right (a mutated file otherwise stops at its first CRC). Any
// other input is made into a file the fast reader takes: the first bytes
// choose RGB or RGBA, the size (up to 64 x 300 pixels, the ring of rows
// wrapping twice), the deflate level, the IDAT chunk size, data past the
// last row or a stream cut short; the rest, repeated, are the filtered rows
// (filter bytes included), compressed with zlib. Files of other layouts and
// pictures past 256 x 256 pixels are passed over.
#include "core/bytes.h"
#include "fuzz_common.h"
#include "hostile_files.h"

#include <zlib.h>

namespace {

using namespace imgctl;

void compare(const std::vector<uint8_t> &file) {
    const uint8_t *data = file.data();
    const size_t size = file.size();
    if (size < 33 || std::memcmp(data + 12, "IHDR", 4) != 0) return;
    const uint64_t pixels = uint64_t{loadBe32(data + 16)} * loadBe32(data + 20);
    if (pixels > 256 * 256 || data[24] != 8 || (data[25] != 2 && data[25] != 6) || data[28] != 0)
        return;
    Tuning plain = fuzzing::tuning();
    plain.pngWholeInflateMinPixels = kNever;
    plain.pngFastReadMinPixels = kNever;
    Tuning whole = plain, twoThreads = plain;
    whole.pngWholeInflateMinPixels = 0;
    twoThreads.pngFastReadMinPixels = 0;
    const Result<Image> libpng = decodePng(data, size, plain);
    fuzzing::expectNotInternal(libpng.status(), "libpng's reader");
    for (const auto &[tuning, name] : {std::pair{whole, "the whole-stream reader"},
                                       std::pair{twoThreads, "the two-thread reader"}}) {
        const Result<Image> fast = decodePng(data, size, tuning);
        fuzzing::expectNotInternal(fast.status(), name);
        if (fast.isOk() != libpng.isOk())
            fuzzing::fail(std::string(name) +
                          (fast
                               ? " took a file libpng refuses (" + libpng.status().message() + ")"
                               : " refused a file libpng reads (" + fast.status().message() + ")"));
        if (!fast) continue;
        if (std::string d = fuzzing::difference(fast.value(), libpng.value()); !d.empty())
            fuzzing::fail(std::string(name) + " and libpng differ in " + d);
    }
}

std::vector<uint8_t> withRightCrcs(std::vector<uint8_t> file) {
    for (size_t pos = 8; file.size() - pos >= 12;) {
        const uint32_t n = loadBe32(&file[pos]);
        if (n > file.size() - pos - 12) break;
        storeBe32(&file[pos + 8 + n],
                  static_cast<uint32_t>(crc32(0L, &file[pos + 4], static_cast<uInt>(n + 4))));
        pos += size_t{n} + 12;
    }
    return file;
}

std::vector<uint8_t> madeFile(fuzzing::Input &in) {
    const uint8_t how = in.byte();
    const bool alpha = how & 1;
    const uint32_t width = 1 + in.byte() % 64;
    const uint32_t low = in.byte();
    const uint32_t height = 1 + (low | in.byte() << 8) % 300;
    const int level = in.byte() % 10;
    const size_t chunkSize = 1 + size_t{in.byte()} * (how & 2 ? 1 : 64);
    const uint8_t extra = in.byte(); // bytes past the last row (how & 4), or cut off (how & 8)
    const size_t rowBytes = size_t{width} * (alpha ? 4 : 3) + 1;
    std::vector<uint8_t> rows(rowBytes * height + (how & 4 ? extra : 0));
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = in.restAt(i);
    // Filter types 0 to 4, and now and then one past them.
    for (uint32_t y = 0; y < height; ++y)
        rows[y * rowBytes] = static_cast<uint8_t>(rows[y * rowBytes] % (how & 16 ? 6 : 5));
    uLongf packedSize = compressBound(static_cast<uLong>(rows.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, rows.data(), static_cast<uLong>(rows.size()),
                  level) != Z_OK)
        fuzzing::fail("zlib cannot compress the rows");
    packed.resize(how & 8 ? packedSize - std::min<size_t>(extra % 16, packedSize) : packedSize);

    hostile::Bytes file = hostile::png(width, height, alpha ? 6 : 2, {});
    file.resize(33); // the signature and IHDR
    for (size_t at = 0; at < packed.size(); at += chunkSize) {
        const size_t n = std::min(chunkSize, packed.size() - at);
        hostile::pngChunk(file, "IDAT",
                          hostile::Bytes(packed.begin() + at, packed.begin() + at + n));
        if (how & 32) hostile::pngChunk(file, "IDAT", {});
    }
    if (!(how & 64)) hostile::pngChunk(file, "IEND", {});
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzzing::guarded([&] {
        static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        if (size >= 8 && std::memcmp(data, signature, 8) == 0) {
            const std::vector<uint8_t> file(data, data + size);
            compare(file);
            compare(withRightCrcs(file));
        } else {
            fuzzing::Input in{data, size};
            compare(madeFile(in));
        }
    });
}
