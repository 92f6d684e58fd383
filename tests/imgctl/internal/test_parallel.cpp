// SPDX-License-Identifier: MIT
// The parallel helper: every item runs once (until one throws), on the
// calling thread when the tuning allows no other, and an exception thrown by
// an item on another thread reaches the caller instead of ending the process;
// the thread budget the environment sets.
#include "core/parallel.h"
#include "core/thread_pool.h"

#include <gtest/gtest.h>

#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace imgctl;

namespace {

// Items run once each and exceptions come back, on one thread or two.
TEST(RunParallel, RunsEveryItemOnceAndCarriesExceptionsBack) {
    struct Case {
        unsigned count, maxThreads;
        int throwAt; // the item that throws, or -1
    };
    // One item; inline; two threads; more items than threads; a throw on
    // another thread, on the caller's, inline.
    const Case cases[] = {{1, 2, -1}, {3, 1, -1}, {2, 2, -1}, {5, 2, -1},
                          {2, 2, 1},  {2, 2, 0},  {3, 1, 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.count << " items, " << c.maxThreads
                                          << " threads, throw at " << c.throwAt);
        Tuning tuning;
        tuning.maxThreads = c.maxThreads;
        std::mutex mutex;
        std::vector<int> runs(c.count, 0);
        std::vector<std::thread::id> ranOn(c.count);
        auto item = [&](unsigned i) {
            {
                std::lock_guard lock(mutex);
                ++runs[i];
                ranOn[i] = std::this_thread::get_id();
            }
            if (static_cast<int>(i) == c.throwAt)
                throw std::runtime_error("item " + std::to_string(i));
        };
        std::string caught;
        try {
            runParallel(c.count, tuning, item);
        } catch (const std::runtime_error &e) {
            caught = e.what();
        }
        EXPECT_EQ(caught, c.throwAt < 0 ? "" : "item " + std::to_string(c.throwAt));
        for (unsigned i = 0; i < c.count; ++i) {
            // Items after one that threw on the calling thread may be skipped.
            if (c.throwAt >= 0 && runs[i] == 0) continue;
            EXPECT_EQ(runs[i], 1) << "item " << i;
            // One thread allowed: all on the caller's; item 0 always there.
            // (Item 1 may run there too, when the process's pool has no
            // worker free.)
            if (c.maxThreads == 1 || i == 0) {
                EXPECT_EQ(ranOn[i], std::this_thread::get_id()) << "item " << i;
            }
        }
    }
}

} // namespace

// IMGCTL_THREADS lowers the budget with a whole number from 1 up, never
// raises it past the processors, and is ignored when it is anything else.
TEST(ThreadBudget, EnvironmentLowersItOnly) {
    const std::pair<const char *, unsigned> cases[] = {
        {nullptr, 8}, {"1", 1}, {"7", 7},  {"8", 8},  {"9", 8},  {"99999999999999", 8},
        {"", 8},      {"0", 8}, {"-2", 8}, {"2 ", 8}, {"2x", 8}, {"+3", 8}};
    for (const auto &[limit, budget] : cases)
        EXPECT_EQ(ThreadPool::budgetFor(8, limit), budget) << (limit ? limit : "unset");
}
