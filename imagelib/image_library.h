// SPDX-License-Identifier: MIT
// The calls the program makes into the image library, behind an interface so
// that tests can put a recording fake in place of libimgctl.so.
#pragma once

#include <imgctl.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace imagelib {

// The library could not be loaded, or it lacks a function. Raised at the call
// that needed it; the message names the library or the function.
class LibraryError : public std::runtime_error {
  public:
    LibraryError(std::string library, std::string function, const std::string &message)
        : std::runtime_error(message), library_(std::move(library)),
          function_(std::move(function)) {}

    const std::string &library() const { return library_; }
    // Empty when the library itself could not be loaded.
    const std::string &function() const { return function_; }

  private:
    std::string library_;
    std::string function_;
};

// The fourteen operations the conversion uses, named and typed as in imgctl.h.
// Paths are UTF-8. Implementations raise LibraryError when they cannot reach
// the function; every other outcome is the function's own result.
class ImageLibrary {
  public:
    virtual ~ImageLibrary() = default;

    virtual int32_t ToDIB(const char *path) = 0;
    virtual int32_t HeadDIB(int32_t image, BITMAPINFOHEADER *header) = 0;
    virtual int32_t DIBtoDCex2(ImgctlSurface *dc, int32_t dx, int32_t dy, int32_t dw, int32_t dh,
                               int32_t image, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                               uint32_t rop, int32_t mode) = 0;
    virtual int32_t DeleteDIB(int32_t image) = 0;
    virtual int32_t RLEtoDIB(int32_t image) = 0;
    virtual int32_t DIBto24Bit(int32_t image) = 0;
    virtual int32_t DIBto16Bit(int32_t image, int32_t *flag) = 0;
    virtual int32_t DIBto8Bit(int32_t image, int32_t a, int32_t b) = 0;
    virtual int32_t DIBtoRLE(int32_t image) = 0;
    virtual int32_t GrayDIB(int32_t image, int32_t level) = 0;
    virtual int32_t DIBtoBMP(const char *path, int32_t image) = 0;
    virtual int32_t DIBtoJPG(const char *path, int32_t image, int32_t quality,
                             int32_t progressive) = 0;
    virtual int32_t DIBtoPNG(const char *path, int32_t image, int32_t zero) = 0;
    virtual int32_t DIBtoPNGex(const char *path, int32_t image, const PngOptions *options) = 0;
};

} // namespace imagelib
