// SPDX-License-Identifier: MIT
// The PNG fast reader; its contract is in png_fast_read.h.
#include "png/png_fast_read.h"

#include "core/bytes.h"
#include "core/parallel.h"
#include "png/png_direct.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace imgctl {
namespace {

constexpr uint32_t kBandRows = 16;
constexpr uint32_t kRingBands = 8;

// The ring of filtered bands shared by the inflating thread and the caller.
struct Ring {
    std::mutex mutex;
    std::condition_variable changed;
    uint32_t filled = 0;   // bands inflated so far
    uint32_t consumed = 0; // bands the caller has finished with
    bool stop = false;     // the caller gave up
    std::string error;     // set by the inflating thread

    // Tells the other side that this one is done; with an error unless empty.
    void finish(uint32_t bands, const std::string &why) {
        std::lock_guard lock(mutex);
        if (!why.empty() && error.empty()) error = why;
        filled = bands + 1; // wakes the caller; it reads the error first
        changed.notify_all();
    }
    void giveUp() {
        std::lock_guard lock(mutex);
        stop = true;
        changed.notify_all();
    }
};

// After the last row, as libpng does: one more inflate call (a used-up
// chunk followed by the next IDAT chunk; any other chunk there is an error).
// When that gives data past the last row, inflating goes on through the
// IDAT chunks to the stream's end; otherwise the rest of the stream is left
// unread. Damage past the last row is ignored.
std::string finishStream(IdatStream &idat, z_stream &z, const uint8_t *&chunk,
                         uint32_t &chunkLength) {
    uint8_t sink[4096];
    bool extra = false;
    std::string error;
    for (;;) {
        if (z.avail_in == 0) {
            if (!idat.next(chunk, chunkLength, error)) return error;
            if (!chunk) return "PNG: the image data ends early";
            z.next_in = const_cast<Bytef *>(chunk);
            z.avail_in = chunkLength;
            continue;
        }
        z.next_out = sink;
        z.avail_out = sizeof sink;
        const int rc = inflate(&z, Z_NO_FLUSH);
        extra = extra || z.avail_out < sizeof sink;
        if (rc != Z_OK || !extra) return {};
    }
}

// Inflates band after band into the ring until every row is in, the caller
// gives up or the data fails. Runs on its own thread; the error goes into
// the ring.
std::string inflateBands(IdatStream idat, Ring &ring, uint8_t *slots, size_t rowBytes,
                         uint32_t height) {
    struct Inflater {
        z_stream z{};
        bool started = inflateInit(&z) == Z_OK;
        ~Inflater() {
            if (started) inflateEnd(&z);
        }
    } inflater;
    if (!inflater.started) return "PNG: cannot start inflating";
    z_stream &z = inflater.z;
    // Every IDAT chunk's CRC is checked; the stream's Adler-32 adds nothing
    // but time (libpng's path skips it too).
    inflateValidate(&z, 0);
    std::string error;
    const uint8_t *chunk = nullptr;
    uint32_t chunkLength = 0;
    const uint32_t bands = (height + kBandRows - 1) / kBandRows;
    bool ended = false; // the stream's end has been reached
    uint32_t band = 0;
    for (; error.empty() && band < bands; ++band) {
        {
            std::unique_lock lock(ring.mutex);
            ring.changed.wait(lock, [&] { return ring.stop || band - ring.consumed < kRingBands; });
            if (ring.stop) break;
        }
        const uint32_t rows = std::min(kBandRows, height - band * kBandRows);
        uint8_t *out = slots + size_t{band % kRingBands} * kBandRows * rowBytes;
        // Row by row, as libpng inflates: how much of the stream is read when
        // the last row is in, and so whether its end is looked for in the
        // next chunk, depends on it.
        for (uint32_t i = 0; i < rows && error.empty(); ++i) {
            z.next_out = out + size_t{i} * rowBytes;
            z.avail_out = static_cast<uInt>(rowBytes);
            while (z.avail_out > 0) {
                if (z.avail_in == 0) {
                    if (!idat.next(chunk, chunkLength, error)) break;
                    if (!chunk) {
                        error = "PNG: the image data ends early";
                        break;
                    }
                    z.next_in = const_cast<Bytef *>(chunk);
                    z.avail_in = chunkLength;
                    continue;
                }
                const int rc = inflate(&z, Z_NO_FLUSH);
                if (rc == Z_STREAM_END && z.avail_out > 0) {
                    error = "PNG: the image data ends early";
                } else if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
                    error = std::string("PNG: ") + (z.msg ? z.msg : "the image data is damaged");
                }
                ended = rc == Z_STREAM_END;
                if (!error.empty() || ended) break;
            }
        }
        if (!error.empty()) break;
        std::lock_guard lock(ring.mutex);
        ++ring.filled;
        ring.changed.notify_all();
    }
    if (error.empty() && band == bands && !ended) error = finishStream(idat, z, chunk, chunkLength);
    return error;
}

template <size_t Bpp>
Status readRows(const uint8_t *data, size_t size, size_t idatPos, const Tuning &tuning,
                Image &image) {
    const uint32_t width = image.width, height = image.height;
    const uint32_t bands = (height + kBandRows - 1) / kBandRows;
    const size_t rowBytes = size_t{width} * Bpp + 1;
    std::vector<uint8_t> slots(rowBytes * kBandRows * kRingBands);
    std::vector<uint8_t> above(rowBytes, 0); // the last row of the band before
    Ring ring;
    TaskGroup group(tuning.maxThreads);
    // However this function is left, the inflating thread stops waiting for
    // room before the group waits for it.
    struct GiveUp {
        Ring &ring;
        ~GiveUp() { ring.giveUp(); }
    } giveUp{ring};
    const bool started = group.start([&, idat = IdatStream(data, size, idatPos)] {
        std::string error = "PNG: the inflating thread failed";
        try {
            error = inflateBands(idat, ring, slots.data(), rowBytes, height);
        } catch (...) {
            ring.finish(bands, error);
            throw; // the group hands it to the caller
        }
        ring.finish(bands, error);
    });
    if (!started) return {Error::Unsupported, "no second thread"};

    Status status = Status::ok();
    for (uint32_t band = 0; band < bands && status; ++band) {
        {
            std::unique_lock lock(ring.mutex);
            ring.changed.wait(lock, [&] { return ring.filled > band || !ring.error.empty(); });
            if (!ring.error.empty()) {
                status = Status(Error::Corrupt, ring.error);
                break;
            }
        }
        uint8_t *band0 = slots.data() + size_t{band % kRingBands} * kBandRows * rowBytes;
        const uint32_t rows = std::min(kBandRows, height - band * kBandRows);
        const uint8_t *prev = above.data() + 1;
        for (uint32_t i = 0; i < rows; ++i) {
            uint8_t *row = band0 + size_t{i} * rowBytes;
            if (!unfilterRow<Bpp>(row[0], row + 1, prev, rowBytes - 1)) {
                status = Status(Error::Corrupt, "PNG: bad adaptive filter value");
                break;
            }
            swapRow<Bpp>(row + 1, image.row(band * kBandRows + i), width);
            prev = row + 1;
        }
        if (!status) break;
        std::memcpy(above.data() + 1, prev, rowBytes - 1);
        std::lock_guard lock(ring.mutex);
        ++ring.consumed;
        ring.changed.notify_all();
    }
    ring.giveUp();
    group.wait(); // an exception of the inflating thread goes on from here
    // The rows are in; the end of the stream may still have failed.
    if (status && !ring.error.empty()) status = Status(Error::Corrupt, ring.error);
    return status;
}

} // namespace

Status readPngFast(const uint8_t *data, size_t size, size_t idatPos, const Tuning &tuning,
                   Image &image) {
    return image.bitCount == 24 ? readRows<3>(data, size, idatPos, tuning, image)
                                : readRows<4>(data, size, idatPos, tuning, image);
}

} // namespace imgctl
