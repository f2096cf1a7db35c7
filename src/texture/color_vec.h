// Four-channel float colour arithmetic for the resampling loops: SSE on
// x86-64, plain floats elsewhere. Each operation is per channel, so both
// forms give the same single-precision results.
#pragma once

#include "d3d9/d3d9types.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace nerro::texture {

#if defined(__SSE__)
struct Vec4 {
  __m128 v;
};
inline Vec4 load(const D3DCOLORVALUE& c) { return {_mm_loadu_ps(&c.r)}; }
inline void store(D3DCOLORVALUE& c, Vec4 a) { _mm_storeu_ps(&c.r, a.v); }
inline Vec4 splat(float f) { return {_mm_set1_ps(f)}; }
inline Vec4 operator+(Vec4 a, Vec4 b) { return {_mm_add_ps(a.v, b.v)}; }
inline Vec4 operator*(Vec4 a, Vec4 b) { return {_mm_mul_ps(a.v, b.v)}; }
inline Vec4 vmin(Vec4 a, Vec4 b) { return {_mm_min_ps(a.v, b.v)}; }
inline Vec4 vmax(Vec4 a, Vec4 b) { return {_mm_max_ps(a.v, b.v)}; }
inline Vec4 make(float r, float g, float b, float a) { return {_mm_setr_ps(r, g, b, a)}; }
#else
struct Vec4 {
  float r, g, b, a;
};
inline Vec4 load(const D3DCOLORVALUE& c) { return {c.r, c.g, c.b, c.a}; }
inline void store(D3DCOLORVALUE& c, Vec4 a) { c = {a.r, a.g, a.b, a.a}; }
inline Vec4 splat(float f) { return {f, f, f, f}; }
inline Vec4 operator+(Vec4 a, Vec4 b) { return {a.r + b.r, a.g + b.g, a.b + b.b, a.a + b.a}; }
inline Vec4 operator*(Vec4 a, Vec4 b) { return {a.r * b.r, a.g * b.g, a.b * b.b, a.a * b.a}; }
inline float fmin1(float a, float b) { return b < a ? b : a; }
inline float fmax1(float a, float b) { return b > a ? b : a; }
inline Vec4 vmin(Vec4 a, Vec4 b) { return {fmin1(a.r, b.r), fmin1(a.g, b.g), fmin1(a.b, b.b), fmin1(a.a, b.a)}; }
inline Vec4 vmax(Vec4 a, Vec4 b) { return {fmax1(a.r, b.r), fmax1(a.g, b.g), fmax1(a.b, b.b), fmax1(a.a, b.a)}; }
inline Vec4 make(float r, float g, float b, float a) { return {r, g, b, a}; }
#endif

}  // namespace nerro::texture
