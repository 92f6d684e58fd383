// SPDX-License-Identifier: MIT
// The binding to libimgctl.so.1: found by its name and major version through
// the program's run path on first use, calls reaching the library, and a
// missing library (the file looked for and the system's reason) or function
// named in the error raised at each call.
#include "imgctl_library.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>

namespace {

using imagelib::ImgctlLibrary;
using imagelib::LibraryError;

TEST(ImgctlLibrary, LoadsByNameOnFirstUseAndCallsReachIt) {
    ImgctlLibrary lib;
    EXPECT_EQ(lib.fileLookedFor(), "libimgctl.so.1");
    EXPECT_EQ(lib.loadedFile(), "") << "nothing is loaded before the first call";
    EXPECT_EQ(lib.DeleteDIB(0), 0) << "a value that names no image";
    // The versioned file, found through the run path by its name, not beside
    // this program (it is not there in the build tree).
    EXPECT_EQ(lib.loadedFile(), "libimgctl.so.1");
    EXPECT_FALSE(QFileInfo::exists(QCoreApplication::applicationDirPath() + "/libimgctl.so.1"));

    BITMAPINFOHEADER header{};
    EXPECT_EQ(lib.HeadDIB(12345, &header), 0) << "an unknown handle fails";
    EXPECT_EQ(lib.ToDIB("/nonexistent/nubaro/none.bmp"), 0);
    EXPECT_EQ(lib.ImgctlLastErrorCode(), IMGCTL_ERR_NOT_FOUND);
    EXPECT_NE(std::string(lib.ImgctlLastError()).find("/nonexistent/nubaro/none.bmp"),
              std::string::npos)
        << lib.ImgctlLastError();
}

TEST(ImgctlLibrary, MissingLibraryOrFunctionIsNamedAtEachCall) {
    // A library that is not there, called twice, and libz: a real library
    // without any of our functions.
    ImgctlLibrary missing("nubaro-no-such-library"), z("z");
    for (ImgctlLibrary *lib : {&missing, &missing, &z}) {
        const bool real = lib == &z;
        try {
            lib->DIBtoJPG("/tmp/x.jpg", 1, 60, 0);
            ADD_FAILURE() << "no error raised";
        } catch (const LibraryError &e) {
            EXPECT_EQ(e.file(), real ? "libz.so.1" : "libnubaro-no-such-library.so.1");
            EXPECT_EQ(e.function(), real ? "DIBtoJPG" : "");
            // The system's own words, without the name it tried.
            if (!real) {
                EXPECT_EQ(e.reason(), "cannot open shared object file: No such file or directory");
            }
        }
    }
}

} // namespace
