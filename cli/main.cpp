// SPDX-License-Identifier: MIT
// nubaro-convert: converts image files from the command line with the
// window's own conversion chain.
//
// SIGINT and SIGTERM are blocked in every thread and taken by one thread of
// their own with sigwait, so the batch ends in ordinary code: it tells the
// library to stop saving (which waits while a finished file is being given
// its name and removes any temporary name), prints the summary line and
// exits with 128 + the signal. A file still being written is an unnamed file
// and goes with the process.
#include "batch.h"
#include "options.h"

#include <malloc.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

// The text of a --files-from list; false with the cause in `error`.
bool readList(const std::string &name, std::string &text, std::string &error) {
    if (name == cli::kStdStream) {
        text.assign(std::istreambuf_iterator<char>(std::cin), {});
        if (std::cin.bad()) error = "--files-from: cannot read standard input";
        return !std::cin.bad();
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        error = "--files-from: cannot read '" + name + "'";
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}

// The thread that waits for SIGINT and SIGTERM. Until done(), a signal ends
// the batch; after it, the process simply exits with 128 + the signal.
class SignalThread {
  public:
    explicit SignalThread(cli::Batch &batch) : batch_(batch) {
        std::thread([this] { wait(); }).detach();
    }
    // The batch is over: a later signal no longer touches it.
    void done() {
        std::lock_guard lock(mutex_);
        done_ = true;
    }

    // Blocks the two signals in the calling thread and every thread it
    // starts from then on; called before any other thread exists.
    static sigset_t block() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        return set;
    }

  private:
    void wait() {
        const sigset_t set = block();
        int signal = 0;
        while (sigwait(&set, &signal) != 0) {
        }
        mutex_.lock(); // kept: the process ends below
        if (done_) ::_exit(128 + signal);
        batch_.interrupt(signal);
    }

    cli::Batch &batch_;
    std::mutex mutex_;
    bool done_ = false;
};

} // namespace

int main(int argc, char **argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    const cli::ParseOutcome parsed = cli::parseArguments(args);
    if (!parsed.options) {
        std::fprintf(stderr, "nubaro-convert: %s\nTry 'nubaro-convert --help'.\n",
                     parsed.error.c_str());
        return 2;
    }
    cli::Options options = *parsed.options;
    if (options.help) {
        std::fputs(cli::kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("nubaro-convert %s\n", NUBARO_VERSION);
        return 0;
    }
    if (options.output == cli::kStdStream && isatty(STDOUT_FILENO)) {
        std::fputs("nubaro-convert: standard output is a terminal; redirect it to a file or a "
                   "pipe, or name an OUTPUT file\n",
                   stderr);
        return 2;
    }
    // --jobs is the process's whole thread budget: the library's threads for
    // one picture share it with the other files (read on the library's first use).
    if (options.jobs) setenv("IMGCTL_THREADS", std::to_string(options.jobs).c_str(), 1);
    // A reader that goes away is a failed file, not a killed process.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        if (options.filesFrom) {
            std::string text, error;
            if (!readList(*options.filesFrom, text, error)) {
                std::fprintf(stderr, "nubaro-convert: %s\n", error.c_str());
                return 2;
            }
            for (std::string &name : cli::splitFileList(text, options.nulSeparated))
                options.sources.push_back(std::move(name));
            if (options.sources.empty()) return 0; // an empty list: nothing to do
        }
        if (options.sources.size() > 1) {
            // Memory freed after one file is kept for the next instead of
            // going back to the system and being faulted in again page by
            // page, which with two files at once cost 0.6 s of system time
            // for 40 1080p pictures (0.1 s so). Blocks above 16 MiB (large
            // pictures) still come and go on their own.
            mallopt(M_MMAP_THRESHOLD, 16 << 20);
            mallopt(M_TRIM_THRESHOLD, 16 << 20);
        }
        SignalThread::block();
        // The progress line is for people watching; logs and pipes get only
        // the failure lines.
        const bool progress = options.toFolder && isatty(STDERR_FILENO);
        cli::Batch batch(options, stderr, progress);
        // Lives as long as its thread, which waits until the process ends.
        SignalThread *signals = new SignalThread(batch);
        const cli::BatchOutcome outcome = batch.run();
        signals->done();
        return outcome.failed == 0 ? 0 : 1;
    } catch (const std::bad_alloc &) {
        std::fputs("nubaro-convert: out of memory\n", stderr);
        return 1;
    }
}
