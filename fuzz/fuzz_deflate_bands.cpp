// SPDX-License-Identifier: MIT
// Differential: the deflate band joiner (png/deflate_bands.h) against zlib's
// inflate. The input's first bytes choose the level (0 to 9), how often the
// rest (its first 4 kB) is repeated (longer data, longer matches) and where it is cut into
// bands (1 to 8); the rest stands for the filtered rows. The bands are
// compressed by two deflaters taking turns, as two threads of the PNG writer
// do, joined behind the zlib header with the combined Adler-32, and the
// whole stream must inflate, its check value verified, to exactly the data.
#include "fuzz_common.h"
#include "png/deflate_bands.h"

#include <zlib.h>

#include <algorithm>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzzing::guarded([&] {
        using namespace imgctl;
        fuzzing::Input in{data, size};
        const int level = in.byte() % 10;
        const size_t repeats = 1 + in.byte() % 16;
        const size_t bandCount = 1 + in.byte() % 8;
        uint8_t cutAt[7];
        for (uint8_t &c : cutAt)
            c = in.byte();
        if (in.left() == 0) return;
        std::vector<uint8_t> rows;
        for (size_t r = 0; r < repeats; ++r)
            rows.insert(rows.end(), in.rest(), in.rest() + std::min<size_t>(in.left(), 4096));
        // Band ends: the cut bytes as fractions of the data, at least one
        // byte a band, the last band ending the data.
        std::vector<size_t> ends;
        for (size_t b = 0; b + 1 < bandCount; ++b)
            ends.push_back(1 + rows.size() * cutAt[b] / 256);
        ends.push_back(rows.size());
        std::sort(ends.begin(), ends.end());
        ends.erase(std::unique(ends.begin(), ends.end()), ends.end());

        const std::array<uint8_t, 2> head = zlibHeader(level);
        std::vector<uint8_t> stream(head.begin(), head.end());
        // Made once a level (libdeflate's compressors take a while to set
        // up) and reused, as a writer's thread reuses its deflater.
        static std::unique_ptr<BandDeflater> deflaters[10][2];
        for (auto &d : deflaters[level])
            if (!d) d = std::make_unique<BandDeflater>(level);
        uLong adler = adler32(0L, nullptr, 0);
        size_t from = 0;
        for (size_t b = 0; b < ends.size(); ++b) {
            BandDeflater &d = *deflaters[level][b % 2];
            const size_t n = ends[b] - from;
            const Status s = d.compress(rows.data() + from, n, b + 1 == ends.size());
            fuzzing::expectNotInternal(s, "BandDeflater::compress");
            if (!s) fuzzing::fail("a band failed: " + s.message());
            stream.insert(stream.end(), d.data(), d.data() + d.size());
            adler = adler32_combine(adler, adler32(1L, rows.data() + from, static_cast<uInt>(n)),
                                    static_cast<z_off_t>(n));
            from = ends[b];
        }
        for (int shift = 24; shift >= 0; shift -= 8)
            stream.push_back(static_cast<uint8_t>(adler >> shift));

        std::vector<uint8_t> out(rows.size() + 1);
        z_stream z{};
        if (inflateInit(&z) != Z_OK) fuzzing::fail("zlib's inflate does not start");
        z.next_in = stream.data();
        z.avail_in = static_cast<uInt>(stream.size());
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        const int rc = inflate(&z, Z_FINISH);
        const std::string why = z.msg ? z.msg : "";
        const size_t made = z.total_out, left = z.avail_in;
        inflateEnd(&z);
        const std::string what = std::to_string(ends.size()) + " bands of " +
                                 std::to_string(rows.size()) + " bytes at level " +
                                 std::to_string(level) + ": ";
        if (rc != Z_STREAM_END)
            fuzzing::fail(what + "the joined stream does not inflate (" + std::to_string(rc) + " " +
                          why + ") after " + std::to_string(made) + " bytes");
        if (left != 0) fuzzing::fail(what + std::to_string(left) + " bytes after the stream");
        if (made != rows.size() || std::memcmp(out.data(), rows.data(), made) != 0)
            fuzzing::fail(what + "the joined stream inflates to other bytes");
    });
}
