// Placeholder until this module is written.
#include "ops.h"

namespace imgctl {

Status drawImage(const Image &, const ImgctlSurface &, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, uint32_t, int32_t) { return {Error::Unsupported, "not built yet"}; }

} // namespace imgctl
