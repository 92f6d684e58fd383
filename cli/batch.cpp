// SPDX-License-Identifier: MIT
#include "batch.h"

#include "chain.h"
#include "direct_library.h"

#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace cli {

namespace {

namespace fs = std::filesystem;

struct Job {
    std::string source;
    std::string output;
    std::string refusal; // set when the job fails before it starts
};

// Failure lines and the progress line share the stream; one writer at a time.
class Reporter {
  public:
    Reporter(std::FILE *out, bool progress, unsigned total)
        : out_(out), progress_(progress), total_(total) {}

    void finished(const Job &job, const std::string *cause) {
        std::lock_guard lock(mutex_);
        if (cause) {
            ++outcome_.failed;
            if (progress_) std::fputs("\r\033[K", out_);
            std::fprintf(out_, "nubaro-convert: %s: %s\n", job.source.c_str(), cause->c_str());
        } else {
            ++outcome_.converted;
        }
        if (progress_) {
            std::fprintf(out_, "\r%u of %u done, %u failed", outcome_.converted + outcome_.failed,
                         total_, outcome_.failed);
        }
        std::fflush(out_);
    }

    BatchOutcome close() {
        std::lock_guard lock(mutex_);
        if (progress_) std::fputc('\n', out_);
        std::fflush(out_);
        return outcome_;
    }

  private:
    std::mutex mutex_;
    std::FILE *out_;
    bool progress_;
    unsigned total_;
    BatchOutcome outcome_;
};

std::vector<Job> planJobs(const Options &options) {
    std::vector<Job> jobs;
    if (!options.toFolder) {
        jobs.push_back({options.sources.front(), options.output, {}});
        return jobs;
    }
    const std::string &ext =
        options.settings.extensions[static_cast<size_t>(options.settings.formatIndex)];
    const fs::path folder(*options.toFolder);
    std::set<std::string> claimed;
    for (const std::string &source : options.sources) {
        Job job{source, (folder / (fs::path(source).stem().string() + "." + ext)).string(), {}};
        if (!claimed.insert(job.output).second) {
            job.refusal = "its output " + job.output + " is also an earlier source's output";
        }
        jobs.push_back(std::move(job));
    }
    return jobs;
}

// One conversion; the cause of a failure, or nothing.
std::optional<std::string> convertOne(DirectLibrary &lib, const Options &options,
                                      const convert::ConversionRequest &request, const Job &job) {
    if (!job.refusal.empty()) return job.refusal;
    std::error_code ec;
    if (!options.overwrite &&
        fs::symlink_status(job.output, ec).type() != fs::file_type::not_found) {
        if (!ec) return job.output + " exists (--overwrite replaces it)";
        return "cannot check " + job.output + ": " + ec.message();
    }
    convert::ChainResult result = convert::runChain(lib, request, job.source, job.output);
    if (!result.failed) return std::nullopt;
    // The library's own message, then the step that returned the failure.
    std::string cause = result.libraryMessage.empty()
                            ? result.cause
                            : result.libraryMessage + " (" + result.cause + ")";
    convert::releaseHeldImage(lib, result);
    return cause;
}

} // namespace

BatchOutcome runBatch(const Options &options, std::FILE *errors, bool progress) {
    std::vector<Job> jobs = planJobs(options);
    Reporter reporter(errors, progress, static_cast<unsigned>(jobs.size()));

    if (options.toFolder) {
        std::error_code ec;
        fs::create_directories(*options.toFolder, ec);
        if (ec) {
            for (Job &job : jobs) {
                if (job.refusal.empty()) {
                    job.refusal = "cannot create " + *options.toFolder + ": " + ec.message();
                }
            }
        }
    }

    // The window's own request for these settings; --strip goes first.
    std::optional<convert::ConversionRequest> request = convert::conversionRequest(
        options.settings, options.rle,
        options.dither ? convert::Palette::Dithered : convert::Palette::Nearest);
    if (!request) { // parseArguments gives only known formats and depths
        const std::string cause = "the options name no known format or bit depth";
        for (const Job &job : jobs)
            reporter.finished(job, &cause);
        return reporter.close();
    }
    if (options.strip) request->steps.insert(request->steps.begin(), {convert::Step::Strip, 0});

    std::atomic<size_t> next{0};
    const auto work = [&] {
        DirectLibrary lib;
        for (size_t i = next++; i < jobs.size(); i = next++) {
            const std::optional<std::string> cause = convertOne(lib, options, *request, jobs[i]);
            reporter.finished(jobs[i], cause ? &*cause : nullptr);
        }
    };

    unsigned threads = options.jobs ? options.jobs : std::thread::hardware_concurrency();
    threads = std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(jobs.size())));
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) {
        try {
            pool.emplace_back(work);
        } catch (const std::system_error &) {
            break; // the threads already started and this one share the work
        }
    }
    work();
    for (std::thread &t : pool)
        t.join();
    return reporter.close();
}

} // namespace cli
