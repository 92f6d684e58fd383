// Placeholder until this module is written.
#include "ops.h"

namespace imgctl {

uint64_t bmpDataSize(const Image &image) {
    if (image.compression != Compression::None) return image.rle.size();
    return uint64_t{image.stride} * image.height;
}
Status saveBmp(const Image &, const char *) { return {Error::Unsupported, "not built yet"}; }

} // namespace imgctl
