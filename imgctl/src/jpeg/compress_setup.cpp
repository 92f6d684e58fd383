// SPDX-License-Identifier: MIT
#include "jpeg/compress_setup.h"

#include "core/pixels.h"
#include "meta/exif.h"

#include <algorithm>
#include <cstring>

namespace imgctl {
namespace {

[[noreturn]] void onError(j_common_ptr cinfo) {
    auto *err = reinterpret_cast<JpegErrors *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void onMessage(j_common_ptr, int) {}

} // namespace

void useJpegErrors(jpeg_compress_struct &cinfo, JpegErrors &errors) {
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = onError;
    errors.pub.emit_message = onMessage;
    errors.message[0] = 0;
}

RowFeeder::RowFeeder(const Image &image) : image_(image), bgr_(image) {
    if (hasGrayPalette(image)) {
        kind_ = Kind::Gray;
        space_ = JCS_GRAYSCALE;
        components_ = 1;
        for (size_t i = 0; i < image.palette.size() && i < gray_.size(); ++i)
            gray_[i] = image.palette[i].r;
    } else if (image.bitCount == 32) {
        kind_ = Kind::Bgra;
        space_ = JCS_EXT_BGRX;
        components_ = 4;
    } else if (image.bitCount != 24) {
        kind_ = Kind::Other;
    }
    buffer_.resize(size_t{image.width} * components_);
}

JSAMPROW RowFeeder::row(uint32_t y) {
    const uint8_t *src = image_.row(y);
    const uint32_t w = image_.width;
    uint8_t *dst = buffer_.data();
    switch (kind_) {
    case Kind::Bgr:
        return const_cast<JSAMPROW>(src);
    case Kind::Bgra: {
        // Opaque rows go straight in; the rest is laid over white.
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
    case Kind::Gray:
        for (uint32_t x = 0; x < w; ++x)
            dst[x] = gray_[paletteIndex(src, x, image_.bitCount)];
        return dst;
    case Kind::Other:
        bgr_.read(y, 0, w, dst);
        return dst;
    }
    return dst;
}

void configure(jpeg_compress_struct &cinfo, const Image &image, const RowFeeder &feeder,
               uint32_t height, int quality) {
    cinfo.image_width = image.width;
    cinfo.image_height = height;
    cinfo.input_components = feeder.components();
    cinfo.in_color_space = feeder.space();
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
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
}

void writeMetadata(jpeg_compress_struct &cinfo, const Image &image) {
    constexpr size_t kMaxSegment = 65533; // a segment's length field counts itself
    // Written byte by byte: nothing here owns memory, since a libjpeg error
    // jumps out of this frame.
    auto put = [&](const Blob &blob, const char *header, size_t headerSize) {
        if (!blob || blob->size() > kMaxSegment - headerSize) return;
        jpeg_write_m_header(&cinfo, JPEG_APP0 + 1,
                            static_cast<unsigned>(headerSize + blob->size()));
        for (size_t i = 0; i < headerSize; ++i)
            jpeg_write_m_byte(&cinfo, static_cast<uint8_t>(header[i]));
        for (uint8_t b : *blob)
            jpeg_write_m_byte(&cinfo, b);
    };
    put(image.meta.exif, kExifHeader, kExifHeaderSize);
    put(image.meta.xmp, kXmpHeader, kXmpHeaderSize);
    if (image.hasProfile())
        jpeg_write_icc_profile(&cinfo, image.colour.icc->data(),
                               static_cast<unsigned>(image.colour.icc->size()));
}

void writeRows(jpeg_compress_struct &cinfo, RowFeeder &feeder, uint32_t y0, PageRelease *release) {
    JSAMPROW rows[16];
    while (cinfo.next_scanline < cinfo.image_height) {
        uint32_t y = y0 + cinfo.next_scanline;
        uint32_t n =
            feeder.direct() ? std::min<uint32_t>(16, cinfo.image_height - cinfo.next_scanline) : 1;
        for (uint32_t i = 0; i < n; ++i)
            rows[i] = feeder.row(y + i);
        jpeg_write_scanlines(&cinfo, rows, n);
        // libjpeg has taken its own copy of every row it returned for.
        if (release)
            release->consumedUpTo(feeder.image().row(y0) +
                                  cinfo.next_scanline * feeder.image().stride);
    }
    if (release)
        release->finish(feeder.image().row(y0) +
                        size_t{cinfo.image_height} * feeder.image().stride);
}

} // namespace imgctl
