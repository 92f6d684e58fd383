// SPDX-License-Identifier: MIT
// The PNG whole-stream reader; its contract is in png_whole_inflate.h.
#include "png/png_whole_inflate.h"

#include "io/page_release.h"
#include "png/png_direct.h"

#include <libdeflate.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace imgctl {
namespace {

// The zlib stream of the IDAT chunks in one buffer, CRCs checked; the file's
// pages behind each joined part are let go when the data is a file mapping.
Status joinIdat(const uint8_t *data, size_t size, size_t idatPos, bool fileMapped,
                std::unique_ptr<uint8_t[]> &joined, size_t &joinedSize) {
    // The chunk lengths first (bounded by the file), then the copy.
    uint64_t total = 0;
    for (size_t pos = idatPos; size - pos >= 12 && std::memcmp(data + pos + 4, "IDAT", 4) == 0;) {
        const uint32_t n = loadBe32(data + pos);
        if (n > size - pos - 12) return {Error::Corrupt, "PNG: the file ends early"};
        total += n;
        pos += size_t{n} + 12;
    }
    joined.reset(new (std::nothrow) uint8_t[total + 1]);
    if (!joined) return {Error::OutOfMemory, "PNG: no memory for the image data"};
    IdatStream idat(data, size, idatPos);
    PageRelease release(data + idatPos, fileMapped);
    const uint8_t *last = data + idatPos;
    std::string error;
    joinedSize = 0;
    for (;;) {
        const uint8_t *chunk = nullptr;
        uint32_t length = 0;
        if (!idat.next(chunk, length, error)) return {Error::Corrupt, error};
        if (!chunk) break;
        std::memcpy(joined.get() + joinedSize, chunk, length);
        joinedSize += length;
        release.consumedUpTo(chunk + length);
        last = chunk + length;
    }
    // The last few megabytes too: the image is allocated next.
    release.finish(last);
    return Status::ok();
}

template <size_t Bpp> Status unfilterInPlace(Image &image, size_t filteredAt) {
    const uint32_t width = image.width, height = image.height;
    const size_t rowBytes = size_t{width} * Bpp + 1;
    uint8_t *base = image.pixels.data();
    // The row above, unfiltered, in the file's channel order.
    std::unique_ptr<uint8_t[]> rows(new (std::nothrow) uint8_t[2 * rowBytes]);
    if (!rows) return {Error::OutOfMemory, "PNG: no memory for two rows"};
    uint8_t *prev = rows.get(), *cur = rows.get() + rowBytes;
    std::memset(prev, 0, rowBytes);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t *src = base + filteredAt + size_t{y} * rowBytes;
        std::memcpy(cur, src + 1, rowBytes - 1);
        if (src[0] == 4) { // most rows of a photograph
            unpaethRow<Bpp>(cur, prev, rowBytes - 1, image.row(y));
        } else {
            if (!unfilterRow<Bpp>(src[0], cur, prev, rowBytes - 1))
                return {Error::Corrupt, "PNG: bad adaptive filter value"};
            swapRow<Bpp>(cur, image.row(y), width);
        }
        std::swap(prev, cur);
    }
    return Status::ok();
}

} // namespace

Status readPngWhole(const uint8_t *data, size_t size, size_t idatPos, bool fileMapped,
                    Image &image) {
    const size_t bpp = image.bitCount / 8;
    const uint64_t rowBytes = uint64_t{image.width} * bpp + 1;
    const uint64_t filtered = rowBytes * image.height;
    const uint64_t imageBytes = uint64_t{image.stride} * image.height;
    // The filtered rows at the end of a buffer of `room` bytes: row y's
    // place ends at y * stride + width * bpp, before row y + 1 starts at
    // room - filtered + (y + 1) * rowBytes, for every y.
    const uint64_t room = std::max(imageBytes, filtered) + rowBytes;

    std::unique_ptr<uint8_t[]> joined;
    size_t joinedSize = 0;
    // A cut-off or damaged IDAT chunk may lie past the last row, where libpng
    // never looks: the readers behind this one decide such a file.
    if (Status s = joinIdat(data, size, idatPos, fileMapped, joined, joinedSize); !s)
        return s.code() == Error::Corrupt ? Status(Error::Unsupported, s.message()) : s;

    PixelBuffer buffer;
    if (!buffer.allocate(room)) return {Error::OutOfMemory, "PNG: no memory for the image"};
    struct Decompressor {
        libdeflate_decompressor *d = libdeflate_alloc_decompressor();
        ~Decompressor() {
            if (d) libdeflate_free_decompressor(d);
        }
    } decompressor;
    if (!decompressor.d) return {Error::OutOfMemory, "PNG: cannot start inflating"};
    const size_t filteredAt = room - filtered;
    size_t inflated = 0;
    const libdeflate_result rc = libdeflate_zlib_decompress(
        decompressor.d, joined.get(), joinedSize, buffer.data() + filteredAt, filtered, &inflated);
    joined.reset();
    if (rc != LIBDEFLATE_SUCCESS || inflated != filtered)
        return {Error::Unsupported, "PNG: the image data does not inflate to exactly its rows"};

    image.pixels = std::move(buffer);
    return bpp == 3 ? unfilterInPlace<3>(image, filteredAt) : unfilterInPlace<4>(image, filteredAt);
}

} // namespace imgctl
