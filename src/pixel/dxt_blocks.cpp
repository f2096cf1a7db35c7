#include "pixel/dxt_blocks.h"

#include <emmintrin.h>

#include <cstring>
#include <utility>

namespace nerro::pixel {
namespace {

constexpr float kOneThird = 1.0f / 3.0f;
constexpr float kTwoThirds = 2.0f / 3.0f;
constexpr float k1Over31 = 1.0f / 31.0f;
constexpr float k1Over63 = 1.0f / 63.0f;
constexpr float k1Over15 = 1.0f / 15.0f;
constexpr float k1Over255 = 1.0f / 255.0f;
constexpr float kSmallestNormal = 1.1754944e-38f;

// Truncation toward zero that stays defined for any float (out-of-range
// values and NaN give INT32_MIN, as the processor's own conversion does).
inline int32_t truncate(float x) { return _mm_cvtt_ss2si(_mm_set_ss(x)); }
// The quantisation rule of every block encoder: x * scale + 0.5, truncated.
// Ramp positions below test "t <= 0" as !(t > 0), which is the same for
// numbers and sends NaN (from NaN input colours) to position 0 instead of
// indexing a table with INT32_MIN.
inline int32_t quantize(float x, float scale) { return truncate(x * scale + 0.5f); }

inline float clamp01(float x) {
  // NaN goes to 0 here: it must never reach a stored bit field.
  return x > 0.0f ? (x < 1.0f ? x : 1.0f) : 0.0f;
}

// ---- 3-channel vectors -------------------------------------------------------
// The colour encoder is written once over a vector type. Both types perform
// the same single-precision operations in the same order (lane-wise SSE
// arithmetic is IEEE single precision like scalar arithmetic; dot products
// add red + green first, then blue), so they give bit-identical results.
// Plain floats: the transcription kept for verification.
struct ScalarV3 {
  float x[3];
  static ScalarV3 set(float r, float g, float b) { return {{r, g, b}}; }
  static ScalarV3 zero() { return {{0.0f, 0.0f, 0.0f}}; }
  float r() const { return x[0]; }
  float g() const { return x[1]; }
  float b() const { return x[2]; }
  friend ScalarV3 operator+(ScalarV3 a, ScalarV3 b) { return {{a.x[0] + b.x[0], a.x[1] + b.x[1], a.x[2] + b.x[2]}}; }
  friend ScalarV3 operator-(ScalarV3 a, ScalarV3 b) { return {{a.x[0] - b.x[0], a.x[1] - b.x[1], a.x[2] - b.x[2]}}; }
  friend ScalarV3 operator*(ScalarV3 a, ScalarV3 b) { return {{a.x[0] * b.x[0], a.x[1] * b.x[1], a.x[2] * b.x[2]}}; }
  friend ScalarV3 operator*(ScalarV3 a, float s) { return {{a.x[0] * s, a.x[1] * s, a.x[2] * s}}; }
  friend ScalarV3 operator/(ScalarV3 a, float s) { return {{a.x[0] / s, a.x[1] / s, a.x[2] / s}}; }
  friend float dot(ScalarV3 a, ScalarV3 b) { return a.x[0] * b.x[0] + a.x[1] * b.x[1] + a.x[2] * b.x[2]; }
  // p < m ? p : m and p > m ? p : m, channel by channel.
  friend ScalarV3 lower(ScalarV3 p, ScalarV3 m) {
    for (int c = 0; c < 3; ++c)
      if (p.x[c] < m.x[c]) m.x[c] = p.x[c];
    return m;
  }
  friend ScalarV3 upper(ScalarV3 p, ScalarV3 m) {
    for (int c = 0; c < 3; ++c)
      if (p.x[c] > m.x[c]) m.x[c] = p.x[c];
    return m;
  }
  friend bool allSquaresBelow(ScalarV3 a, float eps) {
    return a.x[0] * a.x[0] < eps && a.x[1] * a.x[1] < eps && a.x[2] * a.x[2] < eps;
  }
  // Each channel put on the 5:6:5 grid (no clamping).
  friend ScalarV3 snap565(ScalarV3 c) {
    return {{static_cast<float>(quantize(c.x[0], 31.0f)) * k1Over31,
             static_cast<float>(quantize(c.x[1], 63.0f)) * k1Over63,
             static_cast<float>(quantize(c.x[2], 31.0f)) * k1Over31}};
  }
};

// SSE: red, green, blue in lanes 0..2, lane 3 held at 0.
struct SseV3 {
  __m128 v;
  static SseV3 set(float r, float g, float b) { return {_mm_set_ps(0.0f, b, g, r)}; }
  static SseV3 zero() { return {_mm_setzero_ps()}; }
  float r() const { return _mm_cvtss_f32(v); }
  float g() const { return _mm_cvtss_f32(_mm_shuffle_ps(v, v, 1)); }
  float b() const { return _mm_cvtss_f32(_mm_movehl_ps(v, v)); }
  friend SseV3 operator+(SseV3 a, SseV3 b) { return {_mm_add_ps(a.v, b.v)}; }
  friend SseV3 operator-(SseV3 a, SseV3 b) { return {_mm_sub_ps(a.v, b.v)}; }
  friend SseV3 operator*(SseV3 a, SseV3 b) { return {_mm_mul_ps(a.v, b.v)}; }
  friend SseV3 operator*(SseV3 a, float s) { return {_mm_mul_ps(a.v, _mm_set1_ps(s))}; }
  friend SseV3 operator/(SseV3 a, float s) { return {_mm_div_ps(a.v, _mm_set1_ps(s))}; }
  friend float dot(SseV3 a, SseV3 b) {
    const __m128 m = _mm_mul_ps(a.v, b.v);
    const __m128 rg = _mm_add_ss(m, _mm_shuffle_ps(m, m, 1));
    return _mm_cvtss_f32(_mm_add_ss(rg, _mm_movehl_ps(m, m)));
  }
  // MINPS/MAXPS return their second operand unless the first compares
  // smaller (larger), which is exactly "p < m ? p : m" with NaN kept out.
  friend SseV3 lower(SseV3 p, SseV3 m) { return {_mm_min_ps(p.v, m.v)}; }
  friend SseV3 upper(SseV3 p, SseV3 m) { return {_mm_max_ps(p.v, m.v)}; }
  friend bool allSquaresBelow(SseV3 a, float eps) {
    return _mm_movemask_ps(_mm_cmplt_ps(_mm_mul_ps(a.v, a.v), _mm_set1_ps(eps))) == 15;
  }
  friend SseV3 snap565(SseV3 c) {
    const __m128 scale = _mm_set_ps(0.0f, 31.0f, 63.0f, 31.0f);
    const __m128 step = _mm_set_ps(0.0f, k1Over31, k1Over63, k1Over31);
    const __m128i q = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(c.v, scale), _mm_set1_ps(0.5f)));
    return {_mm_mul_ps(_mm_cvtepi32_ps(q), step)};
  }
};

template <typename V>
inline V load(const WeightedColor& c) { return V::set(c.r, c.g, c.b); }
template <typename V>
inline V loadRgb(const D3DCOLORVALUE& c) { return V::set(c.r, c.g, c.b); }
template <typename V>
inline WeightedColor toWeighted(V c) { return {c.r(), c.g(), c.b()}; }
template <typename V>
inline V weights() { return V::set(kLuminanceWeights.r, kLuminanceWeights.g, kLuminanceWeights.b); }
template <typename V>
inline V inverseWeights() {
  return V::set(kInverseLuminanceWeights.r, kInverseLuminanceWeights.g, kInverseLuminanceWeights.b);
}

// Floyd-Steinberg inside one 4x4 block: shares leaving the block are dropped.
template <typename T>
inline void diffuse(T* err, int i, T e) {
  const int x = i & 3, y = i >> 2;
  if (x < 3) err[i + 1] = err[i + 1] + e * 0.4375f;
  if (y < 3) {
    if (x > 0) err[i + 3] = err[i + 3] + e * 0.1875f;
    err[i + 4] = err[i + 4] + e * 0.3125f;
    if (x < 3) err[i + 5] = err[i + 5] + e * 0.0625f;
  }
}

inline uint16_t load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void store16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

inline __m128 expand565(uint16_t w) {
  return _mm_set_ps(1.0f, static_cast<float>(w & 31) * k1Over31,
                    static_cast<float>((w >> 5) & 63) * k1Over63,
                    static_cast<float>(w >> 11) * k1Over31);
}

// Decodes the 8-byte colour block into out (alpha included: 1, or 0 for the
// transparent code of three-colour blocks).
inline void decodeColorBlock(D3DCOLORVALUE* out, const uint8_t* p) {
  const uint16_t w0 = load16(p), w1 = load16(p + 2);
  const uint32_t codes = load32(p + 4);
  __m128 pal[4];
  pal[0] = expand565(w0);
  pal[1] = expand565(w1);
  const __m128 delta = _mm_sub_ps(pal[1], pal[0]);
  if (w0 > w1) {
    pal[2] = _mm_add_ps(pal[0], _mm_mul_ps(delta, _mm_set1_ps(kOneThird)));
    pal[3] = _mm_add_ps(pal[0], _mm_mul_ps(delta, _mm_set1_ps(kTwoThirds)));
  } else {
    pal[2] = _mm_add_ps(pal[0], _mm_mul_ps(delta, _mm_set1_ps(0.5f)));
    pal[3] = _mm_setzero_ps();
  }
  float* f = &out[0].r;
  for (int i = 0; i < 16; ++i) _mm_storeu_ps(f + 4 * i, pal[(codes >> (2 * i)) & 3]);
}

// The eight alpha values of an interpolated-alpha block's two bytes.
inline void alphaRamp(uint8_t b0, uint8_t b1, float* v) {
  const float a0 = static_cast<float>(b0) * k1Over255;
  const float a1 = static_cast<float>(b1) * k1Over255;
  v[0] = a0;
  v[1] = a1;
  if (b0 > b1) {
    for (int k = 1; k <= 6; ++k)
      v[k + 1] = (static_cast<float>(7 - k) * a0 + static_cast<float>(k) * a1) / 7.0f;
  } else {
    for (int k = 1; k <= 4; ++k)
      v[k + 1] = (static_cast<float>(5 - k) * a0 + static_cast<float>(k) * a1) / 5.0f;
    v[6] = 0.0f;
    v[7] = 1.0f;
  }
}

// Ramp weights (first endpoint, second endpoint) by ramp position.
struct RampWeights {
  float w0[8], w1[8];
};
constexpr RampWeights kColorRamp4{{1.0f, kTwoThirds, kOneThird, 0.0f}, {0.0f, kOneThird, kTwoThirds, 1.0f}};
constexpr RampWeights kColorRamp3{{1.0f, 0.5f, 0.0f}, {0.0f, 0.5f, 1.0f}};
constexpr RampWeights makeAlphaRamp(int steps) {
  RampWeights r{};
  for (int k = 0; k < steps; ++k) {
    r.w1[k] = static_cast<float>(k) / static_cast<float>(steps - 1);
    r.w0[k] = 1.0f - r.w1[k];
  }
  return r;
}
constexpr RampWeights kAlphaRamp6 = makeAlphaRamp(6);
constexpr RampWeights kAlphaRamp8 = makeAlphaRamp(8);

// Ramp position -> code.
constexpr uint32_t kColorOrder4[4] = {0, 2, 3, 1};
constexpr uint32_t kColorOrder3[3] = {0, 2, 1};
constexpr uint32_t kAlphaOrder8[8] = {0, 2, 3, 4, 5, 6, 7, 1};
constexpr uint32_t kAlphaOrder6[6] = {0, 2, 3, 4, 5, 1};

}  // namespace

// ---- Helpers ---------------------------------------------------------------

D3DCOLORVALUE Expand565(uint16_t w) {
  return {static_cast<float>(w >> 11) * k1Over31, static_cast<float>((w >> 5) & 63) * k1Over63,
          static_cast<float>(w & 31) * k1Over31, 1.0f};
}

uint16_t Pack565(const D3DCOLORVALUE& c) {
  const uint32_t r = static_cast<uint32_t>(quantize(clamp01(c.r), 31.0f));
  const uint32_t g = static_cast<uint32_t>(quantize(clamp01(c.g), 63.0f));
  const uint32_t b = static_cast<uint32_t>(quantize(clamp01(c.b), 31.0f));
  return static_cast<uint16_t>((r << 11) | (g << 5) | b);
}

void PremultiplyBlock(D3DCOLORVALUE* t) {
  for (int i = 0; i < 16; ++i) {
    t[i].r *= t[i].a;
    t[i].g *= t[i].a;
    t[i].b *= t[i].a;
  }
}

void UnpremultiplyBlock(D3DCOLORVALUE* t) {
  for (int i = 0; i < 16; ++i) {
    const float a = t[i].a;
    if (a <= 0.0f) {
      t[i].r = t[i].g = t[i].b = 0.0f;
    } else if (a < 1.0f) {
      float* ch[3] = {&t[i].r, &t[i].g, &t[i].b};
      for (float* c : ch) *c = *c < a ? *c / a : 1.0f;
    }
  }
}

// ---- Endpoint searches -------------------------------------------------------

namespace {

template <typename V>
void optimizeColorEndpoints(const WeightedColor* points, unsigned steps, WeightedColor* outA,
                            WeightedColor* outB) {
  V p[16];
  for (int i = 0; i < 16; ++i) p[i] = load<V>(points[i]);

  // Bounding box, clipped to the weighted unit cube.
  V X = weights<V>(), Y = V::zero();
  for (int i = 0; i < 16; ++i) {
    X = lower(p[i], X);
    Y = upper(p[i], Y);
  }
  const V diag = Y - X;
  const float len2 = dot(diag, diag);
  if (len2 < kSmallestNormal) {
    *outA = toWeighted(X);
    *outB = toWeighted(Y);
    return;
  }

  // Pick the box diagonal that best follows the points.
  const V mid = (X + Y) * 0.5f;
  const V dir = diag / len2;
  float sums[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  for (int i = 0; i < 16; ++i) {
    const V q = (p[i] - mid) * dir;
    const float qr = q.r(), qg = q.g(), qb = q.b();
    const float s0 = qr + qg + qb, s1 = qr + qg - qb;
    const float s2 = qr - qg + qb, s3 = qr - qg - qb;
    sums[0] += s0 * s0;
    sums[1] += s1 * s1;
    sums[2] += s2 * s2;
    sums[3] += s3 * s3;
  }
  int winner = 0;
  for (int k = 1; k < 4; ++k)
    if (sums[k] > sums[winner]) winner = k;
  if (winner != 0) {
    WeightedColor x = toWeighted(X), y = toWeighted(Y);
    if (winner & 2) std::swap(x.g, y.g);
    if (winner & 1) std::swap(x.b, y.b);
    X = load<V>(x);
    Y = load<V>(y);
  }
  if (len2 < 1.0f / 4096.0f) {
    *outA = toWeighted(X);
    *outB = toWeighted(Y);
    return;
  }

  // Newton steps on the squared error of the ramp fit.
  const RampWeights& ramp = steps == 3 ? kColorRamp3 : kColorRamp4;
  const int last = static_cast<int>(steps) - 1;
  const float lastF = static_cast<float>(last);
  for (int iter = 0; iter < 8; ++iter) {
    V S[4];
    for (int k = 0; k <= last; ++k) S[k] = X * ramp.w0[k] + Y * ramp.w1[k];
    const V d = Y - X;
    const float l2 = dot(d, d);
    if (l2 < 1.0f / 4096.0f) break;
    const V dirK = d * (lastF / l2);
    V dX = V::zero(), dY = V::zero();
    float d2X = 0.0f, d2Y = 0.0f;
    for (int i = 0; i < 16; ++i) {
      const float t = dot(p[i] - X, dirK);
      int k;
      if (!(t > 0.0f))
        k = 0;
      else if (t >= lastF)
        k = last;
      else
        k = truncate(t + 0.5f);
      const V diff = S[k] - p[i];
      const float cx = ramp.w0[k] * 0.125f, cy = ramp.w1[k] * 0.125f;
      d2X += cx * ramp.w0[k];
      dX = dX + diff * cx;
      d2Y += cy * ramp.w1[k];
      dY = dY + diff * cy;
    }
    if (d2X > 0.0f) X = X - dX / d2X;
    if (d2Y > 0.0f) Y = Y - dY / d2Y;
    constexpr float kEps = 1.0f / 65536.0f;
    if (allSquaresBelow(dX, kEps) && allSquaresBelow(dY, kEps)) break;
  }
  *outA = toWeighted(X);
  *outB = toWeighted(Y);
}

}  // namespace

void OptimizeColorEndpoints(const WeightedColor* points, unsigned steps, WeightedColor* a,
                            WeightedColor* b) {
  optimizeColorEndpoints<SseV3>(points, steps, a, b);
}

void OptimizeAlphaEndpoints(const float* alphas, unsigned steps, float* outX, float* outY) {
  const bool six = steps == 6;
  float X = 1.0f, Y = 0.0f;
  if (!six) {
    for (int i = 0; i < 16; ++i) {
      if (alphas[i] < X) X = alphas[i];
      if (alphas[i] > Y) Y = alphas[i];
    }
  } else {
    for (int i = 0; i < 16; ++i) {
      if (alphas[i] > 0.0f && alphas[i] < X) X = alphas[i];
      if (alphas[i] < 1.0f && alphas[i] > Y) Y = alphas[i];
    }
    if (X == Y) Y = 1.0f;
  }

  const RampWeights& ramp = six ? kAlphaRamp6 : kAlphaRamp8;
  const int last = static_cast<int>(steps) - 1;
  const float lastF = static_cast<float>(last);
  for (int iter = 0; iter < 8; ++iter) {
    if (Y - X < 1.0f / 256.0f) break;
    const float scale = lastF / (Y - X);
    float S[8];
    for (int k = 0; k <= last; ++k) S[k] = X * ramp.w0[k] + Y * ramp.w1[k];
    float dX = 0.0f, dY = 0.0f, d2X = 0.0f, d2Y = 0.0f;
    for (int i = 0; i < 16; ++i) {
      const float a = alphas[i];
      const float t = (a - X) * scale;
      int k;
      if (!(t > 0.0f)) {
        if (six && a <= X * 0.5f) continue;  // served by the fixed 0 code
        k = 0;
      } else if (t >= lastF) {
        if (six && a >= (Y + 1.0f) * 0.5f) continue;  // served by the fixed 1 code
        k = last;
      } else {
        k = truncate(t + 0.5f);
      }
      const float diff = S[k] - a;
      dX += diff * ramp.w0[k];
      d2X += ramp.w0[k] * ramp.w0[k];
      dY += diff * ramp.w1[k];
      d2Y += ramp.w1[k] * ramp.w1[k];
    }
    if (d2X > 0.0f) X -= dX / d2X;
    if (d2Y > 0.0f) Y -= dY / d2Y;
    if (X > Y) {
      const float t = X;
      X = Y;
      Y = t;
    }
    if (dX * dX < 1.0f / 64.0f && dY * dY < 1.0f / 64.0f) break;
  }
  *outX = clamp01(X);
  *outY = clamp01(Y);
}

// ---- Colour block encoder ----------------------------------------------------

namespace {

template <typename V>
void encodeColorBlock(uint8_t* block, const D3DCOLORVALUE* in, bool alphaMode, bool dither) {
  unsigned steps = 4;
  if (alphaMode) {
    int transparent = 0;
    for (int i = 0; i < 16; ++i) transparent += in[i].a < 0.5f;
    if (transparent == 16) {
      store16(block, 0x0000);
      store16(block + 2, 0xFFFF);
      store32(block + 4, 0xFFFFFFFFu);
      return;
    }
    if (transparent > 0) steps = 3;
  }
  const V W = weights<V>();

  // First pass: points on the 5:6:5 grid, in weighted space.
  WeightedColor points[16];
  V err[16];
  for (V& e : err) e = V::zero();
  for (int i = 0; i < 16; ++i) {
    V c = loadRgb<V>(in[i]);
    if (dither) c = c + err[i];
    const V snapped = snap565(c);
    if (dither) diffuse(err, i, c - snapped);
    points[i] = toWeighted(snapped * W);
  }

  WeightedColor A, B;
  optimizeColorEndpoints<V>(points, steps, &A, &B);
  const WeightedColor ua = toWeighted(load<V>(A) * inverseWeights<V>());
  const WeightedColor ub = toWeighted(load<V>(B) * inverseWeights<V>());
  const uint16_t a = Pack565({ua.r, ua.g, ua.b, 1.0f});
  const uint16_t b = Pack565({ub.r, ub.g, ub.b, 1.0f});
  if (steps == 4 && a == b) {
    store16(block, a);
    store16(block + 2, b);
    store32(block + 4, 0);
    return;
  }

  // Order the endpoints so that the decoder picks the mode used here.
  uint16_t c0, c1;
  if (steps == 4) {
    c0 = a > b ? a : b;
    c1 = a > b ? b : a;
  } else {
    c0 = a > b ? b : a;
    c1 = a > b ? a : b;
  }
  const V start = loadRgb<V>(Expand565(c0)) * W;
  const V end = loadRgb<V>(Expand565(c1)) * W;
  V ramp[4];
  ramp[0] = start;
  ramp[1] = end;
  const V span = end - start;
  if (steps == 4) {
    ramp[2] = start + span * kOneThird;
    ramp[3] = start + span * kTwoThirds;
  } else {
    ramp[2] = start + span * 0.5f;
    ramp[3] = V::zero();
  }
  const int last = static_cast<int>(steps) - 1;
  const float lastF = static_cast<float>(last);
  V d = V::zero();
  if (a != b) d = span * (lastF / dot(span, span));
  const uint32_t* order = steps == 4 ? kColorOrder4 : kColorOrder3;

  // Second pass: the code of each texel.
  uint32_t codes = 0;
  for (V& e : err) e = V::zero();
  for (int i = 0; i < 16; ++i) {
    uint32_t code;
    if (steps == 3 && in[i].a < 0.5f) {
      code = 3;
    } else {
      V p = loadRgb<V>(in[i]) * W;
      if (dither) p = p + err[i];
      const float t = dot(p - start, d);
      if (!(t > 0.0f))
        code = 0;
      else if (t >= lastF)
        code = 1;
      else
        code = order[truncate(t + 0.5f)];
      if (dither) diffuse(err, i, p - ramp[code]);
    }
    codes |= code << (2 * i);
  }
  store16(block, c0);
  store16(block + 2, c1);
  store32(block + 4, codes);
}

}  // namespace

void EncodeColorBlock(uint8_t* block, const D3DCOLORVALUE* in, bool alphaMode, bool dither) {
  encodeColorBlock<SseV3>(block, in, alphaMode, dither);
}

namespace detail {
void EncodeColorBlockScalar(uint8_t* block, const D3DCOLORVALUE* in, bool alphaMode, bool dither) {
  encodeColorBlock<ScalarV3>(block, in, alphaMode, dither);
}
void OptimizeColorEndpointsScalar(const WeightedColor* points, unsigned steps, WeightedColor* a,
                                  WeightedColor* b) {
  optimizeColorEndpoints<ScalarV3>(points, steps, a, b);
}
}  // namespace detail

// ---- Decoders ----------------------------------------------------------------

HRESULT DecodeDxt1Block(D3DCOLORVALUE* out, const void* block) {
  decodeColorBlock(out, static_cast<const uint8_t*>(block));
  return S_OK;
}

HRESULT DecodeDxt3Block(D3DCOLORVALUE* out, const void* block) {
  const uint8_t* p = static_cast<const uint8_t*>(block);
  decodeColorBlock(out, p + 8);
  for (int i = 0; i < 16; ++i) {
    const unsigned n = (p[i >> 1] >> (4 * (i & 1))) & 15;
    out[i].a = static_cast<float>(n) * k1Over15;
  }
  return S_OK;
}

HRESULT DecodeDxt5Block(D3DCOLORVALUE* out, const void* block) {
  const uint8_t* p = static_cast<const uint8_t*>(block);
  decodeColorBlock(out, p + 8);
  float v[8];
  alphaRamp(p[0], p[1], v);
  const uint32_t lo = p[2] | (p[3] << 8) | (p[4] << 16);
  const uint32_t hi = p[5] | (p[6] << 8) | (p[7] << 16);
  for (int i = 0; i < 8; ++i) out[i].a = v[(lo >> (3 * i)) & 7];
  for (int i = 0; i < 8; ++i) out[8 + i].a = v[(hi >> (3 * i)) & 7];
  return S_OK;
}

HRESULT DecodeDxt2Block(D3DCOLORVALUE* out, const void* block) {
  DecodeDxt3Block(out, block);
  UnpremultiplyBlock(out);
  return S_OK;
}

HRESULT DecodeDxt4Block(D3DCOLORVALUE* out, const void* block) {
  DecodeDxt5Block(out, block);
  UnpremultiplyBlock(out);
  return S_OK;
}

// ---- Encoders ----------------------------------------------------------------

HRESULT EncodeDxt1Block(void* block, const D3DCOLORVALUE* in, bool dither) {
  uint8_t* p = static_cast<uint8_t*>(block);
  if (!dither) {
    EncodeColorBlock(p, in, true, false);
    return S_OK;
  }
  // Dither the one-bit alpha first, then the colours.
  D3DCOLORVALUE copy[16];
  float err[16] = {};
  for (int i = 0; i < 16; ++i) {
    copy[i] = in[i];
    const float v = in[i].a + err[i];
    const float q = static_cast<float>(quantize(v, 1.0f));
    copy[i].a = q;
    diffuse(err, i, v - q);
  }
  EncodeColorBlock(p, copy, true, true);
  return S_OK;
}

HRESULT EncodeDxt3Block(void* block, const D3DCOLORVALUE* in, bool dither) {
  uint8_t* p = static_cast<uint8_t*>(block);
  std::memset(p, 0, 8);
  float err[16] = {};
  for (int i = 0; i < 16; ++i) {
    // Clamped before quantising: a 4-bit field must not wrap (an alpha of
    // 1.04, or 1.0 plus a diffused error, would otherwise store 0).
    const float v = clamp01(dither ? in[i].a + err[i] : in[i].a);
    const int32_t q = quantize(v, 15.0f);
    p[i >> 1] |= static_cast<uint8_t>((q & 15) << (4 * (i & 1)));
    if (dither) diffuse(err, i, v - static_cast<float>(q) * k1Over15);
  }
  EncodeColorBlock(p + 8, in, false, dither);
  return S_OK;
}

HRESULT EncodeDxt5Block(void* block, const D3DCOLORVALUE* in, bool dither) {
  uint8_t* p = static_cast<uint8_t*>(block);
  float q[16], err[16] = {};
  float lo = in[0].a, hi = in[0].a;
  for (int i = 0; i < 16; ++i) {
    const float v = dither ? in[i].a + err[i] : in[i].a;
    q[i] = static_cast<float>(quantize(v, 255.0f)) * k1Over255;
    if (q[i] < lo)
      lo = q[i];
    else if (q[i] > hi)
      hi = q[i];
    if (dither) diffuse(err, i, v - q[i]);
  }

  EncodeColorBlock(p + 8, in, false, dither);

  if (lo == 1.0f) {
    p[0] = p[1] = 255;
    std::memset(p + 2, 0, 6);
    return S_OK;
  }
  const bool six = lo == 0.0f || hi == 1.0f;
  const unsigned steps = six ? 6 : 8;
  float X, Y;
  OptimizeAlphaEndpoints(q, steps, &X, &Y);
  const uint8_t x = static_cast<uint8_t>(quantize(X, 255.0f));
  const uint8_t y = static_cast<uint8_t>(quantize(Y, 255.0f));
  if (six) {
    p[0] = x;
    p[1] = y;
  } else {
    if (x == y) {
      p[0] = x;
      p[1] = y;
      std::memset(p + 2, 0, 6);
      return S_OK;
    }
    p[0] = y;
    p[1] = x;
  }
  float v[8];
  alphaRamp(p[0], p[1], v);
  const int last = static_cast<int>(steps) - 1;
  const float lastF = static_cast<float>(last);
  const float scale = v[1] != v[0] ? lastF / (v[1] - v[0]) : 0.0f;
  const uint32_t* order = six ? kAlphaOrder6 : kAlphaOrder8;
  uint32_t codes[2] = {0, 0};
  for (int i = 0; i < 16; ++i) err[i] = 0.0f;
  for (int i = 0; i < 16; ++i) {
    const float a = dither ? in[i].a + err[i] : in[i].a;
    const float t = (a - v[0]) * scale;
    uint32_t code;
    if (!(t > 0.0f))
      code = six && a <= v[0] * 0.5f ? 6 : 0;
    else if (t >= lastF)
      code = six && a >= (v[1] + 1.0f) * 0.5f ? 7 : 1;
    else
      code = order[truncate(t + 0.5f)];
    if (dither) diffuse(err, i, a - v[code]);
    codes[i >> 3] |= code << (3 * (i & 7));
  }
  for (int h = 0; h < 2; ++h) {
    p[2 + 3 * h] = static_cast<uint8_t>(codes[h]);
    p[3 + 3 * h] = static_cast<uint8_t>(codes[h] >> 8);
    p[4 + 3 * h] = static_cast<uint8_t>(codes[h] >> 16);
  }
  return S_OK;
}

HRESULT EncodeDxt2Block(void* block, const D3DCOLORVALUE* in, bool dither) {
  D3DCOLORVALUE copy[16];
  std::memcpy(copy, in, sizeof(copy));
  PremultiplyBlock(copy);
  return EncodeDxt3Block(block, copy, dither);
}

HRESULT EncodeDxt4Block(void* block, const D3DCOLORVALUE* in, bool dither) {
  D3DCOLORVALUE copy[16];
  std::memcpy(copy, in, sizeof(copy));
  PremultiplyBlock(copy);
  return EncodeDxt5Block(block, copy, dither);
}

bool FindBlockFormatRoutines(D3DFORMAT format, BlockFormatRoutines* out) {
  switch (format) {
    case D3DFMT_DXT1: *out = {DecodeDxt1Block, EncodeDxt1Block, 8}; return true;
    case D3DFMT_DXT2: *out = {DecodeDxt2Block, EncodeDxt2Block, 16}; return true;
    case D3DFMT_DXT3: *out = {DecodeDxt3Block, EncodeDxt3Block, 16}; return true;
    case D3DFMT_DXT4: *out = {DecodeDxt4Block, EncodeDxt4Block, 16}; return true;
    case D3DFMT_DXT5: *out = {DecodeDxt5Block, EncodeDxt5Block, 16}; return true;
    default: return false;
  }
}

}  // namespace nerro::pixel
