// SPDX-License-Identifier: MIT
// What the whole-image and the split JPEG encoders share: libjpeg's error
// handling, the rows an image gives the encoder, and the settings every
// encoder of one image uses, so that separately encoded parts of it carry
// the same tables and sampling.
#pragma once

#include "core/image.h"
#include "core/pixel_rows.h"
#include "io/page_release.h"

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <array>
#include <csetjmp>
#include <cstdint>
#include <vector>

namespace imgctl {

// libjpeg's error manager with a jump back to the calling phase function.
struct JpegErrors {
    jpeg_error_mgr pub; // first: libjpeg sees only this part
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// Hooks an error manager into cinfo: errors jump back, warnings are dropped.
void useJpegErrors(jpeg_compress_struct &cinfo, JpegErrors &errors);

// Gives the encoder an image's rows in the colour space chosen for it: a
// gray palette as one gray component, every other image as B, G, R with
// alpha composited over white.
class RowFeeder {
  public:
    explicit RowFeeder(const Image &image);

    const Image &image() const { return image_; }
    J_COLOR_SPACE space() const { return space_; }
    int components() const { return components_; }
    // Rows taken straight from the image need no buffer, so several can go at once.
    bool direct() const { return kind_ == Kind::Bgr; }
    // Row y as the encoder takes it; valid until the next call.
    JSAMPROW row(uint32_t y);

  private:
    enum class Kind { Bgr, Bgra, Gray, Other };

    const Image &image_;
    BgrRows bgr_;
    Kind kind_ = Kind::Bgr;
    J_COLOR_SPACE space_ = JCS_EXT_BGR;
    int components_ = 3;
    std::array<uint8_t, 256> gray_{}; // a gray palette's levels
    std::vector<uint8_t> buffer_;
};

// The settings every encoder of an image shares, for `height` of its rows.
void configure(jpeg_compress_struct &cinfo, const Image &image, const RowFeeder &feeder,
               uint32_t height, int quality);

// Writes the image's EXIF and XMP (APP1) and ICC profile (APP2, split across
// markers as needed) into a started compressor, before any row. EXIF or XMP
// too large for one segment is left out.
void writeMetadata(jpeg_compress_struct &cinfo, const Image &image);

// Feeds rows y0 .. y0 + cinfo.image_height - 1 to a started compressor.
// With `release`, the image's pages behind the rows fed are handed back as
// the compressor takes them (for an image not read again).
void writeRows(jpeg_compress_struct &cinfo, RowFeeder &feeder, uint32_t y0,
               PageRelease *release = nullptr);

} // namespace imgctl
