// SPDX-License-Identifier: MIT
// Headers that claim huge pictures and small files that would inflate to
// gigabytes: each load fails with a message naming the size, and the peak
// resident memory of the process hardly moves (bench/limits measures the
// same files in fresh processes).
#include "hostile_files.h"
#include "imgctl.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

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
    return bool(std::ofstream("/proc/self/clear_refs") << "5" << std::flush);
}

class HostileFile : public ::testing::TestWithParam<hostile::Case> {};

// The oversized ones fail naming the cause; a run-length file that draws the
// most pixels its stream can (which the corpus files are far from) loads.
TEST_P(HostileFile, FailsNamingTheCauseWithoutAllocating) {
    const hostile::Case &c = GetParam();
    TempDir dir;
    const std::string path = (dir / c.name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(c.bytes.data()), std::streamsize(c.bytes.size()));
    const bool peakKnown = resetPeak();
    const long before = statusKb("VmRSS");
    const int32_t h = ToDIB(path.c_str());
    const long peak = statusKb("VmHWM");
    const std::string message = ImgctlLastError();
    if (c.expect.empty()) {
        EXPECT_GT(h, 0) << message;
        DeleteDIB(h);
    } else {
        EXPECT_EQ(h, 0);
        EXPECT_NE(message.find(c.expect), std::string::npos) << message;
    }
    if (peakKnown && before > 0 && peak > 0) {
        EXPECT_LT(peak - before, 48 * 1024)
            << "peak resident memory grew by " << peak - before << " kB";
    }
}

// And a small PNG cut two bytes into its image data's check value, and the
// run-length file at its stream's limit.
std::vector<hostile::Case> hostileCases() {
    std::vector<hostile::Case> cases = hostile::oversizedCases();
    hostile::Bytes png = hostile::png(5, 3, 2, hostile::zlibStored(hostile::Bytes(3 * 16, 7)));
    png.resize(png.size() - 14);
    cases.push_back({"png-cut-in-its-check-value", png, "ends early"});
    cases.push_back({"small-rle.bmp", hostile::bmp(255, 8, 8, 1, 256, hostile::rle8Runs(8)), ""});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Limits, HostileFile, ::testing::ValuesIn(hostileCases()),
                         [](const auto &info) {
                             return testing_support::testName(info.param.name);
                         });

} // namespace
