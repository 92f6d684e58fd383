// SPDX-License-Identifier: MIT
// ImageLibrary over libimgctl.so linked in the usual way: each call goes
// straight to the C function of the same name. The command-line converter
// uses it to run the window's chain without Qt.
#pragma once

#include "image_library.h"

namespace cli {

class DirectLibrary final : public imagelib::ImageLibrary {
  public:
    IMGCTL_FUNCTIONS(IMGCTL_DECLARE_OVERRIDE)
};

} // namespace cli
