// SPDX-License-Identifier: MIT
#include "direct_library.h"

namespace cli {

#define CLI_BIND(result, name, parameters, arguments)                                              \
    result DirectLibrary::name parameters {                                                        \
        return ::name arguments;                                                                   \
    }
IMGCTL_FUNCTIONS(CLI_BIND)
#undef CLI_BIND

} // namespace cli
