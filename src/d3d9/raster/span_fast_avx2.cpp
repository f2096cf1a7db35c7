// The fast span routines eight pixels at a time with AVX2, for processors
// that have it. The same operations as the SSE2 routines, lane for lane, so
// the bytes are the same whichever runs.
#include <immintrin.h>

#include <cstddef>
#include <cstring>

#include "d3d9/raster/span_fast.h"

// Only the code below is built for AVX2: inline functions of the headers
// above keep the baseline instruction set, since the linker may pick this
// file's copy of them for callers on any processor.
#pragma GCC push_options
#pragma GCC target("avx2")

namespace nerro::raster {
namespace {

struct FastTexture8 {
  const StageSampler* sampler;
  const uint32_t* texels;
  __m256i maskU, maskV, pitch;
  __m128i pitchShift;  // log2 of the pitch when it is a power of two
  __m256 width, height;
  bool wrapPow2, pitchPow2;

  explicit FastTexture8(const StageSampler& s) : sampler(&s) {
    if (!s.bound) {
      texels = nullptr;
      maskU = maskV = pitch = _mm256_setzero_si256();
      pitchShift = _mm_setzero_si128();
      width = height = _mm256_setzero_ps();
      wrapPow2 = pitchPow2 = false;
      return;
    }
    const SampleLevel& l = s.level[s.firstLevel];
    texels = l.texels;
    maskU = _mm256_set1_epi32(static_cast<int32_t>(l.maskU));
    maskV = _mm256_set1_epi32(static_cast<int32_t>(l.maskV));
    pitch = _mm256_set1_epi32(l.pitch);
    width = _mm256_set1_ps(l.fwidth);
    height = _mm256_set1_ps(l.fheight);
    wrapPow2 = l.pow2 && s.addressU == D3DTADDRESS_WRAP && s.addressV == D3DTADDRESS_WRAP &&
               static_cast<uint64_t>(l.height) * static_cast<uint64_t>(l.pitch) < (1ull << 31);
    const uint32_t p = static_cast<uint32_t>(l.pitch);
    pitchPow2 = (p & (p - 1)) == 0;
    pitchShift = _mm_cvtsi32_si128(pitchPow2 ? __builtin_ctz(p) : 0);
  }

  inline __m256i fetch(__m256i ix, __m256i iy) const {
    if (wrapPow2) {
      const __m256i row = _mm256_and_si256(iy, maskV);
      const __m256i idx = _mm256_add_epi32(pitchPow2 ? _mm256_sll_epi32(row, pitchShift) : _mm256_mullo_epi32(row, pitch),
                                           _mm256_and_si256(ix, maskU));
      // Eight scalar loads beat the gather instruction on the processors
      // measured; the indices leave through one vector store.
      alignas(32) uint32_t i[8];
      _mm256_store_si256(reinterpret_cast<__m256i*>(i), idx);
      return gather(texels[i[0]], texels[i[1]], texels[i[2]], texels[i[3]], texels[i[4]], texels[i[5]],
                    texels[i[6]], texels[i[7]]);
    }
    const StageSampler& s = *sampler;
    const SampleLevel& l = s.level[s.firstLevel];
    alignas(32) int32_t x[8], y[8];
    uint32_t out[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(x), ix);
    _mm256_store_si256(reinterpret_cast<__m256i*>(y), iy);
    for (int k = 0; k < 8; ++k) {
      const int32_t tx = detail::addressTexel(x[k], l.width, l.maskU, l.pow2, s.addressU);
      const int32_t ty = detail::addressTexel(y[k], l.height, l.maskV, l.pow2, s.addressV);
      out[k] = (tx | ty) < 0 ? s.border
                             : texels[static_cast<size_t>(ty) * static_cast<size_t>(l.pitch) + static_cast<size_t>(tx)];
    }
    return gather(out[0], out[1], out[2], out[3], out[4], out[5], out[6], out[7]);
  }

  // Eight texels into one vector through registers (a vector load of eight
  // separate scalar stores would stall on store forwarding).
  static inline __m128i gather4(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    __m128i v = _mm_cvtsi32_si128(static_cast<int32_t>(a));
    v = _mm_insert_epi32(v, static_cast<int32_t>(b), 1);
    v = _mm_insert_epi32(v, static_cast<int32_t>(c), 2);
    return _mm_insert_epi32(v, static_cast<int32_t>(d), 3);
  }
  static inline __m256i gather(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e, uint32_t f, uint32_t g,
                               uint32_t h) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(gather4(a, b, c, d)), gather4(e, f, g, h), 1);
  }
};

inline __m256i boundedFloor(__m256 t) {
  const __m256 limit = _mm256_set1_ps(16777216.0f);
  t = _mm256_min_ps(_mm256_max_ps(t, _mm256_sub_ps(_mm256_setzero_ps(), limit)), limit);
  const __m256i i = _mm256_cvttps_epi32(t);
  const __m256 above = _mm256_cmp_ps(_mm256_cvtepi32_ps(i), t, _CMP_GT_OQ);
  return _mm256_add_epi32(i, _mm256_castps_si256(above));
}

inline __m256i mul255x16(__m256i a, __m256i b) {
  const __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(a, b), _mm256_set1_epi16(128));
  return _mm256_srli_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), 8);
}

inline __m256i modulate8(__m256i a, __m256i b) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo = mul255x16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero));
  const __m256i hi = mul255x16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero));
  return _mm256_packus_epi16(lo, hi);
}

inline __m256i over16(__m256i s, __m256i d) {
  const __m256i a = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(s, 0xFF), 0xFF);
  const __m256i ia = _mm256_sub_epi16(_mm256_set1_epi16(255), a);
  __m256i x = _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(s, a), _mm256_mullo_epi16(d, ia)),
                               _mm256_set1_epi16(127));
  x = _mm256_add_epi16(_mm256_add_epi16(x, _mm256_set1_epi16(1)), _mm256_srli_epi16(x, 8));
  return _mm256_srli_epi16(x, 8);
}

inline __m256i over8(__m256i s, __m256i d) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo = over16(_mm256_unpacklo_epi8(s, zero), _mm256_unpacklo_epi8(d, zero));
  const __m256i hi = over16(_mm256_unpackhi_epi8(s, zero), _mm256_unpackhi_epi8(d, zero));
  return _mm256_packus_epi16(lo, hi);
}

template <bool kDepth, bool kBlend, bool kTex0, bool kTex1>
void fastSpan8(const DrawContext& dc, const Triangle& t, int32_t y, int32_t xs, int32_t xe) {
  const float fy = static_cast<float>(y - t.minY);
  const __m256 q0 = _mm256_set1_ps(t.q.c + t.q.dy * fy), qdx = _mm256_set1_ps(t.q.dx);
  const __m256 z0 = _mm256_set1_ps(t.z.c + t.z.dy * fy), zdx = _mm256_set1_ps(t.z.dx);
  const __m256 u0 = _mm256_set1_ps(t.attr[kU0].c + t.attr[kU0].dy * fy), u0dx = _mm256_set1_ps(t.attr[kU0].dx);
  const __m256 v0 = _mm256_set1_ps(t.attr[kV0].c + t.attr[kV0].dy * fy), v0dx = _mm256_set1_ps(t.attr[kV0].dx);
  const __m256 u1 = _mm256_set1_ps(t.attr[kU1].c + t.attr[kU1].dy * fy), u1dx = _mm256_set1_ps(t.attr[kU1].dx);
  const __m256 v1 = _mm256_set1_ps(t.attr[kV1].c + t.attr[kV1].dy * fy), v1dx = _mm256_set1_ps(t.attr[kV1].dx);
  const FastTexture8 tex0(dc.sampler[0]), tex1(dc.sampler[1]);
  const __m256 one = _mm256_set1_ps(1.0f), tiny = _mm256_set1_ps(1e-30f);
  const __m256i ones = _mm256_set1_epi32(-1), lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);

  uint32_t* dst = reinterpret_cast<uint32_t*>(dc.color + static_cast<std::ptrdiff_t>(y) * dc.colorPitch);
  uint16_t* zrow = kDepth ? reinterpret_cast<uint16_t*>(dc.depth + static_cast<std::ptrdiff_t>(y) * dc.depthPitch)
                          : nullptr;

  for (int32_t x = xs; x <= xe; x += 8) {
    const int32_t n = xe - x + 1 < 8 ? xe - x + 1 : 8;
    // A short group that still has eight pixels of the row ahead of it reads
    // and writes all eight, putting back the values it read where it draws
    // nothing: plain loads and stores cost far less than masked ones, and a
    // band of rows belongs to one thread, so nothing else can touch those
    // pixels in between. Only at the right edge of the target does the group
    // read and write just its n pixels: colour through masked loads and
    // stores, depth through a small copy.
    const bool whole = n == 8 || x + 8 <= dc.width;
    const __m256i live = n < 8 ? _mm256_cmpgt_epi32(_mm256_set1_epi32(n), lane) : ones;
    uint32_t* c = dst + x;
    alignas(16) uint16_t depthTail[8] = {};
    uint16_t* zp = kDepth ? zrow + x : nullptr;
    if (kDepth && !whole) {
      for (int32_t k = 0; k < n; ++k) depthTail[k] = zp[k];
      zp = depthTail;
    }
    const __m256 fx = _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(x - t.minX), lane));
    __m256i pass = live, d16 = _mm256_setzero_si256(), stored = _mm256_setzero_si256();
    if (kDepth) {
      __m256 z = _mm256_add_ps(z0, _mm256_mul_ps(zdx, fx));
      z = _mm256_min_ps(_mm256_max_ps(z, _mm256_setzero_ps()), one);
      d16 = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(z, _mm256_set1_ps(65535.0f)), _mm256_set1_ps(0.5f)));
      stored = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(zp)));
      pass = _mm256_andnot_si256(_mm256_cmpgt_epi32(d16, stored), live);
      if (_mm256_testz_si256(pass, pass)) continue;
    }
    const __m256 w = _mm256_div_ps(one, _mm256_max_ps(_mm256_add_ps(q0, _mm256_mul_ps(qdx, fx)), tiny));
    __m256i color = ones;
    if (kTex0) {
      const __m256 u = _mm256_mul_ps(_mm256_add_ps(u0, _mm256_mul_ps(u0dx, fx)), w);
      const __m256 v = _mm256_mul_ps(_mm256_add_ps(v0, _mm256_mul_ps(v0dx, fx)), w);
      color = tex0.fetch(boundedFloor(_mm256_mul_ps(u, tex0.width)), boundedFloor(_mm256_mul_ps(v, tex0.height)));
    }
    if (kTex1) {
      const __m256 u = _mm256_mul_ps(_mm256_add_ps(u1, _mm256_mul_ps(u1dx, fx)), w);
      const __m256 v = _mm256_mul_ps(_mm256_add_ps(v1, _mm256_mul_ps(v1dx, fx)), w);
      const __m256i t1 =
          tex1.fetch(boundedFloor(_mm256_mul_ps(u, tex1.width)), boundedFloor(_mm256_mul_ps(v, tex1.height)));
      color = modulate8(color, _mm256_or_si256(t1, _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u))));
    }
    if (whole) {
      const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c));
      if (kBlend) color = over8(color, old);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(c), _mm256_blendv_epi8(old, color, pass));
    } else {
      int* ci = reinterpret_cast<int*>(c);
      if (kBlend) color = over8(color, _mm256_maskload_epi32(ci, live));
      _mm256_maskstore_epi32(ci, pass, color);
    }
    if (kDepth) {
      const __m256i z = _mm256_blendv_epi8(stored, d16, pass);
      const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(z, z), 0x08);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(zp), _mm256_castsi256_si128(packed));
      if (!whole)
        for (int32_t k = 0; k < n; ++k) zrow[x + k] = depthTail[k];
    }
  }
}

template <bool kDepth, bool kBlend>
SpanRoutine pick(bool tex0, bool tex1) {
  if (tex0) return tex1 ? fastSpan8<kDepth, kBlend, true, true> : fastSpan8<kDepth, kBlend, true, false>;
  return tex1 ? fastSpan8<kDepth, kBlend, false, true> : fastSpan8<kDepth, kBlend, false, false>;
}

}  // namespace

SpanRoutine fastSpanAvx2(bool depth, bool blend, bool tex0, bool tex1) {
  if (depth) return blend ? pick<true, true>(tex0, tex1) : pick<true, false>(tex0, tex1);
  return blend ? pick<false, true>(tex0, tex1) : pick<false, false>(tex0, tex1);
}

}  // namespace nerro::raster

#pragma GCC pop_options
