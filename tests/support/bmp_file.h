// Small BMP file images for tests: 32-bit BI_RGB (bottom-up) and 8-bit
// palettised images, built byte by byte.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "d3d9/d3d9types.h"

namespace nerro::testing {

inline void putLe(std::vector<uint8_t>& b, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A BMP file image with the given bits per pixel (8 or 32), palette (8-bit
// only, 256 entries) and rows given top-down (the file stores them bottom-up).
inline std::vector<uint8_t> makeBmp(uint32_t width, uint32_t height, uint32_t bitsPerPixel,
                                    const std::vector<uint8_t>& topDownPixels,
                                    const std::vector<PALETTEENTRY>& palette = {}) {
  const uint32_t rowBytes = (width * bitsPerPixel / 8 + 3) & ~3u;
  const uint32_t paletteBytes = bitsPerPixel == 8 ? 1024 : 0;
  const uint32_t offset = 54 + paletteBytes;
  std::vector<uint8_t> file(offset + rowBytes * height, 0);
  file[0] = 'B';
  file[1] = 'M';
  putLe(file, 2, static_cast<uint32_t>(file.size()), 4);
  putLe(file, 10, offset, 4);
  putLe(file, 14, 40, 4);
  putLe(file, 18, width, 4);
  putLe(file, 22, height, 4);
  putLe(file, 26, 1, 2);
  putLe(file, 28, bitsPerPixel, 2);
  putLe(file, 34, rowBytes * height, 4);
  putLe(file, 38, 2834, 4);
  putLe(file, 42, 2834, 4);
  if (bitsPerPixel == 8) {
    putLe(file, 46, 256, 4);
    for (uint32_t i = 0; i < 256 && i < palette.size(); ++i) {
      file[54 + 4 * i + 0] = palette[i].peBlue;
      file[54 + 4 * i + 1] = palette[i].peGreen;
      file[54 + 4 * i + 2] = palette[i].peRed;
      file[54 + 4 * i + 3] = 0;
    }
  }
  const uint32_t pixelBytes = width * bitsPerPixel / 8;
  for (uint32_t y = 0; y < height; ++y)
    std::memcpy(&file[offset + (height - 1 - y) * rowBytes], &topDownPixels[y * pixelBytes], pixelBytes);
  return file;
}

}  // namespace nerro::testing
