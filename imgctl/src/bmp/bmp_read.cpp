// SPDX-License-Identifier: MIT
// The BMP reader. Headers read: OS/2 1.x (12 bytes), OS/2 2.x (16 to 64
// bytes), Windows INFO (40), V2 (52), V3 (56), V4 (108) and V5 (124). Every
// field is checked before use; sizes and offsets are compared against the
// file's length with 64-bit arithmetic (all operands stay below 2^40).
// docs/reading-policy.md says which variants are read and which are refused.
// The colour space of a V4/V5 header: sRGB, calibrated RGB (a profile built
// from its end points and gammas) or a V5 embedded profile; a linked profile
// (a file name) is never opened, the image is read as untagged.
#include "colour/transform.h"
#include "core/bytes.h"
#include "core/ops.h"
#include "core/pixels.h"
#include "io/page_release.h"

#include "bmp/rle_read.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace imgctl {
namespace {

constexpr size_t kFileHeaderSize = 14;

// Compression field values. 3 and 4 mean Huffman 1D and RLE24 in OS/2 2.x
// files.
constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiJpeg = 4, kBiPng = 5,
                   kBiAlphaBitfields = 6, kBiCmyk = 11, kBiCmykRle4 = 13;

enum class Method { Rgb, Rle8, Rle4, Rle24, Bitfields, Jpeg, Png };

// Colour space types of V4/V5 headers.
constexpr uint32_t kLcsCalibratedRgb = 0, kLcsSrgb = 0x73524742, kLcsWindows = 0x57696E20,
                   kProfileEmbedded = 0x4D424544;

int32_t les32(const uint8_t *p) {
    return static_cast<int32_t>(loadLe32(p));
}

std::string str(uint64_t v) {
    return std::to_string(v);
}

Status corrupt(const std::string &why) {
    return {Error::Corrupt, "BMP: " + why};
}
Status unsupported(const std::string &why) {
    return {Error::Unsupported, "BMP: " + why};
}

std::string hex(uint32_t v) {
    static const char digits[] = "0123456789abcdef";
    std::string s = "0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        s += digits[(v >> shift) & 15];
    return s;
}

// What the headers say, checked.
struct Header {
    uint32_t offBits = 0;
    uint32_t infoSize = 0;
    bool os2 = false; // an OS/2 1.x or 2.x header
    int64_t width = 0;
    int64_t height = 0; // negative: rows stored top-down
    uint16_t bitCount = 0;
    uint32_t compression = kBiRgb;
    Method method = Method::Rgb;
    int32_t xPelsPerMeter = 0, yPelsPerMeter = 0;
    uint32_t clrUsed = 0;
    // Red, green, blue, alpha; meaningful for Method::Bitfields.
    std::array<uint32_t, 4> masks{};
    size_t paletteOffset = 0; // the palette follows the headers and masks
    size_t paletteEntrySize = 4;
    // V4 and V5 headers: the colour space type, the calibrated end points
    // and gammas, and the V5 profile's offset (from the info header) and size.
    uint32_t csType = kLcsWindows;
    std::array<uint32_t, 9> endpoints{};
    std::array<uint32_t, 3> gammas{};
    uint32_t profileOffset = 0, profileSize = 0;
};

Status readMethod(Header &h) {
    const uint16_t bits = h.bitCount;
    const bool rgbDepth =
        bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    const std::string depth = str(bits) + "-bit";
    if (h.os2 && h.compression > kBiJpeg)
        return corrupt("compression " + str(h.compression) + " in an OS/2 header");
    switch (h.compression) {
    case kBiRgb:
        if (bits == 64) return unsupported("64-bit pixels are not read");
        if (!rgbDepth) return corrupt("bits per pixel " + str(bits) + " is not a valid depth");
        h.method = Method::Rgb;
        return Status::ok();
    case kBiRle8:
        if (bits != 8) return corrupt("RLE8 compression on a " + depth + " image");
        h.method = Method::Rle8;
        return Status::ok();
    case kBiRle4:
        if (bits != 4) return corrupt("RLE4 compression on a " + depth + " image");
        h.method = Method::Rle4;
        return Status::ok();
    case kBiBitfields:
    case kBiAlphaBitfields:
        if (h.compression == kBiBitfields && (h.os2 || bits == 1))
            return unsupported("Huffman 1D compression is not read");
        if (bits != 16 && bits != 32)
            return corrupt("bit-field masks on a " + depth +
                           " image (only 16 and 32 bits have them)");
        h.method = Method::Bitfields;
        return Status::ok();
    case kBiJpeg:
        if (bits == 24 && (h.os2 || h.infoSize == 40)) {
            h.method = Method::Rle24;
            return Status::ok();
        }
        if (h.os2) return corrupt("RLE24 compression on a " + depth + " image");
        if (bits != 0) return corrupt("embedded JPEG with bits per pixel " + str(bits) + ", not 0");
        h.method = Method::Jpeg;
        return Status::ok();
    case kBiPng:
        if (bits != 0) return corrupt("embedded PNG with bits per pixel " + str(bits) + ", not 0");
        h.method = Method::Png;
        return Status::ok();
    default:
        if (h.compression >= kBiCmyk && h.compression <= kBiCmykRle4)
            return unsupported("CMYK compression " + str(h.compression) + " is not read");
        return corrupt("compression " + str(h.compression) + " is not a known method");
    }
}

// Checks one colour mask: a single run of bits inside the pixel.
Status checkMask(uint32_t mask, uint16_t bits, const char *name) {
    if (bits < 32 && (mask >> bits) != 0)
        return corrupt(std::string(name) + " mask " + hex(mask) + " has bits outside the " +
                       str(bits) + "-bit pixel");
    if (mask != 0) {
        uint32_t run = mask >> std::countr_zero(mask);
        if ((run & (run + 1)) != 0)
            return corrupt(std::string(name) + " mask " + hex(mask) + " is not one run of bits");
    }
    return Status::ok();
}

Result<Header> readHeader(const uint8_t *d, size_t size) {
    Header h;
    if (size < 2 || d[0] != 'B' || d[1] != 'M')
        return Status{Error::NotImage, "BMP: the file does not start with \"BM\""};
    if (size < kFileHeaderSize + 4)
        return corrupt("the " + str(size) + "-byte file ends inside the file header");
    h.offBits = loadLe32(d + 10);
    h.infoSize = loadLe32(d + 14);
    const uint32_t is = h.infoSize;
    const bool os2v2 = is >= 16 && is <= 64 && is != 40 && is != 52 && is != 56;
    if (is != 12 && !os2v2 && is != 40 && is != 52 && is != 56 && is != 108 && is != 124)
        return corrupt("info header size " + str(is) + " is not a known BMP version");
    if (size - kFileHeaderSize < is)
        return corrupt("the " + str(is) + "-byte info header runs past the end of the " +
                       str(size) + "-byte file");
    // Fields past the end of a short OS/2 2.x header read as zero.
    std::array<uint8_t, 124> info{};
    std::memcpy(info.data(), d + kFileHeaderSize, is);
    const uint8_t *f = info.data();
    uint16_t planes = 0;
    if (is == 12) {
        h.os2 = true;
        h.width = loadLe16(f + 4);
        h.height = loadLe16(f + 6);
        planes = loadLe16(f + 8);
        h.bitCount = loadLe16(f + 10);
        h.paletteEntrySize = 3;
    } else {
        h.os2 = os2v2;
        h.width = les32(f + 4);
        h.height = les32(f + 8);
        planes = loadLe16(f + 12);
        h.bitCount = loadLe16(f + 14);
        h.compression = loadLe32(f + 16);
        h.xPelsPerMeter = les32(f + 24);
        h.yPelsPerMeter = les32(f + 28);
        h.clrUsed = loadLe32(f + 32);
    }
    if (is >= 108) {
        h.csType = loadLe32(f + 56);
        for (size_t i = 0; i < 9; ++i)
            h.endpoints[i] = loadLe32(f + 60 + 4 * i);
        for (size_t i = 0; i < 3; ++i)
            h.gammas[i] = loadLe32(f + 96 + 4 * i);
    }
    if (is >= 124) {
        h.profileOffset = loadLe32(f + 112);
        h.profileSize = loadLe32(f + 116);
    }
    if (h.width <= 0) return corrupt("width " + std::to_string(h.width) + " is not positive");
    if (h.height == 0) return corrupt("height is 0");
    if (planes != 1) return corrupt("planes is " + str(planes) + ", not 1");
    if (Status s = readMethod(h); !s) return s;

    h.paletteOffset = kFileHeaderSize + is;
    if (h.method == Method::Bitfields) {
        const bool withAlpha = h.compression == kBiAlphaBitfields;
        if (is == 40) {
            // The masks follow a 40-byte header: three, or four with alpha.
            const size_t maskBytes = withAlpha ? 16 : 12;
            if (size - h.paletteOffset < maskBytes)
                return corrupt("the bit-field masks run past the end of the file");
            for (size_t i = 0; i < maskBytes / 4; ++i)
                h.masks[i] = loadLe32(d + h.paletteOffset + 4 * i);
            h.paletteOffset += maskBytes;
        } else {
            for (size_t i = 0; i < 3; ++i)
                h.masks[i] = loadLe32(f + 40 + 4 * i);
            if (is >= 56) h.masks[3] = loadLe32(f + 52);
        }
        static const char *const names[] = {"red", "green", "blue", "alpha"};
        for (size_t i = 0; i < 4; ++i)
            if (Status s = checkMask(h.masks[i], h.bitCount, names[i]); !s) return s;
        if ((h.masks[0] | h.masks[1] | h.masks[2]) == 0)
            return corrupt("the red, green and blue masks are all 0");
    } else if (h.method == Method::Rgb && h.bitCount == 16) {
        h.masks = {0x7C00, 0x03E0, 0x001F, 0};
    } else if (h.method == Method::Rgb && h.bitCount == 32) {
        h.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0};
    }

    if (h.offBits < h.paletteOffset)
        return corrupt("pixel data at offset " + str(h.offBits) + " starts inside the " +
                       str(h.paletteOffset) + " bytes of headers");
    if (h.offBits > size)
        return corrupt("pixel data at offset " + str(h.offBits) + " lies past the end of the " +
                       str(size) + "-byte file");
    return h;
}

// The palette of a 1, 2, 4 or 8-bit image, opaque.
Result<std::vector<PaletteEntry>> readPalette(const Header &h, const uint8_t *d, size_t size) {
    const uint32_t full = 1u << h.bitCount;
    const size_t room = (size - h.paletteOffset) / h.paletteEntrySize;
    if (h.clrUsed != 0 && h.clrUsed > room)
        return Status{corrupt("a palette of " + str(h.clrUsed) +
                              " colours runs past the end of the " + str(size) + "-byte file")};
    // A palette stops where the pixels start: OS/2 1.x files, which have no
    // colour count, are known by that to hold short palettes.
    const size_t beforePixels = (h.offBits - h.paletteOffset) / h.paletteEntrySize;
    const size_t count = std::min<size_t>({h.clrUsed != 0 ? h.clrUsed : full, full, beforePixels});
    if (count == 0) return Status{corrupt("the " + str(h.bitCount) + "-bit image has no palette")};
    std::vector<PaletteEntry> palette(count);
    const uint8_t *p = d + h.paletteOffset;
    for (size_t i = 0; i < count; ++i, p += h.paletteEntrySize)
        palette[i] = {p[0], p[1], p[2], 255};
    return palette;
}

// One bit field widened to 8 bits as round(v * 255 / max).
class Channel {
  public:
    explicit Channel(uint32_t mask) : mask_(mask) {
        if (mask == 0) return;
        shift_ = static_cast<unsigned>(std::countr_zero(mask));
        max_ = mask >> shift_;
        if (max_ <= 0xFFFF) {
            lut_.resize(size_t{max_} + 1);
            for (uint32_t v = 0; v <= max_; ++v)
                lut_[v] = scale(v);
        }
    }
    // Fields up to 16 bits wide are looked up in a table; wider ones (rare)
    // are computed.
    bool hasTable() const { return !lut_.empty() || mask_ == 0; }
    uint8_t fromTable(uint32_t px) const { return mask_ == 0 ? 0 : lut_[(px & mask_) >> shift_]; }
    uint8_t computed(uint32_t px) const { return scale((px & mask_) >> shift_); }

  private:
    uint8_t scale(uint32_t v) const { return max_ == 0 ? 0 : widenField(v, max_); }
    uint32_t mask_;
    unsigned shift_ = 0;
    uint32_t max_ = 0;
    std::vector<uint8_t> lut_;
};

// Runs fn(source row, image row) over the stored rows, then clears each
// row's padding so the image's bytes are all defined.
template <class Fn>
void forEachRow(Image &image, const uint8_t *src, size_t srcStride, bool topDown, Fn fn,
                bool fileMapped = false) {
    const size_t used = (size_t{image.width} * image.bitCount + 7) / 8;
    PageRelease release(src, fileMapped);
    for (uint32_t i = 0; i < image.height; ++i) {
        uint8_t *dst = image.row(topDown ? i : image.height - 1 - i);
        fn(src + size_t{i} * srcStride, dst);
        std::memset(dst + used, 0, image.stride - used);
        release.consumedUpTo(src + size_t{i} * srcStride);
    }
}

void decodeBitfields(const Header &h, bool topDown, const uint8_t *src, size_t srcStride,
                     Image &image) {
    const uint32_t w = image.width;
    const auto &m = h.masks;
    if (image.bitCount == 16) { // exactly 5-5-5: the top bit is cleared
        forEachRow(image, src, srcStride, topDown, [w](const uint8_t *s, uint8_t *d) {
            for (uint32_t x = 0; x < w; ++x) {
                d[2 * x] = s[2 * x];
                d[2 * x + 1] = s[2 * x + 1] & 0x7F;
            }
        });
        return;
    }
    const bool bgr8 =
        h.bitCount == 32 && m[0] == 0x00FF0000 && m[1] == 0x0000FF00 && m[2] == 0x000000FF;
    if (bgr8 && image.bitCount == 24) {
        forEachRow(image, src, srcStride, topDown, [w](const uint8_t *s, uint8_t *d) {
            for (uint32_t x = 0; x < w; ++x, s += 4, d += 3) {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
            }
        });
        return;
    }
    if (bgr8 && m[3] == 0xFF000000) { // already B, G, R, A
        forEachRow(image, src, srcStride, topDown,
                   [w](const uint8_t *s, uint8_t *d) { std::memcpy(d, s, size_t{w} * 4); });
        return;
    }
    const Channel r(m[0]), g(m[1]), b(m[2]), a(image.bitCount == 32 ? m[3] : 0);
    const bool tables = r.hasTable() && g.hasTable() && b.hasTable() && a.hasTable();
    auto convert = [&](auto inBytes, auto outBytes, auto useTables) {
        constexpr int kIn = decltype(inBytes)::value;
        constexpr int kOut = decltype(outBytes)::value;
        constexpr bool kTables = decltype(useTables)::value;
        auto get = [](const Channel &c, uint32_t px) {
            if constexpr (kTables)
                return c.fromTable(px);
            else
                return c.computed(px);
        };
        forEachRow(image, src, srcStride, topDown, [&](const uint8_t *s, uint8_t *d) {
            for (uint32_t x = 0; x < w; ++x, s += kIn, d += kOut) {
                const uint32_t px = kIn == 4 ? loadLe32(s) : loadLe16(s);
                d[0] = get(b, px);
                d[1] = get(g, px);
                d[2] = get(r, px);
                if constexpr (kOut == 4) d[3] = get(a, px);
            }
        });
    };
    using In2 = std::integral_constant<int, 2>;
    using In4 = std::integral_constant<int, 4>;
    using Out3 = std::integral_constant<int, 3>;
    using Out4 = std::integral_constant<int, 4>;
    using Tables = std::true_type;
    using Computed = std::false_type;
    if (h.bitCount == 16) { // 16-bit fields always fit a table
        if (image.bitCount == 32)
            convert(In2{}, Out4{}, Tables{});
        else
            convert(In2{}, Out3{}, Tables{});
    } else if (tables) {
        if (image.bitCount == 32)
            convert(In4{}, Out4{}, Tables{});
        else
            convert(In4{}, Out3{}, Tables{});
    } else {
        if (image.bitCount == 32)
            convert(In4{}, Out4{}, Computed{});
        else
            convert(In4{}, Out3{}, Computed{});
    }
}

// A file that marks alpha but leaves every pixel's alpha at 0 was written by
// a program that never filled it in; such an image is shown opaque.
void opaqueIfAlphaUnused(Image &image) {
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t *p = image.row(y);
        for (uint32_t x = 0; x < image.width; ++x)
            if (p[4 * x + 3] != 0) return;
    }
    for (uint32_t y = 0; y < image.height; ++y) {
        uint8_t *p = image.row(y);
        for (uint32_t x = 0; x < image.width; ++x)
            p[4 * x + 3] = 255;
    }
}

Result<Image> decodeEmbedded(const Header &h, const uint8_t *d, size_t size, const Tuning &tuning) {
    const bool jpeg = h.method == Method::Jpeg;
    if (h.offBits == size)
        return corrupt(std::string("no embedded ") + (jpeg ? "JPEG" : "PNG") +
                       " data after offset " + str(h.offBits));
    Result<Image> inner = jpeg ? decodeJpeg(d + h.offBits, size - h.offBits)
                               : decodePng(d + h.offBits, size - h.offBits, tuning);
    if (!inner)
        return Status{inner.status().code(), std::string("BMP: embedded ") +
                                                 (jpeg ? "JPEG" : "PNG") + ": " +
                                                 inner.status().message()};
    // The BMP header's resolution wins unless it leaves it unknown.
    if (h.xPelsPerMeter != 0 || h.yPelsPerMeter != 0) {
        inner->xPelsPerMeter = h.xPelsPerMeter;
        inner->yPelsPerMeter = h.yPelsPerMeter;
    }
    return inner;
}

// The colour space the headers declare, given to the decoded image.
Status takeColourSpace(const Header &h, const uint8_t *d, size_t size, Image &image) {
    Blob profile;
    bool srgb = h.csType == kLcsSrgb;
    if (h.csType == kLcsCalibratedRgb && h.infoSize >= 108)
        profile = bmpCalibratedProfile(h.endpoints.data(), h.gammas.data(), srgb);
    if (h.csType == kProfileEmbedded && h.infoSize >= 124) {
        const uint64_t at = uint64_t{kFileHeaderSize} + h.profileOffset;
        if (at <= size && h.profileSize <= size - at)
            profile = checkProfile(d + at, h.profileSize, ProfileSpace::Rgb);
    }
    if (srgb) image.colour.kind = ColourKind::Srgb;
    return takeProfile(image, profile, ProfileSpace::Rgb);
}

uint16_t outputBits(const Header &h) {
    switch (h.method) {
    case Method::Rle8:
        return 8;
    case Method::Rle4:
        return 4;
    case Method::Rle24:
        return 24;
    default:
        break;
    }
    if (h.bitCount <= 8) return h.bitCount == 2 ? 4 : h.bitCount;
    if (h.bitCount == 24) return 24;
    if (h.method == Method::Bitfields && h.masks[3] != 0) return 32;
    if (h.bitCount == 16 && h.masks[0] == 0x7C00 && h.masks[1] == 0x03E0 && h.masks[2] == 0x001F)
        return 16;
    return 24;
}

bool isRle(const Header &h) {
    return h.method == Method::Rle8 || h.method == Method::Rle4 || h.method == Method::Rle24;
}

// Checks that the file holds the pixel data its header describes, and
// returns the stride of its rows (0 for a run-length stream).
Result<size_t> checkPixelData(const Header &h, size_t size, uint64_t width, uint64_t height) {
    const size_t available = size - h.offBits;
    if (isRle(h)) {
        if (width * height > rleMaxPixels(available))
            return corrupt("a " + str(available) + "-byte RLE stream cannot describe " +
                           str(width) + "x" + str(height) + " pixels");
        return size_t{0};
    }
    // Width and height are at most 65,535 here: no product overflows.
    const size_t srcStride = static_cast<size_t>((width * h.bitCount + 31) / 32 * 4);
    // The last row may lack its padding.
    const uint64_t needed = srcStride * (height - 1) + (width * h.bitCount + 7) / 8;
    if (needed > available)
        return corrupt("pixel data at offset " + str(h.offBits) + " needs " + str(needed) +
                       " bytes but the " + str(size) + "-byte file holds " + str(available));
    return srcStride;
}

// Fills the image's rows from the file's pixel data (`available` bytes from
// `pixels`, rows srcStride apart).
void readPixels(const Header &h, const uint8_t *pixels, size_t available, size_t srcStride,
                bool fileMapped, Image &image) {
    const bool topDown = h.height < 0;
    if (isRle(h)) {
        const RleKind kind = h.method == Method::Rle8   ? RleKind::Rle8
                             : h.method == Method::Rle4 ? RleKind::Rle4
                                                        : RleKind::Rle24;
        expandRleStream(pixels, available, kind, topDown, image);
    } else if (h.bitCount == 2) {
        // Each byte of four 2-bit pixels becomes two bytes of 4-bit pixels.
        // 2 * ceil(w / 4) <= 4 * ceil(w / 8), the 4-bit stride: no write passes the row.
        std::array<uint16_t, 256> widen{};
        for (uint32_t v = 0; v < 256; ++v)
            widen[v] = static_cast<uint16_t>((((v >> 6) << 4) | ((v >> 4) & 3)) |
                                             ((((v >> 2) & 3) << 4 | (v & 3)) << 8));
        const size_t srcBytes = (size_t{image.width} + 3) / 4;
        forEachRow(image, pixels, srcStride, topDown, [&](const uint8_t *s, uint8_t *d) {
            for (size_t i = 0; i < srcBytes; ++i) {
                d[2 * i] = static_cast<uint8_t>(widen[s[i]]);
                d[2 * i + 1] = static_cast<uint8_t>(widen[s[i]] >> 8);
            }
        });
    } else if (h.bitCount == 16 || h.bitCount == 32) {
        decodeBitfields(h, topDown, pixels, srcStride, image);
        if (image.bitCount == 32) opaqueIfAlphaUnused(image);
    } else {
        // 1, 4, 8 and 24 bits: the file's rows are the image's rows.
        const size_t used = (size_t{image.width} * h.bitCount + 7) / 8;
        forEachRow(
            image, pixels, srcStride, topDown,
            [used](const uint8_t *s, uint8_t *d) { std::memcpy(d, s, used); }, fileMapped);
    }
}

} // namespace

Result<Image> decodeBmp(const uint8_t *data, size_t size, const Tuning &tuning, bool fileMapped) {
    Result<Header> parsed = readHeader(data, size);
    if (!parsed) return parsed.status();
    const Header &h = parsed.value();
    if (h.method == Method::Jpeg || h.method == Method::Png)
        return decodeEmbedded(h, data, size, tuning);

    const uint64_t width = static_cast<uint64_t>(h.width);
    const uint64_t height = static_cast<uint64_t>(h.height < 0 ? -h.height : h.height);
    const uint16_t bits = outputBits(h);
    if (Result<size_t> bytes = checkImageSize(width, height, bits); !bytes)
        return Status{bytes.status().code(), "BMP: " + bytes.status().message()};

    std::vector<PaletteEntry> palette;
    if (h.bitCount <= 8) {
        auto p = readPalette(h, data, size);
        if (!p) return p.status();
        palette = std::move(p.value());
    }
    Result<size_t> srcStride = checkPixelData(h, size, width, height);
    if (!srcStride) return srcStride.status();

    Result<Image> made =
        makeImage(static_cast<uint32_t>(width), static_cast<uint32_t>(height), bits);
    if (!made) return made.status();
    Image image = std::move(made.value());
    image.xPelsPerMeter = h.xPelsPerMeter;
    image.yPelsPerMeter = h.yPelsPerMeter;
    image.palette = std::move(palette);
    readPixels(h, data + h.offBits, size - h.offBits, srcStride.value(), fileMapped, image);

    // Indices past a short palette show black.
    padPalette(image);
    if (h.method == Method::Rle8 || h.method == Method::Rle4) {
        image.compression = h.method == Method::Rle8 ? Compression::Rle8 : Compression::Rle4;
        image.rle = encodeRle(image);
    }
    if (Status s = takeColourSpace(h, data, size, image); !s) return s;
    return image;
}

} // namespace imgctl
