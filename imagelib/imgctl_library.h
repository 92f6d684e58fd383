// SPDX-License-Identifier: MIT
// ImageLibrary over libimgctl.so.1, found by its library name and major
// version when the first image operation runs (not at start), so that the
// run-time library alone serves, without the development link libimgctl.so.
// Each function is looked up by name at its first call and remembered.
#pragma once

#include "image_library.h"

#include <QLibrary>

#include <memory>
#include <string>

namespace imagelib {

class ImgctlLibrary final : public ImageLibrary {
  public:
    // name and major version as handed to QLibrary ("imgctl" and 1 find
    // libimgctl.so.1 through the program's run path and the system's library
    // folders, then beside the program).
    explicit ImgctlLibrary(std::string name = "imgctl", int majorVersion = IMGCTL_VERSION_MAJOR);
    ~ImgctlLibrary() override;
    ImgctlLibrary(const ImgctlLibrary &) = delete;
    ImgctlLibrary &operator=(const ImgctlLibrary &) = delete;

    // The file that was loaded; empty before the first call.
    std::string loadedFile() const;
    // The file the binding looks for ("libimgctl.so.1" for the name "imgctl"
    // and version 1), the one a LibraryError names when the library cannot be
    // loaded.
    std::string fileLookedFor() const;

    IMGCTL_FUNCTIONS(IMGCTL_DECLARE_OVERRIDE)

  private:
    enum Fn : int {
#define IMAGELIB_INDEX(result, name, parameters, arguments) k##name,
        IMGCTL_FUNCTIONS(IMAGELIB_INDEX)
#undef IMAGELIB_INDEX
            kFnCount
    };

    // The address of function `fn`, resolved on its first use; raises
    // LibraryError naming the library file or the function.
    QFunctionPointer function(Fn fn);
    void load();

    template <typename Signature> Signature *typed(Fn fn) {
        return reinterpret_cast<Signature *>(function(fn));
    }

    std::string name_;
    int majorVersion_;
    std::unique_ptr<QLibrary> library_; // set once loaded
    QFunctionPointer functions_[kFnCount] = {};
};

} // namespace imagelib
