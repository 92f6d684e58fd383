// SPDX-License-Identifier: MIT
#include "core/parallel.h"

#include "core/thread_pool.h"

#include <utility>

namespace imgctl {

TaskGroup::~TaskGroup() {
    join();
}

bool TaskGroup::start(std::function<void()> task) {
    if (started_ >= room_) return false;
    {
        std::lock_guard lock(mutex_);
        ++running_;
    }
    auto body = [this, task = std::move(task)] {
        std::exception_ptr error;
        try {
            task();
        } catch (...) {
            error = std::current_exception();
        }
        // The exception is handed over (or dropped) under the lock, so this
        // thread holds no reference to it once the waiting thread wakes: the
        // caller may rethrow and free it while this thread is still returning.
        std::lock_guard lock(mutex_);
        if (error && !error_) error_ = std::move(error);
        error = nullptr;
        if (--running_ == 0) finished_.notify_all();
    };
    if (!ThreadPool::instance().tryStart(std::move(body))) {
        std::lock_guard lock(mutex_);
        --running_;
        return false;
    }
    ++started_;
    return true;
}

void TaskGroup::join() {
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [this] { return running_ == 0; });
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
