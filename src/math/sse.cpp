// The SSE and SSE2 tiers: single-precision SIMD routines. Reciprocals come
// from the approximate instruction refined by one Newton-Raphson step
// (r' = 2r - x r^2), reciprocal square roots likewise (r' = r (3 - x r^2) / 2).
// Normalisations give zero below a squared length of 2^-46 and have no
// unit-length shortcut. SSE2 adds routines of its own for the slots where
// integer SIMD or four-wide grouping pays (half floats, the array forms).
#include "math/routines.h"
#include "platform/platform.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cmath>
#include <cstring>

namespace nerro::math {
namespace {

// ---- Building blocks -------------------------------------------------------

#define SHUF(v, a, b, c, d) _mm_shuffle_ps((v), (v), _MM_SHUFFLE((d), (c), (b), (a)))

inline __m128 load2(const void* p) { return _mm_loadl_pi(_mm_setzero_ps(), static_cast<const __m64*>(p)); }
inline __m128 load3(const void* p) {
  const float* f = static_cast<const float*>(p);
  const __m128 xy = _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(f));
  return _mm_movelh_ps(xy, _mm_load_ss(f + 2));
}
inline __m128 load4(const void* p) { return _mm_loadu_ps(static_cast<const float*>(p)); }
inline void store2(void* p, __m128 v) { _mm_storel_pi(static_cast<__m64*>(p), v); }
inline void store3(void* p, __m128 v) {
  float* f = static_cast<float*>(p);
  _mm_storel_pi(reinterpret_cast<__m64*>(f), v);
  _mm_store_ss(f + 2, _mm_movehl_ps(v, v));
}
inline void store4(void* p, __m128 v) { _mm_storeu_ps(static_cast<float*>(p), v); }

inline __m128 rcpRefined(__m128 x) {
  const __m128 r = _mm_rcp_ps(x);
  return _mm_sub_ps(_mm_add_ps(r, r), _mm_mul_ps(x, _mm_mul_ps(r, r)));
}
inline __m128 rsqrtRefined(__m128 x) {
  const __m128 r = _mm_rsqrt_ps(x);
  const __m128 xr2 = _mm_mul_ps(x, _mm_mul_ps(r, r));
  return _mm_mul_ps(_mm_mul_ps(_mm_set1_ps(0.5f), r), _mm_sub_ps(_mm_set1_ps(3.0f), xr2));
}

// Sum of all four lanes, in every lane.
inline __m128 horizontalSum(__m128 v) {
  const __m128 s = _mm_add_ps(v, SHUF(v, 1, 0, 3, 2));
  return _mm_add_ps(s, SHUF(s, 2, 3, 0, 1));
}
inline __m128 dot4(__m128 a, __m128 b) { return horizontalSum(_mm_mul_ps(a, b)); }
inline __m128 dot3(__m128 a, __m128 b) {
  const __m128 p = _mm_mul_ps(a, b);
  const __m128 s = _mm_add_ss(p, SHUF(p, 1, 1, 1, 1));
  return SHUF(_mm_add_ss(s, SHUF(p, 2, 2, 2, 2)), 0, 0, 0, 0);
}
// a x b on lanes x, y, z; lane w becomes 0 for inputs with w = 0.
inline __m128 cross3(__m128 a, __m128 b) {
  const __m128 a1 = SHUF(a, 1, 2, 0, 3), b1 = SHUF(b, 1, 2, 0, 3);
  const __m128 c = _mm_sub_ps(_mm_mul_ps(a, b1), _mm_mul_ps(a1, b));
  return SHUF(c, 1, 2, 0, 3);
}

// Lane masks as float vectors (andps is an SSE instruction).
alignas(16) constexpr uint32_t kLaneMasks[5][4] = {
    {~0u, 0, 0, 0}, {0, ~0u, 0, 0}, {0, 0, ~0u, 0}, {0, 0, 0, ~0u}, {~0u, ~0u, ~0u, 0}};
inline __m128 laneMask(int i) { return _mm_load_ps(reinterpret_cast<const float*>(kLaneMasks[i])); }
inline __m128 xyzMask() { return laneMask(4); }

constexpr float kNormalizeCutoff = 1.42108547e-14f;  // 2^-46

// Normalises with the tier's rules; `s` holds the squared length in every lane.
inline __m128 scaleByRsqrt(__m128 v, __m128 s) {
  if (_mm_comilt_ss(s, _mm_set_ss(kNormalizeCutoff))) return _mm_setzero_ps();
  return _mm_mul_ps(v, rsqrtRefined(s));
}

inline bool nearlyOne(__m128 w) {
  const float d = _mm_cvtss_f32(_mm_sub_ss(w, _mm_set_ss(1.0f)));
  return d >= -1.1920929e-7f && d <= 1.1920929e-7f;
}

struct Rows {
  __m128 r0, r1, r2, r3;
};
inline Rows loadRows(const D3DMATRIX* m) {
  return {_mm_loadu_ps(&m->_11), _mm_loadu_ps(&m->_21), _mm_loadu_ps(&m->_31), _mm_loadu_ps(&m->_41)};
}
inline void storeRows(D3DMATRIX* m, const Rows& r) {
  _mm_storeu_ps(&m->_11, r.r0);
  _mm_storeu_ps(&m->_21, r.r1);
  _mm_storeu_ps(&m->_31, r.r2);
  _mm_storeu_ps(&m->_41, r.r3);
}

// Row vector (x, y, z, w) times the matrix.
inline __m128 transform4(__m128 v, const Rows& m) {
  const __m128 a = _mm_add_ps(_mm_mul_ps(SHUF(v, 0, 0, 0, 0), m.r0), _mm_mul_ps(SHUF(v, 1, 1, 1, 1), m.r1));
  const __m128 b = _mm_add_ps(_mm_mul_ps(SHUF(v, 2, 2, 2, 2), m.r2), _mm_mul_ps(SHUF(v, 3, 3, 3, 3), m.r3));
  return _mm_add_ps(a, b);
}
inline __m128 transformPoint3(__m128 v, const Rows& m) {
  return _mm_add_ps(_mm_add_ps(_mm_mul_ps(SHUF(v, 0, 0, 0, 0), m.r0), _mm_mul_ps(SHUF(v, 1, 1, 1, 1), m.r1)),
                    _mm_add_ps(_mm_mul_ps(SHUF(v, 2, 2, 2, 2), m.r2), m.r3));
}
inline __m128 transformNormal3(__m128 v, const Rows& m) {
  return _mm_add_ps(_mm_add_ps(_mm_mul_ps(SHUF(v, 0, 0, 0, 0), m.r0), _mm_mul_ps(SHUF(v, 1, 1, 1, 1), m.r1)),
                    _mm_mul_ps(SHUF(v, 2, 2, 2, 2), m.r2));
}
inline __m128 transformPoint2(__m128 v, const Rows& m) {
  return _mm_add_ps(_mm_add_ps(_mm_mul_ps(SHUF(v, 0, 0, 0, 0), m.r0), _mm_mul_ps(SHUF(v, 1, 1, 1, 1), m.r1)), m.r3);
}
inline __m128 transformNormal2(__m128 v, const Rows& m) {
  return _mm_add_ps(_mm_mul_ps(SHUF(v, 0, 0, 0, 0), m.r0), _mm_mul_ps(SHUF(v, 1, 1, 1, 1), m.r1));
}
// Divides by the w lane unless it is within 2^-23 of 1.
inline __m128 divideByW(__m128 r) {
  const __m128 w = SHUF(r, 3, 3, 3, 3);
  if (nearlyOne(w)) return r;
  return _mm_mul_ps(r, rcpRefined(w));
}

inline Rows multiplyRows(const Rows& a, const Rows& b) {
  return {transform4(a.r0, b), transform4(a.r1, b), transform4(a.r2, b), transform4(a.r3, b)};
}

// Cofactor rows of a matrix: c[i] holds the cofactors of row i, so the
// adjugate is their transpose.
struct Cofactors {
  __m128 c0, c1, c2, c3;
};
inline Cofactors cofactors(const Rows& m) {
  // 2x2 determinants of rows 0,1 (a0..a5) and rows 2,3 (b0..b5).
  const __m128 loA = _mm_sub_ps(_mm_mul_ps(SHUF(m.r0, 0, 0, 0, 1), SHUF(m.r1, 1, 2, 3, 2)),
                                _mm_mul_ps(SHUF(m.r0, 1, 2, 3, 2), SHUF(m.r1, 0, 0, 0, 1)));  // a0 a1 a2 a3
  const __m128 loB = _mm_sub_ps(_mm_mul_ps(SHUF(m.r2, 0, 0, 0, 1), SHUF(m.r3, 1, 2, 3, 2)),
                                _mm_mul_ps(SHUF(m.r2, 1, 2, 3, 2), SHUF(m.r3, 0, 0, 0, 1)));  // b0 b1 b2 b3
  const __m128 x = _mm_shuffle_ps(m.r0, m.r2, _MM_SHUFFLE(2, 1, 2, 1));
  const __m128 y = _mm_shuffle_ps(m.r1, m.r3, _MM_SHUFFLE(3, 3, 3, 3));
  const __m128 z = _mm_shuffle_ps(m.r0, m.r2, _MM_SHUFFLE(3, 3, 3, 3));
  const __m128 w = _mm_shuffle_ps(m.r1, m.r3, _MM_SHUFFLE(2, 1, 2, 1));
  const __m128 hi = _mm_sub_ps(_mm_mul_ps(x, y), _mm_mul_ps(z, w));  // a4 a5 b4 b5
  // (b5 b5 b4 b3), (b4 b2 b2 b1), (b3 b1 b0 b0) and the same of a.
  const __m128 tb = _mm_shuffle_ps(hi, loB, _MM_SHUFFLE(3, 3, 2, 2));
  const __m128 b1 = _mm_shuffle_ps(hi, tb, _MM_SHUFFLE(2, 0, 3, 3));
  const __m128 ub = _mm_shuffle_ps(hi, loB, _MM_SHUFFLE(2, 2, 2, 2));
  const __m128 b2 = _mm_shuffle_ps(ub, loB, _MM_SHUFFLE(1, 2, 2, 0));
  const __m128 b3 = SHUF(loB, 3, 1, 0, 0);
  const __m128 ta = _mm_shuffle_ps(hi, loA, _MM_SHUFFLE(3, 3, 0, 0));
  const __m128 a1 = _mm_shuffle_ps(hi, ta, _MM_SHUFFLE(2, 0, 1, 1));
  const __m128 ua = _mm_shuffle_ps(hi, loA, _MM_SHUFFLE(2, 2, 0, 0));
  const __m128 a2 = _mm_shuffle_ps(ua, loA, _MM_SHUFFLE(1, 2, 2, 0));
  const __m128 a3 = SHUF(loA, 3, 1, 0, 0);
  auto pattern = [](__m128 r, __m128 p1, __m128 p2, __m128 p3) {
    return _mm_add_ps(_mm_sub_ps(_mm_mul_ps(SHUF(r, 1, 0, 0, 0), p1), _mm_mul_ps(SHUF(r, 2, 2, 1, 1), p2)),
                      _mm_mul_ps(SHUF(r, 3, 3, 3, 2), p3));
  };
  const __m128 sign = _mm_setr_ps(1.0f, -1.0f, 1.0f, -1.0f);
  const __m128 negSign = _mm_setr_ps(-1.0f, 1.0f, -1.0f, 1.0f);
  // The cofactors of row 0 come from row 1 and the 2x2 determinants of rows
  // 2, 3; those of row 1 from row 0; rows 2 and 3 likewise the other way.
  return {_mm_mul_ps(sign, pattern(m.r1, b1, b2, b3)), _mm_mul_ps(negSign, pattern(m.r0, b1, b2, b3)),
          _mm_mul_ps(sign, pattern(m.r3, a1, a2, a3)), _mm_mul_ps(negSign, pattern(m.r2, a1, a2, a3))};
}

// ---- Shared SSE routines (SSE tier, and the SSE2 tier where it shares) -----

namespace sse {

Vec4* vec2Transform(Vec4* out, const Vec2* v, const D3DMATRIX* m) {
  store4(out, transformPoint2(load2(v), loadRows(m)));
  return out;
}
Vec4* vec3Transform(Vec4* out, const D3DVECTOR* v, const D3DMATRIX* m) {
  store4(out, transformPoint3(load3(v), loadRows(m)));
  return out;
}
Vec4* vec4Transform(Vec4* out, const Vec4* v, const D3DMATRIX* m) {
  store4(out, transform4(load4(v), loadRows(m)));
  return out;
}
// The same routine as vec4Transform.
Plane* planeTransform(Plane* out, const Plane* p, const D3DMATRIX* m) {
  store4(out, transform4(load4(p), loadRows(m)));
  return out;
}
D3DMATRIX* mat4Multiply(D3DMATRIX* out, const D3DMATRIX* a, const D3DMATRIX* b) {
  storeRows(out, multiplyRows(loadRows(a), loadRows(b)));
  return out;
}
D3DMATRIX* mat4MultiplyTranspose(D3DMATRIX* out, const D3DMATRIX* a, const D3DMATRIX* b) {
  Rows r = multiplyRows(loadRows(a), loadRows(b));
  _MM_TRANSPOSE4_PS(r.r0, r.r1, r.r2, r.r3);
  storeRows(out, r);
  return out;
}
Vec2* vec2TransformNormal(Vec2* out, const Vec2* v, const D3DMATRIX* m) {
  store2(out, transformNormal2(load2(v), loadRows(m)));
  return out;
}
D3DVECTOR* vec3TransformNormal(D3DVECTOR* out, const D3DVECTOR* v, const D3DMATRIX* m) {
  store3(out, transformNormal3(load3(v), loadRows(m)));
  return out;
}
D3DVECTOR* vec3Normalize(D3DVECTOR* out, const D3DVECTOR* v) {
  const __m128 x = load3(v);
  store3(out, scaleByRsqrt(x, dot3(x, x)));
  return out;
}
Vec4* vec4Normalize(Vec4* out, const Vec4* v) {
  const __m128 x = load4(v);
  store4(out, scaleByRsqrt(x, dot4(x, x)));
  return out;
}
Quat* quatNormalize(Quat* out, const Quat* q) {
  const __m128 x = load4(q);
  store4(out, scaleByRsqrt(x, dot4(x, x)));
  return out;
}
Plane* planeNormalize(Plane* out, const Plane* p) {
  const __m128 x = load4(p);
  store4(out, scaleByRsqrt(x, dot3(x, x)));
  return out;
}
Vec2* vec2TransformCoord(Vec2* out, const Vec2* v, const D3DMATRIX* m) {
  store2(out, divideByW(transformPoint2(load2(v), loadRows(m))));
  return out;
}
D3DVECTOR* vec3TransformCoord(D3DVECTOR* out, const D3DVECTOR* v, const D3DMATRIX* m) {
  store3(out, divideByW(transformPoint3(load3(v), loadRows(m))));
  return out;
}
float mat4Determinant(const D3DMATRIX* m) {
  const Rows r = loadRows(m);
  return _mm_cvtss_f32(dot4(r.r0, cofactors(r).c0));
}
D3DMATRIX* mat4Inverse(D3DMATRIX* out, float* determinant, const D3DMATRIX* m) {
  const Rows r = loadRows(m);
  Cofactors c = cofactors(r);
  const __m128 det = dot4(r.r0, c.c0);
  // Zero or unordered: no inverse, and nothing is stored.
  if (!_mm_comineq_ss(det, _mm_setzero_ps()) || std::isnan(_mm_cvtss_f32(det))) return nullptr;
  if (determinant != nullptr) *determinant = _mm_cvtss_f32(det);
  const __m128 inv = rcpRefined(det);
  _MM_TRANSPOSE4_PS(c.c0, c.c1, c.c2, c.c3);
  storeRows(out, {_mm_mul_ps(c.c0, inv), _mm_mul_ps(c.c1, inv), _mm_mul_ps(c.c2, inv), _mm_mul_ps(c.c3, inv)});
  return out;
}
Plane* planeFromPoints(Plane* out, const D3DVECTOR* p1, const D3DVECTOR* p2, const D3DVECTOR* p3) {
  const __m128 a = load3(p1);
  const __m128 n0 = cross3(_mm_sub_ps(load3(p2), a), _mm_sub_ps(load3(p3), a));
  const __m128 n = scaleByRsqrt(n0, dot3(n0, n0));
  const __m128 d = _mm_sub_ps(_mm_setzero_ps(), dot3(n, a));
  // (n.x, n.y, n.z, d)
  store4(out, _mm_shuffle_ps(n, _mm_unpackhi_ps(n, d), _MM_SHUFFLE(3, 0, 1, 0)));
  return out;
}
Vec4* vec4Cross(Vec4* out, const Vec4* pu, const Vec4* pv, const Vec4* pw) {
  const __m128 u = load4(pu), v = load4(pv), w = load4(pw);
  // (A, B, C) and (D, E, F): pairwise products of v and w.
  const __m128 abc = _mm_sub_ps(_mm_mul_ps(SHUF(v, 0, 0, 0, 1), SHUF(w, 1, 2, 3, 2)),
                                _mm_mul_ps(SHUF(v, 1, 2, 3, 2), SHUF(w, 0, 0, 0, 1)));  // A B C D
  const __m128 ef = _mm_sub_ps(_mm_mul_ps(SHUF(v, 1, 2, 1, 2), SHUF(w, 3, 3, 3, 3)),
                               _mm_mul_ps(SHUF(v, 3, 3, 3, 3), SHUF(w, 1, 2, 1, 2)));  // E F E F
  const float A = _mm_cvtss_f32(abc), B = _mm_cvtss_f32(SHUF(abc, 1, 1, 1, 1));
  const float C = _mm_cvtss_f32(SHUF(abc, 2, 2, 2, 2)), D = _mm_cvtss_f32(SHUF(abc, 3, 3, 3, 3));
  const float E = _mm_cvtss_f32(ef), F = _mm_cvtss_f32(SHUF(ef, 1, 1, 1, 1));
  const __m128 t1 = _mm_setr_ps(F, -F, E, -D);
  const __m128 t2 = _mm_setr_ps(-E, C, -C, B);
  const __m128 t3 = _mm_setr_ps(D, -B, A, -A);
  const __m128 r = _mm_add_ps(_mm_add_ps(_mm_mul_ps(SHUF(u, 1, 0, 0, 0), t1), _mm_mul_ps(SHUF(u, 2, 2, 1, 1), t2)),
                              _mm_mul_ps(SHUF(u, 3, 3, 3, 2), t3));
  store4(out, r);
  return out;
}

// Weighted sums of four points, shared by the splines.
template <int N>
inline void blend4(float* out, const float* p0, const float* p1, const float* p2, const float* p3, __m128 w) {
  __m128 a, b, c, d;
  if constexpr (N == 2) {
    a = load2(p0), b = load2(p1), c = load2(p2), d = load2(p3);
  } else if constexpr (N == 3) {
    a = load3(p0), b = load3(p1), c = load3(p2), d = load3(p3);
  } else {
    a = load4(p0), b = load4(p1), c = load4(p2), d = load4(p3);
  }
  const __m128 r = _mm_add_ps(_mm_add_ps(_mm_mul_ps(a, SHUF(w, 0, 0, 0, 0)), _mm_mul_ps(b, SHUF(w, 1, 1, 1, 1))),
                              _mm_add_ps(_mm_mul_ps(c, SHUF(w, 2, 2, 2, 2)), _mm_mul_ps(d, SHUF(w, 3, 3, 3, 3))));
  if constexpr (N == 2) store2(out, r);
  else if constexpr (N == 3) store3(out, r);
  else store4(out, r);
}
inline __m128 hermiteWeights(float s) {
  const __m128 ss = _mm_set1_ps(s), s2 = _mm_mul_ps(ss, ss), s3 = _mm_mul_ps(s2, ss);
  // (2s^3 - 3s^2 + 1, s^3 - 2s^2 + s, -2s^3 + 3s^2, s^3 - s^2)
  const __m128 r = _mm_add_ps(_mm_add_ps(_mm_mul_ps(s3, _mm_setr_ps(2, 1, -2, 1)), _mm_mul_ps(s2, _mm_setr_ps(-3, -2, 3, -1))),
                              _mm_add_ps(_mm_mul_ps(ss, _mm_setr_ps(0, 1, 0, 0)), _mm_setr_ps(1, 0, 0, 0)));
  return r;
}
inline __m128 catmullRomWeights(float s) {
  const __m128 ss = _mm_set1_ps(s), s2 = _mm_mul_ps(ss, ss), s3 = _mm_mul_ps(s2, ss);
  const __m128 r = _mm_add_ps(_mm_add_ps(_mm_mul_ps(s3, _mm_setr_ps(-1, 3, -3, 1)), _mm_mul_ps(s2, _mm_setr_ps(2, -5, 4, -1))),
                              _mm_add_ps(_mm_mul_ps(ss, _mm_setr_ps(-1, 0, 1, 0)), _mm_setr_ps(0, 2, 0, 0)));
  return _mm_mul_ps(r, _mm_set1_ps(0.5f));
}
// p1 + f (p2 - p1) + g (p3 - p1) as weights (1 - f - g, f, g) of p1, p2, p3.
template <int N>
inline void barycentric(float* out, const float* p1, const float* p2, const float* p3, float f, float g) {
  __m128 a, b, c;
  if constexpr (N == 2) {
    a = load2(p1), b = load2(p2), c = load2(p3);
  } else if constexpr (N == 3) {
    a = load3(p1), b = load3(p2), c = load3(p3);
  } else {
    a = load4(p1), b = load4(p2), c = load4(p3);
  }
  const __m128 r = _mm_add_ps(a, _mm_add_ps(_mm_mul_ps(_mm_set1_ps(f), _mm_sub_ps(b, a)),
                                            _mm_mul_ps(_mm_set1_ps(g), _mm_sub_ps(c, a))));
  if constexpr (N == 2) store2(out, r);
  else if constexpr (N == 3) store3(out, r);
  else store4(out, r);
}

#define NERRO_SSE_SPLINES(N, T, prefix)                                                                          \
  T* prefix##Hermite(T* out, const T* p1, const T* t1, const T* p2, const T* t2, float s) {                      \
    blend4<N>(&out->x, &p1->x, &t1->x, &p2->x, &t2->x, hermiteWeights(s));                                       \
    return out;                                                                                                  \
  }                                                                                                              \
  T* prefix##CatmullRom(T* out, const T* p0, const T* p1, const T* p2, const T* p3, float s) {                   \
    blend4<N>(&out->x, &p0->x, &p1->x, &p2->x, &p3->x, catmullRomWeights(s));                                    \
    return out;                                                                                                  \
  }                                                                                                              \
  T* prefix##Barycentric(T* out, const T* p1, const T* p2, const T* p3, float f, float g) {                      \
    barycentric<N>(&out->x, &p1->x, &p2->x, &p3->x, f, g);                                                       \
    return out;                                                                                                  \
  }
NERRO_SSE_SPLINES(2, Vec2, vec2)
NERRO_SSE_SPLINES(3, D3DVECTOR, vec3)
NERRO_SSE_SPLINES(4, Vec4, vec4)
#undef NERRO_SSE_SPLINES

Quat* quatMultiply(Quat* out, const Quat* q1, const Quat* q2) {
  const __m128 a = load4(q1), b = load4(q2);
  // x = b.w a.x + b.x a.w + b.y a.z - b.z a.y, and so on.
  const __m128 t0 = _mm_mul_ps(SHUF(b, 3, 3, 3, 3), a);
  const __m128 t1 = _mm_mul_ps(_mm_mul_ps(SHUF(b, 0, 1, 2, 0), SHUF(a, 3, 3, 3, 0)), _mm_setr_ps(1, 1, 1, -1));
  const __m128 t2 = _mm_mul_ps(_mm_mul_ps(SHUF(b, 1, 2, 0, 1), SHUF(a, 2, 0, 1, 1)), _mm_setr_ps(1, 1, 1, -1));
  const __m128 t3 = _mm_mul_ps(SHUF(b, 2, 0, 1, 2), SHUF(a, 1, 2, 0, 2));
  store4(out, _mm_sub_ps(_mm_add_ps(_mm_add_ps(t0, t1), t2), t3));
  return out;
}

D3DVECTOR* planeIntersectLine(D3DVECTOR* out, const Plane* p, const D3DVECTOR* l1, const D3DVECTOR* l2) {
  const __m128 pl = load4(p), a = load3(l1), b = load3(l2);
  const __m128 n1 = dot3(pl, a), n2 = dot3(pl, b);
  const __m128 den = _mm_sub_ss(n1, n2);
  if (_mm_cvtss_f32(den) == 0.0f) return nullptr;
  const __m128 t = _mm_mul_ss(_mm_add_ss(n1, SHUF(pl, 3, 3, 3, 3)), rcpRefined(den));
  if (!std::isfinite(_mm_cvtss_f32(t))) return nullptr;
  store3(out, _mm_add_ps(a, _mm_mul_ps(SHUF(t, 0, 0, 0, 0), _mm_sub_ps(b, a))));
  return out;
}

Quat* quatFromMatrix(Quat* out, const D3DMATRIX* m) {
  const float t = m->_11 + m->_22 + m->_33;
  auto sqrtOf = [](float x) {  // x * rsqrt(x), refined
    const __m128 v = _mm_set_ss(x);
    return _mm_cvtss_f32(_mm_mul_ss(v, rsqrtRefined(v)));
  };
  auto reciprocal = [](float x) { return _mm_cvtss_f32(rcpRefined(_mm_set_ss(x))); };
  float q[4];
  if (t > 0.0f) {
    const float w = sqrtOf(t + 1.0f) * 0.5f;
    const float f = reciprocal(4.0f * w);
    const __m128 num = _mm_setr_ps(m->_23 - m->_32, m->_31 - m->_13, m->_12 - m->_21, 0.0f);
    _mm_storeu_ps(q, _mm_mul_ps(num, _mm_set1_ps(f)));
    q[3] = w;
  } else {
    const float d0 = m->_11 - m->_22 - m->_33;
    const float d1 = m->_22 - m->_11 - m->_33;
    const float d2 = m->_33 - m->_11 - m->_22;
    int i = 0;
    if (d1 > d0) i = 1;
    if (d2 > (i == 0 ? d0 : d1)) i = 2;
    const int j = (i + 1) % 3, k = (i + 2) % 3;
    const float qi = sqrtOf(m->m[i][i] - m->m[j][j] - m->m[k][k] + 1.0f) * 0.5f;
    const float f = reciprocal(4.0f * qi);
    q[i] = qi;
    q[j] = (m->m[i][j] + m->m[j][i]) * f;
    q[k] = (m->m[i][k] + m->m[k][i]) * f;
    q[3] = (m->m[j][k] - m->m[k][j]) * f;
  }
  *out = {q[0], q[1], q[2], q[3]};
  return out;
}

Quat* quatFromYawPitchRoll(Quat* out, float yaw, float pitch, float roll) {
  const float cy = std::cos(yaw * 0.5f), sy = std::sin(yaw * 0.5f);
  const float cp = std::cos(pitch * 0.5f), sp = std::sin(pitch * 0.5f);
  const float cr = std::cos(roll * 0.5f), sr = std::sin(roll * 0.5f);
  // (cy sp cr, sy cp cr, cy cp sr, cy cp cr) + signs * (sy cp sr, cy sp sr, sy sp cr, sy sp sr)
  const __m128 a = _mm_mul_ps(_mm_mul_ps(_mm_setr_ps(cy, sy, cy, cy), _mm_setr_ps(sp, cp, cp, cp)),
                              _mm_setr_ps(cr, cr, sr, cr));
  const __m128 b = _mm_mul_ps(_mm_mul_ps(_mm_setr_ps(sy, cy, sy, sy), _mm_setr_ps(cp, sp, sp, sp)),
                              _mm_setr_ps(sr, sr, cr, sr));
  store4(out, _mm_add_ps(a, _mm_mul_ps(b, _mm_setr_ps(1, -1, -1, 1))));
  return out;
}

D3DMATRIX* mat4Shadow(D3DMATRIX* out, const Vec4* light, const Plane* plane) {
  const __m128 pl = load4(plane);
  const __m128 p = scaleByRsqrt(pl, dot3(pl, pl));
  const __m128 l = load4(light);
  const __m128 d = dot4(p, l);
  const __m128 zero = _mm_setzero_ps();
  const __m128 r0 = _mm_sub_ps(_mm_move_ss(zero, d), _mm_mul_ps(SHUF(p, 0, 0, 0, 0), l));
  const __m128 r1 = _mm_sub_ps(_mm_and_ps(d, laneMask(1)), _mm_mul_ps(SHUF(p, 1, 1, 1, 1), l));
  const __m128 r2 = _mm_sub_ps(_mm_and_ps(d, laneMask(2)), _mm_mul_ps(SHUF(p, 2, 2, 2, 2), l));
  const __m128 r3 = _mm_sub_ps(_mm_and_ps(d, laneMask(3)), _mm_mul_ps(SHUF(p, 3, 3, 3, 3), l));
  storeRows(out, {r0, r1, r2, r3});
  return out;
}

D3DMATRIX* mat4Reflect(D3DMATRIX* out, const Plane* plane) {
  const __m128 pl = load4(plane);
  const __m128 p = scaleByRsqrt(pl, dot3(pl, pl));
  // Rows i < 3: e_i - 2 p_i (a, b, c, 0); row 3: (0, 0, 0, 1) - 2 d (a, b, c, 0).
  const __m128 n = _mm_and_ps(p, xyzMask());
  const __m128 m2 = _mm_mul_ps(_mm_set1_ps(-2.0f), n);
  const __m128 r0 = _mm_add_ps(_mm_setr_ps(1, 0, 0, 0), _mm_mul_ps(SHUF(p, 0, 0, 0, 0), m2));
  const __m128 r1 = _mm_add_ps(_mm_setr_ps(0, 1, 0, 0), _mm_mul_ps(SHUF(p, 1, 1, 1, 1), m2));
  const __m128 r2 = _mm_add_ps(_mm_setr_ps(0, 0, 1, 0), _mm_mul_ps(SHUF(p, 2, 2, 2, 2), m2));
  const __m128 r3 = _mm_add_ps(_mm_setr_ps(0, 0, 0, 1), _mm_mul_ps(SHUF(p, 3, 3, 3, 3), m2));
  storeRows(out, {r0, r1, r2, r3});
  return out;
}

Quat* quatInverse(Quat* out, const Quat* q) {
  const __m128 v = load4(q);
  const __m128 n = dot4(v, v);
  const float nf = _mm_cvtss_f32(n);
  if (!(nf > 1.08420217e-19f)) {  // at most 2^-63, or NaN
    store4(out, _mm_setzero_ps());
    return out;
  }
  __m128 c = _mm_mul_ps(v, _mm_setr_ps(-1, -1, -1, 1));
  if (!nearlyOne(n)) c = _mm_mul_ps(c, rcpRefined(n));
  store4(out, c);
  return out;
}

// Half to float without integer SIMD: the half's bits moved into a float's
// exponent and mantissa fields give the value times 2^-112; one multiply
// restores it, and the sign is put back. Half subnormals would make that
// intermediate a float subnormal, which a denormals-are-zero mode would
// flush, so they are converted from their integer mantissa instead.
float* float16To32Array(float* out, const uint16_t* in, uint32_t count) {
  const __m128 scale = _mm_set_ss(5.19229686e33f);  // 2^112
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t h = in[i];
    __m128 magnitude;
    if ((h & 0x7C00u) != 0) {
      magnitude = _mm_mul_ss(_mm_set_ss(detail::bitsFloat((h & 0x7FFFu) << 13)), scale);
    } else {
      magnitude = _mm_mul_ss(_mm_cvtsi32_ss(_mm_setzero_ps(), static_cast<int>(h & 0x3FFu)),
                             _mm_set_ss(5.96046448e-8f));  // 2^-24
    }
    out[i] = detail::bitsFloat(detail::floatBits(_mm_cvtss_f32(magnitude)) | ((h & 0x8000u) << 16));
  }
  return out;
}

// ---- Array forms, one element at a time with SIMD ----------------------------

template <__m128 (*Load)(const void*), void (*Store)(void*, __m128), __m128 (*Op)(__m128, const Rows&)>
inline void arrayLoop(void* out, uint32_t outStride, const void* in, uint32_t inStride, const D3DMATRIX* m,
                      uint32_t count) {
  const Rows r = loadRows(m);
  auto* o = static_cast<unsigned char*>(out);
  auto* s = static_cast<const unsigned char*>(in);
  for (uint32_t i = 0; i < count; ++i, o += outStride, s += inStride) Store(o, Op(Load(s), r));
}
inline __m128 coord2(__m128 v, const Rows& m) { return divideByW(transformPoint2(v, m)); }
inline __m128 coord3(__m128 v, const Rows& m) { return divideByW(transformPoint3(v, m)); }

Vec4* vec2TransformArray(Vec4* out, uint32_t os, const Vec2* in, uint32_t is, const D3DMATRIX* m, uint32_t n) {
  arrayLoop<load2, store4, transformPoint2>(out, os, in, is, m, n);
  return out;
}
Vec2* vec2TransformCoordArray(Vec2* out, uint32_t os, const Vec2* in, uint32_t is, const D3DMATRIX* m, uint32_t n) {
  arrayLoop<load2, store2, coord2>(out, os, in, is, m, n);
  return out;
}
Vec2* vec2TransformNormalArray(Vec2* out, uint32_t os, const Vec2* in, uint32_t is, const D3DMATRIX* m, uint32_t n) {
  arrayLoop<load2, store2, transformNormal2>(out, os, in, is, m, n);
  return out;
}
Vec4* vec3TransformArray(Vec4* out, uint32_t os, const D3DVECTOR* in, uint32_t is, const D3DMATRIX* m, uint32_t n) {
  arrayLoop<load3, store4, transformPoint3>(out, os, in, is, m, n);
  return out;
}
D3DVECTOR* vec3TransformCoordArray(D3DVECTOR* out, uint32_t os, const D3DVECTOR* in, uint32_t is, const D3DMATRIX* m,
                                   uint32_t n) {
  arrayLoop<load3, store3, coord3>(out, os, in, is, m, n);
  return out;
}
D3DVECTOR* vec3TransformNormalArray(D3DVECTOR* out, uint32_t os, const D3DVECTOR* in, uint32_t is,
                                    const D3DMATRIX* m, uint32_t n) {
  arrayLoop<load3, store3, transformNormal3>(out, os, in, is, m, n);
  return out;
}
Vec4* vec4TransformArray(Vec4* out, uint32_t os, const Vec4* in, uint32_t is, const D3DMATRIX* m, uint32_t n) {
  arrayLoop<load4, store4, transform4>(out, os, in, is, m, n);
  return out;
}
// The same routine as vec4TransformArray.
Plane* planeTransformArray(Plane* out, uint32_t os, const Plane* in, uint32_t is, const D3DMATRIX* m, uint32_t n) {
  arrayLoop<load4, store4, transform4>(out, os, in, is, m, n);
  return out;
}

float* evaluatePnTriangles(float* out, const float* corners, const D3DVECTOR* normals, uint32_t floatsPerVertex,
                           const Vec2* uv, uint32_t count) {
  if (floatsPerVertex < 3) return out;
  const __m128 P[3] = {load3(corners), load3(corners + floatsPerVertex), load3(corners + 2 * floatsPerVertex)};
  const __m128 N[3] = {load3(&normals[0]), load3(&normals[1]), load3(&normals[2])};
  const __m128 third = _mm_set1_ps(1.0f / 3.0f);
  auto edgePoint = [&](int i, int j) {
    const __m128 e = _mm_mul_ps(_mm_sub_ps(P[j], P[i]), third);
    return _mm_sub_ps(_mm_add_ps(P[i], e), _mm_mul_ps(dot3(e, N[i]), N[i]));
  };
  const __m128 e01 = edgePoint(0, 1), e10 = edgePoint(1, 0), e12 = edgePoint(1, 2), e21 = edgePoint(2, 1),
               e20 = edgePoint(2, 0), e02 = edgePoint(0, 2);
  const __m128 edges = _mm_add_ps(_mm_add_ps(_mm_add_ps(e01, e10), _mm_add_ps(e12, e21)), _mm_add_ps(e20, e02));
  const __m128 centre = _mm_sub_ps(_mm_mul_ps(edges, _mm_set1_ps(0.25f)),
                                   _mm_mul_ps(_mm_set1_ps(0.16666597f), _mm_add_ps(_mm_add_ps(P[0], P[1]), P[2])));
  float* o = out;
  for (uint32_t i = 0; i < count; ++i, o += floatsPerVertex) {
    const float u = uv[i].x, v = uv[i].y, w = 1.0f - u - v;
    auto k = [](float x) { return _mm_set1_ps(x); };
    __m128 r = _mm_add_ps(_mm_add_ps(_mm_mul_ps(k(w * w * w), P[0]), _mm_mul_ps(k(u * u * u), P[1])),
                          _mm_mul_ps(k(v * v * v), P[2]));
    r = _mm_add_ps(r, _mm_add_ps(_mm_mul_ps(k(3.0f * w * w * u), e01), _mm_mul_ps(k(3.0f * w * u * u), e10)));
    r = _mm_add_ps(r, _mm_add_ps(_mm_mul_ps(k(3.0f * w * w * v), e02), _mm_mul_ps(k(3.0f * w * v * v), e20)));
    r = _mm_add_ps(r, _mm_add_ps(_mm_mul_ps(k(3.0f * u * u * v), e12), _mm_mul_ps(k(3.0f * u * v * v), e21)));
    r = _mm_add_ps(r, _mm_mul_ps(k(6.0f * u * v * w), centre));
    store3(o, r);
    for (uint32_t f = 3; f < floatsPerVertex; ++f)
      o[f] = w * corners[f] + u * corners[floatsPerVertex + f] + v * corners[2 * floatsPerVertex + f];
  }
  return out;
}

}  // namespace sse

// ---- SSE2 routines of its own -------------------------------------------------

namespace sse2 {

// Integer masks instead of the float multiply by a sign vector.
inline __m128 maskLanes(__m128 v, int a, int b, int c, int d) {
  return _mm_and_ps(v, _mm_castsi128_ps(_mm_setr_epi32(a, b, c, d)));
}
inline __m128 flipSigns(__m128 v, int a, int b, int c, int d) {
  const int s = static_cast<int>(0x80000000u);
  return _mm_xor_ps(v, _mm_castsi128_ps(_mm_setr_epi32(a ? s : 0, b ? s : 0, c ? s : 0, d ? s : 0)));
}
inline __m128 load3Sse2(const void* p) {
  const float* f = static_cast<const float*>(p);
  const __m128 xy = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(f)));  // no alignment needed
  return _mm_movelh_ps(xy, _mm_load_ss(f + 2));
}

D3DVECTOR* vec3Normalize(D3DVECTOR* out, const D3DVECTOR* v) {
  const __m128 x = load3Sse2(v);
  store3(out, scaleByRsqrt(x, dot3(x, x)));
  return out;
}

Plane* planeNormalize(Plane* out, const Plane* p) {
  const __m128 x = load4(p);
  const __m128 n = maskLanes(x, -1, -1, -1, 0);
  store4(out, scaleByRsqrt(x, dot4(n, n)));
  return out;
}

Plane* planeFromPoints(Plane* out, const D3DVECTOR* p1, const D3DVECTOR* p2, const D3DVECTOR* p3) {
  const __m128 a = load3Sse2(p1);
  const __m128 n0 = cross3(_mm_sub_ps(load3Sse2(p2), a), _mm_sub_ps(load3Sse2(p3), a));
  const __m128 n = maskLanes(scaleByRsqrt(n0, dot3(n0, n0)), -1, -1, -1, 0);
  const __m128 d = flipSigns(maskLanes(dot3(n, a), 0, 0, 0, -1), 0, 0, 0, 1);
  store4(out, _mm_or_ps(n, d));
  return out;
}

Vec4* vec4Cross(Vec4* out, const Vec4* pu, const Vec4* pv, const Vec4* pw) {
  const __m128 u = load4(pu), v = load4(pv), w = load4(pw);
  const __m128 abcd = _mm_sub_ps(_mm_mul_ps(SHUF(v, 0, 0, 0, 1), SHUF(w, 1, 2, 3, 2)),
                                 _mm_mul_ps(SHUF(v, 1, 2, 3, 2), SHUF(w, 0, 0, 0, 1)));  // A B C D
  const __m128 efef = _mm_sub_ps(_mm_mul_ps(SHUF(v, 1, 2, 1, 2), SHUF(w, 3, 3, 3, 3)),
                                 _mm_mul_ps(SHUF(v, 3, 3, 3, 3), SHUF(w, 1, 2, 1, 2)));  // E F E F
  // t1 = (F, -F, E, -D), t2 = (-E, C, -C, B), t3 = (D, -B, A, -A)
  const __m128 fe = _mm_shuffle_ps(efef, efef, _MM_SHUFFLE(0, 0, 1, 1));             // F F E E
  const __m128 ed = _mm_shuffle_ps(efef, abcd, _MM_SHUFFLE(3, 3, 0, 0));            // E E D D
  const __m128 t1 = flipSigns(_mm_shuffle_ps(fe, ed, _MM_SHUFFLE(2, 0, 1, 0)), 0, 1, 0, 1);  // F F E D
  const __m128 ec = _mm_shuffle_ps(efef, abcd, _MM_SHUFFLE(1, 2, 0, 0));            // E E C B
  const __m128 t2 = flipSigns(_mm_shuffle_ps(ec, ec, _MM_SHUFFLE(3, 2, 2, 0)), 1, 0, 1, 0);  // E C C B
  const __m128 t3 = flipSigns(SHUF(abcd, 3, 1, 0, 0), 0, 1, 0, 1);                 // D B A A
  const __m128 r = _mm_add_ps(_mm_add_ps(_mm_mul_ps(SHUF(u, 1, 0, 0, 0), t1), _mm_mul_ps(SHUF(u, 2, 2, 1, 1), t2)),
                              _mm_mul_ps(SHUF(u, 3, 3, 3, 2), t3));
  store4(out, r);
  return out;
}

Quat* quatFromYawPitchRoll(Quat* out, float yaw, float pitch, float roll) {
  const float cy = std::cos(yaw * 0.5f), sy = std::sin(yaw * 0.5f);
  const float cp = std::cos(pitch * 0.5f), sp = std::sin(pitch * 0.5f);
  const float cr = std::cos(roll * 0.5f), sr = std::sin(roll * 0.5f);
  const __m128 a = _mm_mul_ps(_mm_mul_ps(_mm_setr_ps(cy, sy, cy, cy), _mm_setr_ps(sp, cp, cp, cp)),
                              _mm_setr_ps(cr, cr, sr, cr));
  const __m128 b = _mm_mul_ps(_mm_mul_ps(_mm_setr_ps(sy, cy, sy, sy), _mm_setr_ps(cp, sp, sp, sp)),
                              _mm_setr_ps(sr, sr, cr, sr));
  store4(out, _mm_add_ps(a, flipSigns(b, 0, 1, 1, 0)));
  return out;
}

D3DMATRIX* mat4Shadow(D3DMATRIX* out, const Vec4* light, const Plane* plane) {
  const __m128 pl = load4(plane);
  const __m128 n = maskLanes(pl, -1, -1, -1, 0);
  const __m128 p = scaleByRsqrt(pl, dot4(n, n));
  const __m128 l = load4(light);
  const __m128 d = dot4(p, l);
  storeRows(out, {_mm_sub_ps(maskLanes(d, -1, 0, 0, 0), _mm_mul_ps(SHUF(p, 0, 0, 0, 0), l)),
                  _mm_sub_ps(maskLanes(d, 0, -1, 0, 0), _mm_mul_ps(SHUF(p, 1, 1, 1, 1), l)),
                  _mm_sub_ps(maskLanes(d, 0, 0, -1, 0), _mm_mul_ps(SHUF(p, 2, 2, 2, 2), l)),
                  _mm_sub_ps(maskLanes(d, 0, 0, 0, -1), _mm_mul_ps(SHUF(p, 3, 3, 3, 3), l))});
  return out;
}

D3DMATRIX* mat4Reflect(D3DMATRIX* out, const Plane* plane) {
  const __m128 pl = load4(plane);
  const __m128 n0 = maskLanes(pl, -1, -1, -1, 0);
  const __m128 p = scaleByRsqrt(pl, dot4(n0, n0));
  const __m128 n = maskLanes(p, -1, -1, -1, 0);
  const __m128 twoN = flipSigns(_mm_add_ps(n, n), 1, 1, 1, 1);
  const __m128 one = _mm_set1_ps(1.0f);
  storeRows(out, {_mm_add_ps(maskLanes(one, -1, 0, 0, 0), _mm_mul_ps(SHUF(p, 0, 0, 0, 0), twoN)),
                  _mm_add_ps(maskLanes(one, 0, -1, 0, 0), _mm_mul_ps(SHUF(p, 1, 1, 1, 1), twoN)),
                  _mm_add_ps(maskLanes(one, 0, 0, -1, 0), _mm_mul_ps(SHUF(p, 2, 2, 2, 2), twoN)),
                  _mm_add_ps(maskLanes(one, 0, 0, 0, -1), _mm_mul_ps(SHUF(p, 3, 3, 3, 3), twoN))});
  return out;
}

// Eight halves at a time: normals by moving the fields and adding the
// exponent bias difference; subnormals (and zero) as their mantissa
// converted to float times 2^-24; then the sign.
inline __m128 halvesToFloats(__m128i h32) {
  const __m128i magnitude = _mm_and_si128(h32, _mm_set1_epi32(0x7FFF));
  const __m128i sign = _mm_slli_epi32(_mm_and_si128(h32, _mm_set1_epi32(0x8000)), 16);
  const __m128i normal = _mm_add_epi32(_mm_slli_epi32(magnitude, 13), _mm_set1_epi32(112 << 23));
  const __m128 subnormal = _mm_mul_ps(_mm_cvtepi32_ps(magnitude), _mm_set1_ps(5.96046448e-8f));  // 2^-24
  const __m128i isSub = _mm_cmplt_epi32(magnitude, _mm_set1_epi32(0x0400));
  const __m128i bits = _mm_or_si128(_mm_and_si128(isSub, _mm_castps_si128(subnormal)),
                                    _mm_andnot_si128(isSub, normal));
  return _mm_castsi128_ps(_mm_or_si128(bits, sign));
}

float* float16To32Array(float* out, const uint16_t* in, uint32_t count) {
  uint32_t i = 0;
  const __m128i zero = _mm_setzero_si128();
  for (; i + 8 <= count; i += 8) {
    const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    _mm_storeu_ps(out + i, halvesToFloats(_mm_unpacklo_epi16(h, zero)));
    _mm_storeu_ps(out + i + 4, halvesToFloats(_mm_unpackhi_epi16(h, zero)));
  }
  for (; i < count; ++i) {
    const __m128 f = halvesToFloats(_mm_cvtsi32_si128(in[i]));
    _mm_store_ss(out + i, f);
  }
  return out;
}

// ---- Array forms in groups of four ------------------------------------------------
//
// Four elements are gathered into x, y, z, w lanes (structure of arrays),
// transformed with the matrix elements broadcast, and scattered back; the
// remainder goes one by one through the SSE element routine.

struct Broadcast {
  __m128 m[4][4];
};
inline Broadcast broadcast(const D3DMATRIX* m) {
  Broadcast b;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) b.m[i][j] = _mm_set1_ps(m->m[i][j]);
  return b;
}

template <int In, bool Packed>
inline void gather(const unsigned char* s, uint32_t stride, __m128& x, __m128& y, __m128& z, __m128& w) {
  if constexpr (In == 4) {
    x = load4(s), y = load4(s + stride), z = load4(s + 2 * stride), w = load4(s + 3 * stride);
    _MM_TRANSPOSE4_PS(x, y, z, w);
  } else if constexpr (In == 3) {
    if constexpr (Packed) {  // three loads hold four points
      const __m128 a = load4(s), b = load4(s + 16), c = load4(s + 32);  // x0y0z0x1 y1z1x2y2 z2x3y3z3
      const __m128 x23 = _mm_shuffle_ps(b, c, _MM_SHUFFLE(1, 1, 2, 2));  // x2 x2 x3 x3
      x = _mm_shuffle_ps(a, x23, _MM_SHUFFLE(2, 0, 3, 0));               // x0 x1 x2 x3
      const __m128 y01 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 1, 1));  // y0 y0 y1 y1
      const __m128 y23 = _mm_shuffle_ps(b, c, _MM_SHUFFLE(2, 2, 3, 3));  // y2 y2 y3 y3
      y = _mm_shuffle_ps(y01, y23, _MM_SHUFFLE(2, 0, 2, 0));             // y0 y1 y2 y3
      const __m128 z01 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 1, 2, 2));  // z0 z0 z1 z1
      const __m128 z23 = _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 3, 0, 0));  // z2 z2 z3 z3
      z = _mm_shuffle_ps(z01, z23, _MM_SHUFFLE(2, 0, 2, 0));             // z0 z1 z2 z3
    } else {
      __m128 a = load3Sse2(s), b = load3Sse2(s + stride), c = load3Sse2(s + 2 * stride),
             d = load3Sse2(s + 3 * stride);
      _MM_TRANSPOSE4_PS(a, b, c, d);
      x = a, y = b, z = c;
    }
    w = _mm_set1_ps(1.0f);
  } else {
    const __m128 ab = _mm_loadh_pi(load2(s), reinterpret_cast<const __m64*>(s + stride));           // x0 y0 x1 y1
    const __m128 cd = _mm_loadh_pi(load2(s + 2 * stride), reinterpret_cast<const __m64*>(s + 3 * stride));
    x = _mm_shuffle_ps(ab, cd, _MM_SHUFFLE(2, 0, 2, 0));
    y = _mm_shuffle_ps(ab, cd, _MM_SHUFFLE(3, 1, 3, 1));
    z = _mm_setzero_ps();
    w = _mm_set1_ps(1.0f);
  }
}

template <int Out, bool Packed>
inline void scatter(unsigned char* o, uint32_t stride, __m128 x, __m128 y, __m128 z, __m128 w) {
  if constexpr (Out == 4) {
    _MM_TRANSPOSE4_PS(x, y, z, w);
    store4(o, x), store4(o + stride, y), store4(o + 2 * stride, z), store4(o + 3 * stride, w);
  } else if constexpr (Out == 3) {
    if constexpr (Packed) {
      const __m128 xy01 = _mm_unpacklo_ps(x, y);                         // x0 y0 x1 y1
      const __m128 a = _mm_shuffle_ps(xy01, _mm_unpacklo_ps(z, x), _MM_SHUFFLE(3, 0, 1, 0));  // x0 y0 z0 x1
      const __m128 yz1 = _mm_shuffle_ps(y, z, _MM_SHUFFLE(1, 1, 1, 1));  // y1 y1 z1 z1
      const __m128 xy2 = _mm_shuffle_ps(x, y, _MM_SHUFFLE(2, 2, 2, 2));  // x2 x2 y2 y2
      const __m128 b = _mm_shuffle_ps(yz1, xy2, _MM_SHUFFLE(2, 0, 2, 0));  // y1 z1 x2 y2
      const __m128 zx = _mm_shuffle_ps(z, x, _MM_SHUFFLE(3, 3, 2, 2));   // z2 z2 x3 x3
      const __m128 yz3 = _mm_shuffle_ps(y, z, _MM_SHUFFLE(3, 3, 3, 3));  // y3 y3 z3 z3
      const __m128 c = _mm_shuffle_ps(zx, yz3, _MM_SHUFFLE(2, 0, 2, 0));  // z2 x3 y3 z3
      store4(o, a), store4(o + 16, b), store4(o + 32, c);
    } else {
      _MM_TRANSPOSE4_PS(x, y, z, w);
      store3(o, x), store3(o + stride, y), store3(o + 2 * stride, z), store3(o + 3 * stride, w);
    }
  } else {
    store2(o, _mm_unpacklo_ps(x, y));
    _mm_storeh_pi(reinterpret_cast<__m64*>(o + stride), _mm_unpacklo_ps(x, y));
    store2(o + 2 * stride, _mm_unpackhi_ps(x, y));
    _mm_storeh_pi(reinterpret_cast<__m64*>(o + 3 * stride), _mm_unpackhi_ps(x, y));
  }
}

enum class Kind { Point, Coord, Normal, Full };

// Rows used per kind: Full uses w; Point and Coord add row 4; Normal does not.
template <Kind K, int In>
inline void transformLanes(const Broadcast& m, __m128 x, __m128 y, __m128 z, __m128 w, __m128 r[4], int outs) {
  for (int j = 0; j < outs; ++j) {
    __m128 acc = _mm_add_ps(_mm_mul_ps(x, m.m[0][j]), _mm_mul_ps(y, m.m[1][j]));
    if constexpr (In >= 3) acc = _mm_add_ps(acc, _mm_mul_ps(z, m.m[2][j]));
    if constexpr (K == Kind::Full) acc = _mm_add_ps(acc, _mm_mul_ps(w, m.m[3][j]));
    else if constexpr (K == Kind::Point || K == Kind::Coord) acc = _mm_add_ps(acc, m.m[3][j]);
    r[j] = acc;
  }
}

template <Kind K, int In, int Out, bool PackedIn, bool PackedOut>
inline void groupLoop(unsigned char*& o, uint32_t outStride, const unsigned char*& s, uint32_t inStride,
                      const Broadcast& b, uint32_t groups) {
  // Each group finishes reading before it writes: an output that overlaps
  // the input in place is then still safe.
  for (uint32_t g = 0; g < groups; ++g, o += 4 * outStride, s += 4 * inStride) {
    __m128 x, y, z, w;
    gather<In, PackedIn>(s, inStride, x, y, z, w);
    __m128 r[4];
    if constexpr (K == Kind::Coord) {
      transformLanes<K, In>(b, x, y, z, w, r, 4);
      // Divide lanes whose w is not within 2^-23 of 1 by the refined reciprocal.
      const __m128 one = _mm_set1_ps(1.0f);
      const __m128 d = _mm_and_ps(_mm_sub_ps(r[3], one), _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)));
      const __m128 keep = _mm_cmple_ps(d, _mm_set1_ps(1.1920929e-7f));  // false for NaN
      const __m128 approx = _mm_rcp_ps(r[3]);
      const __m128 refined = _mm_mul_ps(approx, _mm_sub_ps(_mm_set1_ps(2.0f), _mm_mul_ps(r[3], approx)));
      const __m128 inv = _mm_or_ps(_mm_and_ps(keep, one), _mm_andnot_ps(keep, refined));
      r[0] = _mm_mul_ps(r[0], inv);
      r[1] = _mm_mul_ps(r[1], inv);
      r[2] = _mm_mul_ps(r[2], inv);
    } else {
      transformLanes<K, In>(b, x, y, z, w, r, Out == 4 ? 4 : Out);
    }
    if constexpr (Out == 4) scatter<4, PackedOut>(o, outStride, r[0], r[1], r[2], r[3]);
    else if constexpr (Out == 3) scatter<3, PackedOut>(o, outStride, r[0], r[1], r[2], _mm_setzero_ps());
    else scatter<2, PackedOut>(o, outStride, r[0], r[1], _mm_setzero_ps(), _mm_setzero_ps());
  }
}


// ---- Eight elements at a time with AVX2, where the processor has it ---------------
//
// The two 128-bit halves of each register hold elements 0-3 and 4-7 of a
// group, so the in-lane shuffles are the same as in the four-wide code.
// Multiplies and adds stay separate (no fused multiply-add), which keeps the
// results identical to the four-wide path.

bool gUseAvx2 = false;

#define NERRO_AVX2 __attribute__((target("avx2"))) inline

NERRO_AVX2 __m256 pair(__m128 lo, __m128 hi) { return _mm256_insertf128_ps(_mm256_castps128_ps256(lo), hi, 1); }
NERRO_AVX2 __m256 loadPair(const unsigned char* lo, const unsigned char* hi) {
  return pair(_mm_loadu_ps(reinterpret_cast<const float*>(lo)), _mm_loadu_ps(reinterpret_cast<const float*>(hi)));
}
NERRO_AVX2 __m256 loadPair3(const unsigned char* lo, const unsigned char* hi) { return pair(load3Sse2(lo), load3Sse2(hi)); }
NERRO_AVX2 void storePair(unsigned char* lo, unsigned char* hi, __m256 v) {
  _mm_storeu_ps(reinterpret_cast<float*>(lo), _mm256_castps256_ps128(v));
  _mm_storeu_ps(reinterpret_cast<float*>(hi), _mm256_extractf128_ps(v, 1));
}
NERRO_AVX2 void storePair3(unsigned char* lo, unsigned char* hi, __m256 v) {
  store3(lo, _mm256_castps256_ps128(v));
  store3(hi, _mm256_extractf128_ps(v, 1));
}
NERRO_AVX2 void transpose8(__m256& r0, __m256& r1, __m256& r2, __m256& r3) {
  const __m256 t0 = _mm256_unpacklo_ps(r0, r1), t1 = _mm256_unpacklo_ps(r2, r3);
  const __m256 t2 = _mm256_unpackhi_ps(r0, r1), t3 = _mm256_unpackhi_ps(r2, r3);
  r0 = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(1, 0, 1, 0));
  r1 = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 2, 3, 2));
  r2 = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(1, 0, 1, 0));
  r3 = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(3, 2, 3, 2));
}

template <int In, bool Packed>
NERRO_AVX2 void gather8(const unsigned char* s, uint32_t st, __m256& x, __m256& y, __m256& z, __m256& w) {
  const unsigned char* h = s + 4 * st;
  if constexpr (In == 4) {
    x = loadPair(s, h), y = loadPair(s + st, h + st), z = loadPair(s + 2 * st, h + 2 * st);
    w = loadPair(s + 3 * st, h + 3 * st);
    transpose8(x, y, z, w);
  } else {
    if constexpr (Packed) {
      const __m256 a = loadPair(s, s + 48), b = loadPair(s + 16, s + 64), c = loadPair(s + 32, s + 80);
      const __m256 x23 = _mm256_shuffle_ps(b, c, _MM_SHUFFLE(1, 1, 2, 2));
      x = _mm256_shuffle_ps(a, x23, _MM_SHUFFLE(2, 0, 3, 0));
      const __m256 y01 = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 1, 1));
      const __m256 y23 = _mm256_shuffle_ps(b, c, _MM_SHUFFLE(2, 2, 3, 3));
      y = _mm256_shuffle_ps(y01, y23, _MM_SHUFFLE(2, 0, 2, 0));
      const __m256 z01 = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(1, 1, 2, 2));
      const __m256 z23 = _mm256_shuffle_ps(c, c, _MM_SHUFFLE(3, 3, 0, 0));
      z = _mm256_shuffle_ps(z01, z23, _MM_SHUFFLE(2, 0, 2, 0));
    } else {
      x = loadPair3(s, h), y = loadPair3(s + st, h + st), z = loadPair3(s + 2 * st, h + 2 * st);
      __m256 d = loadPair3(s + 3 * st, h + 3 * st);
      transpose8(x, y, z, d);
    }
    w = _mm256_set1_ps(1.0f);
  }
}

template <int Out, bool Packed>
NERRO_AVX2 void scatter8(unsigned char* o, uint32_t st, __m256 x, __m256 y, __m256 z, __m256 w) {
  unsigned char* h = o + 4 * st;
  if constexpr (Out == 4) {
    transpose8(x, y, z, w);
    storePair(o, h, x), storePair(o + st, h + st, y), storePair(o + 2 * st, h + 2 * st, z);
    storePair(o + 3 * st, h + 3 * st, w);
  } else if constexpr (Packed) {
    const __m256 xy01 = _mm256_unpacklo_ps(x, y);
    const __m256 a = _mm256_shuffle_ps(xy01, _mm256_unpacklo_ps(z, x), _MM_SHUFFLE(3, 0, 1, 0));
    const __m256 yz1 = _mm256_shuffle_ps(y, z, _MM_SHUFFLE(1, 1, 1, 1));
    const __m256 xy2 = _mm256_shuffle_ps(x, y, _MM_SHUFFLE(2, 2, 2, 2));
    const __m256 b = _mm256_shuffle_ps(yz1, xy2, _MM_SHUFFLE(2, 0, 2, 0));
    const __m256 zx = _mm256_shuffle_ps(z, x, _MM_SHUFFLE(3, 3, 2, 2));
    const __m256 yz3 = _mm256_shuffle_ps(y, z, _MM_SHUFFLE(3, 3, 3, 3));
    const __m256 c = _mm256_shuffle_ps(zx, yz3, _MM_SHUFFLE(2, 0, 2, 0));
    storePair(o, o + 48, a), storePair(o + 16, o + 64, b), storePair(o + 32, o + 80, c);
  } else {
    transpose8(x, y, z, w);
    storePair3(o, h, x), storePair3(o + st, h + st, y), storePair3(o + 2 * st, h + 2 * st, z);
    storePair3(o + 3 * st, h + 3 * st, w);
  }
}

template <Kind K, int In, int Out, bool PackedIn, bool PackedOut>
__attribute__((target("avx2"))) void groupLoop8(unsigned char*& o, uint32_t outStride, const unsigned char*& s,
                                                uint32_t inStride, const D3DMATRIX* mat, uint32_t groups) {
  __m256 m[4][4];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) m[i][j] = _mm256_set1_ps(mat->m[i][j]);
  for (uint32_t g = 0; g < groups; ++g, o += 8 * outStride, s += 8 * inStride) {
    __m256 x, y, z, w;
    gather8<In, PackedIn>(s, inStride, x, y, z, w);
    __m256 r[4];
    constexpr int outs = (K == Kind::Coord || Out == 4) ? 4 : Out;
    for (int j = 0; j < outs; ++j) {
      __m256 acc = _mm256_add_ps(_mm256_mul_ps(x, m[0][j]), _mm256_mul_ps(y, m[1][j]));
      acc = _mm256_add_ps(acc, _mm256_mul_ps(z, m[2][j]));
      if constexpr (K == Kind::Full) acc = _mm256_add_ps(acc, _mm256_mul_ps(w, m[3][j]));
      else if constexpr (K == Kind::Point || K == Kind::Coord) acc = _mm256_add_ps(acc, m[3][j]);
      r[j] = acc;
    }
    if constexpr (K == Kind::Coord) {
      const __m256 one = _mm256_set1_ps(1.0f);
      const __m256 d = _mm256_and_ps(_mm256_sub_ps(r[3], one), _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF)));
      const __m256 keep = _mm256_cmp_ps(d, _mm256_set1_ps(1.1920929e-7f), _CMP_LE_OQ);
      const __m256 approx = _mm256_rcp_ps(r[3]);
      const __m256 refined = _mm256_mul_ps(approx, _mm256_sub_ps(_mm256_set1_ps(2.0f), _mm256_mul_ps(r[3], approx)));
      const __m256 inv = _mm256_blendv_ps(refined, one, keep);
      r[0] = _mm256_mul_ps(r[0], inv);
      r[1] = _mm256_mul_ps(r[1], inv);
      r[2] = _mm256_mul_ps(r[2], inv);
    }
    const __m256 zero = _mm256_setzero_ps();
    if constexpr (Out == 4) scatter8<4, PackedOut>(o, outStride, r[0], r[1], r[2], r[3]);
    else scatter8<3, PackedOut>(o, outStride, r[0], r[1], r[2], zero);
  }
}

template <Kind K, int In, int Out, typename OutT, typename InT, typename Single>
inline OutT* groupedArray(OutT* out, uint32_t outStride, const InT* in, uint32_t inStride, const D3DMATRIX* m,
                          uint32_t count, Single single) {
  const Broadcast b = broadcast(m);
  auto* o = reinterpret_cast<unsigned char*>(out);
  auto* s = reinterpret_cast<const unsigned char*>(in);
  // Three-component elements packed without padding have their own
  // shuffles; every other layout goes through per-element loads.
  const bool packedIn = In == 3 && inStride == 12, packedOut = Out == 3 && outStride == 12;
  if constexpr (In >= 3) {
    if (gUseAvx2) {
      const uint32_t wide = count / 8;
      if (packedIn && packedOut) groupLoop8<K, In, Out, true, true>(o, outStride, s, inStride, m, wide);
      else if (packedIn) groupLoop8<K, In, Out, true, false>(o, outStride, s, inStride, m, wide);
      else if (packedOut) groupLoop8<K, In, Out, false, true>(o, outStride, s, inStride, m, wide);
      else groupLoop8<K, In, Out, false, false>(o, outStride, s, inStride, m, wide);
      count -= wide * 8;
    }
  }
  const uint32_t groups = count / 4;
  if (packedIn && packedOut) groupLoop<K, In, Out, true, true>(o, outStride, s, inStride, b, groups);
  else if (packedIn) groupLoop<K, In, Out, true, false>(o, outStride, s, inStride, b, groups);
  else if (packedOut) groupLoop<K, In, Out, false, true>(o, outStride, s, inStride, b, groups);
  else groupLoop<K, In, Out, false, false>(o, outStride, s, inStride, b, groups);
  if (count % 4 != 0)
    single(reinterpret_cast<OutT*>(o), outStride, reinterpret_cast<const InT*>(s), inStride, m, count % 4);
  return out;
}

Vec4* vec2TransformArray(Vec4* out, uint32_t os, const Vec2* in, uint32_t is, const D3DMATRIX* m, uint32_t n) {
  return groupedArray<Kind::Point, 2, 4>(out, os, in, is, m, n, sse::vec2TransformArray);
}
Vec2* vec2TransformCoordArray(Vec2* out, uint32_t os, const Vec2* in, uint32_t is, const D3DMATRIX* m, uint32_t n) {
  return groupedArray<Kind::Coord, 2, 2>(out, os, in, is, m, n, sse::vec2TransformCoordArray);
}
Vec2* vec2TransformNormalArray(Vec2* out, uint32_t os, const Vec2* in, uint32_t is, const D3DMATRIX* m, uint32_t n) {
  return groupedArray<Kind::Normal, 2, 2>(out, os, in, is, m, n, sse::vec2TransformNormalArray);
}
Vec4* vec3TransformArray(Vec4* out, uint32_t os, const D3DVECTOR* in, uint32_t is, const D3DMATRIX* m, uint32_t n) {
  return groupedArray<Kind::Point, 3, 4>(out, os, in, is, m, n, sse::vec3TransformArray);
}
D3DVECTOR* vec3TransformCoordArray(D3DVECTOR* out, uint32_t os, const D3DVECTOR* in, uint32_t is, const D3DMATRIX* m,
                                   uint32_t n) {
  return groupedArray<Kind::Coord, 3, 3>(out, os, in, is, m, n, sse::vec3TransformCoordArray);
}
D3DVECTOR* vec3TransformNormalArray(D3DVECTOR* out, uint32_t os, const D3DVECTOR* in, uint32_t is,
                                    const D3DMATRIX* m, uint32_t n) {
  return groupedArray<Kind::Normal, 3, 3>(out, os, in, is, m, n, sse::vec3TransformNormalArray);
}
Vec4* vec4TransformArray(Vec4* out, uint32_t os, const Vec4* in, uint32_t is, const D3DMATRIX* m, uint32_t n) {
  return groupedArray<Kind::Full, 4, 4>(out, os, in, is, m, n, sse::vec4TransformArray);
}
// The same routine as vec4TransformArray.
Plane* planeTransformArray(Plane* out, uint32_t os, const Plane* in, uint32_t is, const D3DMATRIX* m, uint32_t n) {
  return groupedArray<Kind::Full, 4, 4>(out, os, in, is, m, n, sse::planeTransformArray);
}

}  // namespace sse2

}  // namespace

namespace detail {

namespace {
// The slots the SSE tier and the SSE2 tier have in common ("S2 shared").
void installShared(MathDispatch& t) {
  t.vec2Transform = &sse::vec2Transform;
  t.vec3Transform = &sse::vec3Transform;
  t.vec4Transform = &sse::vec4Transform;
  t.mat4Multiply = &sse::mat4Multiply;
  t.mat4MultiplyTranspose = &sse::mat4MultiplyTranspose;
  t.vec2TransformNormal = &sse::vec2TransformNormal;
  t.vec3TransformNormal = &sse::vec3TransformNormal;
  t.vec4Normalize = &sse::vec4Normalize;
  t.vec2TransformCoord = &sse::vec2TransformCoord;
  t.vec3TransformCoord = &sse::vec3TransformCoord;
  t.mat4Determinant = &sse::mat4Determinant;
  t.vec2Hermite = &sse::vec2Hermite;
  t.mat4Inverse = &sse::mat4Inverse;
  t.quatMultiply = &sse::quatMultiply;
  t.quatNormalize = &sse::quatNormalize;
  t.planeIntersectLine = &sse::planeIntersectLine;
  t.quatFromMatrix = &sse::quatFromMatrix;
  t.planeTransform = &sse::planeTransform;
  t.vec2CatmullRom = &sse::vec2CatmullRom;
  t.vec2Barycentric = &sse::vec2Barycentric;
  t.vec3Hermite = &sse::vec3Hermite;
  t.vec3CatmullRom = &sse::vec3CatmullRom;
  t.vec3Barycentric = &sse::vec3Barycentric;
  t.vec4Hermite = &sse::vec4Hermite;
  t.vec4CatmullRom = &sse::vec4CatmullRom;
  t.vec4Barycentric = &sse::vec4Barycentric;
  t.evaluatePnTriangles = &sse::evaluatePnTriangles;
}
}  // namespace

void installSseArrayRoutines(MathDispatch& t) {
  t.vec2TransformArray = &sse::vec2TransformArray;
  t.vec2TransformCoordArray = &sse::vec2TransformCoordArray;
  t.vec2TransformNormalArray = &sse::vec2TransformNormalArray;
  t.vec3TransformArray = &sse::vec3TransformArray;
  t.vec3TransformCoordArray = &sse::vec3TransformCoordArray;
  t.vec3TransformNormalArray = &sse::vec3TransformNormalArray;
  t.vec4TransformArray = &sse::vec4TransformArray;
  t.planeTransformArray = &sse::planeTransformArray;
}

void installSseRoutines(MathDispatch& t) {
  installShared(t);
  installSseArrayRoutines(t);
  t.vec3Normalize = &sse::vec3Normalize;
  t.planeFromPoints = &sse::planeFromPoints;
  t.vec4Cross = &sse::vec4Cross;
  t.planeNormalize = &sse::planeNormalize;
  t.quatFromYawPitchRoll = &sse::quatFromYawPitchRoll;
  t.mat4Shadow = &sse::mat4Shadow;
  t.mat4Reflect = &sse::mat4Reflect;
  t.quatInverse = &sse::quatInverse;
  t.float16To32Array = &sse::float16To32Array;
}

void installSse2Routines(MathDispatch& t) {
  installShared(t);
  // The array forms of three and four components go eight at a time where
  // AVX2 is there.
  sse2::gUseAvx2 = platform::cpuFeatures().avx2;
  t.vec3Normalize = &sse2::vec3Normalize;
  t.planeFromPoints = &sse2::planeFromPoints;
  t.vec4Cross = &sse2::vec4Cross;
  t.planeNormalize = &sse2::planeNormalize;
  t.quatFromYawPitchRoll = &sse2::quatFromYawPitchRoll;
  t.mat4Shadow = &sse2::mat4Shadow;
  t.mat4Reflect = &sse2::mat4Reflect;
  t.float16To32Array = &sse2::float16To32Array;
  t.vec2TransformArray = &sse2::vec2TransformArray;
  t.vec2TransformCoordArray = &sse2::vec2TransformCoordArray;
  t.vec2TransformNormalArray = &sse2::vec2TransformNormalArray;
  t.vec3TransformArray = &sse2::vec3TransformArray;
  t.vec3TransformCoordArray = &sse2::vec3TransformCoordArray;
  t.vec3TransformNormalArray = &sse2::vec3TransformNormalArray;
  t.vec4TransformArray = &sse2::vec4TransformArray;
  t.planeTransformArray = &sse2::planeTransformArray;
}

}  // namespace detail
}  // namespace nerro::math

#else  // not x86: the generic set alone

namespace nerro::math::detail {
void installSseRoutines(MathDispatch&) {}
void installSse2Routines(MathDispatch&) {}
void installSseArrayRoutines(MathDispatch&) {}
}  // namespace nerro::math::detail

#endif
