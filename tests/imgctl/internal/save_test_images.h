// SPDX-License-Identifier: MIT
// The writer tests' images under the name the failure tests use.
#pragma once

#include "test_images.h"

namespace save_test {
using namespace test_images;
} // namespace save_test
