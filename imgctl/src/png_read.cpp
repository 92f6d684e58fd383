// Placeholder until this module is written.
#include "ops.h"

namespace imgctl {

Result<Image> decodePng(const uint8_t *, size_t) { return {Error::Unsupported, "PNG reading is not built yet"}; }

} // namespace imgctl
