// SPDX-License-Identifier: MIT
// Arbitrary bytes loaded as a file exactly as ToDIB loads one: written to
// tmpfs (where there is one), mapped, the format told from the first bytes
// (the seeds hold all three formats), decoded straight from the mapping,
// with every fast path's threshold lowered. An internal error is a finding.
#include "fuzz_common.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

const std::string &inputPath() {
    static const std::string path =
        std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/nubaro-fuzz-load-" +
        std::to_string(getpid());
    return path;
}

bool writeInput(const uint8_t *data, size_t size) {
    int fd = open(inputPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    close(fd);
    return done == size;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!writeInput(data, size)) std::abort();
    auto image = imgctl::loadImage(inputPath().c_str(), fuzzing::tuning());
    unlink(inputPath().c_str());
    if (image) {
        // A decoded image must describe its own buffer.
        const imgctl::Image &im = image.value();
        if (im.width == 0 || im.height == 0 || im.width > imgctl::kMaxDimension ||
            im.height > imgctl::kMaxDimension || im.pixels.size() < size_t{im.height} * im.stride ||
            im.stride < imgctl::strideFor(im.width, im.bitCount))
            __builtin_trap();
        if (im.isPalette() && (im.palette.empty() || im.palette.size() > (1u << im.bitCount)))
            __builtin_trap();
    } else if (image.status().message().empty() ||
               image.status().code() == imgctl::Error::Internal) {
        __builtin_trap(); // every failure names its cause, and none is the library's own
    }
    return 0;
}
