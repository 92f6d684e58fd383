// SPDX-License-Identifier: MIT
#include "std_streams.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace cli {
namespace {

// Writes all of [data, data + size) to fd; false with errno set on failure.
bool writeAll(int fd, const char *data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::optional<StdinFile> StdinFile::open(std::string &error) {
    struct stat st {};
    if (::fstat(STDIN_FILENO, &st) != 0) {
        error = std::string("cannot read standard input: ") + std::strerror(errno);
        return std::nullopt;
    }
    if (S_ISREG(st.st_mode) && ::lseek(STDIN_FILENO, 0, SEEK_CUR) == 0) {
        StdinFile file(-1);
        file.path_ = "/proc/self/fd/" + std::to_string(STDIN_FILENO);
        return file;
    }
    // A pipe, a terminal or a file read from its middle: a copy in memory.
    const int fd = ::memfd_create("nubaro-convert-stdin", MFD_CLOEXEC);
    if (fd < 0) {
        error = std::string("cannot hold standard input: ") + std::strerror(errno);
        return std::nullopt;
    }
    StdinFile file(fd);
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::string("cannot read standard input: ") + std::strerror(errno);
            return std::nullopt;
        }
        if (n == 0) break;
        if (!writeAll(fd, buffer, static_cast<size_t>(n))) {
            error = std::string("cannot hold standard input: ") + std::strerror(errno);
            return std::nullopt;
        }
    }
    return file;
}

StdinFile::StdinFile(int fd) : fd_(fd) {
    if (fd >= 0) path_ = "/proc/self/fd/" + std::to_string(fd);
}

StdinFile::StdinFile(StdinFile &&other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

StdinFile::~StdinFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<ScratchFolder> ScratchFolder::make(std::string &error) {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/nubaro-convert.XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        error = "cannot make a folder in " + pattern.substr(0, pattern.rfind('/')) + ": " +
                std::strerror(errno);
        return std::nullopt;
    }
    return ScratchFolder(std::move(pattern));
}

ScratchFolder::ScratchFolder(ScratchFolder &&other) noexcept
    : path_(std::exchange(other.path_, std::string())) {}

std::string ScratchFolder::file(const std::string &ext) const {
    return path_ + "/output." + ext;
}

std::string ScratchFolder::copyOut(const std::string &file) const {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::string("cannot reopen the output: ") + std::strerror(errno);
    ::unlink(file.c_str());
    std::string error;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::string("cannot reread the output: ") + std::strerror(errno);
            break;
        }
        if (n == 0) break;
        if (!writeAll(STDOUT_FILENO, buffer, static_cast<size_t>(n))) {
            error = std::string("cannot write to standard output: ") + std::strerror(errno);
            break;
        }
    }
    ::close(fd);
    return error;
}

void ScratchFolder::clear() {
    if (path_.empty()) return;
    if (DIR *dir = ::opendir(path_.c_str())) {
        while (const dirent *e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") ::unlink((path_ + "/" + name).c_str());
        }
        ::closedir(dir);
    }
    ::rmdir(path_.c_str());
    path_.clear();
}

} // namespace cli
