// Writing JPEG files with libjpeg-turbo: optimised Huffman tables, 4:2:0
// below quality 90 and 4:4:4 from 90 up, progressive on request, a gray
// palette image as a one-component JPEG, alpha composited over white.
// 24-bit and opaque 32-bit rows go to the encoder straight from the image;
// other layouts are converted one row at a time into a small buffer.
#include "file_out.h"
#include "ops.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace imgctl {
namespace {

constexpr size_t kChunk = size_t{64} << 10;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void onError(j_common_ptr cinfo) {
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void onMessage(j_common_ptr, int) {}

// Hands the encoder's output straight into the output file's buffer.
struct Destination {
    jpeg_destination_mgr pub;
    OutputFile *out;
};

void claimChunk(j_compress_ptr cinfo) {
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    uint8_t *p = dest->out->reserve(kChunk);
    if (!p) ERREXIT(cinfo, JERR_FILE_WRITE);
    dest->pub.next_output_byte = p;
    dest->pub.free_in_buffer = kChunk;
}

void initDestination(j_compress_ptr cinfo) {
    claimChunk(cinfo);
}

boolean emptyOutputBuffer(j_compress_ptr cinfo) {
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    dest->out->advance(kChunk);
    claimChunk(cinfo);
    return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    dest->out->advance(kChunk - dest->pub.free_in_buffer);
}

inline uint8_t overWhite(uint8_t c, uint8_t a) {
    return static_cast<uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}

// Gives the encoder its rows in the colour space chosen for the image.
class RowFeeder {
  public:
    explicit RowFeeder(const Image &image) : image_(image) {
        if (image.isPalette()) {
            if (hasGrayPalette(image)) {
                kind_ = Kind::Gray;
                space_ = JCS_GRAYSCALE;
                components_ = 1;
                lut_.fill(0);
                for (size_t i = 0; i < image.palette.size(); ++i)
                    lut_[3 * i] = image.palette[i].r;
            } else {
                kind_ = Kind::Palette;
                lut_.fill(0);
                for (size_t i = 0; i < image.palette.size(); ++i) {
                    const PaletteEntry &e = image.palette[i];
                    lut_[3 * i] = overWhite(e.b, e.a);
                    lut_[3 * i + 1] = overWhite(e.g, e.a);
                    lut_[3 * i + 2] = overWhite(e.r, e.a);
                }
            }
        } else if (image.bitCount == 16) {
            kind_ = Kind::Rgb555;
        } else if (image.bitCount == 32) {
            kind_ = Kind::Bgra;
            space_ = JCS_EXT_BGRX;
            components_ = 4;
        }
        buffer_.resize(size_t{image.width} * components_);
    }

    J_COLOR_SPACE space() const { return space_; }
    int components() const { return components_; }
    // Rows taken straight from the image need no buffer, so several can go at once.
    bool direct() const { return kind_ == Kind::Bgr; }

    JSAMPROW row(uint32_t y) {
        const uint8_t *src = image_.row(y);
        const uint32_t w = image_.width;
        uint8_t *dst = buffer_.data();
        switch (kind_) {
        case Kind::Bgr:
            return const_cast<JSAMPROW>(src);
        case Kind::Bgra: {
            uint32_t x = 0;
            while (x < w && src[4 * x + 3] == 255)
                ++x;
            if (x == w) return const_cast<JSAMPROW>(src);
            std::memcpy(dst, src, 4 * size_t{x});
            for (; x < w; ++x) {
                const uint8_t *p = src + 4 * x;
                uint8_t *q = dst + 4 * x;
                q[0] = overWhite(p[0], p[3]);
                q[1] = overWhite(p[1], p[3]);
                q[2] = overWhite(p[2], p[3]);
                q[3] = 255;
            }
            return dst;
        }
        case Kind::Rgb555:
            for (uint32_t x = 0; x < w; ++x) {
                unsigned v = src[2 * x] | (src[2 * x + 1] << 8);
                dst[3 * x] = expand5(v & 31);
                dst[3 * x + 1] = expand5((v >> 5) & 31);
                dst[3 * x + 2] = expand5((v >> 10) & 31);
            }
            return dst;
        case Kind::Gray:
            for (uint32_t x = 0; x < w; ++x)
                dst[x] = lut_[3 * index(src, x)];
            return dst;
        case Kind::Palette:
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t *c = &lut_[3 * index(src, x)];
                dst[3 * x] = c[0];
                dst[3 * x + 1] = c[1];
                dst[3 * x + 2] = c[2];
            }
            return dst;
        }
        return dst;
    }

  private:
    enum class Kind { Bgr, Bgra, Rgb555, Gray, Palette };

    static uint8_t expand5(unsigned v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }
    unsigned index(const uint8_t *row, uint32_t x) const {
        return paletteIndex(row, x, image_.bitCount);
    }

    const Image &image_;
    Kind kind_ = Kind::Bgr;
    J_COLOR_SPACE space_ = JCS_EXT_BGR;
    int components_ = 3;
    std::array<uint8_t, 256 * 3> lut_{};
    std::vector<uint8_t> buffer_;
};

// The libjpeg part. It holds no object with a destructor, so the error
// handler's longjmp back here skips nothing that needs cleaning up.
Status encode(const Image &image, RowFeeder &feeder, OutputFile &out, int quality, bool progressive,
              const char *path) {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    Destination dest;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onMessage;
    err.message[0] = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        if (!out.status()) return out.status();
        return {Error::CannotWrite, std::string(path) + ": JPEG encoder: " + err.message};
    }
    jpeg_create_compress(&cinfo);
    dest.pub.init_destination = initDestination;
    dest.pub.empty_output_buffer = emptyOutputBuffer;
    dest.pub.term_destination = termDestination;
    dest.out = &out;
    cinfo.dest = &dest.pub;

    cinfo.image_width = image.width;
    cinfo.image_height = image.height;
    cinfo.input_components = feeder.components();
    cinfo.in_color_space = feeder.space();
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.optimize_coding = TRUE;
    if (cinfo.num_components == 3) {
        const int factor = quality < 90 ? 2 : 1;
        cinfo.comp_info[0].h_samp_factor = factor;
        cinfo.comp_info[0].v_samp_factor = factor;
        for (int c = 1; c < 3; ++c) {
            cinfo.comp_info[c].h_samp_factor = 1;
            cinfo.comp_info[c].v_samp_factor = 1;
        }
    }
    if (image.xPelsPerMeter > 0 && image.yPelsPerMeter > 0) {
        // Pels per metre to dots per centimetre.
        cinfo.density_unit = 2;
        cinfo.X_density =
            static_cast<UINT16>(std::clamp((image.xPelsPerMeter + 50) / 100, 1, 65535));
        cinfo.Y_density =
            static_cast<UINT16>(std::clamp((image.yPelsPerMeter + 50) / 100, 1, 65535));
    }
    if (progressive) jpeg_simple_progression(&cinfo);

    jpeg_start_compress(&cinfo, TRUE);
    JSAMPROW rows[16];
    while (cinfo.next_scanline < cinfo.image_height) {
        uint32_t y = cinfo.next_scanline;
        uint32_t n = feeder.direct() ? std::min<uint32_t>(16, image.height - y) : 1;
        for (uint32_t i = 0; i < n; ++i)
            rows[i] = feeder.row(y + i);
        jpeg_write_scanlines(&cinfo, rows, n);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return out.status();
}

} // namespace

Status saveJpeg(const Image &image, const char *path, int quality, bool progressive) {
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
    if (image.isPalette() && image.palette.size() > (size_t{1} << image.bitCount))
        return {Error::BadArgument, "the palette has more entries than the bit depth allows"};

    RowFeeder feeder(image);
    OutputFile out;
    if (Status s = out.open(path); !s) return s;
    if (Status s = encode(image, feeder, out, std::clamp(quality, 1, 100), progressive, path); !s)
        return s;
    return out.commit();
}

} // namespace imgctl
