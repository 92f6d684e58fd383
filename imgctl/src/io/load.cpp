// SPDX-License-Identifier: MIT
// Opening a file and telling its format from its first bytes.
#include "core/ops.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace imgctl {
namespace {

// A read-only view of a whole file, mapped into memory and unmapped on
// destruction.
class MappedFile {
  public:
    MappedFile() = default;
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;
    ~MappedFile() {
        if (data_ && size_) munmap(data_, size_);
    }

    Status open(const char *path) {
        int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            int err = errno;
            Error code = (err == ENOENT || err == ENOTDIR) ? Error::NotFound
                         : (err == EACCES || err == EPERM) ? Error::PermissionDenied
                                                           : Error::CannotRead;
            return {code, std::string(path) + ": " + std::strerror(err)};
        }
        struct stat st {};
        if (fstat(fd, &st) != 0) {
            int err = errno;
            ::close(fd);
            return {Error::CannotRead, std::string(path) + ": " + std::strerror(err)};
        }
        if (!S_ISREG(st.st_mode)) {
            ::close(fd);
            return {Error::CannotRead, std::string(path) + ": not a regular file"};
        }
        size_ = static_cast<size_t>(st.st_size);
        if (size_ > 0) {
            void *p = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
            if (p == MAP_FAILED) {
                int err = errno;
                ::close(fd);
                size_ = 0;
                return {Error::CannotRead, std::string(path) + ": " + std::strerror(err)};
            }
            data_ = p;
            madvise(data_, size_, MADV_SEQUENTIAL);
        }
        ::close(fd);
        return Status::ok();
    }

    const uint8_t *data() const { return static_cast<const uint8_t *>(data_); }
    size_t size() const { return size_; }

  private:
    void *data_ = nullptr;
    size_t size_ = 0;
};

} // namespace

Result<Image> loadImage(const char *path, const Tuning &tuning) {
    MappedFile file;
    if (Status s = file.open(path); !s) return s;
    const uint8_t *d = file.data();
    size_t n = file.size();
    if (n >= 2 && d[0] == 'B' && d[1] == 'M') return decodeBmp(d, n, tuning, true);
    if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return decodeJpeg(d, n);
    static const uint8_t pngSig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (n >= 8 && std::memcmp(d, pngSig, 8) == 0) return decodePng(d, n, tuning, true);
    if (n == 0) return {Error::NotImage, std::string(path) + ": the file is empty"};
    return {Error::NotImage, std::string(path) + ": not a BMP, JPEG or PNG file"};
}

} // namespace imgctl
