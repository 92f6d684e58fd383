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
// 16-bit samples are rounded to 8 bits (png_set_scale_16). Gamma and colour
// chunks are not applied: the stored samples pass through.
#include "core/ops.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace imgctl {
namespace {

// Chunks whose content could cost time or memory and that a converted
// bitmap does not use. They are skipped (their CRC is still checked).
const png_byte kIgnoredChunks[] = "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0"
                                  "sBIT\0sCAL\0sPLT\0sRGB\0sTER\0tEXt\0tIME\0zTXt\0";
constexpr int kIgnoredChunkCount = 17;
// Deflate cannot pack more than 1032 bytes into one.
constexpr uint64_t kMaxDeflateRatio = 1032;

struct Reader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    const uint8_t *data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    bool ended = false; // libpng asked for bytes past the end of the file
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
    if (n > r->size - r->pos) {
        r->ended = true;
        png_error(png, "the file ends early");
    }
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

bool readEnd(Reader &r) {
    if (setjmp(png_jmpbuf(r.png))) return false;
    png_read_end(r.png, nullptr);
    return true;
}

uint32_t be32(const uint8_t *p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Bytes of IDAT data present in the file, following the chunk lengths (a
// length running past the end counts only what is there).
uint64_t idatBytes(const uint8_t *data, size_t size) {
    uint64_t total = 0;
    size_t pos = 8;
    while (size - pos >= 8) {
        const uint32_t length = be32(data + pos);
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

// ---- Two-thread path for 8-bit RGB and RGBA without interlacing ----
//
// Most photographs are stored this way. One thread inflates the IDAT stream
// into a small ring of filtered rows while the calling thread undoes the row
// filters and writes the rows straight into the image in BGR(A) order, so
// inflating and filtering overlap. Any other layout goes through libpng.

constexpr uint32_t kBandRows = 16;
constexpr uint32_t kRingBands = 8;

// The IDAT chunks from the first one's header at `pos`, CRCs checked.
class IdatStream {
  public:
    IdatStream(const uint8_t *data, size_t size, size_t pos)
        : data_(data), size_(size), pos_(pos) {}

    // The next chunk's data, or an empty span at the end of the IDAT run;
    // false with a message when a chunk is cut off or its CRC is wrong.
    bool next(const uint8_t *&chunk, uint32_t &length, std::string &error) {
        chunk = nullptr;
        length = 0;
        if (size_ - pos_ < 8 || std::memcmp(data_ + pos_ + 4, "IDAT", 4) != 0) return true;
        const uint32_t n = be32(data_ + pos_);
        if (n > size_ - pos_ - 8 || size_ - pos_ - 8 - n < 4) {
            error = "PNG: the file ends early";
            return false;
        }
        const uint8_t *type = data_ + pos_ + 4;
        const uLong crc = crc32(crc32(0L, type, 4), type + 4, n);
        if (crc != be32(type + 4 + n)) {
            error = "PNG: IDAT: CRC error";
            return false;
        }
        chunk = type + 4;
        length = n;
        pos_ += size_t{n} + 12;
        return true;
    }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_;
};

// Undoes one row's filter in place; prev is the unfiltered row above (zeros
// for the first row). Returns false for an unknown filter type.
template <size_t Bpp> bool unfilterRow(uint8_t filter, uint8_t *x, const uint8_t *prev, size_t n) {
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (size_t i = Bpp; i < n; ++i)
            x[i] = static_cast<uint8_t>(x[i] + x[i - Bpp]);
        return true;
    case 2:
        for (size_t i = 0; i < n; ++i)
            x[i] = static_cast<uint8_t>(x[i] + prev[i]);
        return true;
    case 3:
        for (size_t i = 0; i < Bpp; ++i)
            x[i] = static_cast<uint8_t>(x[i] + (prev[i] >> 1));
        for (size_t i = Bpp; i < n; ++i)
            x[i] = static_cast<uint8_t>(x[i] + ((x[i - Bpp] + prev[i]) >> 1));
        return true;
    case 4:
        for (size_t i = 0; i < Bpp; ++i)
            x[i] = static_cast<uint8_t>(x[i] + prev[i]);
        // Branch-free choice (photographs make the branches unpredictable):
        // a wins ties over b, and b over c.
        for (size_t i = Bpp; i < n; ++i) {
            const int a = x[i - Bpp], b = prev[i], c = prev[i - Bpp];
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int ab = pb < pa ? b : a;
            const int pab = pb < pa ? pb : pa;
            x[i] = static_cast<uint8_t>(x[i] + (pc < pab ? c : ab));
        }
        return true;
    default:
        return false;
    }
}

template <size_t Bpp> void swapRow(const uint8_t *src, uint8_t *dst, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, src += Bpp, dst += Bpp) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
        if constexpr (Bpp == 4) dst[3] = src[3];
    }
}

// The ring of filtered bands shared by the inflating thread and the caller.
struct Ring {
    std::mutex mutex;
    std::condition_variable changed;
    uint32_t filled = 0;   // bands inflated so far
    uint32_t consumed = 0; // bands the caller has finished with
    bool stop = false;     // the caller gave up
    std::string error;     // set by the inflating thread
};

// Inflates every row into the ring; runs on its own thread.
void inflateRows(IdatStream idat, Ring &ring, uint8_t *slots, size_t rowBytes, uint32_t height) {
    z_stream z{};
    std::string error;
    if (inflateInit(&z) != Z_OK) error = "PNG: cannot start inflating";
    // Every IDAT chunk's CRC is checked already; the stream's Adler-32 adds
    // nothing but time.
    if (error.empty()) inflateValidate(&z, 0);
    const uint8_t *chunk = nullptr;
    uint32_t chunkLength = 0;
    const uint32_t bands = (height + kBandRows - 1) / kBandRows;
    for (uint32_t band = 0; error.empty() && band < bands; ++band) {
        {
            std::unique_lock lock(ring.mutex);
            ring.changed.wait(lock, [&] { return ring.stop || band - ring.consumed < kRingBands; });
            if (ring.stop) break;
        }
        const uint32_t rows = std::min(kBandRows, height - band * kBandRows);
        z.next_out = slots + size_t{band % kRingBands} * kBandRows * rowBytes;
        z.avail_out = static_cast<uInt>(rows * rowBytes);
        while (z.avail_out > 0) {
            if (z.avail_in == 0) {
                if (!idat.next(chunk, chunkLength, error)) break;
                if (!chunk) {
                    error = "PNG: the image data ends early";
                    break;
                }
                z.next_in = const_cast<Bytef *>(chunk);
                z.avail_in = chunkLength;
                continue;
            }
            const int rc = inflate(&z, Z_NO_FLUSH);
            if (rc == Z_STREAM_END && z.avail_out > 0) {
                error = "PNG: the image data ends early";
            } else if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
                error = std::string("PNG: ") + (z.msg ? z.msg : "the image data is damaged");
            }
            if (!error.empty() || rc == Z_STREAM_END) break;
        }
        std::lock_guard lock(ring.mutex);
        if (!error.empty()) break;
        ++ring.filled;
        ring.changed.notify_all();
    }
    inflateEnd(&z);
    std::lock_guard lock(ring.mutex);
    if (!error.empty()) ring.error = error;
    ring.filled = bands + 1; // wakes the caller; it reads the error first
    ring.changed.notify_all();
}

template <size_t Bpp>
Status readRowsTwoThreads(const uint8_t *data, size_t size, size_t idatPos, Image &image) {
    const uint32_t width = image.width, height = image.height;
    const size_t rowBytes = size_t{width} * Bpp + 1;
    std::vector<uint8_t> slots(rowBytes * kBandRows * kRingBands);
    std::vector<uint8_t> above(rowBytes, 0); // the last row of the band before
    Ring ring;
    std::thread inflater;
    try {
        inflater = std::thread(inflateRows, IdatStream(data, size, idatPos), std::ref(ring),
                               slots.data(), rowBytes, height);
    } catch (const std::system_error &) {
        return {Error::Unsupported, "no second thread"};
    }
    Status status = Status::ok();
    const uint32_t bands = (height + kBandRows - 1) / kBandRows;
    for (uint32_t band = 0; band < bands && status; ++band) {
        {
            std::unique_lock lock(ring.mutex);
            ring.changed.wait(lock, [&] { return ring.filled > band || !ring.error.empty(); });
            if (!ring.error.empty()) {
                status = Status(Error::Corrupt, ring.error);
                break;
            }
        }
        uint8_t *band0 = slots.data() + size_t{band % kRingBands} * kBandRows * rowBytes;
        const uint32_t rows = std::min(kBandRows, height - band * kBandRows);
        const uint8_t *prev = above.data() + 1;
        for (uint32_t i = 0; i < rows; ++i) {
            uint8_t *row = band0 + size_t{i} * rowBytes;
            if (!unfilterRow<Bpp>(row[0], row + 1, prev, rowBytes - 1)) {
                status = Status(Error::Corrupt, "PNG: bad adaptive filter value");
                break;
            }
            swapRow<Bpp>(row + 1, image.row(band * kBandRows + i), width);
            prev = row + 1;
        }
        if (!status) break;
        std::memcpy(above.data() + 1, prev, rowBytes - 1);
        std::lock_guard lock(ring.mutex);
        ++ring.consumed;
        ring.changed.notify_all();
    }
    {
        std::lock_guard lock(ring.mutex);
        ring.stop = true;
        ring.changed.notify_all();
    }
    inflater.join();
    return status;
}

Status failure(const Reader &r, Error code = Error::Corrupt) {
    return {code, std::string("PNG: ") + (r.message[0] ? r.message : "decoding failed")};
}

// After the last row: a palette shorter than the indices used is padded with
// opaque black, so that every index names an entry.
void padPalette(Image &image) {
    const size_t entries = size_t{1} << image.bitCount;
    if (image.palette.size() >= entries) return;
    unsigned highest = 0;
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t *row = image.row(y);
        if (image.bitCount == 8) {
            highest = std::max<unsigned>(highest, *std::max_element(row, row + image.width));
        } else {
            for (uint32_t x = 0; x < image.width; ++x)
                highest = std::max<unsigned>(highest, paletteIndex(row, x, image.bitCount));
        }
    }
    if (highest >= image.palette.size())
        image.palette.resize(highest + 1, PaletteEntry{0, 0, 0, 255});
}

} // namespace

Result<Image> decodePng(const uint8_t *data, size_t size) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (!data || size == 0) return {Error::Corrupt, "PNG: the file is empty"};
    if (size < 8 || std::memcmp(data, kSignature, 8) != 0)
        return {Error::NotImage, "PNG: no PNG signature"};
    // A size past the limits is TooLarge, told apart here from libpng's
    // other IHDR errors (which are Corrupt).
    if (size >= 33 && std::memcmp(data + 12, "IHDR", 4) == 0) {
        const uint32_t w = be32(data + 16), h = be32(data + 20);
        if (w != 0 && h != 0 && w <= 0x7FFFFFFF && h <= 0x7FFFFFFF &&
            (w > kMaxDimension || h > kMaxDimension)) {
            auto check = checkImageSize(w, h, 8);
            return {check.status().code(), "PNG: " + check.status().message()};
        }
    }

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
    if (!readInfo(r)) return failure(r);

    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(r.png, r.info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
    png_bytep trnsAlpha = nullptr;
    int trnsCount = 0;
    png_color_16p trnsColor = nullptr;
    const bool hasTrns =
        png_get_tRNS(r.png, r.info, &trnsAlpha, &trnsCount, &trnsColor) & PNG_INFO_tRNS;

    Plan plan;
    plan.width = width;
    plan.height = height;
    plan.interlaced = interlace != PNG_INTERLACE_NONE;
    plan.scale16 = depth == 16;
    const bool grayPalette = colorType == PNG_COLOR_TYPE_GRAY && !(depth == 16 && hasTrns);
    if (colorType == PNG_COLOR_TYPE_PALETTE || grayPalette) {
        plan.bitCount = depth == 1 ? 1 : depth <= 4 ? 4 : 8;
        plan.widen2 = depth == 2;
    } else if (colorType == PNG_COLOR_TYPE_RGB && !hasTrns) {
        plan.bitCount = 24;
        plan.bgr = true;
    } else {
        plan.bitCount = 32;
        plan.bgr = true;
        plan.toRgb = !(colorType & PNG_COLOR_MASK_COLOR);
        plan.tRnsToAlpha = hasTrns;
    }
    if (auto bytes = checkImageSize(width, height, plan.bitCount); !bytes)
        return Status(bytes.status().code(), "PNG: " + bytes.status().message());
    const int channels = png_get_channels(r.png, r.info);
    const uint64_t storedBytes = (uint64_t{width} * height * channels * depth) / 8;
    if (idatBytes(data, size) * kMaxDeflateRatio < storedBytes)
        return {Error::Corrupt, "PNG: the image data is far too short for " +
                                    std::to_string(width) + "x" + std::to_string(height) +
                                    " pixels"};

    if (!setTransforms(r, plan)) return failure(r);
    const size_t rowBytes = png_get_rowbytes(r.png, r.info);

    auto made = makeImage(width, height, plan.bitCount);
    if (!made) return Status(made.status().code(), "PNG: " + made.status().message());
    Image image = std::move(made).value();
    plan.pixels = image.pixels.data();
    plan.stride = image.stride;
    std::vector<uint8_t> scratch;
    if (plan.widen2) {
        plan.scratchStride = rowBytes;
        scratch.resize(rowBytes * (plan.interlaced ? height : 1));
        plan.scratch = scratch.data();
    } else if (rowBytes > image.stride) {
        return {Error::Corrupt, "PNG: unexpected row size " + std::to_string(rowBytes)};
    }

    // libpng has read up to the first IDAT chunk's data.
    const bool twoThreads = !plan.interlaced && depth == 8 && !plan.toRgb && !plan.tRnsToAlpha &&
                            (colorType == PNG_COLOR_TYPE_RGB || colorType == PNG_COLOR_TYPE_RGBA) &&
                            r.pos >= 8 && std::memcmp(data + r.pos - 4, "IDAT", 4) == 0;
    Status fast(Error::Unsupported, "");
    if (twoThreads) {
        fast = colorType == PNG_COLOR_TYPE_RGB
                   ? readRowsTwoThreads<3>(data, size, r.pos - 8, image)
                   : readRowsTwoThreads<4>(data, size, r.pos - 8, image);
        if (!fast && fast.code() != Error::Unsupported) return fast;
    }
    if (!fast) {
        if (!readRows(r, plan)) return failure(r);
        // The rest of the file: the CRC of the last IDAT and the chunks after
        // it. A file that merely stops after its complete image data is accepted.
        if (!readEnd(r) && !r.ended) return failure(r);
    }

    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp colors = nullptr;
        int count = 0;
        png_get_PLTE(r.png, r.info, &colors, &count);
        count = std::min(count, 1 << depth);
        image.palette.resize(static_cast<size_t>(std::max(count, 0)));
        for (int i = 0; i < count; ++i) {
            PaletteEntry &e = image.palette[i];
            e = {colors[i].blue, colors[i].green, colors[i].red, 255};
            if (hasTrns && trnsAlpha && i < trnsCount) e.a = trnsAlpha[i];
        }
        padPalette(image);
    } else if (grayPalette) {
        const int levels = 1 << std::min(depth, 8);
        image.palette.resize(levels);
        for (int i = 0; i < levels; ++i) {
            auto v = static_cast<uint8_t>(i * 255 / (levels - 1));
            image.palette[i] = {v, v, v, 255};
        }
        if (hasTrns && trnsColor && trnsColor->gray < levels) image.palette[trnsColor->gray].a = 0;
    }

    png_uint_32 resX = 0, resY = 0;
    int unit = 0;
    if (png_get_pHYs(r.png, r.info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
        image.xPelsPerMeter = static_cast<int32_t>(std::min<png_uint_32>(resX, INT32_MAX));
        image.yPelsPerMeter = static_cast<int32_t>(std::min<png_uint_32>(resY, INT32_MAX));
    }
    return image;
}

} // namespace imgctl
