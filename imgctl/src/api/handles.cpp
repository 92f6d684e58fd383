// SPDX-License-Identifier: MIT
#include "api/handles.h"

#include <limits>

namespace imgctl {

int32_t HandleTable::add(Image image) {
    auto entry = std::make_shared<Entry>();
    entry->image = std::move(image);
    std::lock_guard guard(mutex_);
    if (next_ == std::numeric_limits<int32_t>::max()) return 0;
    int32_t handle = next_++;
    entries_.emplace(handle, std::move(entry));
    return handle;
}

std::shared_ptr<Entry> HandleTable::find(int32_t handle) {
    if (handle <= 0) return nullptr;
    std::lock_guard guard(mutex_);
    auto it = entries_.find(handle);
    return it == entries_.end() ? nullptr : it->second;
}

bool HandleTable::remove(int32_t handle) {
    if (handle <= 0) return false;
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard guard(mutex_);
        auto it = entries_.find(handle);
        if (it == entries_.end()) return false;
        entry = std::move(it->second);
        entries_.erase(it);
    }
    // Wait for a call still working on this image, then free its pixels.
    std::lock_guard guard(entry->lock);
    entry->released = true;
    entry->image = Image{};
    return true;
}

HandleTable &HandleTable::instance() {
    static HandleTable table;
    return table;
}

} // namespace imgctl
