// SPDX-License-Identifier: MIT
// The library's operations, as the C interface calls them. Every converting
// operation gives the strong guarantee: it either succeeds or leaves the image
// exactly as it was. Operations with fast paths take the tuning record
// (core/tuning.h); the C interface passes the defaults.
#pragma once

#include "core/image.h"
#include "core/tuning.h"
#include "imgctl.h"

#include <cstdint>
#include <vector>

namespace imgctl {

// ---- Loading (io/load.cpp, bmp/bmp_read.cpp, jpeg/jpeg_read.cpp, png/png_read.cpp) ----

// Reads a file and decodes it, telling the format from its first bytes.
Result<Image> loadImage(const char *path, const Tuning &tuning = Tuning());
// Decoders over a whole file held in memory.
// fileMapped: data is a read-only mapping of the file, whose pages the BMP
// and PNG decoders hand back once they are copied (the file's bytes and the
// image, or a copy of its compressed data, are then never both resident in
// full).
Result<Image> decodeBmp(const uint8_t *data, size_t size, const Tuning &tuning = Tuning(),
                        bool fileMapped = false);
Result<Image> decodeJpeg(const uint8_t *data, size_t size);
Result<Image> decodePng(const uint8_t *data, size_t size, const Tuning &tuning = Tuning(),
                        bool fileMapped = false);

// ---- Run-length coding (bmp/rle_write.cpp) ----

// Encodes a 4 or 8-bit image's pixels as an RLE4 / RLE8 stream: every row
// closed by end-of-line, the image by end-of-bitmap, absolute runs padded to
// 16 bits, no delta codes.
std::vector<uint8_t> encodeRle(const Image &image);
// Drops the compressed stream; the pixels already hold the expanded indices.
Status expandRle(Image &image);
// 8-bit to RLE8, 4-bit to RLE4; other depths fail.
Status compressRle(Image &image);

// ---- Depth conversions and gray (convert/convert.cpp, quantize/) ----

Status convertTo24(Image &image);
Status convertTo16(Image &image, int32_t flag);
Status convertTo8(Image &image, int32_t a, int32_t b, const Tuning &tuning = Tuning());
// level already clamped to 0..255.
Status grayImage(Image &image, int level);

// ---- Colour and metadata (colour/transform.cpp) ----

// Converts an image with a profile to sRGB (colour/transform.h) and drops its
// colour space, EXIF and XMP: the image is then untagged.
Status stripImage(Image &image);

// ---- Drawing (draw/draw.cpp) ----

Status drawImage(const Image &image, const ImgctlSurface &surface, int32_t dx, int32_t dy,
                 int32_t dw, int32_t dh, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                 uint32_t rop, int32_t mode);

// ---- Saving (bmp/bmp_write.cpp, jpeg/jpeg_write.cpp, png/png_write.cpp) ----

// Bytes of pixel data as a BMP file holds them (the RLE stream when
// compressed), as HeadDIB reports in biSizeImage.
uint64_t bmpDataSize(const Image &image);
Status saveBmp(const Image &image, const char *path);
Status saveJpeg(const Image &image, const char *path, int quality, bool progressive,
                const Tuning &tuning = Tuning());
// saveJpeg for an image deleted right after: when libjpeg encodes the image
// whole (progressive and small files), the memory behind the rows it has
// taken goes back to the system as it goes, so the image and all of its
// coefficients are never held at once. The pixels read as zeros afterwards.
Status saveJpegLastUse(Image &image, const char *path, int quality, bool progressive,
                       const Tuning &tuning = Tuning());
Status savePng(const Image &image, const char *path, int level, bool interlaced,
               const Tuning &tuning = Tuning());

} // namespace imgctl
