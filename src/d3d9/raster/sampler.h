// Texture sampling: addressing, point and linear filtering, and the level
// choice between magnification and minification.
#pragma once

#include <cmath>
#include <cstdint>

#include "d3d9/raster/rasterizer.h"

namespace nerro::raster {

// One level prepared for sampling.
struct SampleLevel {
  const uint32_t* texels;
  int32_t width, height, pitch;
  float fwidth, fheight;
  uint32_t maskU, maskV;  // width-1 and height-1 when both are powers of two
  bool pow2;
};

constexpr int kMaxLevels = 16;

// A stage's texture with its sampler state, made once per draw.
struct StageSampler {
  bool bound = false;
  uint32_t addressU = D3DTADDRESS_WRAP, addressV = D3DTADDRESS_WRAP;
  uint32_t magFilter = D3DTEXF_POINT, minFilter = D3DTEXF_POINT, mipFilter = D3DTEXF_NONE;
  uint32_t border = 0;
  int firstLevel = 0, levelCount = 0;
  SampleLevel level[kMaxLevels];

  void prepare(const TextureView& view, const SamplerState& state);
  // Whether a pixel's level of detail matters (different filters for the two
  // directions, or mip levels in use).
  bool needsLod() const {
    return bound && ((magFilter != minFilter && !(isPoint(magFilter) && isPoint(minFilter))) ||
                     (mipFilter != D3DTEXF_NONE && levelCount > firstLevel + 1));
  }
  static bool isPoint(uint32_t f) { return f != D3DTEXF_LINEAR && f != D3DTEXF_ANISOTROPIC; }

  // lod: log2 of the texel footprint of one pixel on the first level
  // (ignored when needsLod() is false).
  uint32_t sample(float u, float v, float lod) const;
  uint32_t samplePoint(const SampleLevel& l, float u, float v) const;
  uint32_t sampleLinear(const SampleLevel& l, float u, float v) const;
};

namespace detail {

// Coordinates in texels are bounded before converting to integers, so that
// NaN, infinities and huge values still address a texel.
inline float boundTexelCoord(float t) {
  constexpr float kLimit = 16777216.0f;
  if (!(t >= -kLimit)) return -kLimit;  // NaN lands here too
  return t > kLimit ? kLimit : t;
}

// Texel index along one axis for address mode `mode`; -1 for the border.
inline int32_t addressTexel(int32_t i, int32_t n, uint32_t mask, bool pow2, uint32_t mode) {
  switch (mode) {
    case D3DTADDRESS_MIRROR: {
      int32_t period = 2 * n;
      int32_t m = pow2 ? static_cast<int32_t>(static_cast<uint32_t>(i) & (2 * mask + 1)) : i % period;
      if (m < 0) m += period;
      return m >= n ? period - 1 - m : m;
    }
    case D3DTADDRESS_CLAMP:
      return i < 0 ? 0 : i >= n ? n - 1 : i;
    case D3DTADDRESS_BORDER:
      return i < 0 || i >= n ? -1 : i;
    case D3DTADDRESS_MIRRORONCE: {
      int32_t m = i < 0 ? -1 - i : i;
      return m >= n ? n - 1 : m;
    }
    default: {  // wrap
      if (pow2) return static_cast<int32_t>(static_cast<uint32_t>(i) & mask);
      int32_t m = i % n;
      return m < 0 ? m + n : m;
    }
  }
}

inline int32_t floorToInt(float t) {
  int32_t i = static_cast<int32_t>(t);
  return static_cast<float>(i) > t ? i - 1 : i;
}

}  // namespace detail

inline uint32_t StageSampler::samplePoint(const SampleLevel& l, float u, float v) const {
  int32_t x = detail::floorToInt(detail::boundTexelCoord(u * l.fwidth));
  int32_t y = detail::floorToInt(detail::boundTexelCoord(v * l.fheight));
  x = detail::addressTexel(x, l.width, l.maskU, l.pow2, addressU);
  y = detail::addressTexel(y, l.height, l.maskV, l.pow2, addressV);
  if ((x | y) < 0) return border;
  return l.texels[static_cast<size_t>(y) * static_cast<size_t>(l.pitch) + static_cast<size_t>(x)];
}

}  // namespace nerro::raster
