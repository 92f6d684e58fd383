// SPDX-License-Identifier: MIT
// The calls the program makes into the image library, behind an interface so
// that tests can put a recording fake in place of libimgctl.so.
#pragma once

#include "imgctl_functions.h"

#include <imgctl.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace imagelib {

// The library could not be loaded, or it lacks a function. Raised at the call
// that needed it.
class LibraryError : public std::runtime_error {
  public:
    // file: the library file that was looked for; function: the function
    // that is missing, empty when the library itself could not be loaded;
    // reason: the system's reason, as it gives it.
    LibraryError(std::string file, std::string function, std::string reason)
        : std::runtime_error(describe(file, function, reason)), file_(std::move(file)),
          function_(std::move(function)), reason_(std::move(reason)) {}

    const std::string &file() const { return file_; }
    const std::string &function() const { return function_; }
    const std::string &reason() const { return reason_; }

  private:
    static std::string describe(const std::string &file, const std::string &function,
                                const std::string &reason) {
        if (function.empty()) return "cannot load " + file + ": " + reason;
        return file + " has no function " + function;
    }

    std::string file_;
    std::string function_;
    std::string reason_;
};

// The operations the program uses, named and typed as in imgctl.h (listed in
// imgctl_functions.h). Paths are UTF-8. Implementations raise LibraryError
// when they cannot reach the function; every other outcome is the function's
// own result. After a failed call, ImgctlLastError() and
// ImgctlLastErrorCode() name its cause and category.
class ImageLibrary {
  public:
    virtual ~ImageLibrary() = default;

#define IMAGELIB_DECLARE(result, name, parameters, arguments) virtual result name parameters = 0;
    IMGCTL_FUNCTIONS(IMAGELIB_DECLARE)
#undef IMAGELIB_DECLARE
};

// Every entry of the list is declared so in imgctl.h.
#define IMAGELIB_CHECK(result, name, parameters, arguments)                                        \
    static_assert(std::is_same_v<decltype(::name), result parameters>, #name);
IMGCTL_FUNCTIONS(IMAGELIB_CHECK)
#undef IMAGELIB_CHECK

} // namespace imagelib
