// Small helpers for the codec tests' surfaces in plain memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pixel/pixel_codec.h"

namespace nerro::pixel::testsurface {

// A single-slice region over `pixels`: a width x height surface of `format`
// with rows `pitch` bytes apart, `box` the part to read or write.
inline PixelRegion regionOver(void* pixels, D3DFORMAT format, uint32_t pitch, uint32_t width, uint32_t height,
                              const D3DBOX& box) {
  PixelRegion r;
  r.pixels = pixels;
  r.format = format;
  r.rowPitch = pitch;
  r.bounds = {0, 0, width, height, 0, 1};
  r.box = box;
  return r;
}

// Whether the first and the last `guard` bytes still hold the 0xA5 fill.
inline bool guardsIntact(const std::vector<uint8_t>& bytes, size_t guard) {
  for (size_t i = 0; i < guard; ++i)
    if (bytes[i] != 0xA5 || bytes[bytes.size() - 1 - i] != 0xA5) return false;
  return true;
}

}  // namespace nerro::pixel::testsurface
