// SPDX-License-Identifier: MIT
#include "io/save_gate.h"

#include <unistd.h>

namespace imgctl {

SaveGate &SaveGate::instance() {
    static SaveGate gate;
    return gate;
}

bool SaveGate::run(const std::function<void()> &step) {
    std::lock_guard lock(mutex_);
    if (stopped_) return false;
    step();
    return true;
}

void SaveGate::remove(const std::string &path) {
    std::lock_guard lock(mutex_);
    if (names_.erase(path) > 0) ::unlink(path.c_str());
}

bool SaveGate::stopped() {
    std::lock_guard lock(mutex_);
    return stopped_;
}

void SaveGate::stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    for (const std::string &path : names_)
        ::unlink(path.c_str());
    names_.clear();
}

} // namespace imgctl
