// SPDX-License-Identifier: MIT
// Differential: the split JPEG encoder (jpeg/split_encoder.h) against
// libjpeg's whole-image encoder at the same quality, the tuning switching the
// split on and off. The image is made from the input's bytes (every depth,
// up to 160 x 160 pixels, a gray palette giving a one-component file).
// Both files decode with libjpeg-turbo to the same pixels and carry the same
// segments apart from the Huffman tables and restart intervals; the split
// file carries restart intervals whenever the picture has two rows of MCUs,
// and decodes without a single warning.
#include "core/bytes.h"
#include "fuzz_common.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {

struct StrictErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void onError(j_common_ptr cinfo) {
    auto *e = reinterpret_cast<StrictErrors *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, e->message);
    std::longjmp(e->jump, 1);
}

// Decodes a file to packed samples (gray or RGB). Empty with the reason in
// `why` when libjpeg fails or warns.
void decodeStrict(const std::vector<uint8_t> &file, std::vector<uint8_t> &pixels,
                  std::string &why) {
    jpeg_decompress_struct cinfo;
    StrictErrors err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        pixels.clear();
        why = err.message;
        return;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    const size_t rowBytes = size_t{cinfo.output_width} * cinfo.output_components;
    pixels.assign(rowBytes * cinfo.output_height, 0);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels.data() + rowBytes * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    if (err.pub.num_warnings) { // libjpeg prints the first warning on stderr
        pixels.clear();
        why = std::to_string(err.pub.num_warnings) + " warnings";
    }
    jpeg_destroy_decompress(&cinfo);
}

// The segments before the scan data, each with its marker, and whether a
// DRI segment (restart intervals) was among them. DHT and DRI are left out:
// they are where a split file differs from a whole-image one.
std::vector<std::vector<uint8_t>> segments(const std::vector<uint8_t> &file, bool &restarts) {
    std::vector<std::vector<uint8_t>> found;
    restarts = false;
    for (size_t i = 2; i + 4 <= file.size() && file[i] == 0xFF;) {
        const size_t next = std::min(file.size(), i + 2 + imgctl::loadBe16(&file[i + 2]));
        restarts = restarts || file[i + 1] == 0xDD;
        if (file[i + 1] != 0xC4 && file[i + 1] != 0xDD) found.emplace_back(&file[i], &file[next]);
        if (file[i + 1] == 0xDA) break;
        i = next;
    }
    return found;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzzing::guarded([&] {
        using namespace imgctl;
        fuzzing::Input in{data, size};
        const int quality = 1 + in.byte() % 100;
        const Image image = fuzzing::rawImage(in, 160, {1, 4, 8, 16, 24, 32});
        static const std::string split = fuzzing::scratchPath("split") + ".jpg",
                                 whole = fuzzing::scratchPath("whole") + ".jpg";
        const Status s1 = saveJpeg(image, split.c_str(), quality, false, fuzzing::tuning());
        const Status s2 = saveJpeg(image, whole.c_str(), quality, false, Tuning::plainPaths());
        fuzzing::expectNotInternal(s1, "the split encoder");
        if (!s1 || !s2)
            fuzzing::fail("saving failed: split '" + s1.message() + "', whole '" + s2.message() +
                          "'");
        const std::vector<uint8_t> a = fuzzing::readWhole(split), b = fuzzing::readWhole(whole);
        unlink(split.c_str());
        unlink(whole.c_str());
        const uint32_t mcuHeight = !hasGrayPalette(image) && quality < 90 ? 16 : 8;
        bool restarts = false, wholeRestarts = false;
        if (segments(a, restarts) != segments(b, wholeRestarts))
            fuzzing::fail("the split file's segments differ from the whole-image file's");
        if (image.height >= 2 * mcuHeight && !restarts)
            fuzzing::fail("the split encoder was not taken for " + std::to_string(image.height) +
                          " rows");
        std::vector<uint8_t> pa, pb;
        std::string whyA, whyB;
        decodeStrict(a, pa, whyA);
        decodeStrict(b, pb, whyB);
        if (pa.empty()) fuzzing::fail("the split file does not decode strictly: " + whyA);
        if (pb.empty()) fuzzing::fail("the whole-image file does not decode strictly: " + whyB);
        if (pa != pb)
            fuzzing::fail("the split and whole-image files decode differently (quality " +
                          std::to_string(quality) + ", " + std::to_string(image.width) + "x" +
                          std::to_string(image.height) + "x" + std::to_string(image.bitCount) +
                          ")");
    });
}
