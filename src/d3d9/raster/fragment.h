// Fragment stages: the two-stage texture combiner, the alpha and depth
// tests, and blending into the 32-bit target.
#pragma once

#include <cstdint>

#include "d3d9/raster/rasterizer.h"

namespace nerro::raster {

// 0xAARRGGBB colours throughout; channel arithmetic is exact to the nearest
// integer (x*y/255 rounded).
inline uint32_t mul255(uint32_t a, uint32_t b) {
  uint32_t t = a * b + 128;
  return (t + (t >> 8)) >> 8;
}

struct CombinerStage {
  uint32_t colorOp, colorArg1, colorArg2;
  uint32_t alphaOp, alphaArg1, alphaArg2;
  bool usesTexture;
};

// The texture-stage setup of one draw.
struct Combiner {
  CombinerStage stage[kStageCount];
  int activeStages = 0;  // stages before the first DISABLE colour operation
  uint32_t textureFactor = 0xFFFFFFFFu;

  void prepare(const RasterState& s);
  // One stage: its texel (ignored unless the stage reads it), the result so
  // far and the diffuse colour in, the new result out.
  uint32_t apply(int s, uint32_t texel, uint32_t current, uint32_t diffuse) const;
};

// Depth comparison of a fragment against the stored value.
inline bool compare(uint32_t func, uint32_t fragment, uint32_t stored) {
  switch (func) {
    case D3DCMP_NEVER: return false;
    case D3DCMP_LESS: return fragment < stored;
    case D3DCMP_EQUAL: return fragment == stored;
    case D3DCMP_LESSEQUAL: return fragment <= stored;
    case D3DCMP_GREATER: return fragment > stored;
    case D3DCMP_NOTEQUAL: return fragment != stored;
    case D3DCMP_GREATEREQUAL: return fragment >= stored;
    default: return true;  // D3DCMP_ALWAYS and anything unknown
  }
}

// Depth in 0..1 to the D16 value, rounded to nearest.
inline uint32_t depthToD16(float z) {
  if (!(z > 0.0f)) return 0;
  if (z >= 1.0f) return 65535;
  return static_cast<uint32_t>(z * 65535.0f + 0.5f);
}

struct Blender {
  bool enabled = false;
  uint32_t src = D3DBLEND_ONE, dest = D3DBLEND_ZERO;
  bool srcAlphaOver = false;  // SRCALPHA / INVSRCALPHA, the common case

  void prepare(const RasterState& s);
  uint32_t blend(uint32_t source, uint32_t destination) const;
};

// The classic "source over": s*a + d*(1-a) on all four channels.
inline uint32_t blendSrcAlphaOver(uint32_t s, uint32_t d) {
  uint32_t a = s >> 24, ia = 255 - a;
  uint32_t r = 0;
  for (int sh = 0; sh < 32; sh += 8) {
    uint32_t v = (((s >> sh) & 0xFFu) * a + ((d >> sh) & 0xFFu) * ia + 127) / 255;
    r |= v << sh;
  }
  return r;
}

}  // namespace nerro::raster
