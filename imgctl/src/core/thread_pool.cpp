// SPDX-License-Identifier: MIT
#include "core/thread_pool.h"

#include <sched.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace imgctl {
namespace {

// Whether the calling thread holds a seat (and how many Seat scopes are open
// on it), so that a save can lend its seat while it waits for the disk.
thread_local unsigned seatScopes = 0;
thread_local bool seatLent = false;

} // namespace

unsigned ThreadPool::processorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<unsigned>(n);
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

unsigned ThreadPool::budgetFor(unsigned processors, const char *limit) {
    if (!limit || *limit < '1' || *limit > '9') return processors;
    unsigned long n = 0;
    for (const char *c = limit; *c; ++c) {
        if (*c < '0' || *c > '9') return processors;
        n = n * 10 + static_cast<unsigned>(*c - '0');
        if (n >= processors) return processors;
    }
    return static_cast<unsigned>(n);
}

unsigned ThreadPool::processBudget() {
    return budgetFor(processorCount(), std::getenv("IMGCTL_THREADS"));
}

ThreadPool &ThreadPool::instance() {
    static ThreadPool pool(processBudget());
    return pool;
}

ThreadPool::ThreadPool(unsigned budget) : budget_(std::max(1u, budget)) {}

ThreadPool::~ThreadPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    taskReady_.notify_all();
    for (std::thread &t : workers_)
        t.join();
}

bool ThreadPool::tryStart(std::function<void()> task) {
    std::unique_lock lock(mutex_);
    if (stopping_ || busy_ >= budget_) return false;
    if (idle_ == 0) {
        // At most budget - 1 workers: the caller is the budget's last thread.
        if (workers_.size() + 1 >= std::max(2u, budget_)) return false;
        try {
            workers_.emplace_back([this] { work(); });
        } catch (const std::system_error &) {
            return false; // no thread to be had
        }
        ++idle_;
    }
    --idle_;
    ++busy_;
    tasks_.push_back(std::move(task));
    lock.unlock();
    taskReady_.notify_one();
    return true;
}

void ThreadPool::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        taskReady_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty()) return; // stopping, nothing handed over
        std::function<void()> task = std::move(tasks_.back());
        tasks_.pop_back();
        lock.unlock();
        task(); // TaskGroup's wrapper catches what the task throws
        task = nullptr;
        lock.lock();
        --busy_;
        ++idle_;
        seatFree_.notify_one();
    }
}

void ThreadPool::takeSeat() {
    std::unique_lock lock(mutex_);
    seatFree_.wait(lock, [this] { return busy_ < budget_; });
    ++busy_;
}

void ThreadPool::leaveSeat() {
    {
        std::lock_guard lock(mutex_);
        --busy_;
    }
    seatFree_.notify_one();
}

ThreadPool::Seat::Seat() : taken_(seatScopes++ == 0) {
    if (taken_) instance().takeSeat();
}

ThreadPool::Seat::~Seat() {
    --seatScopes;
    if (taken_) instance().leaveSeat();
}

ThreadPool::Release::Release() : held_(seatScopes > 0 && !seatLent) {
    if (held_) {
        seatLent = true;
        instance().leaveSeat();
    }
}

ThreadPool::Release::~Release() {
    if (held_) {
        instance().takeSeat();
        seatLent = false;
    }
}

} // namespace imgctl
