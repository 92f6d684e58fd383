// SPDX-License-Identifier: MIT
// Crash-safe file output. A save writes into an unnamed file in the target's
// folder (a hidden temporary one where the file system has no unnamed
// files) and gives it the target's name only after the whole file has been
// written and flushed to disk, so a failed save, a crash, a kill or a power
// cut leaves either the old file or the new one, never a partial file.
#pragma once

#include "core/status.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace imgctl {

class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    // Removes the temporary file unless commit() succeeded.
    ~OutputFile();

    // Creates the temporary file for `path`. Fails with CannotWrite when the
    // folder is missing, a part of the path is not a folder, the target is a
    // folder, or the temporary file cannot be created.
    Status open(const char *path);

    // Appends bytes. Errors are sticky: after the first failure every call
    // returns it again, so callers may check only at the end.
    Status write(const void *data, size_t size);

    // Room for `size` bytes at the end of the buffer, to be filled and then
    // handed over with advance(size). Returns null after a failure.
    uint8_t *reserve(size_t size);
    void advance(size_t size) { used_ += size; }

    // The first failure, or ok.
    const Status &status() const { return status_; }

    // Writes what is buffered, flushes the file to disk, names it as the
    // target (replacing an existing one) and flushes the folder. On failure
    // the new file is removed and the target is left as it was; after
    // ImgctlStopSaves every commit fails so.
    Status commit();

    // Bytes handed over so far.
    uint64_t size() const { return written_ + used_; }

  private:
    Status flushBuffer();
    Status writeAll(const uint8_t *data, size_t size);
    Status fail(const std::string &what, int err);
    void discard();
    std::string hiddenName() const;
    int name();

    std::string target_; // the file to replace
    std::string temp_;   // the new file's temporary name, while it has one
    std::string folder_; // the folder holding both
    std::string base_;   // the target's name within the folder
    int fd_ = -1;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t capacity_ = 0;
    size_t used_ = 0;
    uint64_t written_ = 0;
    uint64_t handedToDisk_ = 0; // bytes whose write-back has been started
    Status status_;
};

} // namespace imgctl
