// SPDX-License-Identifier: MIT
// The marker parser; its contract is in marker_parser.h.
#include "jpeg/marker_parser.h"

#include "core/bytes.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace imgctl {

Headers parseHeaders(const std::vector<uint8_t> &f, uint32_t width) {
    Headers h;
    size_t at = 2;
    int hmax = 1, vmax = 1;
    std::array<int, 256> hv{}; // per component id: h << 4 | v
    std::array<int, 3> ids{};
    while (at + 4 <= f.size() && f[at] == 0xFF) {
        const int marker = f[at + 1];
        const size_t len = loadBe16(&f[at + 2]);
        if (len < 2 || at + 2 + len > f.size()) return h;
        const uint8_t *p = &f[at + 4];
        h.segments.push_back({at, len + 2});
        if (marker == 0xC4) { // DHT
            size_t q = 0;
            while (q + 17 <= len - 2) {
                int cls = p[q] >> 4, id = p[q] & 15;
                if (id > 1) return h;
                HuffTable &table = cls ? h.ac[id] : h.dc[id];
                table.bits[0] = 0;
                for (int l = 1; l <= 16; ++l)
                    table.bits[l] = p[q + l];
                int n = table.count();
                if (n > 256 || q + 17 + n > len - 2) return h;
                std::memcpy(table.vals.data(), p + q + 17, n);
                q += 17 + n;
            }
        } else if (marker == 0xC0) { // SOF0
            if (len - 2 < 6) return h;
            int nf = p[5];
            if (len - 2 < 6 + 3 * size_t(nf)) return h;
            for (int c = 0; c < nf && c < 3; ++c) {
                int id = p[6 + 3 * c], f2 = p[7 + 3 * c];
                hv[id] = f2;
                hmax = std::max(hmax, f2 >> 4);
                vmax = std::max(vmax, f2 & 15);
            }
        } else if (marker == 0xDA) { // SOS
            int ns = len > 2 ? p[0] : 0;
            if (ns < 1 || ns > 3 || len - 2 < 1 + 2 * size_t(ns)) return h;
            h.scan.components = ns;
            for (int c = 0; c < ns; ++c) {
                ids[c] = p[1 + 2 * c];
                h.scan.dcTable[c] = p[2 + 2 * c] >> 4;
                h.scan.acTable[c] = p[2 + 2 * c] & 15;
                if (h.scan.dcTable[c] > 1 || h.scan.acTable[c] > 1) return h;
            }
            if (ns == 1) {
                // A single-component scan codes one block per MCU over the
                // component's own width.
                int ch = hv[ids[0]] >> 4;
                uint32_t compWidth = (width * ch + hmax - 1) / hmax;
                h.scan.blocks[0] = 1;
                h.scan.mcusPerRow = (compWidth + 7) / 8;
            } else {
                for (int c = 0; c < ns; ++c)
                    h.scan.blocks[c] = (hv[ids[c]] >> 4) * (hv[ids[c]] & 15);
                h.scan.mcusPerRow = (width + 8 * hmax - 1) / (8 * hmax);
            }
            h.scanStart = at + 2 + len;
            h.ok = true;
            return h;
        }
        at += 2 + len;
    }
    return h;
}

} // namespace imgctl
