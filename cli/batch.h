// SPDX-License-Identifier: MIT
// Runs the window's conversion chain over every source of the command line,
// on one or more threads, and reports each failure on one line.
#pragma once

#include "direct_library.h"
#include "options.h"
#include "std_streams.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cli {

struct BatchOutcome {
    unsigned converted = 0;
    unsigned failed = 0;
    unsigned skipped = 0; // outputs that existed, with --skip-existing
};

class Batch {
  public:
    // `options` parsed and complete, its sources read (--files-from
    // included). Failure lines, and with `progress` a line counting files
    // done, go to `errors`.
    Batch(const Options &options, std::FILE *errors, bool progress);

    // Converts every source. Each failure writes
    // "nubaro-convert: SOURCE: cause" to `errors`.
    BatchOutcome run();

    // Ends the batch on a signal, from another thread while run() works:
    // no file is started or named any more, the files in progress are
    // abandoned leaving nothing behind, the summary line is printed and the
    // process exits with 128 + signal. Never returns.
    [[noreturn]] void interrupt(int signal);

  private:
    struct Job {
        std::string source;   // as the user named it
        std::string loadPath; // what the library reads
        std::string output;   // as the user named it
        std::string savePath; // what the library writes
        std::string refusal;  // set when the job fails before it starts
    };

    void plan();
    // One conversion; the cause of a failure, or nothing. `skipped` is set
    // when an existing output is left alone.
    std::optional<std::string> convertOne(DirectLibrary &lib, const Job &job, bool &skipped);
    void finished(const Job &job, const std::string *cause, bool skipped);
    void summary(const char *prefix);

    const Options &options_;
    std::FILE *out_;
    bool progress_;
    std::vector<Job> jobs_;
    std::optional<StdinFile> stdin_;
    std::optional<ScratchFolder> scratch_; // where standard output's file is made
    std::atomic<bool> stopping_{false};
    std::mutex mutex_; // the stream and the counts; held for good once interrupted
    BatchOutcome outcome_;
};

} // namespace cli
