// Texture sampling.
#include "d3d9/raster/sampler.h"

#include <algorithm>

namespace nerro::raster {
namespace {

inline uint32_t lerpTexel(uint32_t a, uint32_t b, uint32_t w) {
  // Per channel a + (b - a) * w / 256, w in 0..256.
  uint32_t rbA = a & 0x00FF00FFu, gaA = (a >> 8) & 0x00FF00FFu;
  uint32_t rbB = b & 0x00FF00FFu, gaB = (b >> 8) & 0x00FF00FFu;
  uint32_t rb = (rbA * (256 - w) + rbB * w + 0x00800080u) >> 8;
  uint32_t ga = (gaA * (256 - w) + gaB * w + 0x00800080u) >> 8;
  return (rb & 0x00FF00FFu) | ((ga & 0x00FF00FFu) << 8);
}

}  // namespace

void StageSampler::prepare(const TextureView& view, const SamplerState& s) {
  bound = false;
  levelCount = 0;
  addressU = s.addressU;
  addressV = s.addressV;
  magFilter = s.magFilter;
  minFilter = s.minFilter;
  mipFilter = s.mipFilter;
  border = s.borderColor;
  if (!view.bound()) return;
  uint32_t n = std::min<uint32_t>(view.levelCount, kMaxLevels);
  for (uint32_t i = 0; i < n; ++i) {
    const TextureLevel& src = view.levels[i];
    if (!src.argb || src.width == 0 || src.height == 0 || src.pitchPixels < src.width ||
        src.width > (1u << 24) || src.height > (1u << 24) || src.pitchPixels > (1u << 30))
      break;
    SampleLevel& l = level[levelCount++];
    l.texels = src.argb;
    l.width = static_cast<int32_t>(src.width);
    l.height = static_cast<int32_t>(src.height);
    l.pitch = static_cast<int32_t>(src.pitchPixels);
    l.fwidth = static_cast<float>(src.width);
    l.fheight = static_cast<float>(src.height);
    l.pow2 = (src.width & (src.width - 1)) == 0 && (src.height & (src.height - 1)) == 0;
    l.maskU = src.width - 1;
    l.maskV = src.height - 1;
  }
  if (levelCount == 0) return;
  bound = true;
  firstLevel = static_cast<int>(std::min<uint32_t>(s.maxMipLevel, static_cast<uint32_t>(levelCount - 1)));
}

uint32_t StageSampler::sampleLinear(const SampleLevel& l, float u, float v) const {
  float tx = detail::boundTexelCoord(u * l.fwidth - 0.5f);
  float ty = detail::boundTexelCoord(v * l.fheight - 0.5f);
  int32_t x0 = detail::floorToInt(tx), y0 = detail::floorToInt(ty);
  uint32_t fx = static_cast<uint32_t>((tx - static_cast<float>(x0)) * 256.0f);
  uint32_t fy = static_cast<uint32_t>((ty - static_cast<float>(y0)) * 256.0f);
  if (fx > 256) fx = 256;
  if (fy > 256) fy = 256;
  int32_t xa = detail::addressTexel(x0, l.width, l.maskU, l.pow2, addressU);
  int32_t xb = detail::addressTexel(x0 + 1, l.width, l.maskU, l.pow2, addressU);
  int32_t ya = detail::addressTexel(y0, l.height, l.maskV, l.pow2, addressV);
  int32_t yb = detail::addressTexel(y0 + 1, l.height, l.maskV, l.pow2, addressV);
  auto texel = [&](int32_t x, int32_t y) {
    if ((x | y) < 0) return border;
    return l.texels[static_cast<size_t>(y) * static_cast<size_t>(l.pitch) + static_cast<size_t>(x)];
  };
  uint32_t top = lerpTexel(texel(xa, ya), texel(xb, ya), fx);
  uint32_t bottom = lerpTexel(texel(xa, yb), texel(xb, yb), fx);
  return lerpTexel(top, bottom, fy);
}

uint32_t StageSampler::sample(float u, float v, float lod) const {
  if (!bound) return 0xFFFFFFFFu;
  if (!needsLod()) {
    const SampleLevel& l = level[firstLevel];
    return isPoint(magFilter) ? samplePoint(l, u, v) : sampleLinear(l, u, v);
  }
  auto at = [&](int i, uint32_t filter) {
    const SampleLevel& l = level[i];
    return isPoint(filter) ? samplePoint(l, u, v) : sampleLinear(l, u, v);
  };
  if (!(lod > 0.0f)) return at(firstLevel, magFilter);
  int last = levelCount - 1;
  if (mipFilter == D3DTEXF_NONE || levelCount <= firstLevel + 1) return at(firstLevel, minFilter);
  if (lod > 30.0f) lod = 30.0f;
  if (isPoint(mipFilter)) {
    int i = std::clamp(static_cast<int>(lod + 0.5f), firstLevel, last);
    return at(i, minFilter);
  }
  int i = static_cast<int>(lod);
  uint32_t w = static_cast<uint32_t>((lod - static_cast<float>(i)) * 256.0f);
  int a = std::clamp(i, firstLevel, last), b = std::clamp(i + 1, firstLevel, last);
  if (a == b) return at(a, minFilter);
  return lerpTexel(at(a, minFilter), at(b, minFilter), w > 256 ? 256 : w);
}

}  // namespace nerro::raster
