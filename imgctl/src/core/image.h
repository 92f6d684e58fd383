// SPDX-License-Identifier: MIT
// The in-memory bitmap: what a BMP file can hold.
#pragma once

#include "core/status.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace imgctl {

// Width or height beyond this is refused. With both at most 65,535 every
// product of width, height and bytes per pixel fits in 64 bits with room.
inline constexpr uint32_t kMaxDimension = 65535;
// Pixel data beyond this many bytes is refused before allocating.
inline constexpr uint64_t kMaxPixelBytes = uint64_t{1} << 30;

enum class Compression : uint8_t { None, Rle8, Rle4 };

// Bytes shared by an image and its copies and never changed once made, so
// that copying an image copies no profile or metadata.
using Blob = std::shared_ptr<const std::vector<uint8_t>>;

inline Blob makeBlob(const uint8_t *data, size_t size) {
    return std::make_shared<const std::vector<uint8_t>>(data, data + size);
}

// The colour space of an image's pixels. An untagged image is taken to be
// sRGB and takes no colour path at all. An ICC profile is only ever kept by a
// 24 or 32-bit image and is always an RGB profile that lcms2 accepted when
// it was read (colour/profile.h); palette and 16-bit images are sRGB.
enum class ColourKind : uint8_t { Untagged, Srgb, Icc };

struct ColourSpace {
    ColourKind kind = ColourKind::Untagged;
    Blob icc; // the profile's bytes when kind is Icc
};

// What a file says about its picture beyond the pixels: the EXIF TIFF body
// (without the "Exif\0\0" header; orientation 1, no thumbnail) and the XMP
// packet, each checked on reading (meta/exif.h, meta/xmp.h).
struct Metadata {
    Blob exif;
    Blob xmp;
};

// One palette entry. a is 255 for an opaque colour; palettes read from BMP
// files are always opaque, a PNG tRNS chunk makes entries translucent.
struct PaletteEntry {
    uint8_t b = 0, g = 0, r = 0, a = 255;
    friend bool operator==(const PaletteEntry &, const PaletteEntry &) = default;
};

// Frees a pixel buffer from the heap, or unmaps a mapped one (mapping non-null).
struct PixelFree {
    void *mapping = nullptr;
    size_t length = 0;
    void operator()(uint8_t *p) const noexcept;
};

// A byte buffer that is not zero-filled on allocation (decoders overwrite it).
// A large one is mapped on its own in huge pages where the system allows
// them, so that filling it costs a page fault per 2 MiB instead of per 4 kB.
class PixelBuffer {
  public:
    PixelBuffer() = default;
    // Allocates size bytes, uninitialised. Returns false when memory is short.
    bool allocate(size_t size);
    uint8_t *data() { return data_.get(); }
    const uint8_t *data() const { return data_.get(); }
    size_t size() const { return size_; }

  private:
    std::unique_ptr<uint8_t[], PixelFree> data_;
    size_t size_ = 0;
};

// Pixel layouts by bitCount, rows top-down, each row `stride` bytes (a
// multiple of 4, as in a BMP file):
//   1, 4, 8  palette indices, most significant bits first within a byte
//   16       little-endian 0RRRRRGGGGGBBBBB (5-5-5)
//   24       B, G, R
//   32       B, G, R, A (A = 255 opaque; always meaningful)
// Bytes past the last pixel of a row are padding; writers must not rely on
// their value.
struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitCount = 24;
    size_t stride = 0;
    PixelBuffer pixels;
    std::vector<PaletteEntry> palette; // bitCount <= 8: at most 2^bitCount entries
    // While compressed, `pixels` still holds the expanded indices (so every
    // function can read the image) and `rle` holds the stream a BMP file gets.
    Compression compression = Compression::None;
    std::vector<uint8_t> rle;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    ColourSpace colour;
    Metadata meta;

    uint8_t *row(uint32_t y) { return pixels.data() + size_t{y} * stride; }
    const uint8_t *row(uint32_t y) const { return pixels.data() + size_t{y} * stride; }
    bool isPalette() const { return bitCount <= 8; }
    bool hasProfile() const { return colour.kind == ColourKind::Icc; }
};

// Bytes in one 4-byte aligned row. Valid for width <= kMaxDimension.
inline size_t strideFor(uint32_t width, uint16_t bitCount) {
    return ((uint64_t{width} * bitCount + 31) / 32) * 4;
}

// Checks the limits for a width x height image of bitCount bits and returns
// its pixel byte count, or TooLarge / Corrupt (zero size) naming the cause.
Result<size_t> checkImageSize(uint64_t width, uint64_t height, uint16_t bitCount);

// Gives `to` everything of `from` that is not pixels: resolution, colour
// space and metadata.
inline void keepDescription(const Image &from, Image &to) {
    to.xPelsPerMeter = from.xPelsPerMeter;
    to.yPelsPerMeter = from.yPelsPerMeter;
    to.colour = from.colour;
    to.meta = from.meta;
}

// Makes an image with allocated, uninitialised pixels after checking limits.
// bitCount must be 1, 4, 8, 16, 24 or 32.
Result<Image> makeImage(uint32_t width, uint32_t height, uint16_t bitCount);

// True for the depths an image can have: 1, 4, 8, 16, 24 and 32 bits.
inline bool isValidBitCount(uint16_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Checks what every writer needs of an image it is handed: a valid size, a
// supported bit count and a pixel buffer holding every row.
Status checkImageToSave(const Image &image);

// Reads the palette index of pixel x in a row of a 1, 4 or 8-bit image.
inline uint8_t paletteIndex(const uint8_t *row, uint32_t x, uint16_t bitCount) {
    switch (bitCount) {
    case 1:
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
        return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
    default:
        return row[x];
    }
}

// A deep copy: pixels, palette, run-length stream and resolution; the colour
// space and metadata are shared. Fails only when memory is short.
Result<Image> copyImage(const Image &image);

// True when every palette entry is gray (r == g == b) and opaque.
bool hasGrayPalette(const Image &image);

// A 32-bit image: true when some pixel's alpha is below 255.
// A palette image: true when some entry is translucent. Otherwise false.
bool hasTransparency(const Image &image);

} // namespace imgctl
