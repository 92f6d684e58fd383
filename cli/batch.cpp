// SPDX-License-Identifier: MIT
#include "batch.h"

#include "chain.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <thread>

namespace cli {

namespace {

namespace fs = std::filesystem;

// The processors this process may run on.
unsigned processors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

// The library's message once, without the path it was given for the
// source (the failure line names the source itself).
std::string causeOf(const convert::ChainResult &result, const std::string &loadPath, bool verbose) {
    std::string cause = result.libraryMessage.empty() ? result.cause : result.libraryMessage;
    if (const size_t at = cause.find(loadPath + ": "); at != std::string::npos)
        cause.erase(at, loadPath.size() + 2);
    if (verbose && !result.libraryMessage.empty()) cause += " (" + result.cause + ")";
    return cause;
}

} // namespace

Batch::Batch(const Options &options, std::FILE *errors, bool progress)
    : options_(options), out_(errors), progress_(progress && !options.quiet) {
    plan();
}

void Batch::plan() {
    const std::string &ext =
        options_.settings.extensions[static_cast<size_t>(options_.settings.formatIndex)];
    if (!options_.toFolder) {
        Job job{options_.sources.front(),
                options_.sources.front(),
                options_.output,
                options_.output,
                {}};
        std::string error;
        if (job.source == kStdStream) {
            if (std::optional<StdinFile> in = StdinFile::open(error)) {
                stdin_.emplace(std::move(*in));
                job.loadPath = stdin_->path();
            }
        }
        if (error.empty() && job.output == kStdStream) {
            if (std::optional<ScratchFolder> folder = ScratchFolder::make(error)) {
                scratch_.emplace(std::move(*folder));
                job.savePath = scratch_->file(ext);
            }
        }
        job.refusal = error;
        jobs_.push_back(std::move(job));
        return;
    }
    const fs::path folder(*options_.toFolder);
    std::set<std::string> claimed;
    for (const std::string &source : options_.sources) {
        const std::string output = (folder / (fs::path(source).stem().string() + "." + ext));
        Job job{source, source, output, output, {}};
        if (!claimed.insert(job.output).second) {
            job.refusal = "its output " + job.output + " is also an earlier source's output";
        }
        jobs_.push_back(std::move(job));
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        for (Job &job : jobs_)
            if (job.refusal.empty())
                job.refusal = "cannot create " + *options_.toFolder + ": " + ec.message();
    }
}

std::optional<std::string> Batch::convertOne(DirectLibrary &lib, const Job &job, bool &skipped) {
    if (!job.refusal.empty()) return job.refusal;
    if (job.output != kStdStream) {
        std::error_code ec;
        const fs::file_type type = fs::symlink_status(job.output, ec).type();
        if (type != fs::file_type::not_found) {
            if (ec) return "cannot check " + job.output + ": " + ec.message();
            if (options_.skipExisting) {
                skipped = true;
                return std::nullopt;
            }
            if (!options_.overwrite)
                return job.output + " exists (--overwrite replaces it, --skip-existing keeps it)";
        }
    }
    // The window's own request for these settings; --strip goes first.
    std::optional<convert::ConversionRequest> request = convert::conversionRequest(
        options_.settings, options_.rle,
        options_.dither ? convert::Palette::Dithered : convert::Palette::Nearest);
    if (!request) return "the options name no known format or bit depth";
    if (options_.strip) request->steps.insert(request->steps.begin(), {convert::Step::Strip, 0});
    // The image is deleted right after its save, so the save may let go of it as it writes.
    convert::ChainResult result =
        convert::runChain(lib, *request, job.loadPath, job.savePath, true);
    if (result.failed) {
        std::string cause = causeOf(result, job.loadPath, options_.verbose);
        convert::releaseHeldImage(lib, result);
        return cause;
    }
    if (job.output == kStdStream) {
        if (std::string error = scratch_->copyOut(job.savePath); !error.empty()) return error;
    }
    return std::nullopt;
}

void Batch::finished(const Job &job, const std::string *cause, bool skipped) {
    std::lock_guard lock(mutex_);
    if (progress_) std::fputs("\r\033[K", out_);
    if (cause) {
        ++outcome_.failed;
        std::fprintf(out_, "nubaro-convert: %s: %s\n", job.source.c_str(), cause->c_str());
    } else if (skipped) {
        ++outcome_.skipped;
        if (options_.verbose)
            std::fprintf(out_, "nubaro-convert: %s: skipped, %s exists\n", job.source.c_str(),
                         job.output.c_str());
    } else {
        ++outcome_.converted;
        if (options_.verbose)
            std::fprintf(out_, "nubaro-convert: %s: converted to %s\n", job.source.c_str(),
                         job.output == kStdStream ? "standard output" : job.output.c_str());
    }
    if (progress_) {
        std::fprintf(out_, "\r%u of %zu done, %u failed",
                     outcome_.converted + outcome_.skipped + outcome_.failed, jobs_.size(),
                     outcome_.failed);
    }
    std::fflush(out_);
}

// "nubaro-convert: interrupted: 3 converted, 1 failed, 0 skipped, 6 not done"
void Batch::summary(const char *prefix) {
    const unsigned done = outcome_.converted + outcome_.failed + outcome_.skipped;
    std::fprintf(out_, "nubaro-convert: %s%u converted, %u failed, %u skipped, %zu not done\n",
                 prefix, outcome_.converted, outcome_.failed, outcome_.skipped,
                 jobs_.size() - done);
}

BatchOutcome Batch::run() {
    std::atomic<size_t> next{0};
    const auto work = [&] {
        DirectLibrary lib;
        for (size_t i = next++; i < jobs_.size() && !stopping_; i = next++) {
            bool skipped = false;
            const std::optional<std::string> cause = convertOne(lib, jobs_[i], skipped);
            if (stopping_) break; // an abandoned file is not reported
            finished(jobs_[i], cause ? &*cause : nullptr, skipped);
        }
    };

    unsigned threads = options_.jobs ? options_.jobs : processors();
    threads = std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(jobs_.size())));
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

    std::lock_guard lock(mutex_);
    if (progress_) std::fputc('\n', out_);
    if (options_.verbose && !options_.quiet && options_.toFolder) summary("");
    std::fflush(out_);
    return outcome_;
}

void Batch::interrupt(int signal) {
    stopping_ = true;
    // No file is named from here on; a file being named now is finished first.
    DirectLibrary().ImgctlStopSaves();
    mutex_.lock(); // kept: no other line is written after the summary
    if (progress_) std::fputs("\r\033[K", out_);
    summary(signal == SIGINT ? "interrupted: " : "terminated: ");
    std::fflush(out_);
    if (scratch_) scratch_->clear();
    ::_exit(128 + signal);
}

} // namespace cli
