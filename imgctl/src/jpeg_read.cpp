// Placeholder until this module is written.
#include "ops.h"

namespace imgctl {

Result<Image> decodeJpeg(const uint8_t *, size_t) { return {Error::Unsupported, "JPEG reading is not built yet"}; }

} // namespace imgctl
