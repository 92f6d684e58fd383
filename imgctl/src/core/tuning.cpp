// SPDX-License-Identifier: MIT
#include "core/tuning.h"

#include "core/thread_pool.h"

namespace imgctl {

unsigned Tuning::processorThreads() {
    return ThreadPool::processBudget();
}

Tuning Tuning::everyPath() {
    Tuning t;
    t.maxThreads = 2;
    t.pngWholeInflateMinPixels = 0;
    t.pngFastReadMinPixels = 0;
    t.deflateBandMinBytes = 0;
    t.jpegSplitMinPixels = 0;
    t.jpegSplitMinMcuRows = 2;
    t.quantizeThreadsMinPixels = 0;
    return t;
}

Tuning Tuning::plainPaths() {
    Tuning t;
    t.maxThreads = 1;
    t.pngWholeInflateMinPixels = kNever;
    t.pngFastReadMinPixels = kNever;
    t.deflateBandMinBytes = kNever;
    t.jpegSplitMinPixels = kNever;
    t.quantizeThreadsMinPixels = kNever;
    return t;
}

} // namespace imgctl
