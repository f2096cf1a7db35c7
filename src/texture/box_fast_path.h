// Integer 2x2 averaging of packed pixels for the box filter's halving:
// every field becomes (sum of the four + 2) >> 2, computed on masked words
// so that fields do not carry into each other. Internal to the texture
// builder.
#pragma once

#include <cstdint>

#include "d3d9/d3d9types.h"

namespace nerro::texture {

// Halves `rows` pairs of source rows into destination rows of `destWidth`
// pixels; source pixels (2x, 2y) .. (2x + 1, 2y + 1) make destination (x, y).
using BoxHalveRoutine = void (*)(const uint8_t* source, uint32_t sourcePitch, uint8_t* dest,
                                 uint32_t destPitch, uint32_t destWidth, uint32_t rows);

// The routine for `format`, or null when the format has no integer path.
// The four 32-bit formats go through two process-wide routine pointers set
// at first use: SIMD when the processor has it (isMmxAvailable), else the
// plain routines.
BoxHalveRoutine boxHalveRoutine(D3DFORMAT format);

// The plain routines of the two 32-bit families, for comparison in tests.
void boxHalveArgb32Plain(const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t, uint32_t);
void boxHalveXrgb32Plain(const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t, uint32_t);
// The SIMD routines (SSE2; the plain ones on processors without it).
void boxHalveArgb32Simd(const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t, uint32_t);
void boxHalveXrgb32Simd(const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t, uint32_t);
// AVX2 forms, chosen instead of the SSE2 ones when the processor has AVX2
// (they fall back to SSE2 when it has not). All give identical results.
void boxHalveArgb32Avx2(const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t, uint32_t);
void boxHalveXrgb32Avx2(const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t, uint32_t);

// The routine the four-channel 32-bit formats use, chosen now if not yet.
BoxHalveRoutine chosenArgb32Routine();

// Tests: forget the chosen 32-bit routines so the next use chooses again.
void resetBoxHalveRoutines();

}  // namespace nerro::texture
