// SPDX-License-Identifier: MIT
// The library's operations, as the C interface calls them. Every converting
// operation gives the strong guarantee: it either succeeds or leaves the image
// exactly as it was.
#pragma once

#include "core/image.h"
#include "imgctl.h"

#include <cstdint>
#include <vector>

namespace imgctl {

// ---- Loading (load.cpp, bmp_read.cpp, jpeg_read.cpp, png_read.cpp) ----

// Reads a file and decodes it, telling the format from its first bytes.
Result<Image> loadImage(const char *path);
// Decoders over a whole file held in memory.
// fileMapped: data is a read-only mapping of the file, whose pages the BMP
// decoder hands back once their rows are copied (the file's bytes and the
// image are then never both resident in full).
Result<Image> decodeBmp(const uint8_t *data, size_t size, bool fileMapped = false);
Result<Image> decodeJpeg(const uint8_t *data, size_t size);
Result<Image> decodePng(const uint8_t *data, size_t size);

// ---- Run-length coding (rle.cpp) ----

// Encodes a 4 or 8-bit image's pixels as an RLE4 / RLE8 stream: every row
// closed by end-of-line, the image by end-of-bitmap, absolute runs padded to
// 16 bits, no delta codes.
std::vector<uint8_t> encodeRle(const Image &image);
// Drops the compressed stream; the pixels already hold the expanded indices.
Status expandRle(Image &image);
// 8-bit to RLE8, 4-bit to RLE4; other depths fail.
Status compressRle(Image &image);

// ---- Depth conversions and gray (convert.cpp, quantize.cpp) ----

Status convertTo24(Image &image);
Status convertTo16(Image &image, int32_t flag);
Status convertTo8(Image &image, int32_t a, int32_t b);
// level already clamped to 0..255.
Status grayImage(Image &image, int level);

// ---- Drawing (draw.cpp) ----

Status drawImage(const Image &image, const ImgctlSurface &surface, int32_t dx, int32_t dy,
                 int32_t dw, int32_t dh, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                 uint32_t rop, int32_t mode);

// ---- Saving (bmp_write.cpp, jpeg_write.cpp, png_write.cpp) ----

// Bytes of pixel data as a BMP file holds them (the RLE stream when
// compressed), as HeadDIB reports in biSizeImage.
uint64_t bmpDataSize(const Image &image);
Status saveBmp(const Image &image, const char *path);
Status saveJpeg(const Image &image, const char *path, int quality, bool progressive);
Status savePng(const Image &image, const char *path, int level, bool interlaced);

} // namespace imgctl
