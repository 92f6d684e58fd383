// SPDX-License-Identifier: MIT
// nubaro-convert: converts image files from the command line with the
// window's own conversion chain.
#include "batch.h"
#include "options.h"

#include <unistd.h>

#include <cstdio>
#include <new>
#include <string_view>
#include <vector>

int main(int argc, char **argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    const cli::ParseOutcome parsed = cli::parseArguments(args);
    if (!parsed.options) {
        std::fprintf(stderr, "nubaro-convert: %s\nTry 'nubaro-convert --help'.\n",
                     parsed.error.c_str());
        return 2;
    }
    const cli::Options &options = *parsed.options;
    if (options.help) {
        std::fputs(cli::kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("nubaro-convert %s\n", NUBARO_VERSION);
        return 0;
    }
    try {
        // The progress line is for people watching; logs and pipes get only
        // the failure lines.
        const bool progress = options.toFolder && isatty(STDERR_FILENO);
        const cli::BatchOutcome outcome = cli::runBatch(options, stderr, progress);
        return outcome.failed == 0 ? 0 : 1;
    } catch (const std::bad_alloc &) {
        std::fputs("nubaro-convert: out of memory\n", stderr);
        return 1;
    }
}
