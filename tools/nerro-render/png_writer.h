#pragma once

#include <cstdint>
#include <string>

namespace nerro::tools {

// Writes w x h pixels (B G R A bytes, bottom row first, as frames come
// back) as an 8-bit RGBA PNG; alpha is the frame's own with keepAlpha,
// else opaque. False with a message on failure.
bool writeFramePng(const std::string& path, const uint32_t* pixels, int32_t width, int32_t height, bool keepAlpha,
                   std::string& error);

}  // namespace nerro::tools
