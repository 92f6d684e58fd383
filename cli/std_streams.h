// SPDX-License-Identifier: MIT
// Standard input as a SOURCE and standard output as OUTPUT. The image library
// reads and writes files by path, so standard input is handed to it as a
// file (itself when it is a regular file read from its start, otherwise a
// copy in memory) and an output for standard output is made in a private
// folder and copied out.
#pragma once

#include <optional>
#include <string>

namespace cli {

// Standard input as a path the library can open.
class StdinFile {
  public:
    // Reads standard input when it is not a file the library can open
    // itself; the error names the cause.
    static std::optional<StdinFile> open(std::string &error);
    StdinFile(StdinFile &&other) noexcept;
    StdinFile &operator=(StdinFile &&) = delete;
    ~StdinFile();

    const std::string &path() const { return path_; }

  private:
    explicit StdinFile(int fd);
    int fd_ = -1; // the copy, or -1 when standard input is used itself
    std::string path_;
};

// A private folder for the file that goes to standard output.
class ScratchFolder {
  public:
    static std::optional<ScratchFolder> make(std::string &error);
    ScratchFolder(ScratchFolder &&other) noexcept;
    ScratchFolder &operator=(ScratchFolder &&) = delete;
    ~ScratchFolder() { clear(); }

    // The file name for an output with this extension.
    std::string file(const std::string &ext) const;
    // Copies `file` to standard output and removes it; the cause of a
    // failure, or empty.
    std::string copyOut(const std::string &file) const;
    // Removes the folder and what is in it (on an interrupt too).
    void clear();

  private:
    explicit ScratchFolder(std::string path) : path_(std::move(path)) {}
    std::string path_;
};

} // namespace cli
