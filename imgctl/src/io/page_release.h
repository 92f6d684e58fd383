// SPDX-License-Identifier: MIT
// Letting go of a file mapping's pages once they are read for the last time,
// so that a decoder never holds the whole file and the whole image at once.
#pragma once

#include <sys/mman.h>

#include <cstdint>

namespace imgctl {

// Hands the pages of a file mapping back to the system as the rows in them
// are consumed (in file order), a few megabytes at a time. A read-only file
// mapping refills a page from the file if it is touched again, so this only
// lowers the peak memory. Does nothing for data that is not such a mapping.
class PageRelease {
  public:
    PageRelease(const uint8_t *start, bool fileMapped)
        : next_(reinterpret_cast<uintptr_t>(start) & ~(kPage - 1)), enabled_(fileMapped) {}

    // Every byte before `end` has been read for the last time.
    void consumedUpTo(const uint8_t *end) {
        if (!enabled_) return;
        const uintptr_t upTo = reinterpret_cast<uintptr_t>(end) & ~(kPage - 1);
        if (upTo < next_ + kStep) return;
        madvise(reinterpret_cast<void *>(next_), upTo - next_, MADV_DONTNEED);
        next_ = upTo;
    }

  private:
    static constexpr uintptr_t kPage = 4096;
    static constexpr uintptr_t kStep = uintptr_t{4} << 20;
    uintptr_t next_;
    bool enabled_;
};

} // namespace imgctl
