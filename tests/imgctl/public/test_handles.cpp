// SPDX-License-Identifier: MIT
// The C interface's rules on every function: handles and ownership; what
// each argument of the four saves does to the file (out of range, it is
// clamped), what DIBStrip leaves in it, ImgctlStopSaves and
// ImgctlReleaseWhileSaving; and misuse: null and empty paths and arguments,
// drawing onto null, tiny or malformed surfaces and through rectangles
// outside them. Nothing crashes, nothing is written
// where it must not be, and each call fails or clamps as the header says.
#include "corpus.h"
#include "file_fields.h"
#include "imgctl.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

using namespace testing_support;

namespace {

std::string lastError() {
    return ImgctlLastError();
}

// Every function that takes a handle, called with `h`; each must fail.
void expectAllFail(int32_t h) {
    TempDir dir;
    std::string out = (dir / "out").string();
    BITMAPINFOHEADER header{};
    uint32_t pixels[4] = {};
    ImgctlSurface surface{pixels, 2, 2, 8};
    int32_t one = 1;
    PngOptions options{};
    EXPECT_EQ(HeadDIB(h, &header), 0);
    EXPECT_EQ(header.biSize, 0u) << "a failed HeadDIB must not touch the header";
    EXPECT_EQ(DIBtoDCex2(&surface, 0, 0, 2, 2, h, 0, 0, 2, 2, IMGCTL_SRCCOPY, 4), 0);
    EXPECT_EQ(RLEtoDIB(h), 0);
    EXPECT_EQ(DIBto24Bit(h), 0);
    EXPECT_EQ(DIBto16Bit(h, &one), 0);
    EXPECT_EQ(DIBto8Bit(h, 0, 0), 0);
    EXPECT_EQ(DIBtoRLE(h), 0);
    EXPECT_EQ(GrayDIB(h, 0), 0);
    EXPECT_EQ(DIBStrip(h), 0);
    EXPECT_EQ(DIBtoBMP(out.c_str(), h), 0);
    EXPECT_EQ(DIBtoJPG(out.c_str(), h, 60, 0), 0);
    EXPECT_EQ(DIBtoPNG(out.c_str(), h, 0), 0);
    EXPECT_EQ(DIBtoPNGex(out.c_str(), h, &options), 0);
    EXPECT_EQ(DeleteDIB(h), 0);
    EXPECT_NE(lastError().find("handle"), std::string::npos) << lastError();
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "a failed save left a file";
}

TEST(Handles, LoadFailureNamesTheCause) {
    TempDir dir;
    std::ofstream(dir / "text.png") << "hello, not a picture";
    const std::pair<std::string, const char *> cases[] = {
        {(dir / "missing.bmp").string(), "not found"},
        {dir.path().string(), "not a regular file"},
        {(dir / "text.png").string(), "not an image"},
    };
    for (const auto &[path, cause] : cases) {
        EXPECT_EQ(ToDIB(path.c_str()), 0) << path;
        EXPECT_NE(lastError().find(cause), std::string::npos) << lastError();
    }
}

// Invalid handles and a released one fail everywhere; handles are issued
// upward and never reused.
TEST(Handles, InvalidAndReleasedHandlesFailEverywhere) {
    for (int32_t h : {0, -1, -2147483647 - 1, 2147483647, 999999}) {
        SCOPED_TRACE(h);
        expectAllFail(h);
    }
    const std::string path = corpus("bmpsuite/g/rgb24.bmp").string();
    int32_t first = ToDIB(path.c_str());
    ASSERT_GT(first, 0) << lastError();
    EXPECT_EQ(DeleteDIB(first), 1);
    expectAllFail(first);
    int32_t second = ToDIB(path.c_str());
    ASSERT_GT(second, first) << lastError();
    EXPECT_EQ(DeleteDIB(second), 1);
}

// A save marked by ImgctlReleaseWhileSaving writes the file a plain save
// writes, though it hands back the rows' memory as the encoder takes them (a
// picture of 9 MB, so memory goes back before the last row is encoded);
// the image can then only be deleted.
TEST(Handles, ReleaseWhileSavingWritesTheSameFileThenOnlyDeletes) {
    TempDir dir;
    QImage picture(2048, 1536, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            row[x] = qRgb(x & 255, y & 255, (x * y >> 9) & 255);
    }
    const std::string bmp = (dir / "big.bmp").string(), plainOut = (dir / "plain.jpg").string(),
                      marked = (dir / "marked.jpg").string();
    ASSERT_TRUE(picture.save(QString::fromStdString(bmp), "BMP"));
    const int32_t plain = ToDIB(bmp.c_str()), last = ToDIB(bmp.c_str());
    ASSERT_GT(plain, 0) << lastError();
    ASSERT_GT(last, 0) << lastError();
    ASSERT_EQ(DIBtoJPG(plainOut.c_str(), plain, 75, 1), 1) << lastError();
    ASSERT_EQ(ImgctlReleaseWhileSaving(last), 1);
    ASSERT_EQ(DIBtoJPG(marked.c_str(), last, 75, 1), 1) << lastError();
    EXPECT_EQ(readFile(marked), readFile(plainOut));
    BITMAPINFOHEADER header{};
    EXPECT_EQ(HeadDIB(last, &header), 0);
    EXPECT_EQ(ImgctlLastErrorCode(), IMGCTL_ERR_BAD_ARGUMENT);
    EXPECT_NE(lastError().find("released by its last save"), std::string::npos) << lastError();
    EXPECT_EQ(DIBtoJPG(marked.c_str(), last, 75, 1), 0);
    EXPECT_EQ(DeleteDIB(last), 1);
    EXPECT_EQ(DeleteDIB(plain), 1);
    EXPECT_EQ(ImgctlReleaseWhileSaving(last), 0);
}

// HeadDIB as loaded (a palette of the header's size, 0 meaning full, an
// OS/2 one up to the pixels; bit-fields as the depth that holds them; the
// resolution the header's, unknown in a header too short for it) and after a
// conversion, which gives back the handle it was given: a run-length file
// stays compressed (its stream far smaller than the rows) until RLEtoDIB
// expands it.
TEST(Handles, HeadDIBDescribesTheImage) {
    const struct {
        const char *file;
        int32_t (*convert)(int32_t);
        uint16_t bits;
        uint32_t compression, colours;
    } cases[] = {
        {"g/rgb24.bmp", nullptr, 24, IMGCTL_BI_RGB, 0},
        {"g/rgb24.bmp",
         [](int32_t h) {
             int32_t one = 1;
             return DIBto16Bit(h, &one);
         },
         16, IMGCTL_BI_RGB, 0},
        {"g/pal8rle.bmp", nullptr, 8, IMGCTL_BI_RLE8, 252},
        {"g/pal8rle.bmp", [](int32_t h) { return RLEtoDIB(h); }, 8, IMGCTL_BI_RGB, 252},
        {"g/pal8.bmp", [](int32_t h) { return DIBtoRLE(h); }, 8, IMGCTL_BI_RLE8, 252},
        {"g/pal4rle.bmp", nullptr, 4, IMGCTL_BI_RLE4, 12},
        {"g/pal4rle.bmp", [](int32_t h) { return RLEtoDIB(h); }, 4, IMGCTL_BI_RGB, 12},
        {"g/pal1.bmp", nullptr, 1, IMGCTL_BI_RGB, 2},
        {"g/pal8.bmp", nullptr, 8, IMGCTL_BI_RGB, 252},
        {"g/pal8-0.bmp", nullptr, 8, IMGCTL_BI_RGB, 256},
        {"q/pal8os2sp.bmp", nullptr, 8, IMGCTL_BI_RGB, 252},
        {"q/pal8oversizepal.bmp", nullptr, 8, IMGCTL_BI_RGB, 256},
        {"g/rgb16.bmp", nullptr, 16, IMGCTL_BI_RGB, 0},
        {"g/rgb16-565.bmp", nullptr, 24, IMGCTL_BI_RGB, 0},
        {"g/rgb32.bmp", nullptr, 24, IMGCTL_BI_RGB, 0},
        {"q/rgba16-4444.bmp", nullptr, 32, IMGCTL_BI_RGB, 0},
        {"q/rgb24rle24.bmp", nullptr, 24, IMGCTL_BI_RGB, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.file) + (c.convert ? " converted" : ""));
        const std::vector<uint8_t> file = readFile(corpus(std::string("bmpsuite/") + c.file));
        int32_t h = ToDIB(corpus(std::string("bmpsuite/") + c.file).c_str());
        ASSERT_GT(h, 0) << lastError();
        ASSERT_EQ(c.convert ? c.convert(h) : h, h) << lastError();
        BITMAPINFOHEADER head{};
        ASSERT_EQ(HeadDIB(h, &head), 1);
        EXPECT_EQ(head.biSize, 40u);
        EXPECT_EQ(head.biPlanes, 1);
        EXPECT_EQ(head.biBitCount, c.bits);
        EXPECT_EQ(head.biCompression, c.compression);
        EXPECT_EQ(head.biClrUsed, c.colours);
        const uint32_t rows = (127 * c.bits + 31) / 32 * 4 * 64; // the expanded rows' bytes
        if (c.compression == IMGCTL_BI_RGB)
            EXPECT_EQ(head.biSizeImage, rows);
        else
            EXPECT_TRUE(head.biSizeImage > 0 && head.biSizeImage < rows) << head.biSizeImage;
        const bool pels = le32(file, 14) >= 40;
        EXPECT_EQ(head.biXPelsPerMeter, pels ? int32_t(le32(file, 38)) : 0);
        EXPECT_EQ(head.biYPelsPerMeter, pels ? int32_t(le32(file, 42)) : 0);
        EXPECT_EQ(DeleteDIB(h), 1);
    }
}

// Several threads at once, through the C interface, on a picture large
// enough for every threaded path of the default tuning (the PNG fast reader,
// PNG bands, the split JPEG encoder): two threads load, convert, save and
// release pictures of their own, three save one shared handle that another
// converts halfway. Calls on one handle are serialised, so every save of the
// shared handle is byte for byte the file of the picture before the
// conversion or after it, never a mixture.
TEST(Handles, ThreadsConvertTheirOwnPicturesAndShareOne) {
    TempDir dir;
    QImage picture(640, 480, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y,
                             qRgb((x + (y * 7 ^ x) % 13) & 255, (y * 3) & 255, (x ^ y) & 255));
    const std::string source = (dir / "source.png").string();
    ASSERT_TRUE(picture.save(QString::fromStdString(source), "PNG"));
    // Saves a picture as PNG and JPEG: the two files, none when a save failed.
    auto save = [](int32_t h, const std::string &stem) {
        PngOptions options{0, 1, {}};
        const std::string png = stem + ".png", jpg = stem + ".jpg";
        if (DIBtoPNGex(png.c_str(), h, &options) != 1 || DIBtoJPG(jpg.c_str(), h, 80, 0) != 1)
            return std::vector<std::vector<uint8_t>>();
        return std::vector{readFile(png), readFile(jpg)};
    };
    std::vector<std::vector<uint8_t>> expected[2]; // the shared picture's, before and after
    for (int converted = 0; converted < 2; ++converted) {
        const int32_t h = ToDIB(source.c_str());
        ASSERT_GT(h, 0) << lastError();
        ASSERT_EQ(converted ? DIBto8Bit(h, 0, 1) : h, h) << lastError();
        expected[converted] = save(h, (dir / "expected").string());
        ASSERT_FALSE(expected[converted].empty()) << lastError();
        EXPECT_EQ(DeleteDIB(h), 1);
    }

    const int32_t shared = ToDIB(source.c_str());
    ASSERT_GT(shared, 0) << lastError();
    std::vector<std::string> failures(6);
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            std::string &failed = failures[t];
            const std::string stem = (dir / ("t" + std::to_string(t))).string();
            for (int round = 0; round < 2 && failed.empty(); ++round) {
                if (t == 0) { // converts the shared picture halfway
                    if (round == 1 && DIBto8Bit(shared, 0, 1) != shared) failed = lastError();
                } else if (t < 3) { // a picture of its own
                    int32_t h = ToDIB(source.c_str());
                    if (h <= 0 || DIBto24Bit(h) != h || save(h, stem).empty() ||
                        DIBto8Bit(h, 0, 0) != h || DeleteDIB(h) != 1)
                        failed = lastError();
                } else if (const auto f = save(shared, stem);
                           f.empty() || (f[0] != expected[0][0] && f[0] != expected[1][0]) ||
                           (f[1] != expected[0][1] && f[1] != expected[1][1])) {
                    failed = "a torn or failed save of the shared picture: " + lastError();
                }
            }
        });
    }
    for (auto &th : threads)
        th.join();
    for (const std::string &f : failures)
        EXPECT_EQ(f, "");
    EXPECT_EQ(DeleteDIB(shared), 1);
}

class Arguments : public ::testing::Test {
  protected:
    void SetUp() override {
        image = ToDIB(corpus("bmpsuite/g/rgb24.bmp").c_str());
        ASSERT_GT(image, 0) << lastError();
    }
    void TearDown() override { EXPECT_EQ(DeleteDIB(image), 1); }
    std::string path(const std::string &name) const { return (dir / name).string(); }

    TempDir dir;
    int32_t image = 0; // 127 x 64, 24 bits
};

// Arguments that must write the same file as others: qualities and levels
// outside their ranges are clamped, any non-zero progressive flag means
// progressive, every PNG flag bit but interlacing is ignored, DIBtoPNG is
// level 6; GrayDIB's level is clamped (40000 is -25536 in its low 16 bits,
// 0x100FF is 255).
TEST_F(Arguments, OutOfRangeArgumentsWriteWhatTheirClampedValuesWrite) {
    const auto jpeg = [&](int32_t quality, int32_t progressive) {
        return [=, this](const std::string &p) {
            return DIBtoJPG(p.c_str(), image, quality, progressive);
        };
    };
    const auto png = [&](int16_t level, uint32_t flags = 0, uint8_t reserved = 0) {
        return [=, this](const std::string &p) {
            PngOptions options{};
            options.level = level;
            options.flags = flags;
            std::memset(options.reserved, reserved, sizeof options.reserved);
            return DIBtoPNGex(p.c_str(), image, &options);
        };
    };
    // GrayDIB reads the low 16 bits as a signed number, clamped to 0..255.
    const auto gray = [](int32_t level) {
        return [=](const std::string &p) {
            const int32_t h = ToDIB(corpus("bmpsuite/g/rgb24.bmp").c_str());
            const int32_t saved = GrayDIB(h, level) == h ? DIBtoBMP(p.c_str(), h) : 0;
            DeleteDIB(h);
            return saved;
        };
    };
    using Call = std::function<int32_t(const std::string &)>;
    const std::tuple<const char *, Call, Call> pairs[] = {
        {"quality -5", jpeg(-5, 0), jpeg(1, 0)},
        {"quality 1000", jpeg(1000, 0), jpeg(100, 0)},
        {"INT_MIN", jpeg(INT_MIN, INT_MIN), jpeg(1, 1)},
        {"level 99", png(99), png(9)},
        {"level -32768", png(-32768), png(0)},
        {"flags", png(0, 0xFFFFFFFFu & ~IMGCTL_PNG_INTERLACED, 0xAB), png(0)},
        {"DIBtoPNG", [&](const std::string &p) { return DIBtoPNG(p.c_str(), image, 0); }, png(6)},
        {"gray 40000", gray(40000), gray(0)},
        {"gray -1", gray(-1), gray(0)},
        {"gray INT_MIN", gray(INT_MIN), gray(0)},
        {"gray 0x100FF", gray(0x100FF), gray(255)},
        {"gray 300", gray(300), gray(255)},
    };
    for (const auto &[name, call, same] : pairs) {
        ASSERT_EQ(call(path("a")), 1) << name << ": " << lastError();
        ASSERT_EQ(same(path("b")), 1) << name;
        EXPECT_EQ(readFile(dir / "a"), readFile(dir / "b")) << name;
    }
    ASSERT_EQ(gray(0)(path("a")), 1);
    EXPECT_NE(readFile(dir / "a"), readFile(dir / "b")) << "255 changes the picture";
    EXPECT_EQ(DIBtoPNG(path("x.png").c_str(), image, 1), 0) << "zero must be 0";
    EXPECT_NE(std::string(lastError()).find("DIBtoPNG"), std::string::npos);
}

TEST_F(Arguments, ProgressiveAndInterlacedAreSet) {
    ASSERT_EQ(DIBtoJPG(path("prog.jpg").c_str(), image, 100, -1), 1);
    EXPECT_EQ(jpegFrame(readFile(dir / "prog.jpg")), 0xC2);
    PngOptions options{IMGCTL_PNG_INTERLACED, 5, {}};
    ASSERT_EQ(DIBtoPNGex(path("adam7.png").c_str(), image, &options), 1);
    EXPECT_EQ(readFile(dir / "adam7.png").at(28), 1) << "IHDR interlace method";
}

// After ImgctlStopSaves (in a child process: it holds for the process's
// life) every save fails without a file, an existing target stays.
TEST_F(Arguments, StoppedSavesFailAndWriteNothing) {
    std::ofstream(dir / "old.bmp") << "keep me";
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // the child runs this test alone
    EXPECT_EXIT(
        {
            const bool stopped = ImgctlStopSaves() == 1;
            const bool failed = DIBtoBMP(path("new.bmp").c_str(), image) == 0 &&
                                ImgctlLastErrorCode() == IMGCTL_ERR_CANNOT_WRITE &&
                                DIBtoPNG(path("old.bmp").c_str(), image, 0) == 0;
            std::exit(stopped && failed ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(listing(dir.path()), std::set<std::string>{"old.bmp"});
    EXPECT_EQ(readText(dir / "old.bmp"), "keep me");
}

// DIBStrip leaves nothing in the outputs but sRGB pixels: no iCCP or sRGB
// chunk, no APP2 profile, no EXIF; the pixels are the ones the BMP writer
// converts to sRGB by itself.
TEST_F(Arguments, StripLeavesSrgbPixelsAndNoMetadata) {
    auto has = [](const std::vector<uint8_t> &f, std::string_view what) {
        return std::search(f.begin(), f.end(), what.begin(), what.end()) != f.end();
    };
    for (const std::string source : {"bmpsuite/q/rgb24prof2.bmp", "jpeg/orient-6.jpg"}) {
        SCOPED_TRACE(source);
        const int32_t h = ToDIB(corpus(source).c_str());
        ASSERT_GT(h, 0) << lastError();
        ASSERT_EQ(DIBtoBMP(path("kept.bmp").c_str(), h), 1);
        ASSERT_EQ(DIBtoPNG(path("kept.png").c_str(), h, 0), 1);
        ASSERT_EQ(DIBStrip(h), h) << lastError();
        ASSERT_EQ(DIBtoPNG(path("o.png").c_str(), h, 0), 1);
        ASSERT_EQ(DIBtoJPG(path("o.jpg").c_str(), h, 90, 0), 1);
        EXPECT_EQ(DeleteDIB(h), 1);
        // The source carries a profile or EXIF, which the unstripped PNG keeps.
        const auto kept = readFile(path("kept.png"));
        EXPECT_TRUE(has(kept, "iCCP") || has(kept, "eXIf"));
        const auto png = readFile(path("o.png"));
        const auto jpg = readFile(path("o.jpg"));
        for (const char *chunk : {"iCCP", "sRGB", "gAMA", "eXIf", "iTXt"})
            EXPECT_FALSE(has(png, chunk)) << chunk;
        EXPECT_FALSE(has(jpg, "ICC_PROFILE"));
        EXPECT_FALSE(has(jpg, std::string_view("Exif\0\0", 6)));
        const QImage a(QString::fromStdString(path("kept.bmp")));
        const QImage b(QString::fromStdString(path("o.png")));
        ASSERT_EQ(a.size(), b.size());
        EXPECT_TRUE(a.convertToFormat(QImage::Format_RGB32) ==
                    b.convertToFormat(QImage::Format_RGB32));
    }
}

// Null and empty paths, null options and arguments a conversion does not
// know fail naming the cause, write nothing and leave the image as it was.
TEST_F(Arguments, NullArgumentsFailAndKeepTheImage) {
    BITMAPINFOHEADER before{}, after{};
    ASSERT_EQ(HeadDIB(image, &before), 1);
    PngOptions options{};
    for (const char *p : {static_cast<const char *>(nullptr), ""}) {
        SCOPED_TRACE(p ? "empty" : "null");
        EXPECT_EQ(DIBtoBMP(p, image), 0);
        EXPECT_EQ(DIBtoJPG(p, image, 75, 0), 0);
        EXPECT_EQ(DIBtoPNG(p, image, 0), 0);
        EXPECT_EQ(DIBtoPNGex(p, image, &options), 0);
        EXPECT_NE(lastError().find("path"), std::string::npos) << lastError();
        EXPECT_EQ(ToDIB(p), 0);
    }
    EXPECT_EQ(DIBtoPNGex((dir / "x.png").c_str(), image, nullptr), 0);
    EXPECT_NE(lastError().find("null"), std::string::npos) << lastError();
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    EXPECT_EQ(HeadDIB(image, nullptr), 0);
    EXPECT_EQ(DIBto16Bit(image, nullptr), 0);
    EXPECT_NE(lastError().find("null"), std::string::npos) << lastError();
    int32_t seven = 7;
    EXPECT_EQ(DIBto16Bit(image, &seven), 0);
    EXPECT_EQ(DIBto8Bit(image, 5, 5), 0);
    EXPECT_EQ(DIBtoRLE(image), 0) << "24 bits cannot be run-length coded";
    ASSERT_EQ(HeadDIB(image, &after), 1);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

// A surface inside a larger buffer, every word of which starts as a guard.
struct GuardedSurface {
    static constexpr uint32_t kGuard = 0xDEADBEEF;
    static constexpr long kPad = 64;
    std::vector<uint32_t> buffer;
    ImgctlSurface surface{};

    GuardedSurface(int32_t width, int32_t height)
        : buffer(size_t(2 * kPad + (width + 3) * height), kGuard), // 3 spare words a row
          surface{buffer.data() + kPad, width, height, (width + 3) * 4} {}
    // How many words changed inside the surface's pixels, and outside them.
    std::pair<size_t, size_t> changed() const {
        std::pair<size_t, size_t> n{0, 0};
        const long stride = surface.stride_bytes / 4;
        for (size_t i = 0; i < buffer.size(); ++i) {
            const long off = long(i) - kPad;
            const bool inside =
                off >= 0 && off < stride * surface.height && off % stride < surface.width;
            (inside ? n.first : n.second) += buffer[i] != kGuard;
        }
        return n;
    }
};

// Null, tiny or malformed surfaces, source rectangles outside the image,
// raster operations other than SRCCOPY (its neighbours too), stretch modes
// outside 1 to 4 and empty destinations fail as bad arguments and paint
// nothing.
TEST_F(Arguments, DrawingOntoBadSurfacesOrWithBadArgumentsFails) {
    EXPECT_EQ(DIBtoDCex2(nullptr, 0, 0, 4, 4, image, 0, 0, 127, 64, IMGCTL_SRCCOPY, 4), 0);
    EXPECT_EQ(ImgctlLastErrorCode(), IMGCTL_ERR_BAD_ARGUMENT);
    uint32_t one = 0x12345678;
    const ImgctlSurface bad[] = {
        {nullptr, 4, 4, 16},   // no pixels
        {&one, 0, 1, 4},       // no width
        {&one, 1, 0, 4},       // no height
        {&one, -1, 1, 4},      // negative width
        {&one, 1, -5, 4},      // negative height
        {&one, 1, 1, 3},       // stride not a multiple of 4
        {&one, 2, 1, 4},       // stride shorter than a row
        {&one, 1, 1, -4},      // negative stride
        {&one, INT_MAX, 1, 4}, // stride far shorter than a row
    };
    for (ImgctlSurface s : bad) {
        SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height) + " stride " +
                     std::to_string(s.stride_bytes));
        for (int mode = 1; mode <= 4; mode += 3)
            EXPECT_EQ(DIBtoDCex2(&s, 0, 0, 1, 1, image, 0, 0, 127, 64, IMGCTL_SRCCOPY, mode), 0);
        EXPECT_EQ(ImgctlLastErrorCode(), IMGCTL_ERR_BAD_ARGUMENT);
    }
    EXPECT_EQ(one, 0x12345678u);
    GuardedSurface g(8, 8);
    const int32_t rects[][4] = {
        {-1, 0, 10, 10},    {0, -1, 10, 10},    {0, 0, 128, 64},    {0, 0, 127, 65},
        {120, 0, 8, 1},     {0, 60, 1, 5},      {0, 0, 0, 10},      {0, 0, 10, 0},
        {0, 0, -10, 10},    {0, 0, 10, -10},    {1, 1, INT_MAX, 1}, {1, 1, 1, INT_MAX},
        {INT_MAX, 0, 1, 1}, {INT_MIN, 0, 1, 1},
    };
    for (const auto &r : rects) {
        SCOPED_TRACE(::testing::Message() << r[0] << "," << r[1] << " " << r[2] << "x" << r[3]);
        EXPECT_EQ(
            DIBtoDCex2(&g.surface, 0, 0, 8, 8, image, r[0], r[1], r[2], r[3], IMGCTL_SRCCOPY, 4),
            0);
    }
    for (uint32_t rop : {0u, 0x00CC0021u, 0x00EE0086u, 0x01CC0020u})
        EXPECT_EQ(DIBtoDCex2(&g.surface, 0, 0, 8, 8, image, 0, 0, 127, 64, rop, 4), 0) << rop;
    for (int32_t mode : {0, 5, -1, INT_MAX})
        EXPECT_EQ(DIBtoDCex2(&g.surface, 0, 0, 8, 8, image, 0, 0, 127, 64, IMGCTL_SRCCOPY, mode),
                  0);
    EXPECT_EQ(DIBtoDCex2(&g.surface, 0, 0, 0, 8, image, 0, 0, 127, 64, IMGCTL_SRCCOPY, 4), 0);
    EXPECT_EQ(DIBtoDCex2(&g.surface, 0, 0, 8, -8, image, 0, 0, 127, 64, IMGCTL_SRCCOPY, 4), 0);
    EXPECT_EQ(ImgctlLastErrorCode(), IMGCTL_ERR_BAD_ARGUMENT);
    EXPECT_EQ(g.changed(), std::make_pair(size_t{0}, size_t{0})) << "a failed draw paints nothing";
}

// Destinations partly or wholly off a tiny surface, up to the ends of the
// 32-bit range: only pixels on the surface change, wholly off draws nothing
// and succeeds.
TEST_F(Arguments, DestinationsOffTheSurfaceAreClipped) {
    const int32_t size = 3;
    for (int mode = 1; mode <= 4; mode += 3) {
        GuardedSurface g(size, size);
        // Wholly off the surface first, then covering all of it.
        const struct {
            int32_t x, y, w, h;
            bool covers;
        } dests[] = {
            {size, 0, 5, 5, false},
            {0, size, 5, 5, false},
            {-5, 0, 5, 5, false},
            {0, -5, 5, 5, false},
            {INT_MAX, 0, 1, 1, false},
            {INT_MIN, INT_MIN, 5, 5, false},
            {INT_MIN, 0, INT_MAX, 1, false},
            {size + 1, size + 1, INT_MAX, INT_MAX, false},
            {-3, -3, 10, 10, true},
            {INT_MIN / 2, INT_MIN / 2, INT_MAX, INT_MAX, true},
            {0, 0, INT_MAX, INT_MAX, true},
            {-1, -1, 65536, 3, true},
        };
        for (const auto &d : dests) {
            SCOPED_TRACE(::testing::Message() << d.x << "," << d.y << " " << d.w << "x" << d.h);
            EXPECT_EQ(DIBtoDCex2(&g.surface, d.x, d.y, d.w, d.h, image, 0, 0, 127, 64,
                                 IMGCTL_SRCCOPY, mode),
                      1)
                << lastError();
            EXPECT_EQ(g.changed(), std::make_pair(d.covers ? size_t(size) * size : 0, size_t{0}));
        }
        for (int32_t y = 0; y < size; ++y)
            for (int32_t x = 0; x < size; ++x)
                EXPECT_EQ(g.surface.pixels[y * (size + 3) + x] >> 24, 0xFFu);
    }
}

} // namespace
