// SSE2 row loops for the formats of up to 32 bits a pixel. Four pixels are
// handled at a time as one vector per channel: decoding shifts, masks and
// converts each field exactly as the general rule does (the same integer
// times the same single-precision step), encoding scales, adds the dither
// value and clamps before converting to an integer, which gives the same integer as
// converting first and clamping after (the bounds are integers; NaN goes to
// the lower bound both ways). The last count % 4 pixels use the general rule.
// With AVX2 (checked at run time) the same steps run on eight pixels at a
// time.
#include "pixel/row_kernels.h"

#include <emmintrin.h>
#include <immintrin.h>

#include "pixel/plain_formats.h"
#include "platform/platform.h"

#define NERRO_AVX2 __attribute__((target("avx2")))

namespace nerro::pixel::detail {

namespace {

// Loads four pixel words of F as 32-bit lanes.
template <class F>
inline __m128i LoadWords(const uint8_t* src) {
  if constexpr (F::kBytes == 4) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
  } else if constexpr (F::kBytes == 2) {
    const __m128i w = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src));
    return _mm_unpacklo_epi16(w, _mm_setzero_si128());
  } else {
    int32_t v;
    std::memcpy(&v, src, 4);
    const __m128i b = _mm_cvtsi32_si128(v);
    return _mm_unpacklo_epi16(_mm_unpacklo_epi8(b, _mm_setzero_si128()), _mm_setzero_si128());
  }
}

// Stores four 32-bit lanes as pixel words of F (each lane holds a word).
template <class F>
inline void StoreWords(uint8_t* dst, __m128i words) {
  if constexpr (F::kBytes == 4) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), words);
  } else if constexpr (F::kBytes == 2) {
    // Sign-extend the low halves so the saturating pack keeps them as they are.
    const __m128i s = _mm_srai_epi32(_mm_slli_epi32(words, 16), 16);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packs_epi32(s, s));
  } else {
    const __m128i h = _mm_packs_epi32(words, words);
    const int32_t v = _mm_cvtsi128_si32(_mm_packus_epi16(h, h));
    std::memcpy(dst, &v, 4);
  }
}

template <Field f>
inline __m128 DecodeFieldVec(__m128i words) {
  __m128i n;
  if constexpr (f.isSigned) {
    n = _mm_srai_epi32(_mm_slli_epi32(words, 32 - f.shift - f.bits), 32 - f.bits);
    n = _mm_max_epi16(n, _mm_set1_epi32(-static_cast<int32_t>(f.MaxCode())));
    if constexpr (f.bits > 16) static_assert(f.bits <= 16, "16-bit signed lanes only");
  } else {
    n = _mm_and_si128(_mm_srli_epi32(words, f.shift),
                      _mm_set1_epi32(static_cast<int32_t>(f.Mask())));
  }
  return _mm_mul_ps(_mm_cvtepi32_ps(n), _mm_set1_ps(f.Step()));
}

template <Field f>
inline __m128i EncodeFieldVec(__m128 value, __m128 dither) {
  const __m128 t = _mm_add_ps(_mm_mul_ps(value, _mm_set1_ps(f.Scale())), dither);
  const __m128 c = _mm_min_ps(_mm_max_ps(t, _mm_set1_ps(f.Lowest())), _mm_set1_ps(f.Scale()));
  __m128i q = _mm_cvttps_epi32(c);
  if constexpr (f.isSigned) {
    // Round down: step back by one where truncation went up (negative
    // non-integers), then keep the field's bits of the two's complement.
    q = _mm_add_epi32(q, _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(q), c)));
    q = _mm_and_si128(q, _mm_set1_epi32(static_cast<int32_t>(f.Mask())));
  }
  return _mm_slli_epi32(q, f.shift);
}

inline __m128& Lane(__m128 (&v)[4], unsigned channel) { return v[channel]; }

template <class F>
void DecodeRowSse2(const uint8_t* src, D3DCOLORVALUE* out, uint32_t count) {
  uint32_t x = 0;
  for (; x + 4 <= count; x += 4) {
    const __m128i words = LoadWords<F>(src + size_t{x} * F::kBytes);
    __m128 c[4] = {_mm_set1_ps(F::kDefault.r), _mm_set1_ps(F::kDefault.g),
                   _mm_set1_ps(F::kDefault.b), _mm_set1_ps(F::kDefault.a)};
    [&]<size_t... I>(std::index_sequence<I...>) {
      ((Lane(c, F::kFields[I].channel) = DecodeFieldVec<F::kFields[I]>(words)), ...);
    }(std::make_index_sequence<F::kFieldCount>{});
    if constexpr (F::kSpecial == Special::kLuminance) c[kG] = c[kB] = c[kR];
    _MM_TRANSPOSE4_PS(c[0], c[1], c[2], c[3]);
    float* o = &out[x].r;
    _mm_storeu_ps(o, c[0]);
    _mm_storeu_ps(o + 4, c[1]);
    _mm_storeu_ps(o + 8, c[2]);
    _mm_storeu_ps(o + 12, c[3]);
  }
  GenericDecodeRow<F>(src + size_t{x} * F::kBytes, out + x, count - x);
}

template <class F>
void EncodeRowSse2(const D3DCOLORVALUE* in, uint8_t* dst, uint32_t count, const float* dither) {
  const __m128 d = _mm_loadu_ps(dither);  // lane j is pixel x + j, x a multiple of 4
  uint32_t x = 0;
  for (; x + 4 <= count; x += 4) {
    const float* p = &in[x].r;
    __m128 c[4] = {_mm_loadu_ps(p), _mm_loadu_ps(p + 4), _mm_loadu_ps(p + 8),
                   _mm_loadu_ps(p + 12)};
    _MM_TRANSPOSE4_PS(c[0], c[1], c[2], c[3]);
    __m128i words = _mm_setzero_si128();
    [&]<size_t... I>(std::index_sequence<I...>) {
      ((words = _mm_or_si128(words, EncodeFieldVec<F::kFields[I]>(c[F::kFields[I].channel], d))),
       ...);
    }(std::make_index_sequence<F::kFieldCount>{});
    StoreWords<F>(dst + size_t{x} * F::kBytes, words);
  }
  // x is a multiple of 4, so the tail starts at dither column 0.
  GenericEncodeRow<F>(in + x, dst + size_t{x} * F::kBytes, count - x, dither);
}

// ---- AVX2: eight pixels at a time ------------------------------------

template <class F>
NERRO_AVX2 inline __m256i LoadWords8(const uint8_t* src) {
  if constexpr (F::kBytes == 4) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
  } else if constexpr (F::kBytes == 2) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
  } else {
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src)));
  }
}

template <class F>
NERRO_AVX2 inline void StoreWords8(uint8_t* dst, __m256i words) {
  if constexpr (F::kBytes == 4) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), words);
  } else {
    StoreWords<F>(dst, _mm256_castsi256_si128(words));
    StoreWords<F>(dst + 4 * F::kBytes, _mm256_extracti128_si256(words, 1));
  }
}

template <Field f>
NERRO_AVX2 inline __m256 DecodeField8(__m256i words) {
  __m256i n;
  if constexpr (f.isSigned) {
    n = _mm256_srai_epi32(_mm256_slli_epi32(words, 32 - f.shift - f.bits), 32 - f.bits);
    n = _mm256_max_epi32(n, _mm256_set1_epi32(-static_cast<int32_t>(f.MaxCode())));
  } else {
    n = _mm256_and_si256(_mm256_srli_epi32(words, f.shift),
                         _mm256_set1_epi32(static_cast<int32_t>(f.Mask())));
  }
  return _mm256_mul_ps(_mm256_cvtepi32_ps(n), _mm256_set1_ps(f.Step()));
}

template <Field f>
NERRO_AVX2 inline __m256i EncodeField8(__m256 value, __m256 dither) {
  const __m256 t = _mm256_add_ps(_mm256_mul_ps(value, _mm256_set1_ps(f.Scale())), dither);
  const __m256 c =
      _mm256_min_ps(_mm256_max_ps(t, _mm256_set1_ps(f.Lowest())), _mm256_set1_ps(f.Scale()));
  __m256i q = _mm256_cvttps_epi32(c);
  if constexpr (f.isSigned) {
    q = _mm256_add_epi32(
        q, _mm256_castps_si256(_mm256_cmp_ps(_mm256_cvtepi32_ps(q), c, _CMP_GT_OQ)));
    q = _mm256_and_si256(q, _mm256_set1_epi32(static_cast<int32_t>(f.Mask())));
  }
  return _mm256_slli_epi32(q, f.shift);
}

template <class F, size_t... I>
NERRO_AVX2 inline void DecodeFields8(__m256i words, __m256 (&c)[4], std::index_sequence<I...>) {
  ((c[F::kFields[I].channel] = DecodeField8<F::kFields[I]>(words)), ...);
}

template <class F, size_t... I>
NERRO_AVX2 inline __m256i EncodeFields8(const __m256 (&c)[4], __m256 dither,
                                        std::index_sequence<I...>) {
  __m256i words = _mm256_setzero_si256();
  ((words = _mm256_or_si256(words, EncodeField8<F::kFields[I]>(c[F::kFields[I].channel], dither))),
   ...);
  return words;
}

template <class F>
NERRO_AVX2 void DecodeRowAvx2(const uint8_t* src, D3DCOLORVALUE* out, uint32_t count) {
  uint32_t x = 0;
  for (; x + 8 <= count; x += 8) {
    const __m256i words = LoadWords8<F>(src + size_t{x} * F::kBytes);
    __m256 c[4] = {_mm256_set1_ps(F::kDefault.r), _mm256_set1_ps(F::kDefault.g),
                   _mm256_set1_ps(F::kDefault.b), _mm256_set1_ps(F::kDefault.a)};
    DecodeFields8<F>(words, c, std::make_index_sequence<F::kFieldCount>{});
    if constexpr (F::kSpecial == Special::kLuminance) c[kG] = c[kB] = c[kR];
    // Channel vectors to pixels: a 4 x 4 transpose in each 128-bit half,
    // then the halves put in pixel order.
    const __m256 t0 = _mm256_unpacklo_ps(c[0], c[1]), t1 = _mm256_unpackhi_ps(c[0], c[1]);
    const __m256 t2 = _mm256_unpacklo_ps(c[2], c[3]), t3 = _mm256_unpackhi_ps(c[2], c[3]);
    const __m256 p0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));  // pixels 0 | 4
    const __m256 p1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));  // 1 | 5
    const __m256 p2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));  // 2 | 6
    const __m256 p3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));  // 3 | 7
    float* o = &out[x].r;
    _mm256_storeu_ps(o, _mm256_permute2f128_ps(p0, p1, 0x20));
    _mm256_storeu_ps(o + 8, _mm256_permute2f128_ps(p2, p3, 0x20));
    _mm256_storeu_ps(o + 16, _mm256_permute2f128_ps(p0, p1, 0x31));
    _mm256_storeu_ps(o + 24, _mm256_permute2f128_ps(p2, p3, 0x31));
  }
  GenericDecodeRow<F>(src + size_t{x} * F::kBytes, out + x, count - x);
}

template <class F>
NERRO_AVX2 void EncodeRowAvx2(const D3DCOLORVALUE* in, uint8_t* dst, uint32_t count,
                              const float* dither) {
  const __m128 d4 = _mm_loadu_ps(dither);
  const __m256 d = _mm256_set_m128(d4, d4);  // lane j is pixel x + j, x a multiple of 8
  uint32_t x = 0;
  for (; x + 8 <= count; x += 8) {
    const float* p = &in[x].r;
    const __m256 v0 = _mm256_loadu_ps(p), v1 = _mm256_loadu_ps(p + 8);
    const __m256 v2 = _mm256_loadu_ps(p + 16), v3 = _mm256_loadu_ps(p + 24);
    const __m256 q0 = _mm256_permute2f128_ps(v0, v2, 0x20);  // pixels 0 | 4
    const __m256 q1 = _mm256_permute2f128_ps(v0, v2, 0x31);  // 1 | 5
    const __m256 q2 = _mm256_permute2f128_ps(v1, v3, 0x20);  // 2 | 6
    const __m256 q3 = _mm256_permute2f128_ps(v1, v3, 0x31);  // 3 | 7
    const __m256 t0 = _mm256_unpacklo_ps(q0, q1), t1 = _mm256_unpackhi_ps(q0, q1);
    const __m256 t2 = _mm256_unpacklo_ps(q2, q3), t3 = _mm256_unpackhi_ps(q2, q3);
    const __m256 c[4] = {_mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0)),
                         _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2)),
                         _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0)),
                         _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2))};
    StoreWords8<F>(dst + size_t{x} * F::kBytes,
                   EncodeFields8<F>(c, d, std::make_index_sequence<F::kFieldCount>{}));
  }
  // x is a multiple of 8, so the tail starts at dither column 0.
  EncodeRowSse2<F>(in + x, dst + size_t{x} * F::kBytes, count - x, dither);
}

template <class F>
RowKernels Kernels(KernelTier tier) {
  static const bool hasAvx2 = nerro::platform::cpuFeatures().avx2;
  if (tier == KernelTier::kAvx2 || (tier == KernelTier::kBest && hasAvx2)) {
    if (!hasAvx2) return {};
    return {&DecodeRowAvx2<F>, &EncodeRowAvx2<F>};
  }
  return {&DecodeRowSse2<F>, &EncodeRowSse2<F>};
}

}  // namespace

RowKernels FindRowKernels(D3DFORMAT format, KernelTier tier) {
  switch (static_cast<uint32_t>(format)) {
    case D3DFMT_A8R8G8B8: return Kernels<fmt::A8R8G8B8>(tier);
    case D3DFMT_X8R8G8B8: return Kernels<fmt::X8R8G8B8>(tier);
    case D3DFMT_A8B8G8R8: return Kernels<fmt::A8B8G8R8>(tier);
    case D3DFMT_X8B8G8R8: return Kernels<fmt::X8B8G8R8>(tier);
    case D3DFMT_A2R10G10B10: return Kernels<fmt::A2R10G10B10>(tier);
    case D3DFMT_A2B10G10R10: return Kernels<fmt::A2B10G10R10>(tier);
    case D3DFMT_G16R16: return Kernels<fmt::G16R16>(tier);
    case D3DFMT_R5G6B5: return Kernels<fmt::R5G6B5>(tier);
    case D3DFMT_X1R5G5B5: return Kernels<fmt::X1R5G5B5>(tier);
    case D3DFMT_A1R5G5B5: return Kernels<fmt::A1R5G5B5>(tier);
    case D3DFMT_A4R4G4B4: return Kernels<fmt::A4R4G4B4>(tier);
    case D3DFMT_X4R4G4B4: return Kernels<fmt::X4R4G4B4>(tier);
    case D3DFMT_A8R3G3B2: return Kernels<fmt::A8R3G3B2>(tier);
    case D3DFMT_R3G3B2: return Kernels<fmt::R3G3B2>(tier);
    case D3DFMT_A8: return Kernels<fmt::A8>(tier);
    case D3DFMT_L8: return Kernels<fmt::L8>(tier);
    case D3DFMT_A8L8: return Kernels<fmt::A8L8>(tier);
    case D3DFMT_A4L4: return Kernels<fmt::A4L4>(tier);
    case D3DFMT_L16:
    case D3DFMT_D16_LOCKABLE: return Kernels<fmt::L16>(tier);
    case D3DFMT_INTERNAL_AL16: return Kernels<fmt::AL16>(tier);
    case D3DFMT_V8U8: return Kernels<fmt::V8U8>(tier);
    case D3DFMT_L6V5U5: return Kernels<fmt::L6V5U5>(tier);
    case D3DFMT_X8L8V8U8: return Kernels<fmt::X8L8V8U8>(tier);
    case D3DFMT_Q8W8V8U8: return Kernels<fmt::Q8W8V8U8>(tier);
    case D3DFMT_V16U16: return Kernels<fmt::V16U16>(tier);
    case D3DFMT_A2W10V10U10: return Kernels<fmt::A2W10V10U10>(tier);
    default: return {};
  }
}

}  // namespace nerro::pixel::detail
