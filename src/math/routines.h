// Internal to the math library: the routine sets each processor tier
// installs into the table.
#pragma once

#include <type_traits>

#include "math/math.h"

namespace nerro::math::detail {

// The 74 generic routines, in slot order.
const MathDispatch& genericRoutines();

// The tuned set (slots 0 to 7 and 35), installed in every tier.
void installTunedRoutines(MathDispatch& table);
// The SSE tier's routines (the slots its table column marks).
void installSseRoutines(MathDispatch& table);
// The SSE2 tier: the SSE routines it shares plus the ones of its own.
void installSse2Routines(MathDispatch& table);
// The SSE array routines also used inside the 3DNow! tier (slots 60 to 66, 69).
void installSseArrayRoutines(MathDispatch& table);

// Reads the bits of a float and back.
inline uint32_t floatBits(float f) {
  uint32_t u;
  __builtin_memcpy(&u, &f, 4);
  return u;
}
inline float bitsFloat(uint32_t u) {
  float f;
  __builtin_memcpy(&f, &u, 4);
  return f;
}

// Steps a pointer by a byte stride.
template <typename T>
inline T* strideAdvance(T* p, uint32_t stride) {
  using Byte = std::conditional_t<std::is_const_v<T>, const unsigned char, unsigned char>;
  return reinterpret_cast<T*>(reinterpret_cast<Byte*>(p) + stride);
}

}  // namespace nerro::math::detail
