// SPDX-License-Identifier: MIT
// Where the test images are, and small file helpers for tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace testing_support {

// The shared corpus folder (bmpsuite/, pngsuite/, jpeg/, bad/). Fails the
// calling test when it is missing.
std::filesystem::path corpusDir();

// corpusDir() / relative.
std::filesystem::path corpus(const std::string &relative);

// Whole file contents; empty when it cannot be read.
std::vector<uint8_t> readFile(const std::filesystem::path &path);

// Whole file contents as text; empty when it cannot be read.
std::string readText(const std::filesystem::path &path);

// Names of the entries of a folder, sorted.
std::set<std::string> listing(const std::filesystem::path &dir);

// Rows of a tab-separated file, each split into its columns. Blank lines and
// lines starting with '#' are skipped.
std::vector<std::vector<std::string>> readTsv(const std::filesystem::path &path);

// A test's name made of `text`: every character but letters and digits
// becomes '_'.
std::string testName(std::string text);

// A fresh empty folder under the system's temporary folder, removed when the
// object goes away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::filesystem::path &path() const { return path_; }
    std::filesystem::path operator/(const std::string &name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

} // namespace testing_support
