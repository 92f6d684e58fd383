// SPDX-License-Identifier: MIT
// The process's one thread budget: as many threads doing the library's work
// at once as the process may run on processors (fewer when the environment
// variable IMGCTL_THREADS says so), shared by every caller.
//
// Beside the handle table this is the library's only shared mutable state:
// one object, made on first use and destroyed at exit (its idle workers are
// told to stop and joined; a worker still running a task finishes it first).
//
// Two kinds of thread count against the budget:
// - a caller's seat: each image operation of the C interface holds one while
//   it works (Seat), waiting for one when every seat is taken, so that any
//   number of threads calling the library (a program converting many files
//   at once) never run more operations at once than there are processors;
//   a save gives its seat back while it waits for the disk (Seat::Release);
// - a helper: a task that an operation hands to a pooled worker thread
//   (TaskGroup in core/parallel.h), taken only while the budget has room
//   and never queued, so the caller never waits for a helper that cannot
//   start: it runs the task itself.
// A single operation with the process to itself therefore gets every
// processor, and many at once share them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace imgctl {

class ThreadPool {
  public:
    // The processors this process may run on (its affinity mask), at least 1.
    static unsigned processorCount();
    // The budget for `processors` processors when IMGCTL_THREADS is `limit`
    // (null when unset): a whole number from 1 up lowers it; anything else
    // is ignored.
    static unsigned budgetFor(unsigned processors, const char *limit);
    // The budget of this process, read when the pool is made.
    static unsigned processBudget();

    static ThreadPool &instance();

    explicit ThreadPool(unsigned budget);
    ThreadPool(const ThreadPool &) = delete;
    ThreadPool &operator=(const ThreadPool &) = delete;
    ~ThreadPool();

    unsigned budget() const { return budget_; }

    // Hands task to an idle worker (starting one when none is idle) if the
    // budget has room. False, with nothing started, otherwise.
    bool tryStart(std::function<void()> task);

    // A seat held for a scope; release() and retake() around a wait that
    // uses no processor.
    // A thread holds at most one: a Seat inside another one's scope takes
    // nothing.
    class Seat {
      public:
        Seat();
        ~Seat();
        Seat(const Seat &) = delete;
        Seat &operator=(const Seat &) = delete;

      private:
        bool taken_;
    };

    // Lets the calling thread's seat go for the guard's life, if it holds
    // one (a save waiting for the disk), and takes it back afterwards.
    class Release {
      public:
        Release();
        ~Release();
        Release(const Release &) = delete;
        Release &operator=(const Release &) = delete;

      private:
        bool held_;
    };

  private:
    void takeSeat();
    void leaveSeat();
    void work();

    const unsigned budget_;
    std::mutex mutex_;
    std::condition_variable seatFree_;
    std::condition_variable taskReady_;
    unsigned busy_ = 0; // seats held plus tasks running or handed over
    unsigned idle_ = 0; // workers waiting with no task handed to them
    bool stopping_ = false;
    std::vector<std::function<void()>> tasks_; // never more than idle workers
    std::vector<std::thread> workers_;
};

} // namespace imgctl
