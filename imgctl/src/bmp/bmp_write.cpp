// SPDX-License-Identifier: MIT
// Writing BMP files in the profile every reader takes: a 40-byte
// BITMAPINFOHEADER (a 124-byte V5 header only for 32-bit images with some
// pixel not opaque), rows bottom-up, each padded with zeros to 4 bytes.
// These headers hold no colour space: an image with a profile has its rows
// converted to sRGB on their way to the file.
#include "colour/transform.h"
#include "core/bytes.h"
#include "core/ops.h"
#include "core/pixels.h"
#include "io/file_out.h"

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

// What the file's headers say.
struct Layout {
    uint32_t compression = kBiRgb;
    bool v5 = false; // 32-bit with some pixel not opaque: a V5 header with alpha
    uint32_t infoSize = kInfoHeaderSize;
    uint32_t offBits = 0;
    uint64_t dataSize = 0;
};

// The file header, the info header and the palette, offBits bytes in all.
// A BMP palette has no alpha: a translucent entry is laid over white.
void putHeaders(const Image &image, const Layout &l, uint8_t *head) {
    const uint64_t fileSize = l.offBits + l.dataSize;
    head[0] = 'B';
    head[1] = 'M';
    storeLe32(head + 2, static_cast<uint32_t>(fileSize));
    storeLe32(head + 10, l.offBits);
    uint8_t *info = head + kFileHeaderSize;
    storeLe32(info + 0, l.infoSize);
    storeLe32(info + 4, image.width);
    storeLe32(info + 8, image.height);
    storeLe16(info + 12, 1);
    storeLe16(info + 14, image.bitCount);
    storeLe32(info + 16, l.v5 ? kBiBitfields : l.compression);
    storeLe32(info + 20, static_cast<uint32_t>(l.dataSize));
    storeLe32(info + 24, static_cast<uint32_t>(image.xPelsPerMeter));
    storeLe32(info + 28, static_cast<uint32_t>(image.yPelsPerMeter));
    storeLe32(info + 32, image.isPalette() ? static_cast<uint32_t>(image.palette.size()) : 0);
    storeLe32(info + 36, 0);
    if (l.v5) {
        storeLe32(info + 40, 0x00FF0000); // red mask
        storeLe32(info + 44, 0x0000FF00); // green
        storeLe32(info + 48, 0x000000FF); // blue
        storeLe32(info + 52, 0xFF000000); // alpha
        storeLe32(info + 56, kLcsSrgb);
        // 36 bytes of end points and 12 of gamma stay zero (unused with sRGB).
        storeLe32(info + 108, kLcsGmImages);
        // Profile offset, profile size and the reserved word stay zero.
    }
    uint8_t *pal = info + l.infoSize;
    for (size_t i = 0; i < image.palette.size() && image.isPalette(); ++i) {
        const PaletteEntry e = overWhite(image.palette[i]);
        pal[4 * i] = e.b;
        pal[4 * i + 1] = e.g;
        pal[4 * i + 2] = e.r;
        pal[4 * i + 3] = 0;
    }
}

// Each row bottom-up: its pixel bytes, the unused low bits of a last partial
// byte cleared, then zero padding to the file's stride.
Status putRows(const Image &image, const ColourTransform *toSrgb, OutputFile &out) {
    const size_t fileStride = strideFor(image.width, image.bitCount);
    const uint64_t rowBits = uint64_t{image.width} * image.bitCount;
    const size_t fullBytes = static_cast<size_t>(rowBits / 8);
    const unsigned tailBits = static_cast<unsigned>(rowBits % 8);
    const size_t used = fullBytes + (tailBits ? 1 : 0);
    const uint8_t tailMask = static_cast<uint8_t>(0xFF00u >> tailBits);
    for (uint32_t y = image.height; y-- > 0;) {
        uint8_t *dst = out.reserve(fileStride);
        if (!dst) return out.status();
        const uint8_t *src = image.row(y);
        if (toSrgb)
            toSrgb->apply(src, dst, image.width);
        else
            std::memcpy(dst, src, used);
        if (tailBits) dst[fullBytes] &= tailMask;
        std::memset(dst + used, 0, fileStride - used);
        out.advance(fileStride);
    }
    return Status::ok();
}

} // namespace

uint64_t bmpDataSize(const Image &image) {
    if (image.compression != Compression::None) return image.rle.size();
    return uint64_t{strideFor(image.width, image.bitCount)} * image.height;
}

Status saveBmp(const Image &image, const char *path) {
    if (Status s = checkImageToSave(image); !s) return s;
    Layout l;
    switch (image.compression) {
    case Compression::None:
        break;
    case Compression::Rle8:
        l.compression = kBiRle8;
        break;
    case Compression::Rle4:
        l.compression = kBiRle4;
        break;
    }
    if ((l.compression == kBiRle8 && image.bitCount != 8) ||
        (l.compression == kBiRle4 && image.bitCount != 4))
        return {Error::BadArgument, "run-length data does not match the bit depth"};
    if (image.isPalette() &&
        (image.palette.empty() || image.palette.size() > (size_t{1} << image.bitCount)))
        return {Error::BadArgument,
                "a " + std::to_string(image.bitCount) + "-bit image needs 1 to " +
                    std::to_string(1u << image.bitCount) + " palette entries, not " +
                    std::to_string(image.palette.size())};

    l.v5 = image.bitCount == 32 && hasTransparency(image);
    l.infoSize = l.v5 ? kV5HeaderSize : kInfoHeaderSize;
    const uint32_t paletteBytes =
        image.isPalette() ? static_cast<uint32_t>(image.palette.size() * 4) : 0;
    l.offBits = kFileHeaderSize + l.infoSize + paletteBytes;
    l.dataSize = bmpDataSize(image);
    if (l.offBits + l.dataSize > UINT32_MAX)
        return {Error::TooLarge, "the BMP file would pass 4 GiB"};

    auto toSrgb = ColourTransform::forImage(image, image.bitCount == 32 ? PixelLayout::Bgra
                                                                        : PixelLayout::Bgr);
    if (!toSrgb) return toSrgb.status();

    // Headers and palette: at most 14 + 124 + 1024 bytes.
    uint8_t head[kFileHeaderSize + kV5HeaderSize + 256 * 4] = {};
    putHeaders(image, l, head);
    OutputFile out;
    if (Status s = out.open(path); !s) return s;
    if (Status s = out.write(head, l.offBits); !s) return s;
    if (l.compression != kBiRgb) {
        if (Status s = out.write(image.rle.data(), image.rle.size()); !s) return s;
    } else if (Status s = putRows(image, toSrgb.value().get(), out); !s) {
        return s;
    }
    return out.commit();
}

} // namespace imgctl
