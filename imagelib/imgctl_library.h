// SPDX-License-Identifier: MIT
// ImageLibrary over libimgctl.so, found by its library name when the first
// image operation runs (not at start). Each function is looked up by name at
// its first call and remembered.
#pragma once

#include "image_library.h"

#include <QLibrary>

#include <memory>
#include <string>

namespace imagelib {

class ImgctlLibrary final : public ImageLibrary {
  public:
    // name: the library name handed to QLibrary ("imgctl" finds libimgctl.so
    // through the program's run path, then beside the program).
    explicit ImgctlLibrary(std::string name = "imgctl");
    ~ImgctlLibrary() override;
    ImgctlLibrary(const ImgctlLibrary &) = delete;
    ImgctlLibrary &operator=(const ImgctlLibrary &) = delete;

    // The file that was loaded; empty before the first call.
    std::string loadedFile() const;
    // The file the binding looks for ("libimgctl.so" for the name "imgctl"),
    // the one a LibraryError names when the library cannot be loaded.
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
    std::unique_ptr<QLibrary> library_; // set once loaded
    QFunctionPointer functions_[kFnCount] = {};
};

} // namespace imagelib
