// Internal: the layouts of the formats whose pixels are independent words of
// bit fields, and the general per-pixel decode and encode rules built from
// them at compile time. The row kernels and the plain codecs share these.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <type_traits>
#include <utility>

#include "d3d9/d3d9types.h"
#include "pixel/pixel_codec.h"

namespace nerro::pixel::detail {

enum Channel : uint8_t { kR = 0, kG = 1, kB = 2, kA = 3 };

inline float& Ch(D3DCOLORVALUE& c, unsigned i) {
  return i == kR ? c.r : i == kG ? c.g : i == kB ? c.b : c.a;
}
inline float Ch(const D3DCOLORVALUE& c, unsigned i) {
  return i == kR ? c.r : i == kG ? c.g : i == kB ? c.b : c.a;
}

// One bit field of a pixel word: the colour channel it decodes into and
// encodes from, its position, width and signedness.
struct Field {
  uint8_t channel;
  uint8_t shift;
  uint8_t bits;
  bool isSigned;

  // Encoding scale: 2^b - 1, or 2^(b-1) - 1 for signed fields.
  constexpr uint32_t MaxCode() const {
    return isSigned ? (1u << (bits - 1)) - 1u : static_cast<uint32_t>((uint64_t{1} << bits) - 1u);
  }
  constexpr float Scale() const { return static_cast<float>(MaxCode()); }
  // The single-precision reciprocal of the scale (decode factor).
  constexpr float Step() const { return 1.0f / static_cast<float>(MaxCode()); }
  constexpr float Lowest() const { return isSigned ? -Scale() : 0.0f; }
  constexpr uint64_t Mask() const { return (uint64_t{1} << bits) - 1u; }
};

enum class Special { kNone, kLuminance, kCxV8U8 };

// Bytes per pixel, value range, special rule, whether channels without a
// field decode as 0 (A8's colour) rather than 1, and the fields.
template <uint32_t Bytes, NumericRange Range, Special Sp, bool ZeroColor, Field... Fs>
struct Layout {
  static constexpr uint32_t kBytes = Bytes;
  static constexpr NumericRange kRange = Range;
  static constexpr Special kSpecial = Sp;
  static constexpr D3DCOLORVALUE kDefault = ZeroColor ? D3DCOLORVALUE{0, 0, 0, 1}
                                                      : D3DCOLORVALUE{1, 1, 1, 1};
  static constexpr Field kFields[] = {Fs...};
  static constexpr size_t kFieldCount = sizeof...(Fs);
  using Word = std::conditional_t<(Bytes > 4), uint64_t, uint32_t>;
};

constexpr Field U(Channel c, uint8_t shift, uint8_t bits) { return {c, shift, bits, false}; }
constexpr Field S(Channel c, uint8_t shift, uint8_t bits) { return {c, shift, bits, true}; }

namespace fmt {
using R8G8B8 = Layout<3, RangeUnsigned, Special::kNone, false, U(kB, 0, 8), U(kG, 8, 8), U(kR, 16, 8)>;
using A8R8G8B8 = Layout<4, RangeUnsigned, Special::kNone, false, U(kB, 0, 8), U(kG, 8, 8), U(kR, 16, 8), U(kA, 24, 8)>;
using X8R8G8B8 = Layout<4, RangeUnsigned, Special::kNone, false, U(kB, 0, 8), U(kG, 8, 8), U(kR, 16, 8)>;
using R5G6B5 = Layout<2, RangeUnsigned, Special::kNone, false, U(kB, 0, 5), U(kG, 5, 6), U(kR, 11, 5)>;
using X1R5G5B5 = Layout<2, RangeUnsigned, Special::kNone, false, U(kB, 0, 5), U(kG, 5, 5), U(kR, 10, 5)>;
using A1R5G5B5 = Layout<2, RangeUnsigned, Special::kNone, false, U(kB, 0, 5), U(kG, 5, 5), U(kR, 10, 5), U(kA, 15, 1)>;
using A4R4G4B4 = Layout<2, RangeUnsigned, Special::kNone, false, U(kB, 0, 4), U(kG, 4, 4), U(kR, 8, 4), U(kA, 12, 4)>;
using R3G3B2 = Layout<1, RangeUnsigned, Special::kNone, false, U(kB, 0, 2), U(kG, 2, 3), U(kR, 5, 3)>;
using A8 = Layout<1, RangeUnsigned, Special::kNone, true, U(kA, 0, 8)>;
using A8R3G3B2 = Layout<2, RangeUnsigned, Special::kNone, false, U(kB, 0, 2), U(kG, 2, 3), U(kR, 5, 3), U(kA, 8, 8)>;
using X4R4G4B4 = Layout<2, RangeUnsigned, Special::kNone, false, U(kB, 0, 4), U(kG, 4, 4), U(kR, 8, 4)>;
using A2B10G10R10 = Layout<4, RangeUnsigned, Special::kNone, false, U(kR, 0, 10), U(kG, 10, 10), U(kB, 20, 10), U(kA, 30, 2)>;
using A8B8G8R8 = Layout<4, RangeUnsigned, Special::kNone, false, U(kR, 0, 8), U(kG, 8, 8), U(kB, 16, 8), U(kA, 24, 8)>;
using X8B8G8R8 = Layout<4, RangeUnsigned, Special::kNone, false, U(kR, 0, 8), U(kG, 8, 8), U(kB, 16, 8)>;
using G16R16 = Layout<4, RangeUnsigned, Special::kNone, false, U(kR, 0, 16), U(kG, 16, 16)>;
using A2R10G10B10 = Layout<4, RangeUnsigned, Special::kNone, false, U(kB, 0, 10), U(kG, 10, 10), U(kR, 20, 10), U(kA, 30, 2)>;
using A16B16G16R16 = Layout<8, RangeUnsigned, Special::kNone, false, U(kR, 0, 16), U(kG, 16, 16), U(kB, 32, 16), U(kA, 48, 16)>;
using L8 = Layout<1, RangeUnsigned, Special::kLuminance, false, U(kR, 0, 8)>;
using A8L8 = Layout<2, RangeUnsigned, Special::kLuminance, false, U(kR, 0, 8), U(kA, 8, 8)>;
using A4L4 = Layout<1, RangeUnsigned, Special::kLuminance, false, U(kR, 0, 4), U(kA, 4, 4)>;
using L16 = Layout<2, RangeUnsigned, Special::kLuminance, false, U(kR, 0, 16)>;
using AL16 = Layout<4, RangeUnsigned, Special::kLuminance, false, U(kR, 0, 16), U(kA, 16, 16)>;
using R16 = Layout<6, RangeUnsigned, Special::kNone, false, U(kB, 0, 16), U(kG, 16, 16), U(kR, 32, 16)>;
using V8U8 = Layout<2, RangeSignedColor, Special::kNone, false, S(kR, 0, 8), S(kG, 8, 8)>;
using L6V5U5 = Layout<2, RangeSignedColor, Special::kNone, false, S(kR, 0, 5), S(kG, 5, 5), U(kA, 10, 6)>;
using X8L8V8U8 = Layout<4, RangeSignedColor, Special::kNone, false, S(kR, 0, 8), S(kG, 8, 8), U(kA, 16, 8)>;
using Q8W8V8U8 = Layout<4, RangeSigned, Special::kNone, false, S(kR, 0, 8), S(kG, 8, 8), S(kB, 16, 8), S(kA, 24, 8)>;
using V16U16 = Layout<4, RangeSignedColor, Special::kNone, false, S(kR, 0, 16), S(kG, 16, 16)>;
using A2W10V10U10 = Layout<4, RangeSignedColor, Special::kNone, false, S(kR, 0, 10), S(kG, 10, 10), S(kB, 20, 10), U(kA, 30, 2)>;
using Q16W16V16U16 = Layout<8, RangeSigned, Special::kNone, false, S(kR, 0, 16), S(kG, 16, 16), S(kB, 32, 16), S(kA, 48, 16)>;
using CxV8U8 = Layout<2, RangeSignedColor, Special::kCxV8U8, false, S(kR, 0, 8), S(kG, 8, 8)>;
}  // namespace fmt

template <class F>
inline typename F::Word LoadWord(const uint8_t* p) {
  typename F::Word w = 0;
  std::memcpy(&w, p, F::kBytes);  // little-endian host
  return w;
}

template <class F>
inline void StoreWord(uint8_t* p, typename F::Word w) {
  std::memcpy(p, &w, F::kBytes);
}

template <Field f, class Word>
inline float DecodeField(Word word) {
  const uint32_t raw = static_cast<uint32_t>((word >> f.shift) & f.Mask());
  if constexpr (f.isSigned) {
    int32_t n = static_cast<int32_t>(raw << (32 - f.bits)) >> (32 - f.bits);
    // The most negative code reads as the negated largest one.
    if (n == -static_cast<int32_t>(f.MaxCode()) - 1) n = -static_cast<int32_t>(f.MaxCode());
    return static_cast<float>(n) * f.Step();
  } else {
    return static_cast<float>(raw) * f.Step();
  }
}

// The general decode rule of one pixel.
template <class F>
inline D3DCOLORVALUE DecodePixel(const uint8_t* p) {
  const typename F::Word word = LoadWord<F>(p);
  D3DCOLORVALUE c = F::kDefault;
  [&]<size_t... I>(std::index_sequence<I...>) {
    ((Ch(c, F::kFields[I].channel) = DecodeField<F::kFields[I]>(word)), ...);
  }(std::make_index_sequence<F::kFieldCount>{});
  if constexpr (F::kSpecial == Special::kLuminance) {
    c.g = c.r;
    c.b = c.r;
  } else if constexpr (F::kSpecial == Special::kCxV8U8) {
    const float t = 1.0f - c.r * c.r - c.g * c.g;
    c.b = t > 0.0f ? std::sqrt(t) : 0.0f;
  }
  return c;
}

// Truncates toward zero and clamps to [lo, hi]; NaN gives lo.
inline int32_t TruncClamp(float q, float lo, float hi) {
  q = q > hi ? hi : q;
  q = q >= lo ? q : lo;
  return static_cast<int32_t>(q);
}

// The integer step of a scaled, dithered value: truncation toward zero for
// unsigned fields, and rounding down for signed fields so that negative
// values round like positive ones (-1.0 plus 0.5 of dither gives -127, not
// -126, and no value lands more than one step from its code).
template <Field f>
inline float StepOf(float t) {
  // Inline forms of trunc and floor: below 2^23 in magnitude through an
  // integer conversion, above it (and for NaN) the value itself.
  if (!(std::fabs(t) < 8388608.0f)) return t;
  const float q = static_cast<float>(static_cast<int32_t>(t));
  if constexpr (f.isSigned) {
    return q > t ? q - 1.0f : q;
  } else {
    return q;
  }
}

// Quantises one field of a pixel without error diffusion: d is the dither
// value (0.5 for plain rounding).
template <Field f, class Word>
inline Word QuantizeField(float value, float d) {
  const float v = value * f.Scale();
  const float t = v + d;
  const int32_t q = TruncClamp(StepOf<f>(t), f.Lowest(), f.Scale());
  return (static_cast<Word>(static_cast<uint32_t>(q)) & static_cast<Word>(f.Mask())) << f.shift;
}

// The general encode rule of one pixel without diffusion.
template <class F>
inline void EncodePixel(uint8_t* p, const D3DCOLORVALUE& c, float d) {
  using Word = typename F::Word;
  Word word = 0;
  [&]<size_t... I>(std::index_sequence<I...>) {
    ((word |= QuantizeField<F::kFields[I], Word>(Ch(c, F::kFields[I].channel), d)), ...);
  }(std::make_index_sequence<F::kFieldCount>{});
  StoreWord<F>(p, word);
}

// The general rule over a row (decode), and over a row encoded without
// error diffusion. The specialised kernels must match these exactly.
template <class F>
void GenericDecodeRow(const uint8_t* src, D3DCOLORVALUE* out, uint32_t count) {
  for (uint32_t x = 0; x < count; ++x) out[x] = DecodePixel<F>(src + size_t{x} * F::kBytes);
}

// dither[x mod 4] is added to the scaled value of pixel x (0.5 everywhere
// for plain rounding).
template <class F>
void GenericEncodeRow(const D3DCOLORVALUE* in, uint8_t* dst, uint32_t count,
                      const float* dither) {
  for (uint32_t x = 0; x < count; ++x) {
    EncodePixel<F>(dst + size_t{x} * F::kBytes, in[x], dither[x & 3]);
  }
}

inline constexpr float kErrorBehind = 3.0f / 16.0f;
inline constexpr float kErrorBelow = 5.0f / 16.0f;
inline constexpr float kErrorBeyond = 1.0f / 16.0f;
inline constexpr float kErrorAhead = 7.0f / 16.0f;

// Quantises one field with dither value d, diffusing its error when errors
// is not null. e is the error carried along the row for this channel.
template <Field f>
inline uint32_t QuantizeDiffused(float value, float d, float& e, D3DCOLORVALUE* errors,
                                 int32_t x, int32_t dir) {
  const float v = (value + e) * f.Scale();
  const float q = StepOf<f>(v + d);
  if (errors) {
    const float err = (v - q) * f.Step();
    Ch(errors[x - dir + 1], f.channel) += kErrorBehind * err;
    Ch(errors[x + 1], f.channel) += kErrorBelow * err;
    Ch(errors[x + dir + 1], f.channel) += kErrorBeyond * err;
    e = kErrorAhead * err;
  }
  return static_cast<uint32_t>(TruncClamp(q, f.Lowest(), f.Scale()));
}

// The general encode loop: serpentine order (even rows left to right, odd
// rows right to left), dither column (z + k) mod 4 for the k-th pixel
// visited, Floyd-Steinberg diffusion when errors is not null.
template <class F>
void EncodeSerpentine(const D3DCOLORVALUE* w, uint8_t* row, uint32_t width, uint32_t y,
                      uint32_t z, const DitherTable& dither, D3DCOLORVALUE* errors) {
  using Word = typename F::Word;
  const int32_t dir = (y & 1) ? -1 : 1;
  int32_t x = dir > 0 ? 0 : static_cast<int32_t>(width) - 1;
  const float* dRow = dither[y & 3];
  float e[F::kFieldCount] = {};
  for (uint32_t k = 0; k < width; ++k, x += dir) {
    const float d = dRow[(z + k) & 3];
    Word word = 0;
    [&]<size_t... I>(std::index_sequence<I...>) {
      ((word |= (static_cast<Word>(QuantizeDiffused<F::kFields[I]>(
                     Ch(w[x], F::kFields[I].channel), d, e[I], errors, x, dir)) &
                 static_cast<Word>(F::kFields[I].Mask()))
                << F::kFields[I].shift),
       ...);
    }(std::make_index_sequence<F::kFieldCount>{});
    StoreWord<F>(row + size_t(x) * F::kBytes, word);
  }
}

// The same loop with the four channels of a pixel in one SSE2 vector; the
// codecs use this one, and it must match the loop above bit for bit. Lanes
// of channels without a field get scale 0 and never carry errors.
template <class F>
void EncodeSerpentineSse2(const D3DCOLORVALUE* w, uint8_t* row, uint32_t width, uint32_t y,
                          uint32_t z, const DitherTable& dither, D3DCOLORVALUE* errors) {
  using Word = typename F::Word;
  alignas(16) float scale[4] = {}, step[4] = {}, lo[4] = {}, hi[4] = {};
  alignas(16) uint32_t stored[4] = {}, isSigned[4] = {};
  for (const Field& f : F::kFields) {
    scale[f.channel] = f.Scale();
    step[f.channel] = f.Step();
    lo[f.channel] = f.Lowest();
    hi[f.channel] = f.Scale();
    stored[f.channel] = ~0u;
    isSigned[f.channel] = f.isSigned ? ~0u : 0u;
  }
  const __m128 vScale = _mm_load_ps(scale), vStep = _mm_load_ps(step);
  const __m128 vLo = _mm_load_ps(lo), vHi = _mm_load_ps(hi);
  const __m128 vStored = _mm_castsi128_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(stored)));
  const __m128 vSigned =
      _mm_castsi128_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(isSigned)));
  const __m128 vAbsMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
  const __m128 vExact = _mm_set1_ps(8388608.0f);
  const __m128 vOne = _mm_set1_ps(1.0f);
  const __m128 vBehind = _mm_set1_ps(kErrorBehind), vBelow = _mm_set1_ps(kErrorBelow);
  const __m128 vBeyond = _mm_set1_ps(kErrorBeyond), vAhead = _mm_set1_ps(kErrorAhead);

  const int32_t dir = (y & 1) ? -1 : 1;
  int32_t x = dir > 0 ? 0 : static_cast<int32_t>(width) - 1;
  const float* dRow = dither[y & 3];
  __m128 e = _mm_setzero_ps();
  alignas(16) int32_t q[4];
  for (uint32_t k = 0; k < width; ++k, x += dir) {
    const __m128 d = _mm_set1_ps(dRow[(z + k) & 3]);
    const __m128 v = _mm_mul_ps(_mm_add_ps(_mm_loadu_ps(&w[x].r), e), vScale);
    const __m128 t = _mm_add_ps(v, d);
    // Truncation (unsigned lanes) or floor (signed lanes) below 2^23; the
    // value itself above it and for NaN.
    __m128 qf = _mm_cvtepi32_ps(_mm_cvttps_epi32(t));
    qf = _mm_sub_ps(qf, _mm_and_ps(_mm_and_ps(_mm_cmpgt_ps(qf, t), vSigned), vOne));
    const __m128 small = _mm_cmplt_ps(_mm_and_ps(t, vAbsMask), vExact);
    const __m128 qv = _mm_or_ps(_mm_and_ps(small, qf), _mm_andnot_ps(small, t));
    if (errors) {
      const __m128 err = _mm_and_ps(_mm_mul_ps(_mm_sub_ps(v, qv), vStep), vStored);
      float* behind = &errors[x - dir + 1].r;
      float* below = &errors[x + 1].r;
      float* beyond = &errors[x + dir + 1].r;
      _mm_storeu_ps(behind, _mm_add_ps(_mm_loadu_ps(behind), _mm_mul_ps(vBehind, err)));
      _mm_storeu_ps(below, _mm_add_ps(_mm_loadu_ps(below), _mm_mul_ps(vBelow, err)));
      _mm_storeu_ps(beyond, _mm_add_ps(_mm_loadu_ps(beyond), _mm_mul_ps(vBeyond, err)));
      e = _mm_mul_ps(vAhead, err);
    }
    // Clamp: the lower bound first, so NaN lands on it as in TruncClamp.
    _mm_store_si128(reinterpret_cast<__m128i*>(q),
                    _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(qv, vLo), vHi)));
    Word word = 0;
    for (const Field& f : F::kFields) {
      word |= (static_cast<Word>(static_cast<uint32_t>(q[f.channel])) & static_cast<Word>(f.Mask()))
              << f.shift;
    }
    StoreWord<F>(row + size_t(x) * F::kBytes, word);
  }
}

}  // namespace nerro::pixel::detail
