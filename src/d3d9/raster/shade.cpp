// Pixel shading of spans: the general routine and the choice of routine.
#include "d3d9/raster/shade.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "d3d9/raster/span_fast.h"

namespace nerro::raster {

void DrawContext::prepare(const RasterState& s, const ColorTarget& c, const DepthTarget& d,
                          const TextureView textures[kStageCount], bool hasDiffuse) {
  color = c.bits;
  colorPitch = c.pitch;
  width = static_cast<int32_t>(c.width);
  bool z = s.zEnable != D3DZB_FALSE && d.bits != nullptr;
  depth = z ? reinterpret_cast<uint8_t*>(d.bits) : nullptr;
  depthPitch = d.pitch;
  zFunc = s.zFunc;
  depthTest = z && s.zFunc != D3DCMP_ALWAYS;
  depthWrite = z && s.zWriteEnable != FALSE;
  alphaTest = s.alphaTestEnable != FALSE && s.alphaFunc != D3DCMP_ALWAYS;
  alphaFunc = s.alphaFunc;
  alphaRef = s.alphaRef & 0xFFu;
  colorVarying = hasDiffuse;
  combiner.prepare(s);
  blender.prepare(s);
  for (uint32_t i = 0; i < kStageCount; ++i) {
    sampler[i].prepare(textures ? textures[i] : TextureView{}, s.samplers[i]);
    stageLod[i] = sampler[i].needsLod();
  }
  span = chooseSpanRoutine(*this);
}

namespace {

inline uint32_t colorChannel(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 255.0f) return 255;
  return static_cast<uint32_t>(v + 0.5f);
}

// log2 of the larger texel footprint of one pixel step in x or y, from the
// screen derivatives of u/w, v/w and 1/w.
inline float levelOfDetail(const Triangle& t, int s, float u, float v, float w, const SampleLevel& l) {
  const Plane& pu = t.attr[kU0 + 2 * s];
  const Plane& pv = t.attr[kV0 + 2 * s];
  float dudx = (pu.dx - u * t.q.dx) * w * l.fwidth, dvdx = (pv.dx - v * t.q.dx) * w * l.fheight;
  float dudy = (pu.dy - u * t.q.dy) * w * l.fwidth, dvdy = (pv.dy - v * t.q.dy) * w * l.fheight;
  float rx = dudx * dudx + dvdx * dvdx, ry = dudy * dudy + dvdy * dvdy;
  float r = rx > ry ? rx : ry;
  if (!(r > 0.0f)) return -100.0f;
  return 0.5f * std::log2(r);
}

}  // namespace

void shadeSpanGeneral(const DrawContext& dc, const Triangle& t, int32_t y, int32_t xs, int32_t xe) {
  const float fy = static_cast<float>(y - t.minY);
  const float q0 = t.q.c + t.q.dy * fy;
  const float z0 = t.z.c + t.z.dy * fy;
  float a0[kAttrCount];
  for (int k = 0; k < kAttrCount; ++k) a0[k] = t.attr[k].c + t.attr[k].dy * fy;
  uint32_t* dst = reinterpret_cast<uint32_t*>(dc.color + static_cast<std::ptrdiff_t>(y) * dc.colorPitch);
  uint16_t* zrow = dc.depth ? reinterpret_cast<uint16_t*>(dc.depth + static_cast<std::ptrdiff_t>(y) * dc.depthPitch)
                            : nullptr;
  const int stages = dc.combiner.activeStages;
  for (int32_t x = xs; x <= xe; ++x) {
    const float fx = static_cast<float>(x - t.minX);
    const uint32_t d16 = depthToD16(z0 + t.z.dx * fx);
    if (zrow && dc.depthTest && !compare(dc.zFunc, d16, zrow[x])) continue;
    float q = q0 + t.q.dx * fx;
    if (!(q > 1e-30f)) q = 1e-30f;
    const float w = 1.0f / q;
    uint32_t diffuse = 0xFFFFFFFFu;
    if (dc.colorVarying) {
      diffuse = colorChannel((a0[kB] + t.attr[kB].dx * fx) * w) |
                colorChannel((a0[kG] + t.attr[kG].dx * fx) * w) << 8 |
                colorChannel((a0[kR] + t.attr[kR].dx * fx) * w) << 16 |
                colorChannel((a0[kA] + t.attr[kA].dx * fx) * w) << 24;
    }
    uint32_t current = diffuse;
    for (int s = 0; s < stages; ++s) {
      uint32_t texel = 0xFFFFFFFFu;
      const StageSampler& sm = dc.sampler[s];
      if (dc.combiner.stage[s].usesTexture && sm.bound) {
        const float u = (a0[kU0 + 2 * s] + t.attr[kU0 + 2 * s].dx * fx) * w;
        const float v = (a0[kV0 + 2 * s] + t.attr[kV0 + 2 * s].dx * fx) * w;
        const float lod = dc.stageLod[s] ? levelOfDetail(t, s, u, v, w, sm.level[0]) : 0.0f;
        texel = sm.sample(u, v, lod);
      }
      current = dc.combiner.apply(s, texel, current, diffuse);
    }
    if (dc.alphaTest && !compare(dc.alphaFunc, current >> 24, dc.alphaRef)) continue;
    if (zrow && dc.depthWrite) zrow[x] = static_cast<uint16_t>(d16);
    dst[x] = dc.blender.enabled ? dc.blender.blend(current, dst[x]) : current;
  }
}

}  // namespace nerro::raster

namespace nerro::raster {

SpanRoutine chooseSpanRoutine(const DrawContext& dc) {
  if (SpanRoutine fast = chooseFastSpan(dc)) return fast;
  return shadeSpanGeneral;
}

}  // namespace nerro::raster
