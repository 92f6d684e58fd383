// Placeholder until this module is written.
#include "ops.h"

namespace imgctl {

Result<Image> decodeBmp(const uint8_t *, size_t) { return {Error::Unsupported, "BMP reading is not built yet"}; }

} // namespace imgctl
