// SPDX-License-Identifier: MIT
// The handle table: the library's only shared mutable state.
#pragma once

#include "core/image.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace imgctl {

// One live image. Calls on the same handle hold `lock` while they work.
struct Entry {
    std::mutex lock;
    Image image;
    bool released = false; // set under `lock` by DeleteDIB
    // ImgctlReleaseWhileSaving: the next save may hand the pixels' memory
    // back as it goes; once it has run, the image can only be deleted.
    bool lastSave = false;
    bool spent = false;
};

class HandleTable {
  public:
    // Stores an image and returns its new handle (1 upward, never reused), or
    // 0 when the handle space is exhausted.
    int32_t add(Image image);
    // The entry for a live handle, or null. The caller locks entry->lock and
    // checks `released` before using the image.
    std::shared_ptr<Entry> find(int32_t handle);
    // Removes a live handle; false when it names no live image.
    bool remove(int32_t handle);

    static HandleTable &instance();

  private:
    std::mutex mutex_;
    int32_t next_ = 1;
    std::unordered_map<int32_t, std::shared_ptr<Entry>> entries_;
};

} // namespace imgctl
