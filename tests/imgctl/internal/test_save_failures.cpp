// SPDX-License-Identifier: MIT
// The file output under every save, in what the C interface cannot show:
// writes of every size, and space reserved and filled in place, arrive in
// order. (Failed, abandoned and good saves are tested through the C
// interface, in tests/imgctl/public/test_disk_failures.cpp.)
#include "corpus.h"
#include "io/file_out.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>

using namespace imgctl;
using testing_support::listing;
using testing_support::readFile;
using testing_support::TempDir;

namespace {

TEST(OutputFile, LargeAndSmallWritesArriveInOrder) {
    TempDir dir;
    std::vector<uint8_t> expect;
    OutputFile out;
    ASSERT_TRUE(out.open((dir / "out.bin").c_str()));
    uint32_t seed = 1;
    for (size_t size : {size_t{5}, size_t{3} << 20, size_t{100}, size_t{1} << 20, size_t{7}}) {
        std::vector<uint8_t> chunk(size);
        for (auto &b : chunk)
            b = static_cast<uint8_t>(seed = seed * 1103515245 + 12345);
        ASSERT_TRUE(out.write(chunk.data(), chunk.size()));
        expect.insert(expect.end(), chunk.begin(), chunk.end());
    }
    uint8_t *p = out.reserve(300000);
    ASSERT_NE(p, nullptr);
    std::memset(p, 0x5A, 300000);
    out.advance(300000);
    expect.insert(expect.end(), 300000, 0x5A);
    EXPECT_EQ(out.size(), expect.size());
    ASSERT_TRUE(out.commit());
    EXPECT_EQ(readFile(dir / "out.bin"), expect);
    EXPECT_EQ(listing(dir.path()), std::set<std::string>{"out.bin"});
}

} // namespace
