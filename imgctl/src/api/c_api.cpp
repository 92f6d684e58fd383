// SPDX-License-Identifier: MIT
// The C interface: one short function per entry point over the C++ core.
// Each validates its handle and pointers, runs the core operation under the
// image's lock and turns a failure into the thread's last-error message.
#include "api/handles.h"
#include "core/ops.h"
#include "core/thread_pool.h"
#include "imgctl.h"
#include "io/save_gate.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string>

using namespace imgctl;

namespace {

thread_local std::string lastError;
thread_local Error lastCode = Error::None;

static_assert(static_cast<int>(Error::Internal) == IMGCTL_ERR_INTERNAL,
              "the C interface's error values follow the core's");

int32_t fail(const Status &status) {
    lastCode = status.code();
    lastError = std::string(errorName(status.code())) + ": " + status.message();
    return 0;
}

int32_t fail(Error code, const std::string &message) {
    return fail(Status(code, message));
}

int32_t badHandle(int32_t image) {
    return fail(Error::BadHandle, "no live image has handle " + std::to_string(image));
}

// Runs `body`, turning what the core cannot report through its results into
// failures: memory running out, and any other exception, which is a fault of
// the library's own (never of the input) and is named as one.
template <class Body> int32_t guarded(const char *function, Body body) {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return fail(Error::OutOfMemory, std::string("memory ran out in ") + function);
    } catch (const std::exception &e) {
        return fail(Error::Internal, std::string(function) + ": " + e.what());
    } catch (...) {
        return fail(Error::Internal, std::string(function) + ": unknown exception");
    }
}

// Runs `body` on the live entry named by `handle`, under the image's lock.
// Work on pixels holds a seat in the thread budget, taken after the lock: a
// thread waiting for an image's lock then holds no seat, so the lock's holder
// can always get one (a save that lent its seat while waiting for the disk
// takes one back before it returns).
template <class Body>
int32_t withEntry(const char *function, int32_t handle, Body body, bool seated = false) {
    std::shared_ptr<Entry> entry = HandleTable::instance().find(handle);
    if (!entry) return badHandle(handle);
    std::lock_guard guard(entry->lock);
    if (entry->released) return badHandle(handle);
    if (entry->spent)
        return fail(Error::BadArgument,
                    "image " + std::to_string(handle) +
                        " was released by its last save; it can only be deleted");
    std::optional<ThreadPool::Seat> seat;
    if (seated) seat.emplace();
    return guarded(function, [&] { return body(*entry); });
}

template <class Body>
int32_t withImage(const char *function, int32_t handle, Body body, bool seated = false) {
    return withEntry(
        function, handle, [&](Entry &e) { return body(e.image); }, seated);
}

// A converting operation: the same handle on success, 0 and the image
// untouched on failure.
template <class Op> int32_t convert(const char *function, int32_t handle, Op op) {
    return withImage(
        function, handle,
        [&](Image &image) -> int32_t {
            Status status = op(image);
            return status ? handle : fail(status);
        },
        true);
}

// A save: 1 on success. op(image, lastUse) saves; lastUse when the image is
// deleted next (ImgctlReleaseWhileSaving), after which it is spent.
template <class Op> int32_t save(const char *function, const char *path, int32_t handle, Op op) {
    return withEntry(
        function, handle,
        [&](Entry &entry) -> int32_t {
            if (!path || !*path) return fail(Error::BadArgument, "empty output path");
            const bool lastUse = entry.lastSave;
            entry.spent = lastUse;
            Status status = op(entry.image, lastUse);
            return status ? 1 : fail(status);
        },
        true);
}

} // namespace

extern "C" {

int32_t ToDIB(const char *path) {
    if (!path || !*path) return fail(Error::BadArgument, "empty path");
    return guarded(__func__, [&]() -> int32_t {
        ThreadPool::Seat seat;
        Result<Image> image = loadImage(path);
        if (!image) return fail(image.status());
        int32_t handle = HandleTable::instance().add(std::move(image).value());
        return handle ? handle : fail(Error::OutOfMemory, "no handles left");
    });
}

int32_t HeadDIB(int32_t image, BITMAPINFOHEADER *header) {
    return withImage(__func__, image, [&](Image &img) -> int32_t {
        if (!header) return fail(Error::BadArgument, "null header");
        BITMAPINFOHEADER h{};
        h.biSize = 40;
        h.biWidth = static_cast<int32_t>(img.width);
        h.biHeight = static_cast<int32_t>(img.height);
        h.biPlanes = 1;
        h.biBitCount = img.bitCount;
        h.biCompression = img.compression == Compression::Rle8   ? IMGCTL_BI_RLE8
                          : img.compression == Compression::Rle4 ? IMGCTL_BI_RLE4
                                                                 : IMGCTL_BI_RGB;
        h.biSizeImage = static_cast<uint32_t>(std::min<uint64_t>(bmpDataSize(img), UINT32_MAX));
        h.biXPelsPerMeter = img.xPelsPerMeter;
        h.biYPelsPerMeter = img.yPelsPerMeter;
        h.biClrUsed = img.isPalette() ? static_cast<uint32_t>(img.palette.size()) : 0;
        *header = h;
        return 1;
    });
}

int32_t DIBtoDCex2(ImgctlSurface *dc, int32_t dx, int32_t dy, int32_t dw, int32_t dh, int32_t image,
                   int32_t sx, int32_t sy, int32_t sw, int32_t sh, uint32_t rop, int32_t mode) {
    return withImage(__func__, image, [&](Image &img) -> int32_t {
        if (!dc || !dc->pixels) return fail(Error::BadArgument, "null surface");
        Status status = drawImage(img, *dc, dx, dy, dw, dh, sx, sy, sw, sh, rop, mode);
        return status ? 1 : fail(status);
    });
}

int32_t DeleteDIB(int32_t image) {
    if (HandleTable::instance().remove(image)) return 1;
    return badHandle(image);
}

int32_t RLEtoDIB(int32_t image) {
    return convert(__func__, image, [](Image &img) { return expandRle(img); });
}

int32_t DIBto24Bit(int32_t image) {
    return convert(__func__, image, [](Image &img) { return convertTo24(img); });
}

int32_t DIBto16Bit(int32_t image, int32_t *flag) {
    return convert(__func__, image, [&](Image &img) {
        if (!flag) return Status(Error::BadArgument, "null flag");
        return convertTo16(img, *flag);
    });
}

int32_t DIBto8Bit(int32_t image, int32_t a, int32_t b) {
    return convert(__func__, image, [&](Image &img) { return convertTo8(img, a, b); });
}

int32_t DIBtoRLE(int32_t image) {
    return convert(__func__, image, [](Image &img) { return compressRle(img); });
}

int32_t GrayDIB(int32_t image, int32_t level) {
    // The level is a 16-bit signed value; the upper half of the slot is noise.
    int clamped = std::clamp<int>(static_cast<int16_t>(level & 0xFFFF), 0, 255);
    return convert(__func__, image, [&](Image &img) { return grayImage(img, clamped); });
}

int32_t DIBStrip(int32_t image) {
    return convert(__func__, image, [](Image &img) { return stripImage(img); });
}

int32_t DIBtoBMP(const char *path, int32_t image) {
    return save(__func__, path, image, [&](Image &img, bool) { return saveBmp(img, path); });
}

int32_t DIBtoJPG(const char *path, int32_t image, int32_t quality, int32_t progressive) {
    return save(__func__, path, image, [&](Image &img, bool lastUse) {
        const int q = std::clamp(quality, 1, 100);
        return lastUse ? saveJpegLastUse(img, path, q, progressive != 0)
                       : saveJpeg(img, path, q, progressive != 0);
    });
}

int32_t DIBtoPNG(const char *path, int32_t image, int32_t zero) {
    return save(__func__, path, image, [&](Image &img, bool) {
        if (zero != 0)
            return Status(Error::BadArgument, "DIBtoPNG takes 0, not " + std::to_string(zero));
        return savePng(img, path, 6, false);
    });
}

int32_t DIBtoPNGex(const char *path, int32_t image, const PngOptions *options) {
    return save(__func__, path, image, [&](Image &img, bool) {
        if (!options) return Status(Error::BadArgument, "null PNG options");
        int level = std::clamp<int>(options->level, 0, 9);
        return savePng(img, path, level, (options->flags & IMGCTL_PNG_INTERLACED) != 0);
    });
}

int32_t ImgctlReleaseWhileSaving(int32_t image) {
    return withEntry(__func__, image, [](Entry &e) {
        e.lastSave = true;
        return 1;
    });
}

int32_t ImgctlStopSaves(void) {
    SaveGate::instance().stop();
    return 1;
}

const char *ImgctlLastError(void) {
    return lastError.c_str();
}

int32_t ImgctlLastErrorCode(void) {
    return static_cast<int32_t>(lastCode);
}

} // extern "C"
