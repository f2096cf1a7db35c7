// The shortcuts for D3DFMT_A8R8G8B8 and D3DFMT_X8R8G8B8: the masked word
// copy of same-size conversions, and the linear resample that converts only
// the source pixels a destination pixel reads. The resample keeps the
// general path's results bit for bit (see fast_paths.h): the same
// single-precision multiplications and additions in the same order, only
// four (or eight) destination pixels at a time, one channel per vector. No
// multiply-add is fused: the float operations are separate intrinsics and
// no target here enables FMA.
#include "texture/fast_paths.h"

#include <emmintrin.h>
#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace nerro::texture {

using pixel::PixelCodec;

namespace {

std::atomic<bool> gFastPaths{true};

bool isArgb32(D3DFORMAT f) { return f == D3DFMT_A8R8G8B8 || f == D3DFMT_X8R8G8B8; }

inline uint8_t* rowAt(const PixelCodec& c, uint32_t y, uint32_t z) {
  return c.pixels + static_cast<size_t>(z) * c.slicePitch + static_cast<size_t>(y) * c.rowPitch;
}

inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// ---- Linear resample ----------------------------------------------------

// The horizontal taps laid out for vector loads: byte offsets of the two
// source pixels and their weights, padded to a multiple of 8 entries with
// pixel 0 at weight 0 (those lanes are computed and dropped; they read
// pixels 0 and 1, which exist whenever taps come in neighbouring pairs).
struct TapColumns {
  std::unique_ptr<uint32_t[]> first, second;
  std::unique_ptr<float[]> firstWeight, secondWeight;
  // With dense taps, the destination pixels below this multiple of 8 read
  // their sources as whole runs of words.
  uint32_t denseEnd = 0;
};

// How the source words of a vector of destination pixels are read.
enum TapLoad : int {
  kLoadSingle = 0,  // each word on its own
  kLoadPairs = 1,   // second tap right after the first: one 8-byte load
  kLoadDense = 2,   // pairs that also follow each other (a halving): whole runs
};

TapLoad tapLoadOf(const std::vector<LinearTap>& taps) {
  bool pairs = true, dense = true;
  for (size_t x = 0; x < taps.size(); ++x) {
    pairs = pairs && taps[x].second == taps[x].first + 1;
    dense = dense && static_cast<int64_t>(taps[x].first) == int64_t{taps[0].first} + 2 * static_cast<int64_t>(x);
  }
  return pairs ? (dense ? kLoadDense : kLoadPairs) : kLoadSingle;
}

bool makeColumns(const std::vector<LinearTap>& taps, uint32_t padded, TapColumns& out) {
  out.first.reset(new (std::nothrow) uint32_t[padded]);
  out.second.reset(new (std::nothrow) uint32_t[padded]);
  out.firstWeight.reset(new (std::nothrow) float[padded]);
  out.secondWeight.reset(new (std::nothrow) float[padded]);
  if (!out.first || !out.second || !out.firstWeight || !out.secondWeight) return false;
  for (uint32_t x = 0; x < padded; ++x) {
    const LinearTap t = x < taps.size() ? taps[x] : LinearTap{0, 0.0f, 0, 0.0f};
    out.first[x] = 4 * static_cast<uint32_t>(t.first);
    out.second[x] = 4 * static_cast<uint32_t>(t.second);
    out.firstWeight[x] = t.firstWeight;
    out.secondWeight[x] = t.secondWeight;
  }
  return true;
}

bool tapsInside(const std::vector<LinearTap>& taps, uint32_t size) {
  return std::all_of(taps.begin(), taps.end(), [size](const LinearTap& t) {
    return t.first >= 0 && t.second >= 0 && static_cast<uint32_t>(t.first) < size &&
           static_cast<uint32_t>(t.second) < size;
  });
}

struct Channels4 {
  __m128 r, g, b, a;
};

// Fields of four pixel words as the row decoders give them: the 8-bit code
// converted to float times the single-precision 1/255; alpha 1 without an
// alpha field.
template <bool kAlpha>
inline Channels4 decode4(__m128i w) {
  const __m128i m = _mm_set1_epi32(0xFF);
  const __m128 step = _mm_set1_ps(1.0f / 255.0f);
  Channels4 c;
  c.r = _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(w, 16), m)), step);
  c.g = _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(w, 8), m)), step);
  c.b = _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(w, m)), step);
  if constexpr (kAlpha) {
    c.a = _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(w, 24), m)), step);
  } else {
    c.a = _mm_set1_ps(1.0f);
  }
  return c;
}

inline __m128i gather4(const uint8_t* row, const uint32_t* offsets) {
  return _mm_setr_epi32(static_cast<int32_t>(load32(row + offsets[0])), static_cast<int32_t>(load32(row + offsets[1])),
                        static_cast<int32_t>(load32(row + offsets[2])), static_cast<int32_t>(load32(row + offsets[3])));
}

// The words at `offsets` and the ones after them, for taps whose second
// pixel follows the first (every integer downscale): one 8-byte load each.
inline void pairs4(const uint8_t* row, const uint32_t* offsets, __m128i& firsts, __m128i& seconds) {
  const __m128i l0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + offsets[0]));
  const __m128i l1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + offsets[1]));
  const __m128i l2 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + offsets[2]));
  const __m128i l3 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + offsets[3]));
  const __m128 t0 = _mm_castsi128_ps(_mm_unpacklo_epi64(l0, l1));  // f0 s0 f1 s1
  const __m128 t1 = _mm_castsi128_ps(_mm_unpacklo_epi64(l2, l3));  // f2 s2 f3 s3
  firsts = _mm_castps_si128(_mm_shuffle_ps(t0, t1, _MM_SHUFFLE(2, 0, 2, 0)));
  seconds = _mm_castps_si128(_mm_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 1, 3, 1)));
}

// Eight words in a row, first taps in the even ones: the two four-word
// vectors split into firsts and seconds.
inline void dense4(const uint8_t* row, uint32_t offset, __m128i& firsts, __m128i& seconds) {
  const __m128 v0 = _mm_loadu_ps(reinterpret_cast<const float*>(row + offset));
  const __m128 v1 = _mm_loadu_ps(reinterpret_cast<const float*>(row + offset + 16));
  firsts = _mm_castps_si128(_mm_shuffle_ps(v0, v1, _MM_SHUFFLE(2, 0, 2, 0)));
  seconds = _mm_castps_si128(_mm_shuffle_ps(v0, v1, _MM_SHUFFLE(3, 1, 3, 1)));
}

template <int kLoad>
inline void taps4(const uint8_t* row, const TapColumns& cols, uint32_t x, __m128i& firsts, __m128i& seconds) {
  if constexpr (kLoad == kLoadDense) {
    if (x < cols.denseEnd) return dense4(row, cols.first[x], firsts, seconds);
  }
  if constexpr (kLoad != kLoadSingle) {
    pairs4(row, cols.first.get() + x, firsts, seconds);
  } else {
    firsts = gather4(row, cols.first.get() + x);
    seconds = gather4(row, cols.second.get() + x);
  }
}

// w0 * p + w1 * q
inline __m128 lerp4(__m128 w0, __m128 p, __m128 w1, __m128 q) { return _mm_add_ps(_mm_mul_ps(w0, p), _mm_mul_ps(w1, q)); }

template <bool kAlpha, int kLoad>
void linearRowSse2(const uint8_t* ra, const uint8_t* rb, float wy0, float wy1, const TapColumns& cols,
                   uint32_t padded, D3DCOLORVALUE* out) {
  const __m128 vy0 = _mm_set1_ps(wy0), vy1 = _mm_set1_ps(wy1);
  for (uint32_t x = 0; x < padded; x += 4) {
    const __m128 wx0 = _mm_loadu_ps(cols.firstWeight.get() + x);
    const __m128 wx1 = _mm_loadu_ps(cols.secondWeight.get() + x);
    __m128i wa0, wa1, wb0, wb1;
    taps4<kLoad>(ra, cols, x, wa0, wa1);
    taps4<kLoad>(rb, cols, x, wb0, wb1);
    const Channels4 a0 = decode4<kAlpha>(wa0), a1 = decode4<kAlpha>(wa1);
    const Channels4 b0 = decode4<kAlpha>(wb0), b1 = decode4<kAlpha>(wb1);
    __m128 r = _mm_add_ps(_mm_mul_ps(vy0, lerp4(wx0, a0.r, wx1, a1.r)), _mm_mul_ps(vy1, lerp4(wx0, b0.r, wx1, b1.r)));
    __m128 g = _mm_add_ps(_mm_mul_ps(vy0, lerp4(wx0, a0.g, wx1, a1.g)), _mm_mul_ps(vy1, lerp4(wx0, b0.g, wx1, b1.g)));
    __m128 b = _mm_add_ps(_mm_mul_ps(vy0, lerp4(wx0, a0.b, wx1, a1.b)), _mm_mul_ps(vy1, lerp4(wx0, b0.b, wx1, b1.b)));
    __m128 a = _mm_add_ps(_mm_mul_ps(vy0, lerp4(wx0, a0.a, wx1, a1.a)), _mm_mul_ps(vy1, lerp4(wx0, b0.a, wx1, b1.a)));
    _MM_TRANSPOSE4_PS(r, g, b, a);
    float* o = &out[x].r;
    _mm_storeu_ps(o, r);
    _mm_storeu_ps(o + 4, g);
    _mm_storeu_ps(o + 8, b);
    _mm_storeu_ps(o + 12, a);
  }
}

struct Channels8 {
  __m256 r, g, b, a;
};

template <bool kAlpha>
__attribute__((target("avx2"))) inline Channels8 decode8(__m256i w) {
  const __m256i m = _mm256_set1_epi32(0xFF);
  const __m256 step = _mm256_set1_ps(1.0f / 255.0f);
  Channels8 c;
  c.r = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(w, 16), m)), step);
  c.g = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(w, 8), m)), step);
  c.b = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(w, m)), step);
  if constexpr (kAlpha) {
    c.a = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srli_epi32(w, 24)), step);
  } else {
    c.a = _mm256_set1_ps(1.0f);
  }
  return c;
}

// Plain loads put together rather than gather instructions, which are slow
// on many processors.
__attribute__((target("avx2"))) inline void taps8Split(const uint8_t* row, const TapColumns& cols, uint32_t x,
                                                       bool pairs, __m256i& firsts, __m256i& seconds) {
  __m128i f0, s0, f1, s1;
  if (pairs) {
    pairs4(row, cols.first.get() + x, f0, s0);
    pairs4(row, cols.first.get() + x + 4, f1, s1);
  } else {
    f0 = gather4(row, cols.first.get() + x);
    f1 = gather4(row, cols.first.get() + x + 4);
    s0 = gather4(row, cols.second.get() + x);
    s1 = gather4(row, cols.second.get() + x + 4);
  }
  firsts = _mm256_set_m128i(f1, f0);
  seconds = _mm256_set_m128i(s1, s0);
}

// Sixteen words in a row, first taps in the even ones.
__attribute__((target("avx2"))) inline void dense8(const uint8_t* row, uint32_t offset, __m256i& firsts,
                                                   __m256i& seconds) {
  const __m256 v0 = _mm256_loadu_ps(reinterpret_cast<const float*>(row + offset));
  const __m256 v1 = _mm256_loadu_ps(reinterpret_cast<const float*>(row + offset + 32));
  // Per 128-bit lane: f0 f1 f4 f5 | f2 f3 f6 f7, then the middle quarters swapped.
  const __m256 f = _mm256_shuffle_ps(v0, v1, _MM_SHUFFLE(2, 0, 2, 0));
  const __m256 s = _mm256_shuffle_ps(v0, v1, _MM_SHUFFLE(3, 1, 3, 1));
  firsts = _mm256_permute4x64_epi64(_mm256_castps_si256(f), _MM_SHUFFLE(3, 1, 2, 0));
  seconds = _mm256_permute4x64_epi64(_mm256_castps_si256(s), _MM_SHUFFLE(3, 1, 2, 0));
}

template <int kLoad>
__attribute__((target("avx2"))) inline void taps8(const uint8_t* row, const TapColumns& cols, uint32_t x,
                                                  __m256i& firsts, __m256i& seconds) {
  if constexpr (kLoad == kLoadDense) {
    if (x < cols.denseEnd) return dense8(row, cols.first[x], firsts, seconds);
  }
  taps8Split(row, cols, x, kLoad != kLoadSingle, firsts, seconds);
}

__attribute__((target("avx2"))) inline __m256 lerp8(__m256 w0, __m256 p, __m256 w1, __m256 q) {
  return _mm256_add_ps(_mm256_mul_ps(w0, p), _mm256_mul_ps(w1, q));
}

template <bool kAlpha, int kLoad>
__attribute__((target("avx2"))) void linearRowAvx2(const uint8_t* ra, const uint8_t* rb, float wy0, float wy1,
                                                   const TapColumns& cols, uint32_t padded, D3DCOLORVALUE* out) {
  const __m256 vy0 = _mm256_set1_ps(wy0), vy1 = _mm256_set1_ps(wy1);
  for (uint32_t x = 0; x < padded; x += 8) {
    const __m256 wx0 = _mm256_loadu_ps(cols.firstWeight.get() + x);
    const __m256 wx1 = _mm256_loadu_ps(cols.secondWeight.get() + x);
    __m256i wa0, wa1, wb0, wb1;
    taps8<kLoad>(ra, cols, x, wa0, wa1);
    taps8<kLoad>(rb, cols, x, wb0, wb1);
    const Channels8 a0 = decode8<kAlpha>(wa0), a1 = decode8<kAlpha>(wa1);
    const Channels8 b0 = decode8<kAlpha>(wb0), b1 = decode8<kAlpha>(wb1);
    const __m256 r =
        _mm256_add_ps(_mm256_mul_ps(vy0, lerp8(wx0, a0.r, wx1, a1.r)), _mm256_mul_ps(vy1, lerp8(wx0, b0.r, wx1, b1.r)));
    const __m256 g =
        _mm256_add_ps(_mm256_mul_ps(vy0, lerp8(wx0, a0.g, wx1, a1.g)), _mm256_mul_ps(vy1, lerp8(wx0, b0.g, wx1, b1.g)));
    const __m256 b =
        _mm256_add_ps(_mm256_mul_ps(vy0, lerp8(wx0, a0.b, wx1, a1.b)), _mm256_mul_ps(vy1, lerp8(wx0, b0.b, wx1, b1.b)));
    const __m256 a =
        _mm256_add_ps(_mm256_mul_ps(vy0, lerp8(wx0, a0.a, wx1, a1.a)), _mm256_mul_ps(vy1, lerp8(wx0, b0.a, wx1, b1.a)));
    // Interleave the channels back into r, g, b, a colours: pixels
    // 0-3 from the low halves, 4-7 from the high ones.
    const __m256 rg0 = _mm256_unpacklo_ps(r, g), rg1 = _mm256_unpackhi_ps(r, g);
    const __m256 ba0 = _mm256_unpacklo_ps(b, a), ba1 = _mm256_unpackhi_ps(b, a);
    const __m256 p0 = _mm256_castpd_ps(_mm256_unpacklo_pd(_mm256_castps_pd(rg0), _mm256_castps_pd(ba0)));
    const __m256 p1 = _mm256_castpd_ps(_mm256_unpackhi_pd(_mm256_castps_pd(rg0), _mm256_castps_pd(ba0)));
    const __m256 p2 = _mm256_castpd_ps(_mm256_unpacklo_pd(_mm256_castps_pd(rg1), _mm256_castps_pd(ba1)));
    const __m256 p3 = _mm256_castpd_ps(_mm256_unpackhi_pd(_mm256_castps_pd(rg1), _mm256_castps_pd(ba1)));
    float* o = &out[x].r;
    _mm256_storeu_ps(o, _mm256_permute2f128_ps(p0, p1, 0x20));
    _mm256_storeu_ps(o + 8, _mm256_permute2f128_ps(p2, p3, 0x20));
    _mm256_storeu_ps(o + 16, _mm256_permute2f128_ps(p0, p1, 0x31));
    _mm256_storeu_ps(o + 24, _mm256_permute2f128_ps(p2, p3, 0x31));
  }
}

using LinearRow = void (*)(const uint8_t*, const uint8_t*, float, float, const TapColumns&, uint32_t, D3DCOLORVALUE*);

}  // namespace

void maskWords(const uint8_t* source, uint8_t* dest, uint32_t count, uint32_t keep, uint32_t set) {
  const __m128i k = _mm_set1_epi32(static_cast<int32_t>(keep));
  const __m128i o = _mm_set1_epi32(static_cast<int32_t>(set));
  uint32_t x = 0;
  for (; x + 4 <= count; x += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 4 * size_t{x}));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 4 * size_t{x}), _mm_or_si128(_mm_and_si128(v, k), o));
  }
  for (; x < count; ++x) {
    const uint32_t v = (load32(source + 4 * size_t{x}) & keep) | set;
    std::memcpy(dest + 4 * size_t{x}, &v, 4);
  }
}

void setFastPathsEnabled(bool enabled) { gFastPaths.store(enabled, std::memory_order_relaxed); }
bool fastPathsEnabled() { return gFastPaths.load(std::memory_order_relaxed); }

bool linearFromArgbAccepts(const PixelCodec& source) {
  return fastPathsEnabled() && isArgb32(source.format) && source.addressable && source.colorKey == 0 &&
         !source.gamma && source.depth == 1;
}

HRESULT linearFromArgb(PixelCodec& source, PixelCodec& dest, const std::vector<LinearTap>& tapsX,
                       const std::vector<LinearTap>& tapsY) {
  if (!linearFromArgbAccepts(source) || tapsX.size() != dest.width || tapsY.size() != dest.height ||
      !tapsInside(tapsX, source.width) || !tapsInside(tapsY, source.height))
    return E_FAIL;
  const uint32_t padded = (dest.width + 7) & ~7u;
  TapColumns cols;
  std::unique_ptr<D3DCOLORVALUE[]> row(new (std::nothrow) D3DCOLORVALUE[padded]);
  if (!row || !makeColumns(tapsX, padded, cols)) return E_OUTOFMEMORY;
  const bool alpha = source.format == D3DFMT_A8R8G8B8;
  const bool avx2 = platform::cpuFeatures().avx2;
  const TapLoad load = tapLoadOf(tapsX);
  if (load == kLoadDense) cols.denseEnd = dest.width & ~7u;
  static constexpr LinearRow kRows[2][2][3] = {
      {{linearRowSse2<false, kLoadSingle>, linearRowSse2<false, kLoadPairs>, linearRowSse2<false, kLoadDense>},
       {linearRowSse2<true, kLoadSingle>, linearRowSse2<true, kLoadPairs>, linearRowSse2<true, kLoadDense>}},
      {{linearRowAvx2<false, kLoadSingle>, linearRowAvx2<false, kLoadPairs>, linearRowAvx2<false, kLoadDense>},
       {linearRowAvx2<true, kLoadSingle>, linearRowAvx2<true, kLoadPairs>, linearRowAvx2<true, kLoadDense>}},
  };
  const LinearRow run = kRows[avx2][alpha][load];
  for (uint32_t y = 0; y < dest.height; ++y) {
    const LinearTap& ty = tapsY[y];
    run(rowAt(source, static_cast<uint32_t>(ty.first), 0), rowAt(source, static_cast<uint32_t>(ty.second), 0),
        ty.firstWeight, ty.secondWeight, cols, padded, row.get());
    dest.EncodeRow(y, 0, row.get());
  }
  return S_OK;
}

}  // namespace nerro::texture
