// SPDX-License-Identifier: MIT
// Crash-safe file output: an unnamed file in the target's folder (O_TMPFILE;
// a hidden named one where the file system has no unnamed files), written
// with early write-back, fsync, then named: linked straight to the target
// when there is none, otherwise linked under a hidden name and renamed over
// the target; then fsync of the folder. Naming runs under the save gate
// (io/save_gate.h). While the disk is flushed the save lends its seat in the
// thread budget to other work (core/thread_pool.h).
//
// SIGXFSZ: a write past the process's file-size limit (RLIMIT_FSIZE) raises
// SIGXFSZ, whose default action ends the process. The library must not change
// the process's signal dispositions behind the program's back, so every write
// runs with SIGXFSZ blocked in the calling thread only. The kernel then fails
// the write with EFBIG and leaves the signal pending on this thread; before
// the old mask comes back, a signal that this write raised (it was not
// pending before) is taken back with a zero-timeout sigtimedwait. The save
// then fails with a "file-size limit" message and the temporary file is
// removed.
#include "io/file_out.h"

#include "core/thread_pool.h"
#include "io/save_gate.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace imgctl {
namespace {

constexpr size_t kBufferSize = size_t{1} << 20;
// Written data is handed to the disk in pieces of this size as it comes, so
// that the fsync at the end has little left to wait for.
constexpr uint64_t kWriteBackBytes = uint64_t{8} << 20;

// Blocks SIGXFSZ in this thread for the guard's life and swallows the one
// that a write inside it raised.
class BlockFileSizeSignal {
  public:
    BlockFileSizeSignal() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGXFSZ);
        pthread_sigmask(SIG_BLOCK, &set_, &old_);
        sigset_t pending;
        sigemptyset(&pending);
        wasPending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1;
    }
    ~BlockFileSizeSignal() {
        if (!wasPending_) {
            sigset_t pending;
            sigemptyset(&pending);
            if (sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1) {
                timespec zero{0, 0};
                sigtimedwait(&set_, nullptr, &zero);
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    BlockFileSizeSignal(const BlockFileSizeSignal &) = delete;
    BlockFileSizeSignal &operator=(const BlockFileSizeSignal &) = delete;

  private:
    sigset_t set_;
    sigset_t old_;
    bool wasPending_ = false;
};

std::string describe(int err) {
    switch (err) {
    case ENOSPC:
        return "no space left on the disk";
    case EFBIG:
        return "the file would pass the file-size limit";
    case EDQUOT:
        return "the disk quota is used up";
    case EROFS:
        return "the file system is read-only";
    case EACCES:
    case EPERM:
        return "permission denied";
    case EISDIR:
        return "the target is a folder";
    case ENOTDIR:
        return "a part of the path is not a folder";
    case ENOENT:
        return "the folder does not exist";
    case ENAMETOOLONG:
        return "the name is too long";
    default:
        return std::strerror(err);
    }
}

// Eight random bytes as 16 letters and digits for a temporary name.
std::string randomSuffix() {
    uint64_t bits = 0;
    if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        bits = static_cast<uint64_t>(ts.tv_nsec) * 0x9E3779B97F4A7C15ull ^
               static_cast<uint64_t>(ts.tv_sec) ^ (static_cast<uint64_t>(getpid()) << 40) ^
               reinterpret_cast<uintptr_t>(&ts);
    }
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string s;
    for (int i = 0; i < 10; ++i) {
        s += digits[bits % 36];
        bits /= 36;
    }
    return s;
}

// The failure class of a system error met while writing.
Error writeError(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
    case EROFS:
        return Error::PermissionDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return Error::DiskFull;
    default:
        return Error::CannotWrite;
    }
}

} // namespace

OutputFile::~OutputFile() {
    discard();
}

void OutputFile::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        SaveGate::instance().remove(temp_);
        temp_.clear();
    }
}

Status OutputFile::fail(const std::string &what, int err) {
    if (status_) status_ = Status(writeError(err), target_ + ": " + what + describe(err));
    discard();
    return status_;
}

Status OutputFile::open(const char *path) {
    if (!path || !*path) return status_ = Status(Error::CannotWrite, "empty output path");
    target_ = path;
    // Saving through a symbolic link replaces the file it points to and keeps
    // the link; a dangling link is replaced by the file.
    struct stat lst {};
    if (::lstat(path, &lst) == 0 && S_ISLNK(lst.st_mode)) {
        if (char *real = ::realpath(path, nullptr)) {
            target_ = real;
            std::free(real);
        }
    }
    size_t slash = target_.find_last_of('/');
    if (slash == std::string::npos) {
        folder_ = std::string(1, '.'); // not = ".": GCC 12 at -O3 warns falsely (-Wrestrict)
        base_ = target_;
    } else {
        folder_ = slash == 0 ? "/" : target_.substr(0, slash);
        base_ = target_.substr(slash + 1);
    }
    if (base_.empty() || base_ == "." || base_ == "..")
        return status_ = Status(Error::CannotWrite, target_ + ": the target is a folder");

    struct stat st {};
    bool exists = false;
    if (::stat(target_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return status_ = Status(Error::CannotWrite, target_ + ": the target is a folder");
        if (!S_ISREG(st.st_mode))
            return status_ =
                       Status(Error::CannotWrite, target_ + ": the target is not a regular file");
        exists = true;
        // The rename below needs only the folder's permission: a file that
        // may not be written is refused as writing into it would be.
        int probe = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (probe < 0) return fail("", errno);
        ::close(probe);
    } else if (errno == ENOTDIR) {
        return status_ = Status(Error::NoFolder, target_ + ": a part of the path is not a folder");
    } else if (errno != ENOENT) {
        return fail("", errno);
    } else {
        struct stat fst {};
        if (::stat(folder_.c_str(), &fst) != 0) {
            int err = errno;
            if (err == ENOENT || err == ENOTDIR)
                return status_ = Status(Error::NoFolder,
                                        target_ + ": the folder " + folder_ + " does not exist");
            return fail("", err);
        }
        if (!S_ISDIR(fst.st_mode))
            return status_ = Status(Error::NoFolder, target_ + ": " + folder_ + " is not a folder");
    }

    // An unnamed file in the folder; a hidden named one where the file
    // system cannot make unnamed files. 0666 lets the umask (and default
    // ACLs) decide, as for any new file.
    if (SaveGate::instance().stopped())
        return status_ = Status(Error::CannotWrite, target_ + ": saving was stopped");
    fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        const int err = errno;
        if (err != EOPNOTSUPP && err != EISDIR && err != EINVAL)
            return fail("cannot create a file in " + folder_ + ": ", err);
        int createErr = 0;
        const bool running = SaveGate::instance().run([&] {
            for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
                std::string name = hiddenName();
                int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
                if (fd >= 0) {
                    fd_ = fd;
                    temp_ = std::move(name);
                    SaveGate::instance().add(temp_);
                } else if (errno != EEXIST) {
                    createErr = errno;
                    return;
                }
            }
        });
        if (!running) return status_ = Status(Error::CannotWrite, target_ + ": saving was stopped");
        if (createErr) return fail("cannot create a file in " + folder_ + ": ", createErr);
    }
    if (fd_ < 0)
        return status_ =
                   Status(Error::CannotWrite, target_ + ": no free temporary name in " + folder_);
    // Replacing a file keeps its permissions.
    if (exists) (void)::fchmod(fd_, st.st_mode & 07777);

    buffer_.reset(new (std::nothrow) uint8_t[kBufferSize]);
    if (!buffer_) {
        discard();
        return status_ = Status(Error::OutOfMemory, "no memory for the output buffer");
    }
    capacity_ = kBufferSize;
    return Status::ok();
}

Status OutputFile::writeAll(const uint8_t *data, size_t size) {
    BlockFileSizeSignal guard;
    while (size > 0) {
        ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail("", errno);
        }
        if (n == 0) return fail("", EIO);
        data += n;
        size -= static_cast<size_t>(n);
        written_ += static_cast<uint64_t>(n);
    }
    if (written_ - handedToDisk_ >= kWriteBackBytes) {
        // Start writing back what is written so far without waiting for it;
        // a file system that cannot do this simply leaves it to the fsync.
        (void)::sync_file_range(fd_, static_cast<off64_t>(handedToDisk_),
                                static_cast<off64_t>(written_ - handedToDisk_),
                                SYNC_FILE_RANGE_WRITE);
        handedToDisk_ = written_;
    }
    return Status::ok();
}

Status OutputFile::flushBuffer() {
    if (used_ == 0) return status_;
    size_t n = used_;
    used_ = 0;
    return writeAll(buffer_.get(), n);
}

Status OutputFile::write(const void *data, size_t size) {
    if (!status_) return status_;
    if (fd_ < 0) return status_ = Status(Error::CannotWrite, target_ + ": the file is not open");
    const uint8_t *p = static_cast<const uint8_t *>(data);
    if (size <= capacity_ - used_) {
        std::memcpy(buffer_.get() + used_, p, size);
        used_ += size;
        return status_;
    }
    if (Status s = flushBuffer(); !s) return s;
    if (size >= capacity_) return writeAll(p, size);
    std::memcpy(buffer_.get(), p, size);
    used_ = size;
    return status_;
}

uint8_t *OutputFile::reserve(size_t size) {
    if (!status_ || fd_ < 0) return nullptr;
    if (size <= capacity_ - used_) return buffer_.get() + used_;
    if (!flushBuffer()) return nullptr;
    if (size > capacity_) {
        std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[size]);
        if (!bigger) {
            status_ = Status(Error::OutOfMemory, "no memory for the output buffer");
            discard();
            return nullptr;
        }
        buffer_ = std::move(bigger);
        capacity_ = size;
    }
    return buffer_.get();
}

std::string OutputFile::hiddenName() const {
    // Long names are cut so that the temporary name stays within the file
    // system's limit.
    return folder_ + "/." + base_.substr(0, 200) + "." + randomSuffix() + ".tmp";
}

// Gives the finished file its name; under the save gate.
int OutputFile::name() {
    if (temp_.empty()) {
        // Unnamed: linked straight to the target when there is none, through
        // /proc (or by descriptor, which needs a privilege, without /proc).
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        auto link = [&](const char *to) {
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, to, AT_SYMLINK_FOLLOW) == 0) return 0;
            if (errno != ENOENT) return errno;
            return ::linkat(fd_, "", AT_FDCWD, to, AT_EMPTY_PATH) == 0 ? 0 : errno;
        };
        const int err = link(target_.c_str());
        if (err != EEXIST) return err;
        // A target to replace: a hidden name first, renamed over it below.
        for (int attempt = 0; attempt < 100 && temp_.empty(); ++attempt) {
            std::string hidden = hiddenName();
            const int e = link(hidden.c_str());
            if (e == 0) {
                temp_ = std::move(hidden);
                SaveGate::instance().add(temp_);
            } else if (e != EEXIST) {
                return e;
            }
        }
        if (temp_.empty()) return EEXIST;
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) return errno;
    SaveGate::instance().drop(temp_);
    temp_.clear(); // the target now holds the new file
    return 0;
}

Status OutputFile::commit() {
    if (!status_) return status_;
    if (fd_ < 0) return status_ = Status(Error::CannotWrite, target_ + ": the file is not open");
    if (Status s = flushBuffer(); !s) return s;
    {
        ThreadPool::Release waitingForTheDisk;
        while (::fsync(fd_) != 0) {
            if (errno != EINTR) return fail("cannot flush to disk: ", errno);
        }
    }
    int err = 0;
    if (!SaveGate::instance().run([&] { err = name(); })) {
        status_ = Status(Error::CannotWrite, target_ + ": saving was stopped");
        discard();
        return status_;
    }
    if (err != 0) return fail("", err);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR)
        return status_ = Status(writeError(errno),
                                target_ + ": written, but closing failed: " + describe(errno));
    // Flush the folder so that the new name itself survives a power cut.
    ThreadPool::Release waitingForTheDisk;
    int dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        int rc;
        while ((rc = ::fsync(dir)) != 0 && errno == EINTR) {
        }
        int err = errno;
        ::close(dir);
        // Some file systems cannot flush a folder (EINVAL); the file is in place.
        if (rc != 0 && err != EINVAL && err != EROFS)
            return status_ = Status(Error::CannotWrite,
                                    target_ + ": written, but the folder could not be flushed: " +
                                        describe(err));
    }
    buffer_.reset();
    capacity_ = 0;
    return status_;
}

} // namespace imgctl
