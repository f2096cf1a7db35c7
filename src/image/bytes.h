// Little helpers shared by the container decoders (internal to image/).
#pragma once

#include <cstdint>
#include <cstring>

namespace nerro::image::detail {

inline uint16_t readLe16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline uint32_t readLe32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline uint32_t readLe24(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16);
}
inline void writeLe32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

}  // namespace nerro::image::detail
