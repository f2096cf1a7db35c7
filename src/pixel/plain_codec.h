// Internal: the codecs of the formats that store independent pixels.
#pragma once

#include <memory>

#include "pixel/pixel_codec.h"

namespace nerro::pixel::detail {

// The plain codec for the region's format, or null when the format has no
// plain codec (depth formats without a codec, pairs, blocks, unknown values).
std::unique_ptr<PixelCodec> CreatePlainCodec(const PixelRegion& region);

}  // namespace nerro::pixel::detail
