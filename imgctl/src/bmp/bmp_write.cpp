// SPDX-License-Identifier: MIT
// Writing BMP files in the profile every reader takes: a 40-byte
// BITMAPINFOHEADER (a 124-byte V5 header only for 32-bit images with some
// pixel not opaque), rows bottom-up, each padded with zeros to 4 bytes.
#include "io/file_out.h"
#include "core/ops.h"

#include <cstring>
#include <string>

namespace imgctl {
namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kV5HeaderSize = 124;
constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3;
constexpr uint32_t kLcsSrgb = 0x73524742; // 'sRGB'
constexpr uint32_t kLcsGmImages = 4;

void put16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A palette entry as a BMP palette holds it: no alpha, so a translucent entry
// is composited over white.
void putPaletteEntry(uint8_t *p, const PaletteEntry &e) {
    auto over = [&](uint8_t c) {
        return static_cast<uint8_t>((c * e.a + 255 * (255 - e.a) + 127) / 255);
    };
    p[0] = over(e.b);
    p[1] = over(e.g);
    p[2] = over(e.r);
    p[3] = 0;
}

} // namespace

uint64_t bmpDataSize(const Image &image) {
    if (image.compression != Compression::None) return image.rle.size();
    return uint64_t{strideFor(image.width, image.bitCount)} * image.height;
}

Status saveBmp(const Image &image, const char *path) {
    if (Status s = checkImageToSave(image); !s) return s;
    const size_t fileStride = strideFor(image.width, image.bitCount);

    uint32_t compression = kBiRgb;
    switch (image.compression) {
    case Compression::None:
        break;
    case Compression::Rle8:
        compression = kBiRle8;
        break;
    case Compression::Rle4:
        compression = kBiRle4;
        break;
    }
    if ((compression == kBiRle8 && image.bitCount != 8) ||
        (compression == kBiRle4 && image.bitCount != 4))
        return {Error::BadArgument, "run-length data does not match the bit depth"};
    if (image.isPalette() &&
        (image.palette.empty() || image.palette.size() > (size_t{1} << image.bitCount)))
        return {Error::BadArgument,
                "a " + std::to_string(image.bitCount) + "-bit image needs 1 to " +
                    std::to_string(1u << image.bitCount) + " palette entries, not " +
                    std::to_string(image.palette.size())};

    const bool v5 = image.bitCount == 32 && hasTransparency(image);
    const uint32_t infoSize = v5 ? kV5HeaderSize : kInfoHeaderSize;
    const uint32_t paletteBytes =
        image.isPalette() ? static_cast<uint32_t>(image.palette.size() * 4) : 0;
    const uint32_t offBits = kFileHeaderSize + infoSize + paletteBytes;
    const uint64_t dataSize = bmpDataSize(image);
    const uint64_t fileSize = offBits + dataSize;
    if (fileSize > UINT32_MAX) return {Error::TooLarge, "the BMP file would pass 4 GiB"};

    // Headers and palette: at most 14 + 124 + 1024 bytes.
    uint8_t head[kFileHeaderSize + kV5HeaderSize + 256 * 4] = {};
    head[0] = 'B';
    head[1] = 'M';
    put32(head + 2, static_cast<uint32_t>(fileSize));
    put32(head + 10, offBits);
    uint8_t *info = head + kFileHeaderSize;
    put32(info + 0, infoSize);
    put32(info + 4, image.width);
    put32(info + 8, image.height);
    put16(info + 12, 1);
    put16(info + 14, image.bitCount);
    put32(info + 16, v5 ? kBiBitfields : compression);
    put32(info + 20, static_cast<uint32_t>(dataSize));
    put32(info + 24, static_cast<uint32_t>(image.xPelsPerMeter));
    put32(info + 28, static_cast<uint32_t>(image.yPelsPerMeter));
    put32(info + 32, image.isPalette() ? static_cast<uint32_t>(image.palette.size()) : 0);
    put32(info + 36, 0);
    if (v5) {
        put32(info + 40, 0x00FF0000); // red mask
        put32(info + 44, 0x0000FF00); // green
        put32(info + 48, 0x000000FF); // blue
        put32(info + 52, 0xFF000000); // alpha
        put32(info + 56, kLcsSrgb);
        // 36 bytes of end points and 12 of gamma stay zero (unused with sRGB).
        put32(info + 108, kLcsGmImages);
        // Profile offset, profile size and the reserved word stay zero.
    }
    uint8_t *pal = info + infoSize;
    for (size_t i = 0; i < image.palette.size() && image.isPalette(); ++i)
        putPaletteEntry(pal + 4 * i, image.palette[i]);

    OutputFile out;
    if (Status s = out.open(path); !s) return s;
    if (Status s = out.write(head, offBits); !s) return s;

    if (compression != kBiRgb) {
        if (Status s = out.write(image.rle.data(), image.rle.size()); !s) return s;
        return out.commit();
    }

    // Each row: its pixel bytes, the unused low bits of a last partial byte
    // cleared, then zero padding to the file's stride.
    const uint64_t rowBits = uint64_t{image.width} * image.bitCount;
    const size_t fullBytes = static_cast<size_t>(rowBits / 8);
    const unsigned tailBits = static_cast<unsigned>(rowBits % 8);
    const size_t used = fullBytes + (tailBits ? 1 : 0);
    const uint8_t tailMask = static_cast<uint8_t>(0xFF00u >> tailBits);
    for (uint32_t y = image.height; y-- > 0;) {
        uint8_t *dst = out.reserve(fileStride);
        if (!dst) return out.status();
        const uint8_t *src = image.row(y);
        std::memcpy(dst, src, used);
        if (tailBits) dst[fullBytes] &= tailMask;
        std::memset(dst + used, 0, fileStride - used);
        out.advance(fileStride);
    }
    return out.commit();
}

} // namespace imgctl
