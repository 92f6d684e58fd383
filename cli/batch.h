// SPDX-License-Identifier: MIT
// Runs the window's conversion chain over every source of the command line,
// on one or more threads, and reports each failure on one line.
#pragma once

#include "options.h"

#include <cstdio>

namespace cli {

struct BatchOutcome {
    unsigned converted = 0;
    unsigned failed = 0;
};

// Converts every source of `options` (already parsed and complete). Each
// failure writes "nubaro-convert: SOURCE: cause" to `errors`; with `progress`
// a line counting files done and failed is kept up to date there as well.
BatchOutcome runBatch(const Options &options, std::FILE *errors, bool progress);

} // namespace cli
