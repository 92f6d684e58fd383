/* SPDX-License-Identifier: MIT */
/*
 * imgctl — an image library for BMP, JPEG and PNG files.
 *
 * Images live inside the library as device-independent bitmaps (DIBs) and are
 * named by integer handles. A loaded image holds what a BMP file can hold:
 * a 1, 4 or 8-bit palette, 16-bit 5-5-5, 24-bit, or 32-bit with alpha.
 *
 * Handles
 *   Positive, issued from 1 upward and never reused while the process lives,
 *   so a stale handle never names a newer image. Every function given 0, a
 *   negative, an unknown or a released handle fails without effect; DeleteDIB
 *   of such a value does nothing. The handle table may be used from several
 *   threads at once; calls on the same handle are serialised.
 *
 * Ownership
 *   A function that returns an image consumes its input when it succeeds. It
 *   returns the same handle (the work is done in place) and the caller goes on
 *   with the returned value. When it fails it returns 0 and leaves its input
 *   valid and unchanged, so the caller can still release it.
 *
 * Results
 *   Image functions return a handle or 0. HeadDIB, DIBtoDCex2, DeleteDIB and
 *   the four saves return 1 on success and 0 on failure. After any failure,
 *   ImgctlLastError() names the cause in English and ImgctlLastErrorCode()
 *   gives its category, an ImgctlError value that a program can translate.
 *
 * Paths
 *   Zero-terminated UTF-8 (the platform's narrow encoding).
 *
 * Limits
 *   An image whose width or height passes IMGCTL_MAX_DIMENSION, or whose
 *   pixels would take more than IMGCTL_MAX_PIXEL_BYTES, is refused before any
 *   large allocation.
 *
 * Saves
 *   Each save writes an unnamed file in the target's folder (a hidden
 *   temporary file where the file system has no unnamed files), flushes it
 *   to disk and gives it the target's name only when the whole file is
 *   written, replacing an existing target in one step. A failed save, or a
 *   process ended during a save, leaves no partial file and an existing
 *   target untouched.
 *   An existing target that the caller may not write is not replaced: the
 *   save fails with IMGCTL_ERR_PERMISSION, as writing into it would.
 *
 * Threads
 *   The library's work runs within one thread budget for the process: as
 *   many threads at once as the processors the process may run on, or fewer
 *   when the environment variable IMGCTL_THREADS holds a smaller whole
 *   number (read on the library's first use; other values are ignored). Image
 *   operations called from several threads at once wait for their turn when
 *   the budget is used up, and one operation alone spreads its work over the
 *   idle processors. The library's threads are made on first use and ended
 *   at exit.
 *
 * Versions
 *   The shared library is libimgctl.so.1 (IMGCTL_VERSION_MAJOR). Its
 *   functions and records have served the Nubaro programs unchanged since
 *   they were first written, and from 1.0.0 on a release within major
 *   version 1 only adds: new functions, new ImgctlError values at the end,
 *   new PngOptions flags in bits that are zero today. Nothing is removed or
 *   changed, so a program built against any 1.x runs with every later 1.x.
 *   An incompatible change would come with libimgctl.so.2.
 */
#ifndef IMGCTL_H
#define IMGCTL_H

#include <stdint.h>

#if defined(IMGCTL_BUILDING)
#define IMGCTL_API __attribute__((visibility("default")))
#else
#define IMGCTL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The library's version; the major version is the one in its file name. */
#define IMGCTL_VERSION_MAJOR 1
#define IMGCTL_VERSION_MINOR 1
#define IMGCTL_VERSION_PATCH 0

#define IMGCTL_MAX_DIMENSION 65535
#define IMGCTL_MAX_PIXEL_BYTES (1024u * 1024u * 1024u)

/* The raster operation DIBtoDCex2 accepts: copy the source. */
#define IMGCTL_SRCCOPY 0x00CC0020u

/* biCompression values. */
#define IMGCTL_BI_RGB 0u
#define IMGCTL_BI_RLE8 1u
#define IMGCTL_BI_RLE4 2u

/* PngOptions.flags: Adam7 interlacing. */
#define IMGCTL_PNG_INTERLACED 128u

/* Categories of failure, as ImgctlLastErrorCode() returns them. The values
 * are stable; new categories are only added at the end. */
typedef enum ImgctlError {
    IMGCTL_OK = 0,
    IMGCTL_ERR_BAD_HANDLE = 1,    /* 0, negative, unknown or released handle */
    IMGCTL_ERR_BAD_ARGUMENT = 2,  /* a null pointer or a value the call does not accept */
    IMGCTL_ERR_NOT_FOUND = 3,     /* the source file does not exist */
    IMGCTL_ERR_CANNOT_READ = 4,   /* the source exists but cannot be read */
    IMGCTL_ERR_NOT_IMAGE = 5,     /* not a BMP, JPEG or PNG file */
    IMGCTL_ERR_UNSUPPORTED = 6,   /* a variant of the format this library does not read */
    IMGCTL_ERR_CORRUPT = 7,       /* damaged or truncated data */
    IMGCTL_ERR_TOO_LARGE = 8,     /* past IMGCTL_MAX_DIMENSION or IMGCTL_MAX_PIXEL_BYTES */
    IMGCTL_ERR_OUT_OF_MEMORY = 9, /* memory ran out */
    IMGCTL_ERR_CANNOT_WRITE = 10, /* a save failed for a reason not named below */
    IMGCTL_ERR_PERMISSION = 11,   /* the file or folder may not be read or written */
    IMGCTL_ERR_DISK_FULL = 12,    /* no space left, quota used up or file-size limit */
    IMGCTL_ERR_NO_FOLDER = 13,    /* the output's folder does not exist */
    IMGCTL_ERR_INTERNAL = 14      /* a fault inside the library, not in the input */
} ImgctlError;

#pragma pack(push, 1)

/* The 40-byte Windows bitmap information header, little-endian fields. */
typedef struct BITMAPINFOHEADER {
    uint32_t biSize;         /* 40 */
    int32_t biWidth;         /* pixels */
    int32_t biHeight;        /* pixels, always positive here */
    uint16_t biPlanes;       /* 1 */
    uint16_t biBitCount;     /* 1, 4, 8, 16, 24 or 32 */
    uint32_t biCompression;  /* IMGCTL_BI_RGB, IMGCTL_BI_RLE8 or IMGCTL_BI_RLE4 */
    uint32_t biSizeImage;    /* bytes of pixel data as a BMP file would hold them */
    int32_t biXPelsPerMeter; /* resolution, 0 when unknown */
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;      /* palette entries, 0 above 8 bits */
    uint32_t biClrImportant; /* 0 */
} BITMAPINFOHEADER;

/* Options of DIBtoPNGex, 36 bytes. Zero every byte, then set what is wanted. */
typedef struct PngOptions {
    uint32_t flags; /* IMGCTL_PNG_INTERLACED for Adam7, no other bit is used */
    int16_t level;  /* zlib level, clamped to 0..9 */
    uint8_t reserved[30];
} PngOptions;

#pragma pack(pop)

/* Where DIBtoDCex2 draws: caller-owned pixels, each 0xFFRRGGBB in a native
 * 32-bit word (what QImage::Format_RGB32 holds). */
typedef struct ImgctlSurface {
    uint32_t *pixels;
    int32_t width;
    int32_t height;
    int32_t stride_bytes;
} ImgctlSurface;

#ifdef __cplusplus
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");
static_assert(sizeof(PngOptions) == 36, "PngOptions is 36 bytes");
#else
_Static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");
_Static_assert(sizeof(PngOptions) == 36, "PngOptions is 36 bytes");
#endif

/* Loads a BMP, JPEG or PNG file; the format is told from the content, not the
 * name. JPEG EXIF orientation is applied, so the image comes out upright.
 * 16-bit PNG samples are reduced to 8 bits. An RLE BMP stays compressed
 * (biCompression RLE8/RLE4) until RLEtoDIB; every other function accepts it.
 * The image keeps the colour space its file declares (an ICC profile, sRGB,
 * or none) and its EXIF and XMP; palette images and CMYK JPEGs are
 * converted to sRGB on loading. docs/colour-policy.md gives the rules.
 * Returns a new handle, or 0. */
IMGCTL_API int32_t ToDIB(const char *path);

/* Fills *header with the image's description (biHeight positive). Returns 1,
 * or 0 for a bad handle or a null header. */
IMGCTL_API int32_t HeadDIB(int32_t image, BITMAPINFOHEADER *header);

/* Draws the source rectangle (sx, sy, sw, sh; y counted from the top) scaled
 * into the destination rectangle (dx, dy, dw, dh) of the surface, clipped to
 * the surface, in sRGB. rop must be IMGCTL_SRCCOPY. mode 4 resamples by area
 * averaging; modes 1 to 3 pick the nearest pixel. Alpha is composited over
 * white. The source rectangle must lie wholly inside the image and neither
 * rectangle may be empty; the part of the destination off the surface is
 * left out (all of it off the surface draws nothing and succeeds). The
 * surface's stride_bytes must be a multiple of 4 and at least 4 * width.
 * Returns 1, or 0 on a bad handle, surface, rectangle, rop or mode. */
IMGCTL_API int32_t DIBtoDCex2(ImgctlSurface *dc, int32_t dx, int32_t dy, int32_t dw, int32_t dh,
                              int32_t image, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                              uint32_t rop, int32_t mode);

/* Releases an image. Returns 1, or 0 (doing nothing) for a value that names no
 * live image. */
IMGCTL_API int32_t DeleteDIB(int32_t image);

/* Expands RLE4/RLE8 to the same depth, uncompressed. An image that is not
 * compressed comes back as it is. Returns the image's handle, or 0. */
IMGCTL_API int32_t RLEtoDIB(int32_t image);

/* Converts any image to 24 bits; alpha is composited over white. Returns the
 * image's handle, or 0. */
IMGCTL_API int32_t DIBto24Bit(int32_t image);

/* Converts any image to 16-bit 5-5-5 (BI_RGB), in sRGB; alpha is composited
 * over white.
 * *flag selects the channel reduction: 1 rounds each channel to the nearest
 * of its 32 levels, 0 truncates (keeps the top five bits). A null flag or any
 * other value fails. Returns the image's handle, or 0. */
IMGCTL_API int32_t DIBto16Bit(int32_t image, int32_t *flag);

/* Converts any image to an 8-bit palette of sRGB colours. An 8-bit image
 * comes back as it is; a 1 or 4-bit image keeps its palette. An image of at most 256 colours
 * (alpha included) keeps exactly its colours (no dithering). Otherwise an
 * adaptive palette is made, translucent pixels laid over white first: with
 * a = 0, b = 0 the pixels are error-diffusion dithered; with a = 0, b = 1
 * they are mapped to the nearest palette colour. Other argument values fail.
 * Returns the image's handle, or 0. */
IMGCTL_API int32_t DIBto8Bit(int32_t image, int32_t a, int32_t b);

/* Compresses an 8-bit image to RLE8 or a 4-bit image to RLE4. Every row ends
 * with end-of-line, the image with end-of-bitmap, absolute runs are padded to
 * 16 bits and no delta codes are written. Other depths fail and leave the
 * input intact. An image already compressed comes back as it is. Returns the
 * image's handle, or 0. */
IMGCTL_API int32_t DIBtoRLE(int32_t image);

/* Moves every colour toward its luminance (0.299 R + 0.587 G + 0.114 B) by
 * L/255, where L is the low 16 bits of level read as a signed number and
 * clamped to 0..255: 0 changes nothing, 255 gives pure gray. Each channel is
 * rounded to the nearest level (of 32 in a 16-bit image). A palette image
 * changes only its palette (keeping depth and compression); other images keep
 * their depth. Returns the image's handle, or 0. */
IMGCTL_API int32_t GrayDIB(int32_t image, int32_t level);

/* Converts an image with an ICC profile to sRGB and drops its colour space,
 * EXIF and XMP, so that the files written from it carry none of them.
 * Since 1.1. Returns the image's handle, or 0. */
IMGCTL_API int32_t DIBStrip(int32_t image);

/* Writes the image as a BMP exactly as HeadDIB describes it: a 40-byte header
 * (a V5 header with an alpha mask for 32-bit images with some pixel not
 * opaque), rows bottom-up, 4-byte aligned. Pixels of an image with an ICC
 * profile are written converted to sRGB. Returns 1, or 0. */
IMGCTL_API int32_t DIBtoBMP(const char *path, int32_t image);

/* Writes a baseline (progressive when non-zero) JPEG with optimised Huffman
 * tables. quality is clamped to 1..100; 4:2:0 below 90, 4:4:4 from 90 up; a
 * gray image gives a grayscale JPEG; alpha is composited over white. The
 * ICC profile goes into APP2 markers, EXIF and XMP into APP1 segments. The
 * JPEG format holds at most 65,500 pixels a side: a wider or taller image
 * fails. Returns 1, or 0. */
IMGCTL_API int32_t DIBtoJPG(const char *path, int32_t image, int32_t quality, int32_t progressive);

/* Writes a PNG at zlib level 6, not interlaced. zero must be 0. The colour
 * type is chosen without loss (palette, gray, RGB, or RGBA when some pixel is
 * not opaque). The ICC profile goes into iCCP (sRGB for an image declared
 * sRGB), EXIF into eXIf, XMP into an iTXt chunk. Returns 1, or 0. */
IMGCTL_API int32_t DIBtoPNG(const char *path, int32_t image, int32_t zero);

/* Like DIBtoPNG, with the level from options->level (clamped to 0..9) and
 * Adam7 interlacing when options->flags has IMGCTL_PNG_INTERLACED. A null
 * options pointer fails. Returns 1, or 0. */
IMGCTL_API int32_t DIBtoPNGex(const char *path, int32_t image, const PngOptions *options);

/* Marks the image as needed only by its next save, after which the caller
 * deletes it: that save may hand the image's memory back to the system as it
 * writes (a progressive JPEG then never holds the image and all of its
 * coefficients at once). Once that save has run, succeeded or not, every call
 * on the image but DeleteDIB fails (IMGCTL_ERR_BAD_ARGUMENT). Since 1.1.
 * Returns 1, or 0 when no live image has the handle. */
IMGCTL_API int32_t ImgctlReleaseWhileSaving(int32_t image);

/* Ends saving for the rest of the process, for a program about to exit on a
 * signal: waits while another thread's save is giving its finished file its
 * name, then removes every temporary file of the saves in progress; from then
 * on every save fails (IMGCTL_ERR_CANNOT_WRITE) without creating a file. A
 * process that then exits leaves only the files whose saves had finished.
 * Returns 1. */
IMGCTL_API int32_t ImgctlStopSaves(void);

/* The message of the calling thread's last failure, naming its cause; "" when
 * nothing has failed yet on this thread. The pointer stays valid until the
 * thread's next call into the library. */
IMGCTL_API const char *ImgctlLastError(void);

/* The category of the calling thread's last failure (an ImgctlError value),
 * IMGCTL_OK when nothing has failed yet on this thread. */
IMGCTL_API int32_t ImgctlLastErrorCode(void);

#ifdef __cplusplus
}
#endif

#endif /* IMGCTL_H */
