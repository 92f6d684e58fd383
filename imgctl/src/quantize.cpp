// Placeholder until this module is written.
#include "ops.h"

namespace imgctl {

Status convertTo8(Image &, int32_t, int32_t) { return {Error::Unsupported, "not built yet"}; }

} // namespace imgctl
