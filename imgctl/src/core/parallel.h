// SPDX-License-Identifier: MIT
// Running work on several threads at once. The threads are the process's
// shared pool (core/thread_pool.h): a task starts only on a worker that is
// free within the process's thread budget, never waits in a queue. The
// calling thread always takes a share, and does all of the work when the
// tuning allows no other thread or the budget has no room. An exception
// thrown by work on another thread is carried back and rethrown on the
// calling thread once every started task has finished, so it reaches the
// caller as any exception of its own would (the C interface reports it as an
// internal error naming the function), never std::terminate.
#pragma once

#include "core/tuning.h"

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>

namespace imgctl {

class TaskGroup {
  public:
    // At most maxThreads - 1 tasks run beside the calling thread.
    explicit TaskGroup(unsigned maxThreads) : room_(maxThreads > 1 ? maxThreads - 1 : 0) {}
    TaskGroup(const TaskGroup &) = delete;
    TaskGroup &operator=(const TaskGroup &) = delete;
    // Waits for the tasks still running; their exceptions are dropped (the
    // calling thread is already unwinding from one of its own).
    ~TaskGroup();

    // Starts task on a pooled thread. False, with nothing started, when the
    // group has no room left or the process's budget has no thread free: the
    // caller then runs the task itself or takes another path.
    bool start(std::function<void()> task);

    // Waits for every started task and rethrows the first exception one of
    // them threw.
    void wait();

  private:
    void join();

    unsigned room_;
    unsigned started_ = 0;
    std::mutex mutex_;
    std::condition_variable finished_;
    unsigned running_ = 0;     // guarded by mutex_
    std::exception_ptr error_; // guarded by mutex_
};

// Runs fn(0) .. fn(count - 1) and returns when all have finished: items from
// 1 up on other threads while the tuning has room for them (count up to
// tuning.maxThreads keeps every thread busy once), item 0 and any item no
// thread was found for on the calling thread. Rethrows the first exception
// an item threw.
template <class Fn> void runParallel(unsigned count, const Tuning &tuning, Fn &&fn) {
    TaskGroup group(tuning.maxThreads);
    for (unsigned i = 1; i < count; ++i)
        if (!group.start([&fn, i] { fn(i); })) fn(i);
    if (count > 0) fn(0);
    group.wait();
}

} // namespace imgctl
