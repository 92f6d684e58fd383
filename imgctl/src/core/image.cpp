// SPDX-License-Identifier: MIT
#include "core/image.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>

namespace imgctl {

const char *errorName(Error e) {
    switch (e) {
    case Error::None:
        return "no error";
    case Error::BadHandle:
        return "bad handle";
    case Error::BadArgument:
        return "bad argument";
    case Error::NotFound:
        return "file not found";
    case Error::CannotRead:
        return "cannot read";
    case Error::NotImage:
        return "not an image";
    case Error::Unsupported:
        return "unsupported variant";
    case Error::Corrupt:
        return "corrupt data";
    case Error::TooLarge:
        return "image too large";
    case Error::OutOfMemory:
        return "out of memory";
    case Error::CannotWrite:
        return "cannot write";
    case Error::PermissionDenied:
        return "permission denied";
    case Error::DiskFull:
        return "disk full";
    case Error::NoFolder:
        return "no such folder";
    case Error::Internal:
        return "internal error";
    }
    return "error";
}

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
// From this size a buffer is mapped on its own. Sanitizer builds keep every
// buffer on the heap, where an overrun is caught.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kMappedFrom = SIZE_MAX;
#else
constexpr size_t kMappedFrom = size_t{4} << 20;
#endif

} // namespace

void PixelFree::operator()(uint8_t *p) const noexcept {
    if (mapping)
        munmap(mapping, length);
    else
        delete[] p;
}

bool PixelBuffer::allocate(size_t size) {
    if (size >= kMappedFrom && size <= SIZE_MAX - kHugePage) {
        // A huge page's worth more, to start the buffer on a huge page.
        const size_t length = size + kHugePage;
        void *mapping =
            mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping == MAP_FAILED) return false;
        const uintptr_t start =
            (reinterpret_cast<uintptr_t>(mapping) + kHugePage - 1) & ~(kHugePage - 1);
        auto *p = reinterpret_cast<uint8_t *>(start);
        madvise(p, size, MADV_HUGEPAGE); // a hint: without it, ordinary pages
        data_ = std::unique_ptr<uint8_t[], PixelFree>(p, PixelFree{mapping, length});
        size_ = size;
        return true;
    }
    std::unique_ptr<uint8_t[], PixelFree> fresh(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
    if (!fresh) return false;
    data_ = std::move(fresh);
    size_ = size;
    return true;
}

Status checkImageToSave(const Image &image) {
    if (image.width == 0 || image.height == 0 || image.width > kMaxDimension ||
        image.height > kMaxDimension)
        return {Error::BadArgument, "the image has no valid size"};
    if (!isValidBitCount(image.bitCount))
        return {Error::BadArgument, "bit count " + std::to_string(image.bitCount)};
    if (image.stride < strideFor(image.width, image.bitCount) ||
        image.pixels.size() < image.stride * image.height)
        return {Error::BadArgument, "the image's pixel buffer is too small"};
    return Status::ok();
}

Result<size_t> checkImageSize(uint64_t width, uint64_t height, uint16_t bitCount) {
    if (width == 0 || height == 0) return {Error::Corrupt, "image has zero width or height"};
    if (width > kMaxDimension || height > kMaxDimension)
        return {Error::TooLarge, std::to_string(width) + "x" + std::to_string(height) +
                                     " passes the limit of " + std::to_string(kMaxDimension) +
                                     " pixels a side"};
    // width, height <= 65535 and bitCount <= 32: the products stay far below 2^64.
    uint64_t stride = ((width * bitCount + 31) / 32) * 4;
    uint64_t bytes = stride * height;
    if (bytes > kMaxPixelBytes)
        return {Error::TooLarge, std::to_string(width) + "x" + std::to_string(height) + " at " +
                                     std::to_string(bitCount) +
                                     " bits needs more than 1 GiB of pixels"};
    return static_cast<size_t>(bytes);
}

Result<Image> makeImage(uint32_t width, uint32_t height, uint16_t bitCount) {
    if (!isValidBitCount(bitCount))
        return {Error::BadArgument, "bit count " + std::to_string(bitCount)};
    auto bytes = checkImageSize(width, height, bitCount);
    if (!bytes) return bytes.status();
    Image image;
    image.width = width;
    image.height = height;
    image.bitCount = bitCount;
    image.stride = strideFor(width, bitCount);
    if (!image.pixels.allocate(bytes.value()))
        return {Error::OutOfMemory,
                "cannot allocate " + std::to_string(bytes.value()) + " bytes of pixels"};
    return image;
}

Result<Image> copyImage(const Image &image) {
    Image copy;
    if (!copy.pixels.allocate(image.pixels.size()))
        return {Error::OutOfMemory, "cannot allocate " + std::to_string(image.pixels.size()) +
                                        " bytes for a copy of the image"};
    if (image.pixels.size() != 0)
        std::memcpy(copy.pixels.data(), image.pixels.data(), image.pixels.size());
    copy.width = image.width;
    copy.height = image.height;
    copy.bitCount = image.bitCount;
    copy.stride = image.stride;
    copy.palette = image.palette;
    copy.compression = image.compression;
    copy.rle = image.rle;
    keepDescription(image, copy);
    return copy;
}

bool hasGrayPalette(const Image &image) {
    if (!image.isPalette() || image.palette.empty()) return false;
    for (const PaletteEntry &e : image.palette)
        if (e.r != e.g || e.g != e.b || e.a != 255) return false;
    return true;
}

bool hasTransparency(const Image &image) {
    if (image.isPalette()) {
        for (const PaletteEntry &e : image.palette)
            if (e.a != 255) return true;
        return false;
    }
    if (image.bitCount != 32) return false;
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t *p = image.row(y);
        for (uint32_t x = 0; x < image.width; ++x)
            if (p[4 * x + 3] != 255) return true;
    }
    return false;
}

} // namespace imgctl
