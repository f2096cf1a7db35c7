// Fragment stages.
#include "d3d9/raster/fragment.h"

namespace nerro::raster {
namespace {

inline uint32_t channel(uint32_t c, int sh) { return (c >> sh) & 0xFFu; }

uint32_t op4(uint32_t op, uint32_t a, uint32_t b) {
  switch (op) {
    case D3DTOP_SELECTARG1: return a;
    case D3DTOP_SELECTARG2: return b;
    default: break;
  }
  uint32_t r = 0;
  for (int sh = 0; sh < 32; sh += 8) {
    int32_t x = static_cast<int32_t>(channel(a, sh)), y = static_cast<int32_t>(channel(b, sh)), v;
    switch (op) {
      case D3DTOP_MODULATE: v = static_cast<int32_t>(mul255(x, y)); break;
      case D3DTOP_MODULATE2X: v = 2 * static_cast<int32_t>(mul255(x, y)); break;
      case D3DTOP_MODULATE4X: v = 4 * static_cast<int32_t>(mul255(x, y)); break;
      case D3DTOP_ADD: v = x + y; break;
      case D3DTOP_ADDSIGNED: v = x + y - 128; break;
      case D3DTOP_ADDSIGNED2X: v = 2 * (x + y - 128); break;
      case D3DTOP_SUBTRACT: v = x - y; break;
      default: v = x; break;  // operations not modelled pass their first argument
    }
    v = v < 0 ? 0 : v > 255 ? 255 : v;
    r |= static_cast<uint32_t>(v) << sh;
  }
  return r;
}

inline uint32_t argument(uint32_t arg, uint32_t texel, uint32_t current, uint32_t diffuse, uint32_t factor) {
  uint32_t v;
  switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE: v = diffuse; break;
    case D3DTA_TEXTURE: v = texel; break;
    case D3DTA_TFACTOR: v = factor; break;
    case D3DTA_SPECULAR:
    case D3DTA_TEMP: v = 0; break;
    default: v = current; break;
  }
  if (arg & D3DTA_COMPLEMENT) v = ~v;
  if (arg & D3DTA_ALPHAREPLICATE) v = (v >> 24) * 0x01010101u;
  return v;
}

inline bool readsTexture(uint32_t arg) { return (arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE; }

}  // namespace

void Combiner::prepare(const RasterState& s) {
  textureFactor = s.textureFactor;
  activeStages = 0;
  for (uint32_t i = 0; i < kStageCount; ++i) {
    const TextureStageState& t = s.stages[i];
    if (t.colorOp == D3DTOP_DISABLE) break;
    CombinerStage& c = stage[i];
    c.colorOp = t.colorOp;
    c.colorArg1 = t.colorArg1;
    c.colorArg2 = t.colorArg2;
    c.alphaOp = t.alphaOp;
    c.alphaArg1 = t.alphaArg1;
    c.alphaArg2 = t.alphaArg2;
    bool colorReads = readsTexture(t.colorArg1) || (t.colorOp != D3DTOP_SELECTARG1 && readsTexture(t.colorArg2));
    if (t.colorOp == D3DTOP_SELECTARG2) colorReads = readsTexture(t.colorArg2);
    bool alphaReads = t.alphaOp != D3DTOP_DISABLE &&
                      (t.alphaOp == D3DTOP_SELECTARG2 ? readsTexture(t.alphaArg2)
                       : t.alphaOp == D3DTOP_SELECTARG1
                           ? readsTexture(t.alphaArg1)
                           : readsTexture(t.alphaArg1) || readsTexture(t.alphaArg2));
    c.usesTexture = colorReads || alphaReads;
    ++activeStages;
  }
}

uint32_t Combiner::apply(int s, uint32_t texel, uint32_t current, uint32_t diffuse) const {
  const CombinerStage& c = stage[s];
  uint32_t color = op4(c.colorOp, argument(c.colorArg1, texel, current, diffuse, textureFactor),
                       argument(c.colorArg2, texel, current, diffuse, textureFactor));
  uint32_t alpha = current;  // a disabled alpha operation passes the alpha on
  if (c.alphaOp != D3DTOP_DISABLE)
    alpha = op4(c.alphaOp, argument(c.alphaArg1, texel, current, diffuse, textureFactor),
                argument(c.alphaArg2, texel, current, diffuse, textureFactor));
  return (color & 0x00FFFFFFu) | (alpha & 0xFF000000u);
}

void Blender::prepare(const RasterState& s) {
  enabled = s.alphaBlendEnable != FALSE;
  src = s.srcBlend;
  dest = s.destBlend;
  if (enabled && src == D3DBLEND_ONE && dest == D3DBLEND_ZERO) enabled = false;
  srcAlphaOver = enabled && src == D3DBLEND_SRCALPHA && dest == D3DBLEND_INVSRCALPHA;
}

namespace {

// Blend factor of one channel (sh) for source s and destination d.
inline uint32_t factor(uint32_t f, uint32_t s, uint32_t d, int sh, uint32_t fallback) {
  switch (f) {
    case D3DBLEND_ZERO: return 0;
    case D3DBLEND_ONE: return 255;
    case D3DBLEND_SRCCOLOR: return channel(s, sh);
    case D3DBLEND_INVSRCCOLOR: return 255 - channel(s, sh);
    case D3DBLEND_SRCALPHA: return s >> 24;
    case D3DBLEND_INVSRCALPHA: return 255 - (s >> 24);
    case D3DBLEND_DESTALPHA: return d >> 24;
    case D3DBLEND_INVDESTALPHA: return 255 - (d >> 24);
    case D3DBLEND_DESTCOLOR: return channel(d, sh);
    case D3DBLEND_INVDESTCOLOR: return 255 - channel(d, sh);
    default: return fallback;  // factors not modelled take the default
  }
}

}  // namespace

uint32_t Blender::blend(uint32_t s, uint32_t d) const {
  if (srcAlphaOver) return blendSrcAlphaOver(s, d);
  uint32_t r = 0;
  for (int sh = 0; sh < 32; sh += 8) {
    uint32_t v = channel(s, sh) * factor(src, s, d, sh, 255) + channel(d, sh) * factor(dest, s, d, sh, 0);
    v = (v + 127) / 255;
    r |= (v > 255 ? 255 : v) << sh;
  }
  return r;
}

}  // namespace nerro::raster
