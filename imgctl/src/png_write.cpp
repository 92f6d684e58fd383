// Placeholder until this module is written.
#include "ops.h"

namespace imgctl {

Status savePng(const Image &, const char *, int, bool) { return {Error::Unsupported, "not built yet"}; }

} // namespace imgctl
