// SPDX-License-Identifier: MIT
// The split JPEG encoder; its contract is in split_encoder.h.
#include "jpeg/split_encoder.h"

#include "core/bytes.h"
#include "core/parallel.h"
#include "jpeg/compress_setup.h"
#include "jpeg/huffman_recoder.h"
#include "jpeg/marker_parser.h"

#include <jerror.h>

#include <cstring>
#include <string>
#include <vector>

namespace imgctl {
namespace {

// A growing in-memory destination.
struct VectorDestination {
    jpeg_destination_mgr pub;
    std::vector<uint8_t> *out;
};

void vectorInit(j_compress_ptr cinfo) {
    auto *dest = reinterpret_cast<VectorDestination *>(cinfo->dest);
    bool failed = false;
    try {
        dest->out->resize(size_t{256} << 10);
    } catch (...) {
        failed = true;
    }
    if (failed) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    dest->pub.next_output_byte = dest->out->data();
    dest->pub.free_in_buffer = dest->out->size();
}

boolean vectorEmpty(j_compress_ptr cinfo) {
    auto *dest = reinterpret_cast<VectorDestination *>(cinfo->dest);
    const size_t old = dest->out->size();
    bool failed = false;
    try {
        dest->out->resize(old * 2);
    } catch (...) {
        failed = true;
    }
    if (failed) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    dest->pub.next_output_byte = dest->out->data() + old;
    dest->pub.free_in_buffer = old;
    return TRUE;
}

void vectorTerm(j_compress_ptr cinfo) {
    auto *dest = reinterpret_cast<VectorDestination *>(cinfo->dest);
    dest->out->resize(dest->out->size() - dest->pub.free_in_buffer);
}

// Encodes rows y0 .. y0 + height - 1 as a JPEG of their own with the
// standard tables and a restart marker after every MCU row. False on failure.
bool encodePart(const Image &image, RowFeeder &feeder, uint32_t y0, uint32_t height, int quality,
                std::vector<uint8_t> &out) {
    jpeg_compress_struct cinfo;
    JpegErrors err;
    VectorDestination dest;
    std::memset(&cinfo, 0, sizeof cinfo);
    useJpegErrors(cinfo, err);
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    dest.pub.init_destination = vectorInit;
    dest.pub.empty_output_buffer = vectorEmpty;
    dest.pub.term_destination = vectorTerm;
    dest.out = &out;
    cinfo.dest = &dest.pub;
    configure(cinfo, image, feeder, height, quality);
    cinfo.optimize_coding = FALSE;
    cinfo.restart_in_rows = 1;
    jpeg_start_compress(&cinfo, TRUE);
    // The first part's segments become the file's.
    if (y0 == 0) writeMetadata(cinfo, image);
    writeRows(cinfo, feeder, y0);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

// One part: encoded, split into restart intervals (unstuffed), counted, and
// coded again.
struct Part {
    uint32_t y0 = 0, height = 0;
    uint32_t mcuRows = 0;
    std::vector<uint8_t> head; // the part's segments before its scan data
    // The part as libjpeg wrote it, then, in the same buffer, its
    // entropy-coded data unstuffed.
    std::vector<uint8_t> data;
    std::vector<size_t> intervals; // start of each restart interval in data, then the end
    SymbolCounts counts;
    std::vector<uint8_t> coded; // the data coded with the optimised tables
    Status status;
};

Status internal(const std::string &what) {
    return {Error::Internal, "JPEG split encoder: " + what};
}

// Unstuffs the part's scan data (from `start` to the closing EOI marker) in
// place, the data only shrinking, and cuts it at the restart markers.
Status unstuff(Part &part, size_t start) {
    uint8_t *f = part.data.data();
    const size_t end = part.data.size() - 2;
    size_t w = 0;
    part.intervals.push_back(0);
    for (size_t i = start; i < end; ++i) {
        if (f[i] != 0xFF) {
            f[w++] = f[i];
            continue;
        }
        const uint8_t next = i + 1 < end ? f[i + 1] : 0;
        ++i;
        if (next == 0)
            f[w++] = 0xFF;
        else if (next >= 0xD0 && next <= 0xD7)
            part.intervals.push_back(w);
        else
            return internal("a marker inside the scan data");
    }
    part.data.resize(w);
    part.intervals.push_back(w);
    if (part.intervals.size() != part.mcuRows + 1)
        return internal(std::to_string(part.intervals.size() - 1) + " restart intervals for " +
                        std::to_string(part.mcuRows) + " rows of MCUs");
    return Status::ok();
}

// Encodes, unstuffs and counts one part (the first phase, one thread each).
Status preparePart(const Image &image, Part &part, int quality) {
    RowFeeder feeder(image);
    if (!encodePart(image, feeder, part.y0, part.height, quality, part.data))
        return {Error::Unsupported, "libjpeg could not encode a part"};
    const Headers h = parseHeaders(part.data, image.width);
    if (!h.ok || part.data.size() < h.scanStart + 2)
        return internal("the segments of a part do not parse");
    part.head.assign(part.data.begin(), part.data.begin() + h.scanStart);
    if (Status s = unstuff(part, h.scanStart); !s) return s;
    const IntervalCoder coder(h.scan, h.dc, h.ac);
    for (uint32_t r = 0; r < part.mcuRows; ++r)
        if (!coder.count(part.data.data() + part.intervals[r],
                         part.data.data() + part.intervals[r + 1], part.counts))
            return internal("a restart interval does not decode");
    return Status::ok();
}

// Codes one part again with the optimised tables (the second phase).
// firstInterval numbers its restart markers; the image's last interval gets
// none.
Status recodePart(Part &part, const Headers &h, const HuffCodes (&dc)[2], const HuffCodes (&ac)[2],
                  uint32_t firstInterval, uint32_t totalIntervals) {
    const IntervalCoder coder(h.scan, h.dc, h.ac);
    part.coded.clear();
    part.coded.reserve(part.data.size() + part.data.size() / 8 + 64);
    const size_t rows = part.intervals.size() - 1;
    for (size_t r = 0; r < rows; ++r) {
        if (!coder.recode(part.data.data() + part.intervals[r],
                          part.data.data() + part.intervals[r + 1], dc, ac, part.coded))
            return internal("a restart interval does not decode");
        const uint32_t global = firstInterval + static_cast<uint32_t>(r);
        if (global + 1 < totalIntervals) {
            part.coded.push_back(0xFF);
            part.coded.push_back(static_cast<uint8_t>(0xD0 + global % 8));
        }
    }
    std::vector<uint8_t>().swap(part.data);
    return Status::ok();
}

void putSegmentHeader(std::vector<uint8_t> &v, int marker, size_t length) {
    uint8_t head[4] = {0xFF, static_cast<uint8_t>(marker)};
    storeBe16(head + 2, static_cast<uint32_t>(length));
    v.insert(v.end(), head, head + 4);
}

// The first part's segments with the optimised tables in its first DHT
// segment's place (the others dropped) and the image's full height.
std::vector<uint8_t> joinedHeaders(const Image &image, const Part &first, const Headers &h,
                                   const HuffTable (&dc)[2], const HuffTable (&ac)[2], int tables) {
    std::vector<uint8_t> head = {0xFF, 0xD8};
    bool tablesWritten = false;
    for (auto [at, len] : h.segments) {
        const uint8_t *seg = first.head.data() + at;
        if (seg[1] == 0xC4) {
            if (tablesWritten) continue;
            tablesWritten = true;
            size_t body = 0;
            for (int t = 0; t < tables; ++t)
                body += 2 * 17 + dc[t].count() + ac[t].count();
            putSegmentHeader(head, 0xC4, body + 2);
            for (int t = 0; t < tables; ++t)
                for (int cls = 0; cls < 2; ++cls) {
                    const HuffTable &table = cls ? ac[t] : dc[t];
                    head.push_back(static_cast<uint8_t>(cls << 4 | t));
                    head.insert(head.end(), table.bits.begin() + 1, table.bits.end());
                    head.insert(head.end(), table.vals.begin(), table.vals.begin() + table.count());
                }
            continue;
        }
        const size_t from = head.size();
        head.insert(head.end(), seg, seg + len);
        if (seg[1] == 0xC0) {
            storeBe16(head.data() + from + 5, image.height);
        }
    }
    return head;
}

} // namespace

Status encodeSplit(const Image &image, OutputFile &out, int quality, uint32_t mcuHeight,
                   const Tuning &tuning) {
    const uint32_t mcuRows = (image.height + mcuHeight - 1) / mcuHeight;
    Part parts[2];
    parts[0].mcuRows = mcuRows / 2;
    parts[1].mcuRows = mcuRows - parts[0].mcuRows;
    parts[0].height = parts[0].mcuRows * mcuHeight;
    parts[1].y0 = parts[0].height;
    parts[1].height = image.height - parts[0].height;
    runParallel(2, tuning,
                [&](unsigned i) { parts[i].status = preparePart(image, parts[i], quality); });
    for (const Part &p : parts)
        if (!p.status) return p.status;

    const Headers h = parseHeaders(parts[0].head, image.width);
    if (!h.ok) return internal("the first part's segments do not parse");
    SymbolCounts total = parts[0].counts;
    total.add(parts[1].counts);
    const int tables = h.scan.components == 1 ? 1 : 2;
    HuffTable dcTable[2], acTable[2];
    HuffCodes dcCodes[2], acCodes[2];
    for (int t = 0; t < tables; ++t) {
        dcTable[t] = optimalTable(total.dc[t]);
        acTable[t] = optimalTable(total.ac[t]);
        dcCodes[t].build(dcTable[t]);
        acCodes[t].build(acTable[t]);
    }
    runParallel(2, tuning, [&](unsigned i) {
        parts[i].status =
            recodePart(parts[i], h, dcCodes, acCodes, i == 0 ? 0 : parts[0].mcuRows, mcuRows);
    });
    for (const Part &p : parts)
        if (!p.status) return p.status;

    const std::vector<uint8_t> head = joinedHeaders(image, parts[0], h, dcTable, acTable, tables);
    (void)out.write(head.data(), head.size());
    (void)out.write(parts[0].coded.data(), parts[0].coded.size());
    (void)out.write(parts[1].coded.data(), parts[1].coded.size());
    static const uint8_t eoi[2] = {0xFF, 0xD9};
    return out.write(eoi, 2);
}

} // namespace imgctl
