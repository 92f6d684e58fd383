// SPDX-License-Identifier: MIT
#include "core/parallel.h"

#include <system_error>
#include <utility>

namespace imgctl {

TaskGroup::~TaskGroup() {
    join();
}

bool TaskGroup::start(std::function<void()> task) {
    if (threads_.size() >= room_) return false;
    auto body = [this, task = std::move(task)] {
        try {
            task();
        } catch (...) {
            std::lock_guard lock(mutex_);
            if (!error_) error_ = std::current_exception();
        }
    };
    try {
        threads_.emplace_back(std::move(body));
    } catch (const std::system_error &) {
        return false; // no thread to be had
    }
    return true;
}

void TaskGroup::join() {
    for (std::thread &t : threads_)
        t.join();
    threads_.clear();
}

void TaskGroup::wait() {
    join();
    std::exception_ptr error;
    {
        std::lock_guard lock(mutex_);
        std::swap(error, error_);
    }
    if (error) std::rethrow_exception(error);
}

} // namespace imgctl
