// SPDX-License-Identifier: MIT
// The image library's functions that the program calls, listed once. Every
// binding is generated from this list: the ImageLibrary interface, the Qt
// binding that looks each function up by name, the command line's direct
// binding and the recording fake of the tests.
//
// X(result, name, parameters, arguments): the parameters as declared in
// imgctl.h, the arguments as the same names in a call. image_library.h checks
// each entry against the header's declaration.
#pragma once

#include <imgctl.h>

#include <cstdint>

// clang-format off
#define IMGCTL_FUNCTIONS(X)                                                                        \
    X(int32_t, ToDIB, (const char *path), (path))                                                  \
    X(int32_t, HeadDIB, (int32_t image, BITMAPINFOHEADER *header), (image, header))                \
    X(int32_t, DIBtoDCex2,                                                                         \
      (ImgctlSurface *dc, int32_t dx, int32_t dy, int32_t dw, int32_t dh, int32_t image,           \
       int32_t sx, int32_t sy, int32_t sw, int32_t sh, uint32_t rop, int32_t mode),                \
      (dc, dx, dy, dw, dh, image, sx, sy, sw, sh, rop, mode))                                      \
    X(int32_t, DeleteDIB, (int32_t image), (image))                                                \
    X(int32_t, RLEtoDIB, (int32_t image), (image))                                                 \
    X(int32_t, DIBto24Bit, (int32_t image), (image))                                               \
    X(int32_t, DIBto16Bit, (int32_t image, int32_t *flag), (image, flag))                          \
    X(int32_t, DIBto8Bit, (int32_t image, int32_t a, int32_t b), (image, a, b))                    \
    X(int32_t, DIBtoRLE, (int32_t image), (image))                                                 \
    X(int32_t, GrayDIB, (int32_t image, int32_t level), (image, level))                            \
    X(int32_t, DIBStrip, (int32_t image), (image))                                                 \
    X(int32_t, DIBtoBMP, (const char *path, int32_t image), (path, image))                         \
    X(int32_t, DIBtoJPG, (const char *path, int32_t image, int32_t quality, int32_t progressive),  \
      (path, image, quality, progressive))                                                         \
    X(int32_t, DIBtoPNG, (const char *path, int32_t image, int32_t zero), (path, image, zero))     \
    X(int32_t, DIBtoPNGex, (const char *path, int32_t image, const PngOptions *options),           \
      (path, image, options))                                                                      \
    X(int32_t, ImgctlReleaseWhileSaving, (int32_t image), (image))                                 \
    X(int32_t, ImgctlStopSaves, (), ())                                                            \
    X(const char *, ImgctlLastError, (), ())                                                       \
    X(int32_t, ImgctlLastErrorCode, (), ())
// clang-format on

// Declares each function as a member: IMGCTL_FUNCTIONS(IMGCTL_DECLARE_OVERRIDE)
// inside a class that implements ImageLibrary.
#define IMGCTL_DECLARE_OVERRIDE(result, name, parameters, arguments)                               \
    result name parameters override;
