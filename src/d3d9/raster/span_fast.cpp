// Fast span routines: four pixels at a time with SSE2. Every step uses the
// same single-precision operations in the same order as the general routine
// (division for 1/w, bounded floor for texel indices, exact rounding of the
// byte products), so both give the same bytes.
#include "d3d9/raster/span_fast.h"

#include <emmintrin.h>

#include "platform/platform.h"

#include <cstddef>
#include <cstring>

namespace nerro::raster {
namespace {

// One stage's texture as the span loop reads it, copied into locals so that
// the colour stores cannot force reloads.
struct FastTexture {
  const StageSampler* sampler;
  const uint32_t* texels;
  __m128i maskU, maskV, pitch;
  __m128 width, height;
  bool wrapPow2;  // wrap on both axes over power-of-two sizes: no lane work

  explicit FastTexture(const StageSampler& s) : sampler(&s) {
    if (!s.bound) {
      texels = nullptr;
      maskU = maskV = pitch = _mm_setzero_si128();
      width = height = _mm_setzero_ps();
      wrapPow2 = false;
      return;
    }
    const SampleLevel& l = s.level[s.firstLevel];
    texels = l.texels;
    maskU = _mm_set1_epi32(static_cast<int32_t>(l.maskU));
    maskV = _mm_set1_epi32(static_cast<int32_t>(l.maskV));
    pitch = _mm_set1_epi32(l.pitch);
    width = _mm_set1_ps(l.fwidth);
    height = _mm_set1_ps(l.fheight);
    wrapPow2 = l.pow2 && s.addressU == D3DTADDRESS_WRAP && s.addressV == D3DTADDRESS_WRAP &&
               static_cast<uint64_t>(l.height) * static_cast<uint64_t>(l.pitch) < (1ull << 31);
  }

  // Texel indices of four lanes to texels, with the stage's address modes.
  inline __m128i fetch(__m128i ix, __m128i iy) const {
    if (wrapPow2) {
      const __m128i x = _mm_and_si128(ix, maskU), y = _mm_and_si128(iy, maskV);
      // y * pitch + x on 32-bit lanes (the level is below 2^31 texels).
      const __m128i even = _mm_mul_epu32(y, pitch);
      const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(y, 32), pitch);
      const __m128i prod = _mm_unpacklo_epi32(_mm_shuffle_epi32(even, 0x08), _mm_shuffle_epi32(odd, 0x08));
      alignas(16) uint32_t idx[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(idx), _mm_add_epi32(prod, x));
      return gather(texels[idx[0]], texels[idx[1]], texels[idx[2]], texels[idx[3]]);
    }
    {
      const StageSampler& s = *sampler;
      const SampleLevel& l = s.level[s.firstLevel];
      alignas(16) int32_t x[4], y[4];
      uint32_t out[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(x), ix);
      _mm_store_si128(reinterpret_cast<__m128i*>(y), iy);
      for (int k = 0; k < 4; ++k) {
        const int32_t tx = detail::addressTexel(x[k], l.width, l.maskU, l.pow2, s.addressU);
        const int32_t ty = detail::addressTexel(y[k], l.height, l.maskV, l.pow2, s.addressV);
        out[k] = (tx | ty) < 0 ? s.border
                               : texels[static_cast<size_t>(ty) * static_cast<size_t>(l.pitch) + static_cast<size_t>(tx)];
      }
      return gather(out[0], out[1], out[2], out[3]);
    }
  }

  // Four loaded texels into one vector (through registers: a vector load of
  // four separate scalar stores would stall on store forwarding).
  static inline __m128i gather(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    const __m128i ab = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int32_t>(a)),
                                          _mm_cvtsi32_si128(static_cast<int32_t>(b)));
    const __m128i cd = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int32_t>(c)),
                                          _mm_cvtsi32_si128(static_cast<int32_t>(d)));
    return _mm_unpacklo_epi64(ab, cd);
  }
};

// floor(min(max(t, -limit), limit)) as integers; NaN gives -limit.
inline __m128i boundedFloor(__m128 t) {
  const __m128 limit = _mm_set1_ps(16777216.0f);
  t = _mm_min_ps(_mm_max_ps(t, _mm_sub_ps(_mm_setzero_ps(), limit)), limit);
  __m128i i = _mm_cvttps_epi32(t);
  __m128 above = _mm_cmpgt_ps(_mm_cvtepi32_ps(i), t);
  return _mm_add_epi32(i, _mm_castps_si128(above));
}

// x*y/255 rounded, on 16-bit lanes holding bytes.
inline __m128i mul255x8(__m128i a, __m128i b) {
  __m128i t = _mm_add_epi16(_mm_mullo_epi16(a, b), _mm_set1_epi16(128));
  return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
}

inline __m128i modulate4(__m128i a, __m128i b) {
  const __m128i zero = _mm_setzero_si128();
  __m128i lo = mul255x8(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
  __m128i hi = mul255x8(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
  return _mm_packus_epi16(lo, hi);
}

// s*a + d*(255-a) on all four channels, rounded: (x + 127) / 255.
inline __m128i over8(__m128i s, __m128i d) {
  __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(s, 0xFF), 0xFF);
  __m128i ia = _mm_sub_epi16(_mm_set1_epi16(255), a);
  __m128i x = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(s, a), _mm_mullo_epi16(d, ia)), _mm_set1_epi16(127));
  x = _mm_add_epi16(_mm_add_epi16(x, _mm_set1_epi16(1)), _mm_srli_epi16(x, 8));
  return _mm_srli_epi16(x, 8);
}

inline __m128i over4(__m128i s, __m128i d) {
  const __m128i zero = _mm_setzero_si128();
  __m128i lo = over8(_mm_unpacklo_epi8(s, zero), _mm_unpacklo_epi8(d, zero));
  __m128i hi = over8(_mm_unpackhi_epi8(s, zero), _mm_unpackhi_epi8(d, zero));
  return _mm_packus_epi16(lo, hi);
}

template <bool kDepth, bool kBlend, bool kTex0, bool kTex1>
void fastSpan(const DrawContext& dc, const Triangle& t, int32_t y, int32_t xs, int32_t xe) {
  const float fy = static_cast<float>(y - t.minY);
  const __m128 q0 = _mm_set1_ps(t.q.c + t.q.dy * fy), qdx = _mm_set1_ps(t.q.dx);
  const __m128 z0 = _mm_set1_ps(t.z.c + t.z.dy * fy), zdx = _mm_set1_ps(t.z.dx);
  const __m128 u0 = _mm_set1_ps(t.attr[kU0].c + t.attr[kU0].dy * fy), u0dx = _mm_set1_ps(t.attr[kU0].dx);
  const __m128 v0 = _mm_set1_ps(t.attr[kV0].c + t.attr[kV0].dy * fy), v0dx = _mm_set1_ps(t.attr[kV0].dx);
  const __m128 u1 = _mm_set1_ps(t.attr[kU1].c + t.attr[kU1].dy * fy), u1dx = _mm_set1_ps(t.attr[kU1].dx);
  const __m128 v1 = _mm_set1_ps(t.attr[kV1].c + t.attr[kV1].dy * fy), v1dx = _mm_set1_ps(t.attr[kV1].dx);
  const FastTexture tex0(dc.sampler[0]), tex1(dc.sampler[1]);
  const __m128 one = _mm_set1_ps(1.0f), tiny = _mm_set1_ps(1e-30f);
  const __m128i ones = _mm_set1_epi32(-1), bias16 = _mm_set1_epi32(32768);

  uint32_t* dst = reinterpret_cast<uint32_t*>(dc.color + static_cast<std::ptrdiff_t>(y) * dc.colorPitch);
  uint16_t* zrow = kDepth ? reinterpret_cast<uint16_t*>(dc.depth + static_cast<std::ptrdiff_t>(y) * dc.depthPitch)
                          : nullptr;

  for (int32_t x = xs; x <= xe; x += 4) {
    const int32_t n = xe - x + 1 < 4 ? xe - x + 1 : 4;
    // A short group with four pixels of the row still ahead of it reads and
    // writes all four, putting back what it read where it draws nothing (a
    // band of rows belongs to one thread, so nothing else touches them in
    // between). At the right edge of the target the group works on copies,
    // so nothing past the row is read or written.
    const bool whole = n == 4 || x + 4 <= dc.width;
    alignas(16) uint32_t colorTail[4] = {};
    alignas(16) uint16_t depthTail[4] = {};
    uint32_t* c = dst + x;
    uint16_t* zp = kDepth ? zrow + x : nullptr;
    if (!whole) {
      std::memcpy(colorTail, c, static_cast<size_t>(n) * 4);
      c = colorTail;
      if (kDepth) {
        std::memcpy(depthTail, zp, static_cast<size_t>(n) * 2);
        zp = depthTail;
      }
    }
    const int32_t rel = x - t.minX;
    const __m128 fx = _mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(rel), _mm_set_epi32(3, 2, 1, 0)));
    __m128i pass = n < 4 ? _mm_cmpgt_epi32(_mm_set1_epi32(n), _mm_set_epi32(3, 2, 1, 0)) : ones;
    __m128i d16 = _mm_setzero_si128(), stored = _mm_setzero_si128();
    if (kDepth) {
      __m128 z = _mm_add_ps(z0, _mm_mul_ps(zdx, fx));
      z = _mm_min_ps(_mm_max_ps(z, _mm_setzero_ps()), one);
      d16 = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(z, _mm_set1_ps(65535.0f)), _mm_set1_ps(0.5f)));
      stored = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(zp)), _mm_setzero_si128());
      pass = _mm_andnot_si128(_mm_cmpgt_epi32(d16, stored), pass);
      if (_mm_movemask_epi8(pass) == 0) continue;
    }
    const __m128 w = _mm_div_ps(one, _mm_max_ps(_mm_add_ps(q0, _mm_mul_ps(qdx, fx)), tiny));
    __m128i color = ones;
    if (kTex0) {
      __m128 u = _mm_mul_ps(_mm_add_ps(u0, _mm_mul_ps(u0dx, fx)), w);
      __m128 v = _mm_mul_ps(_mm_add_ps(v0, _mm_mul_ps(v0dx, fx)), w);
      color = tex0.fetch(boundedFloor(_mm_mul_ps(u, tex0.width)), boundedFloor(_mm_mul_ps(v, tex0.height)));
    }
    if (kTex1) {
      __m128 u = _mm_mul_ps(_mm_add_ps(u1, _mm_mul_ps(u1dx, fx)), w);
      __m128 v = _mm_mul_ps(_mm_add_ps(v1, _mm_mul_ps(v1dx, fx)), w);
      __m128i t1 = tex1.fetch(boundedFloor(_mm_mul_ps(u, tex1.width)), boundedFloor(_mm_mul_ps(v, tex1.height)));
      // Colour times texel 1; the alpha stays (times 255).
      color = modulate4(color, _mm_or_si128(t1, _mm_set1_epi32(static_cast<int32_t>(0xFF000000u))));
    }
    const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
    if (kBlend) color = over4(color, old);
    color = _mm_or_si128(_mm_and_si128(pass, color), _mm_andnot_si128(pass, old));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(c), color);
    if (kDepth) {
      __m128i z = _mm_or_si128(_mm_and_si128(pass, d16), _mm_andnot_si128(pass, stored));
      z = _mm_add_epi16(_mm_packs_epi32(_mm_sub_epi32(z, bias16), _mm_sub_epi32(z, bias16)), _mm_set1_epi16(-32768));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(zp), z);
    }
    if (!whole) {
      std::memcpy(dst + x, colorTail, static_cast<size_t>(n) * 4);
      if (kDepth) std::memcpy(zrow + x, depthTail, static_cast<size_t>(n) * 2);
    }
  }
}

template <bool kDepth, bool kBlend>
SpanRoutine pickTextures(bool tex0, bool tex1) {
  if (tex0) return tex1 ? fastSpan<kDepth, kBlend, true, true> : fastSpan<kDepth, kBlend, true, false>;
  return tex1 ? fastSpan<kDepth, kBlend, false, true> : fastSpan<kDepth, kBlend, false, false>;
}

bool isTexture(uint32_t arg) { return arg == D3DTA_TEXTURE; }
bool isWhite(uint32_t arg) { return arg == D3DTA_DIFFUSE || arg == D3DTA_CURRENT; }

// Stage 0 gives its texel: selected, or modulated by the (white) diffuse.
bool stage0GivesTexel(const CombinerStage& s) {
  bool color = (s.colorOp == D3DTOP_SELECTARG1 && isTexture(s.colorArg1)) ||
               (s.colorOp == D3DTOP_SELECTARG2 && isTexture(s.colorArg2)) ||
               (s.colorOp == D3DTOP_MODULATE && ((isTexture(s.colorArg1) && isWhite(s.colorArg2)) ||
                                                 (isWhite(s.colorArg1) && isTexture(s.colorArg2))));
  bool alpha = (s.alphaOp == D3DTOP_SELECTARG1 && isTexture(s.alphaArg1)) ||
               (s.alphaOp == D3DTOP_SELECTARG2 && isTexture(s.alphaArg2)) ||
               (s.alphaOp == D3DTOP_MODULATE && ((isTexture(s.alphaArg1) && isWhite(s.alphaArg2)) ||
                                                 (isWhite(s.alphaArg1) && isTexture(s.alphaArg2))));
  return color && alpha;
}

// Stage 1 multiplies the colour by its texel and keeps the alpha.
bool stage1Modulates(const CombinerStage& s) {
  bool color = s.colorOp == D3DTOP_MODULATE && ((s.colorArg1 == D3DTA_CURRENT && isTexture(s.colorArg2)) ||
                                                (isTexture(s.colorArg1) && s.colorArg2 == D3DTA_CURRENT));
  bool alpha = s.alphaOp == D3DTOP_DISABLE || (s.alphaOp == D3DTOP_SELECTARG1 && s.alphaArg1 == D3DTA_CURRENT) ||
               (s.alphaOp == D3DTOP_SELECTARG2 && s.alphaArg2 == D3DTA_CURRENT);
  return color && alpha;
}

bool pointSampled(const DrawContext& dc, int s) {
  return !dc.stageLod[s] && StageSampler::isPoint(dc.sampler[s].magFilter);
}

}  // namespace

SpanRoutine chooseFastSpan(const DrawContext& dc) {
  if (dc.colorVarying || dc.alphaTest) return nullptr;
  const Combiner& cb = dc.combiner;
  if (cb.activeStages < 1 || !stage0GivesTexel(cb.stage[0])) return nullptr;
  if (cb.activeStages == 2 && !stage1Modulates(cb.stage[1])) return nullptr;
  const bool tex0 = dc.sampler[0].bound;
  const bool tex1 = cb.activeStages == 2 && dc.sampler[1].bound;
  if ((tex0 && !pointSampled(dc, 0)) || (tex1 && !pointSampled(dc, 1))) return nullptr;

  bool depth;
  if (!dc.depth || (!dc.depthTest && !dc.depthWrite))
    depth = false;
  else if (dc.depthTest && dc.depthWrite && dc.zFunc == D3DCMP_LESSEQUAL)
    depth = true;
  else
    return nullptr;
  if (dc.blender.enabled && !dc.blender.srcAlphaOver) return nullptr;
  const bool blend = dc.blender.enabled;
  if (platform::cpuFeatures().avx2) return fastSpanAvx2(depth, blend, tex0, tex1);
  if (depth) return blend ? pickTextures<true, true>(tex0, tex1) : pickTextures<true, false>(tex0, tex1);
  return blend ? pickTextures<false, true>(tex0, tex1) : pickTextures<false, false>(tex0, tex1);
}

}  // namespace nerro::raster
