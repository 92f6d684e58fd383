// SPDX-License-Identifier: MIT
// The binding to libimgctl.so.1: found by its name and major version through
// the program's run path on first use, functions resolved at their first call, and a missing
// library (the file looked for and the system's reason) or function named in
// the error raised at that call.
#include "imgctl_library.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>

namespace {

using imagelib::ImgctlLibrary;
using imagelib::LibraryError;

TEST(ImgctlLibrary, LoadsByNameOnFirstUse) {
    ImgctlLibrary lib;
    EXPECT_EQ(lib.fileLookedFor(), "libimgctl.so.1");
    EXPECT_EQ(lib.loadedFile(), "") << "nothing is loaded before the first call";
    // DeleteDIB of a value that names no image does nothing and reports 0.
    EXPECT_EQ(lib.DeleteDIB(0), 0);
    EXPECT_EQ(lib.DeleteDIB(-1), 0);
    // The versioned file, found through the run path by its name, not beside
    // this program (it is not there in the build tree).
    EXPECT_EQ(lib.loadedFile(), "libimgctl.so.1");
    EXPECT_FALSE(QFileInfo::exists(QCoreApplication::applicationDirPath() + "/libimgctl.so.1"));
}

TEST(ImgctlLibrary, CallsReachTheLibrary) {
    ImgctlLibrary lib;
    BITMAPINFOHEADER header{};
    EXPECT_EQ(lib.HeadDIB(12345, &header), 0) << "an unknown handle fails";
    EXPECT_EQ(lib.ToDIB("/nonexistent/nubaro/none.bmp"), 0);
    EXPECT_EQ(lib.ImgctlLastErrorCode(), IMGCTL_ERR_NOT_FOUND);
    EXPECT_NE(std::string(lib.ImgctlLastError()).find("/nonexistent/nubaro/none.bmp"),
              std::string::npos)
        << lib.ImgctlLastError();
    PngOptions options{};
    EXPECT_EQ(lib.DIBtoPNGex("/nonexistent/nubaro/out.png", 99999, &options), 0);
    int32_t one = 1;
    EXPECT_EQ(lib.DIBto16Bit(99999, &one), 0);
}

TEST(ImgctlLibrary, MissingLibraryIsNamedAtEachCall) {
    ImgctlLibrary lib("nubaro-no-such-library");
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            lib.ToDIB("/tmp/x.bmp");
            ADD_FAILURE() << "no error raised";
        } catch (const LibraryError &e) {
            EXPECT_EQ(e.file(), "libnubaro-no-such-library.so.1");
            EXPECT_EQ(e.function(), "");
            // The system's own words, without the name it tried.
            EXPECT_EQ(e.reason(), "cannot open shared object file: No such file or directory");
        }
    }
    EXPECT_THROW(lib.DeleteDIB(1), LibraryError);
}

TEST(ImgctlLibrary, MissingFunctionIsNamed) {
    // libz is a real library without any of our functions.
    ImgctlLibrary lib("z");
    try {
        lib.DIBtoJPG("/tmp/x.jpg", 1, 60, 0);
        ADD_FAILURE() << "no error raised";
    } catch (const LibraryError &e) {
        EXPECT_EQ(e.function(), "DIBtoJPG");
        EXPECT_EQ(e.file(), "libz.so.1");
    }
    EXPECT_NE(lib.loadedFile(), "") << "the library itself was loaded";
}

} // namespace
