// SPDX-License-Identifier: MIT
// Letting go of memory pages once the bytes in them are read for the last
// time, so that a decoder never holds the whole file and the whole image at
// once, and a save that is an image's last use never holds the whole image
// and the whole encoded result at once.
#pragma once

#include <sys/mman.h>

#include <cstdint>

namespace imgctl {

// Hands pages back to the system as the bytes in them are consumed (in
// address order), a few megabytes at a time. A read-only file mapping
// refills a page from the file if it is touched again, so for one this only
// lowers the peak memory; other memory reads as zeros afterwards, so it is
// only for bytes nobody reads again. Only whole pages from `start` on are
// handed back. Does nothing when not enabled.
class PageRelease {
  public:
    PageRelease(const uint8_t *start, bool enabled)
        : next_((reinterpret_cast<uintptr_t>(start) + kPage - 1) & ~(kPage - 1)),
          enabled_(enabled) {}

    // Every byte before `end` has been read for the last time.
    void consumedUpTo(const uint8_t *end) { release(end, kStep); }
    // The same, handing back even less than the usual step: for the end of the data.
    void finish(const uint8_t *end) { release(end, kPage); }

  private:
    static constexpr uintptr_t kPage = 4096;
    static constexpr uintptr_t kStep = uintptr_t{4} << 20;

    void release(const uint8_t *end, uintptr_t least) {
        if (!enabled_) return;
        const uintptr_t upTo = reinterpret_cast<uintptr_t>(end) & ~(kPage - 1);
        if (upTo < next_ + least) return;
        madvise(reinterpret_cast<void *>(next_), upTo - next_, MADV_DONTNEED);
        next_ = upTo;
    }

    uintptr_t next_;
    bool enabled_;
};

} // namespace imgctl
