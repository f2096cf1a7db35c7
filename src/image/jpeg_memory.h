// Internal to image/ (and its tests): how often the JPEG decoder had to spill
// to a temporary file because an image needed more than its working memory.
#pragma once

#include <cstdint>

namespace nerro::image::detail {

uint64_t jpegBackingStoresOpened();

}  // namespace nerro::image::detail
