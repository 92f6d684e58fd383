// Placeholder until this module is written.
#include "ops.h"

namespace imgctl {

Status convertTo24(Image &) { return {Error::Unsupported, "not built yet"}; }
Status convertTo16(Image &, int32_t) { return {Error::Unsupported, "not built yet"}; }
Status grayImage(Image &, int) { return {Error::Unsupported, "not built yet"}; }

} // namespace imgctl
