// SPDX-License-Identifier: MIT
// Headers that claim huge pictures and small files that would inflate to
// gigabytes: each load fails with a message naming the size, and the peak
// resident memory of the process hardly moves (bench/limits measures the
// same files in fresh processes).
#include "hostile_files.h"
#include "imgctl.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "corpus.h"

using testing_support::TempDir;

namespace {

// A field of /proc/self/status in kB, or -1.
long statusKb(const char *field) {
    std::ifstream f("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(f, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
    return -1;
}

// Resets the peak so that VmHWM afterwards is the peak since now.
bool resetPeak() {
    std::ofstream f("/proc/self/clear_refs");
    f << "5";
    f.flush();
    return bool(f);
}

class Oversized : public ::testing::TestWithParam<hostile::Case> {};

TEST_P(Oversized, FailsNamingTheSizeWithoutAllocating) {
    const hostile::Case &c = GetParam();
    TempDir dir;
    const std::string path = (dir / c.name).string();
    {
        std::ofstream f(path, std::ios::binary);
        f.write(reinterpret_cast<const char *>(c.bytes.data()), std::streamsize(c.bytes.size()));
    }
    const bool peakKnown = resetPeak();
    const long before = statusKb("VmRSS");
    EXPECT_EQ(ToDIB(path.c_str()), 0);
    const long peak = statusKb("VmHWM");
    const std::string message = ImgctlLastError();
    EXPECT_NE(message.find(c.expect), std::string::npos) << message;
    if (peakKnown && before > 0 && peak > 0) {
        EXPECT_LT(peak - before, 48 * 1024)
            << "peak resident memory grew by " << peak - before << " kB";
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, Oversized, ::testing::ValuesIn(hostile::oversizedCases()),
                         [](const auto &info) {
                             std::string n = info.param.name;
                             for (char &ch : n)
                                 if (ch == '-') ch = '_';
                             return n;
                         });

// The same builders make pictures the library does open, so the failures
// above come from the sizes and not from malformed files.
TEST(Limits, SmallVersionsOfTheSameFilesLoad) {
    TempDir dir;
    const hostile::Case small[] = {
        {"small.jpg", hostile::jpeg(64, 48, 3, 2048), ""},
        {"small.png", hostile::png(20, 10, 6, hostile::zlibStored(hostile::Bytes(10 * 81, 0))), ""},
        {"small.bmp", hostile::bmp(30, 1, 24, 0, 0, hostile::Bytes(92, 0)), ""},
        {"small-rle.bmp", hostile::bmp(255, 8, 8, 1, 256, hostile::rle8Runs(8)), ""},
    };
    for (const auto &c : small) {
        const std::string path = (dir / c.name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(c.bytes.data()), std::streamsize(c.bytes.size()));
        int32_t h = ToDIB(path.c_str());
        ASSERT_GT(h, 0) << c.name << ": " << ImgctlLastError();
        DeleteDIB(h);
    }
}

} // namespace
