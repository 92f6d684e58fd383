// SPDX-License-Identifier: MIT
// A fuzz target's check, built with the ordinary compiler, run over files:
// each argument is a file, or a folder whose files (Markdown notes aside)
// are all taken. A failing check stops the process (fuzzing::fail), after
// the file's name is printed.
#include "fuzz_common.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        if (!fs::is_directory(argv[i])) {
            files.emplace_back(argv[i]);
            continue;
        }
        for (const auto &e : fs::recursive_directory_iterator(argv[i]))
            if (e.is_regular_file() && e.path().extension() != ".md") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path &f : files) {
        std::fprintf(stderr, "replay: %s\n", f.c_str());
        const std::vector<uint8_t> bytes = fuzzing::readWhole(f.string());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::fprintf(stderr, "replay: %zu files passed\n", files.size());
    return files.empty() ? 1 : 0;
}
