// SPDX-License-Identifier: MIT
// Reading PNG files through libpng.
//
// libpng reports fatal errors by longjmp. As in the JPEG reader, the libpng
// calls sit in small phase functions (readInfo, setTransforms, readRows,
// readEnd) whose locals are plain values; the image and any scratch memory
// are owned outside them.
//
// What comes out (lossless wherever a BMP layout can hold the data):
//   palette 1/2/4/8 bits     palette image of 1/4/4/8 bits, tRNS in the entries' alpha
//   gray 1/2/4/8 bits        palette image of 1/4/4/8 bits with a gray ramp;
//                            a tRNS gray key makes that entry transparent
//   gray 16 bits             8-bit gray ramp (samples rounded to 8 bits)
//   gray 16 + tRNS, gray+alpha, RGB + tRNS, RGBA    32-bit BGRA
//   RGB                      24-bit BGR
// 16-bit samples are rounded to 8 bits (png_set_scale_16). The colour space
// comes from iCCP, else sRGB, else gAMA and cHRM (a profile built from them;
// a gamma of 1/2.2 with sRGB's primaries or none counts as sRGB); colour
// images keep it beside the stored samples, palette and gray ones are
// converted to sRGB (colour/transform.h). eXIf and XMP: png_meta.h.
#include "colour/transform.h"
#include "core/bytes.h"
#include "core/ops.h"
#include "core/pixels.h"
#include "png/png_fast_read.h"
#include "png/png_meta.h"
#include "png/png_whole_inflate.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace imgctl {
namespace {

// Chunks whose content could cost time or memory and that a converted
// bitmap does not use. They are skipped (their CRC is still checked).
// eXIf and iTXt are read by png_meta.h.
const png_byte kIgnoredChunks[] = "bKGD\0eXIf\0hIST\0iTXt\0oFFs\0pCAL\0"
                                  "sBIT\0sCAL\0sPLT\0sTER\0tEXt\0tIME\0zTXt\0";
constexpr int kIgnoredChunkCount = 13;
// Deflate cannot pack more than 1032 bytes into one.
constexpr uint64_t kMaxDeflateRatio = 1032;

struct Reader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    const uint8_t *data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    char message[256] = {};

    Reader() = default;
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;
    ~Reader() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

[[noreturn]] void onError(png_structp png, png_const_charp text) {
    auto *r = static_cast<Reader *>(png_get_error_ptr(png));
    std::snprintf(r->message, sizeof r->message, "%s", text ? text : "decoding failed");
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

void onRead(png_structp png, png_bytep out, size_t n) {
    auto *r = static_cast<Reader *>(png_get_io_ptr(png));
    if (n > r->size - r->pos) png_error(png, "the file ends early");
    std::memcpy(out, r->data + r->pos, n);
    r->pos += n;
}

// What libpng is asked to do and how its rows reach the image. Plain values
// only: the phases run under setjmp.
struct Plan {
    uint16_t bitCount = 0;
    bool widen2 = false; // 2-bit samples, stored as 4-bit indices
    bool scale16 = false;
    bool toRgb = false; // gray (+alpha) to RGB(A)
    bool tRnsToAlpha = false;
    bool bgr = false;
    bool interlaced = false;
    int passes = 1;
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t *pixels = nullptr;
    size_t stride = 0;
    uint8_t *scratch = nullptr; // 2-bit rows: one row, or every row when interlaced
    size_t scratchStride = 0;
};

bool readInfo(Reader &r) {
    if (setjmp(png_jmpbuf(r.png))) return false;
    png_read_info(r.png, r.info);
    return true;
}

bool setTransforms(Reader &r, Plan &p) {
    if (setjmp(png_jmpbuf(r.png))) return false;
    if (p.tRnsToAlpha) png_set_tRNS_to_alpha(r.png);
    if (p.toRgb) png_set_gray_to_rgb(r.png);
    if (p.scale16) png_set_scale_16(r.png);
    if (p.bgr) png_set_bgr(r.png);
    p.passes = p.interlaced ? png_set_interlace_handling(r.png) : 1;
    png_read_update_info(r.png, r.info);
    return true;
}

// 2-bit samples to 4-bit ones, two pixels a byte, high nibble first.
void widenRow(const uint8_t *src, uint8_t *dst, uint32_t width) {
    for (uint32_t x = 0; x + 1 < width; x += 2) {
        unsigned a = (src[x >> 2] >> (6 - 2 * (x & 3))) & 3;
        unsigned b = (src[x >> 2] >> (4 - 2 * (x & 3))) & 3;
        dst[x >> 1] = static_cast<uint8_t>((a << 4) | b);
    }
    if (width & 1) {
        uint32_t x = width - 1;
        dst[x >> 1] = static_cast<uint8_t>(((src[x >> 2] >> (6 - 2 * (x & 3))) & 3) << 4);
    }
}

bool readRows(Reader &r, const Plan &p) {
    if (setjmp(png_jmpbuf(r.png))) return false;
    if (!p.widen2) {
        // Interlaced passes each add their pixels to the rows already there.
        for (int pass = 0; pass < p.passes; ++pass)
            for (uint32_t y = 0; y < p.height; ++y)
                png_read_row(r.png, p.pixels + size_t{y} * p.stride, nullptr);
        return true;
    }
    if (!p.interlaced) {
        for (uint32_t y = 0; y < p.height; ++y) {
            png_read_row(r.png, p.scratch, nullptr);
            widenRow(p.scratch, p.pixels + size_t{y} * p.stride, p.width);
        }
        return true;
    }
    for (int pass = 0; pass < p.passes; ++pass)
        for (uint32_t y = 0; y < p.height; ++y)
            png_read_row(r.png, p.scratch + size_t{y} * p.scratchStride, nullptr);
    for (uint32_t y = 0; y < p.height; ++y)
        widenRow(p.scratch + size_t{y} * p.scratchStride, p.pixels + size_t{y} * p.stride, p.width);
    return true;
}

// Bytes of IDAT data present in the file, following the chunk lengths (a
// length running past the end counts only what is there).
uint64_t idatBytes(const uint8_t *data, size_t size) {
    uint64_t total = 0;
    size_t pos = 8;
    while (size - pos >= 8) {
        const uint32_t length = loadBe32(data + pos);
        const bool idat = std::memcmp(data + pos + 4, "IDAT", 4) == 0;
        const bool iend = std::memcmp(data + pos + 4, "IEND", 4) == 0;
        pos += 8;
        const size_t here = std::min<size_t>(length, size - pos);
        if (idat) total += here;
        if (iend || here < length || size - pos - here < 4) break;
        pos += here + 4; // data and CRC
    }
    return total;
}

Status failure(const Reader &r, Error code = Error::Corrupt) {
    return {code, std::string("PNG: ") + (r.message[0] ? r.message : "decoding failed")};
}

// A size past the limits is TooLarge, told apart here from libpng's other
// IHDR errors (which are Corrupt). Ok when the header is within the limits
// or left for libpng to judge.
Status checkHeaderSize(const uint8_t *data, size_t size) {
    if (size < 33 || std::memcmp(data + 12, "IHDR", 4) != 0) return Status::ok();
    const uint32_t w = loadBe32(data + 16), h = loadBe32(data + 20);
    if (w != 0 && h != 0 && w <= 0x7FFFFFFF && h <= 0x7FFFFFFF &&
        (w > kMaxDimension || h > kMaxDimension)) {
        auto check = checkImageSize(w, h, 8);
        return {check.status().code(), "PNG: " + check.status().message()};
    }
    return Status::ok();
}

// The file's header as libpng read it.
struct Header {
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_bytep trnsAlpha = nullptr;
    int trnsCount = 0;
    png_color_16p trnsColor = nullptr;
    bool hasTrns = false;

    // Gray without alpha, read as a palette image with a gray ramp.
    bool grayPalette() const {
        return colorType == PNG_COLOR_TYPE_GRAY && !(depth == 16 && hasTrns);
    }
};

Header readHeader(const Reader &r) {
    Header h;
    png_get_IHDR(r.png, r.info, &h.width, &h.height, &h.depth, &h.colorType, &h.interlace, nullptr,
                 nullptr);
    h.hasTrns =
        png_get_tRNS(r.png, r.info, &h.trnsAlpha, &h.trnsCount, &h.trnsColor) & PNG_INFO_tRNS;
    return h;
}

// The layout the image gets and the transforms that lead there.
Plan planFor(const Header &h) {
    Plan plan;
    plan.width = h.width;
    plan.height = h.height;
    plan.interlaced = h.interlace != PNG_INTERLACE_NONE;
    plan.scale16 = h.depth == 16;
    if (h.colorType == PNG_COLOR_TYPE_PALETTE || h.grayPalette()) {
        plan.bitCount = h.depth == 1 ? 1 : h.depth <= 4 ? 4 : 8;
        plan.widen2 = h.depth == 2;
    } else if (h.colorType == PNG_COLOR_TYPE_RGB && !h.hasTrns) {
        plan.bitCount = 24;
        plan.bgr = true;
    } else {
        plan.bitCount = 32;
        plan.bgr = true;
        plan.toRgb = !(h.colorType & PNG_COLOR_MASK_COLOR);
        plan.tRnsToAlpha = h.hasTrns;
    }
    return plan;
}

// True when the readers that do without libpng can take the file: 8-bit
// RGB or RGBA as it stands, without interlacing, of at least minPixels, and
// libpng stopped at the start of the first IDAT chunk.
bool directReaderTakes(const Reader &r, const Header &h, const Plan &plan, uint64_t minPixels) {
    return !plan.interlaced && h.depth == 8 && !plan.toRgb && !plan.tRnsToAlpha &&
           (h.colorType == PNG_COLOR_TYPE_RGB || h.colorType == PNG_COLOR_TYPE_RGBA) &&
           uint64_t{h.width} * h.height >= minPixels && r.pos >= 8 &&
           std::memcmp(r.data + r.pos - 4, "IDAT", 4) == 0;
}

// Fills the image's rows: inflated whole (png_whole_inflate.h) or on two
// threads (png_fast_read.h) when they take the file, otherwise (or when
// they leave it) through libpng.
Status readPixels(Reader &r, const Header &h, Plan &plan, const Tuning &tuning, bool fileMapped,
                  Image &image) {
    if (directReaderTakes(r, h, plan, tuning.pngWholeInflateMinPixels)) {
        Status whole = readPngWhole(r.data, r.size, r.pos - 8, fileMapped, image);
        if (whole || whole.code() != Error::Unsupported) return whole;
    }
    if (directReaderTakes(r, h, plan, tuning.pngFastReadMinPixels) && tuning.maxThreads >= 2) {
        Status fast = readPngFast(r.data, r.size, r.pos - 8, tuning, image);
        if (fast || fast.code() != Error::Unsupported) return fast;
    }
    const size_t rowBytes = png_get_rowbytes(r.png, r.info);
    plan.pixels = image.pixels.data();
    plan.stride = image.stride;
    std::vector<uint8_t> scratch;
    if (plan.widen2) {
        plan.scratchStride = rowBytes;
        scratch.resize(rowBytes * (plan.interlaced ? plan.height : 1));
        plan.scratch = scratch.data();
    } else if (rowBytes > image.stride) {
        return {Error::Corrupt, "PNG: unexpected row size " + std::to_string(rowBytes)};
    }
    // libpng reads the stream to its end with the last row (checking the
    // CRC of each IDAT chunk on the way); the chunks after the image data
    // are not read, as the fast reader does not read them.
    if (!readRows(r, plan)) return failure(r);
    return Status::ok();
}

// The palette of a palette or gray file, with its transparency.
void setPalette(const Reader &r, const Header &h, Image &image) {
    if (h.colorType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp colors = nullptr;
        int count = 0;
        png_get_PLTE(r.png, r.info, &colors, &count);
        count = std::min(count, 1 << h.depth);
        image.palette.resize(static_cast<size_t>(std::max(count, 0)));
        for (int i = 0; i < count; ++i) {
            PaletteEntry &e = image.palette[i];
            e = {colors[i].blue, colors[i].green, colors[i].red, 255};
            if (h.hasTrns && h.trnsAlpha && i < h.trnsCount) e.a = h.trnsAlpha[i];
        }
        padPalette(image);
    } else if (h.grayPalette()) {
        const int levels = 1 << std::min(h.depth, 8);
        image.palette = grayRamp(static_cast<uint32_t>(levels));
        if (h.hasTrns && h.trnsColor && h.trnsColor->gray < levels)
            image.palette[h.trnsColor->gray].a = 0;
    }
}

// The colour space the file declares: its iCCP profile (a bad one leaves the
// image untagged), sRGB, or a profile built from gAMA and cHRM. A gamma
// within 1 % of 1/2.2 without cHRM, or with sRGB's own, is taken as sRGB, as
// such files mean.
Blob fileProfile(const Reader &r, const Header &h, bool &srgb) {
    const ProfileSpace space =
        (h.colorType & PNG_COLOR_MASK_COLOR) ? ProfileSpace::Rgb : ProfileSpace::Gray;
    if (png_get_valid(r.png, r.info, PNG_INFO_iCCP)) {
        png_charp name = nullptr;
        int method = 0;
        png_bytep profile = nullptr;
        png_uint_32 length = 0;
        png_get_iCCP(r.png, r.info, &name, &method, &profile, &length);
        return checkProfile(profile, length, space);
    }
    if (png_get_valid(r.png, r.info, PNG_INFO_sRGB)) {
        srgb = true;
        return nullptr;
    }
    png_fixed_point gamma = 0;
    uint32_t chrm[8] = {};
    const bool hasGamma = png_get_valid(r.png, r.info, PNG_INFO_gAMA) &&
                          png_get_gAMA_fixed(r.png, r.info, &gamma) && gamma > 0;
    bool hasChrm = false;
    if (png_get_valid(r.png, r.info, PNG_INFO_cHRM)) {
        png_fixed_point v[8] = {};
        hasChrm = png_get_cHRM_fixed(r.png, r.info, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6],
                                     &v[7]);
        for (int i = 0; i < 8; ++i)
            hasChrm = hasChrm && v[i] > 0;
        for (int i = 0; i < 8 && hasChrm; ++i)
            chrm[i] = static_cast<uint32_t>(v[i]);
    }
    if (!hasGamma && !hasChrm) return nullptr;
    static const uint32_t srgbChrm[8] = {31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000};
    bool srgbPrimaries = !hasChrm;
    if (hasChrm) {
        srgbPrimaries = true;
        for (int i = 0; i < 8; ++i)
            srgbPrimaries = srgbPrimaries && (chrm[i] > srgbChrm[i] ? chrm[i] - srgbChrm[i]
                                                                    : srgbChrm[i] - chrm[i]) <= 100;
    }
    if (hasGamma && srgbPrimaries && gamma >= 45000 && gamma <= 45910) {
        srgb = true;
        return nullptr;
    }
    return pngChunkProfile(hasGamma ? static_cast<uint32_t>(gamma) : 0, hasChrm ? chrm : nullptr,
                           space);
}

void setResolution(const Reader &r, Image &image) {
    png_uint_32 resX = 0, resY = 0;
    int unit = 0;
    if (png_get_pHYs(r.png, r.info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
        image.xPelsPerMeter = static_cast<int32_t>(std::min<png_uint_32>(resX, INT32_MAX));
        image.yPelsPerMeter = static_cast<int32_t>(std::min<png_uint_32>(resY, INT32_MAX));
    }
}

} // namespace

Result<Image> decodePng(const uint8_t *data, size_t size, const Tuning &tuning, bool fileMapped) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (!data || size == 0) return {Error::Corrupt, "PNG: the file is empty"};
    if (size < 8 || std::memcmp(data, kSignature, 8) != 0)
        return {Error::NotImage, "PNG: no PNG signature"};
    if (Status s = checkHeaderSize(data, size); !s) return s;

    Reader r;
    r.data = data;
    r.size = size;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, onError, onWarning);
    if (!r.png) return {Error::OutOfMemory, "PNG: cannot create the decoder"};
    r.info = png_create_info_struct(r.png);
    if (!r.info) return {Error::OutOfMemory, "PNG: cannot create the decoder"};
    png_set_read_fn(r.png, &r, onRead);
    png_set_user_limits(r.png, kMaxDimension, kMaxDimension);
    png_set_chunk_cache_max(r.png, 256);
    png_set_chunk_malloc_max(r.png, 8u << 20);
    png_set_keep_unknown_chunks(r.png, PNG_HANDLE_CHUNK_NEVER, kIgnoredChunks, kIgnoredChunkCount);
    // Every IDAT chunk's CRC is checked; the stream's Adler-32 over the same
    // bytes is not (nor by the fast reader).
    png_set_option(r.png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    if (!readInfo(r)) return failure(r);

    const Header h = readHeader(r);
    Plan plan = planFor(h);
    if (auto bytes = checkImageSize(h.width, h.height, plan.bitCount); !bytes)
        return Status(bytes.status().code(), "PNG: " + bytes.status().message());
    const int channels = png_get_channels(r.png, r.info);
    const uint64_t storedBytes = (uint64_t{h.width} * h.height * channels * h.depth) / 8;
    if (idatBytes(data, size) * kMaxDeflateRatio < storedBytes)
        return {Error::Corrupt, "PNG: the image data is far too short for " +
                                    std::to_string(h.width) + "x" + std::to_string(h.height) +
                                    " pixels"};
    if (!setTransforms(r, plan)) return failure(r);

    auto made = makeImage(h.width, h.height, plan.bitCount);
    if (!made) return Status(made.status().code(), "PNG: " + made.status().message());
    Image image = std::move(made).value();
    if (Status s = readPixels(r, h, plan, tuning, fileMapped, image); !s) return s;
    setPalette(r, h, image);
    setResolution(r, image);
    bool srgb = false;
    const Blob profile = fileProfile(r, h, srgb);
    if (srgb) image.colour.kind = ColourKind::Srgb;
    if (Status s = takeProfile(image, profile,
                               (h.colorType & PNG_COLOR_MASK_COLOR) ? ProfileSpace::Rgb
                                                                    : ProfileSpace::Gray);
        !s)
        return s;
    image.meta = readPngMetadata(data, size);
    return image;
}

} // namespace imgctl
