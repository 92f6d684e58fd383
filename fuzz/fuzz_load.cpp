// SPDX-License-Identifier: MIT
// Arbitrary bytes loaded as a file exactly as ToDIB loads one: written to
// tmpfs (where there is one), mapped, the format told from the first bytes
// (the seeds hold all three formats), decoded straight from the mapping,
// with every fast path's threshold lowered. An internal error is a finding.
#include "fuzz_common.h"

#include <fstream>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string path = fuzzing::scratchPath("load");
    return fuzzing::guarded([&] {
        if (!(std::ofstream(path, std::ios::binary)
                  .write(reinterpret_cast<const char *>(data), std::streamsize(size))))
            fuzzing::fail("cannot write " + path);
        auto image = imgctl::loadImage(path.c_str(), fuzzing::tuning());
        unlink(path.c_str());
        if (!image) {
            // Every failure names its cause, and none is the library's own.
            fuzzing::expectNotInternal(image.status(), "loadImage");
            if (image.status().message().empty()) fuzzing::fail("a failed load names no cause");
            return;
        }
        // A decoded image must describe its own buffer.
        if (std::string why = fuzzing::malformed(image.value()); !why.empty())
            fuzzing::fail("the decoded image is malformed: " + why);
    });
}
