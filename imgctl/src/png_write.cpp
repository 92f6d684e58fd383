// Writing PNG files with libpng. The colour type is chosen without loss:
// a palette image becomes a palette PNG of 1, 2, 4 or 8 bits by palette size
// (tRNS for translucent entries), or a grayscale PNG when its palette is
// exactly the gray ramp of that depth; 16 and 24-bit become RGB, 32-bit RGBA,
// or RGB when every pixel is opaque.
#include "file_out.h"
#include "ops.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <png.h>
#include <zlib.h>

namespace imgctl {
namespace {

// What the PNG file holds and how the image's rows become its rows.
enum class RowKind {
    Direct,  // the image row as it is (24-bit BGR, 32-bit BGRA / BGRX)
    Indices, // palette indices repacked to the PNG's bit depth
    Rgb555,  // 16-bit expanded to 8-bit RGB
};

struct Layout {
    int colorType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    RowKind kind = RowKind::Direct;
    bool stripFiller = false; // 32-bit opaque: drop the fourth byte
};

// Bits per index needed for a palette of n entries.
int depthForPalette(size_t n) {
    if (n <= 2) return 1;
    if (n <= 4) return 2;
    if (n <= 16) return 4;
    return 8;
}

// True when the palette is the full gray ramp of `depth` bits: entry i is
// i * 255 / (2^depth - 1).
bool isGrayRamp(const Image &image, int depth) {
    const size_t n = size_t{1} << depth;
    if (image.palette.size() != n || !hasGrayPalette(image)) return false;
    for (size_t i = 0; i < n; ++i)
        if (image.palette[i].r != i * 255 / (n - 1)) return false;
    return true;
}

Layout chooseLayout(const Image &image) {
    Layout l;
    if (image.isPalette()) {
        l.kind = RowKind::Indices;
        l.bitDepth = depthForPalette(image.palette.size());
        l.colorType = isGrayRamp(image, l.bitDepth) ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_PALETTE;
    } else if (image.bitCount == 16) {
        l.kind = RowKind::Rgb555;
    } else if (image.bitCount == 32) {
        if (hasTransparency(image))
            l.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
        else
            l.stripFiller = true;
    }
    return l;
}

// Makes the PNG rows that differ from the image's rows.
class RowMaker {
  public:
    RowMaker(const Image &image, const Layout &layout) : image_(image), layout_(layout) {
        if (layout.kind == RowKind::Indices)
            buffer_.resize((size_t{image.width} * layout.bitDepth + 7) / 8);
        else if (layout.kind == RowKind::Rgb555)
            buffer_.resize(size_t{image.width} * 3);
        maxIndex_ = image.palette.empty() ? 0 : static_cast<unsigned>(image.palette.size() - 1);
    }

    png_bytep row(uint32_t y) {
        const uint8_t *src = image_.row(y);
        uint8_t *dst = buffer_.data();
        const uint32_t w = image_.width;
        switch (layout_.kind) {
        case RowKind::Direct:
            return const_cast<png_bytep>(src);
        case RowKind::Rgb555:
            for (uint32_t x = 0; x < w; ++x) {
                unsigned v = src[2 * x] | (src[2 * x + 1] << 8);
                dst[3 * x] = expand5((v >> 10) & 31);
                dst[3 * x + 1] = expand5((v >> 5) & 31);
                dst[3 * x + 2] = expand5(v & 31);
            }
            return dst;
        case RowKind::Indices: {
            const int depth = layout_.bitDepth;
            if (depth == image_.bitCount && allInRange(src)) {
                // Same packing: copy, clearing the unused low bits of a last
                // partial byte.
                const size_t bytes = buffer_.size();
                std::memcpy(dst, src, bytes);
                unsigned tail = static_cast<unsigned>((uint64_t{w} * depth) % 8);
                if (tail) dst[bytes - 1] &= static_cast<uint8_t>(0xFF00u >> tail);
                return dst;
            }
            std::fill(buffer_.begin(), buffer_.end(), 0);
            const unsigned perByte = 8 / depth;
            for (uint32_t x = 0; x < w; ++x) {
                unsigned v = std::min<unsigned>(paletteIndex(src, x, image_.bitCount), maxIndex_);
                unsigned shift = 8 - depth * (x % perByte + 1);
                dst[x / perByte] |= static_cast<uint8_t>(v << shift);
            }
            return dst;
        }
        }
        return dst;
    }

  private:
    static uint8_t expand5(unsigned v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }

    // An index past the palette would make an invalid PNG; such rows take
    // the slow path, which clamps.
    bool allInRange(const uint8_t *src) const {
        if (maxIndex_ + 1 >= (1u << image_.bitCount)) return true;
        for (uint32_t x = 0; x < image_.width; ++x)
            if (paletteIndex(src, x, image_.bitCount) > maxIndex_) return false;
        return true;
    }

    const Image &image_;
    const Layout &layout_;
    std::vector<uint8_t> buffer_;
    unsigned maxIndex_ = 0;
};

struct WriteState {
    OutputFile *out;
    std::jmp_buf jump;
    char message[200];
};

[[noreturn]] void onError(png_structp png, png_const_charp msg) {
    auto *state = static_cast<WriteState *>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", msg ? msg : "unknown error");
    std::longjmp(state->jump, 1);
}

void onWarning(png_structp, png_const_charp) {}

void writeData(png_structp png, png_bytep data, png_size_t size) {
    auto *state = static_cast<WriteState *>(png_get_io_ptr(png));
    if (!state->out->write(data, size)) png_error(png, "write failed");
}

void flushData(png_structp) {}

// The libpng part. It holds no object with a destructor, so the error
// handler's longjmp back here skips nothing that needs cleaning up.
Status encode(const Image &image, const Layout &layout, RowMaker &rows, OutputFile &out, int level,
              bool interlaced, const char *path) {
    WriteState state;
    state.out = &out;
    state.message[0] = 0;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, onError, onWarning);
    if (!png) return {Error::OutOfMemory, "cannot start the PNG encoder"};
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return {Error::OutOfMemory, "cannot start the PNG encoder"};
    }
    if (setjmp(state.jump)) {
        png_destroy_write_struct(&png, &info);
        if (!out.status()) return out.status();
        return {Error::CannotWrite, std::string(path) + ": PNG encoder: " + state.message};
    }
    png_set_write_fn(png, &state, writeData, flushData);

    png_set_IHDR(png, info, image.width, image.height, layout.bitDepth, layout.colorType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (layout.colorType == PNG_COLOR_TYPE_PALETTE) {
        png_color colors[256];
        png_byte alpha[256];
        int lastTranslucent = -1;
        const int n = static_cast<int>(image.palette.size());
        for (int i = 0; i < n; ++i) {
            const PaletteEntry &e = image.palette[i];
            colors[i] = {e.r, e.g, e.b};
            alpha[i] = e.a;
            if (e.a != 255) lastTranslucent = i;
        }
        png_set_PLTE(png, info, colors, n);
        if (lastTranslucent >= 0) png_set_tRNS(png, info, alpha, lastTranslucent + 1, nullptr);
    }
    if (image.xPelsPerMeter > 0 && image.yPelsPerMeter > 0)
        png_set_pHYs(png, info, static_cast<png_uint_32>(image.xPelsPerMeter),
                     static_cast<png_uint_32>(image.yPelsPerMeter), PNG_RESOLUTION_METER);

    png_set_compression_level(png, level);
    png_set_compression_buffer_size(png, 256 * 1024);
    // Palette and low-depth rows compress best unfiltered; so does level 0.
    const bool lowDepth = layout.colorType == PNG_COLOR_TYPE_PALETTE || layout.bitDepth < 8;
    if (level == 0 || lowDepth) {
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    } else if (level <= 5) {
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_PAETH);
        png_set_compression_strategy(png, Z_FILTERED);
    } else {
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
        png_set_compression_strategy(png, Z_FILTERED);
    }

    png_write_info(png, info);
    if (layout.kind == RowKind::Direct) png_set_bgr(png);
    if (layout.stripFiller) png_set_filler(png, 0, PNG_FILLER_AFTER);
    const int passes = interlaced ? png_set_interlace_handling(png) : 1;
    for (int pass = 0; pass < passes; ++pass)
        for (uint32_t y = 0; y < image.height; ++y)
            png_write_row(png, rows.row(y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out.status();
}

} // namespace

Status savePng(const Image &image, const char *path, int level, bool interlaced) {
    if (image.width == 0 || image.height == 0 || image.width > kMaxDimension ||
        image.height > kMaxDimension)
        return {Error::BadArgument, "the image has no valid size"};
    switch (image.bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return {Error::BadArgument, "bit count " + std::to_string(image.bitCount)};
    }
    if (image.stride < strideFor(image.width, image.bitCount) ||
        image.pixels.size() < image.stride * image.height)
        return {Error::BadArgument, "the image's pixel buffer is too small"};
    if (image.isPalette() &&
        (image.palette.empty() || image.palette.size() > (size_t{1} << image.bitCount)))
        return {Error::BadArgument, "a palette image needs 1 to 2^bits palette entries"};

    const Layout layout = chooseLayout(image);
    RowMaker rows(image, layout);
    OutputFile out;
    if (Status s = out.open(path); !s) return s;
    if (Status s = encode(image, layout, rows, out, std::clamp(level, 0, 9), interlaced, path); !s)
        return s;
    return out.commit();
}

} // namespace imgctl
