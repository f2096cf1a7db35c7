// The tuned set, installed in every tier: the transforms, the matrix
// products and vec3Normalize, evaluated in double precision with a
// different order of evaluation; and the table-driven reciprocal square root.
#include <array>
#include <cmath>

#include "math/routines.h"

namespace nerro::math {

namespace {

// Straight-line fits of 1/sqrt(m) over 512 intervals: entry p*256 + k covers
// [b(1 + k/256), b(1 + (k+1)/256)] with b = 0.5 for p = 0 and 1 for p = 1.
// Each line is the chord lowered by half its largest distance above the
// (convex) curve, which spreads the error evenly over the interval.
struct RsqrtFit {
  float slope, intercept;
};

constexpr double constexprSqrt(double x) {
  double r = x < 1.0 ? 1.0 : x;
  for (int i = 0; i < 64; ++i) r = 0.5 * (r + x / r);
  return r;
}

constexpr std::array<RsqrtFit, 512> buildRsqrtTable() {
  std::array<RsqrtFit, 512> t{};
  for (int p = 0; p < 2; ++p) {
    const double b = p == 0 ? 0.5 : 1.0;
    for (int k = 0; k < 256; ++k) {
      const double lo = b * (1.0 + k / 256.0), hi = b * (1.0 + (k + 1) / 256.0);
      const double flo = 1.0 / constexprSqrt(lo), fhi = 1.0 / constexprSqrt(hi);
      const double slope = (fhi - flo) / (hi - lo);
      // The curve's slope equals the chord's at m = (-1 / (2 slope))^(2/3).
      const double c = -1.0 / (2.0 * slope);  // m^(3/2)
      double m = lo;
      for (int i = 0; i < 64; ++i) m = m - (m * constexprSqrt(m) - c) / (1.5 * constexprSqrt(m));
      const double chordAtM = flo + slope * (m - lo);
      const double gap = chordAtM - 1.0 / constexprSqrt(m);
      const double intercept = flo - slope * lo - gap / 2.0;
      t[p * 256 + k] = {static_cast<float>(slope), static_cast<float>(intercept)};
    }
  }
  return t;
}

constexpr std::array<RsqrtFit, 512> kRsqrtTable = buildRsqrtTable();

inline float estimateNormal(uint32_t bits) {
  const RsqrtFit& fit = kRsqrtTable[(bits >> 15) & 0x1FF];
  const float m = detail::bitsFloat((bits & 0x00FFFFFFu) | 0x3F000000u);
  const float scale = detail::bitsFloat(((0xBEFFFFFFu - bits) >> 1) & 0xFF800000u);
  return (m * fit.slope + fit.intercept) * scale;
}

}  // namespace

float reciprocalSqrtEstimate(float x) {
  const uint32_t bits = detail::floatBits(x);
  if (bits - 0x00800000u < 0x7F000000u) return estimateNormal(bits);  // positive normal
  // Subnormals are scaled into the normal range first; zero, infinity,
  // negatives and NaN get the value of 1/sqrt.
  if (bits != 0 && bits < 0x00800000u) return estimateNormal(detail::floatBits(x * 16777216.0f)) * 4096.0f;
  return 1.0f / std::sqrt(x);
}

namespace tuned {

Vec4* vec2Transform(Vec4* out, const Vec2* v, const D3DMATRIX* m) {
  const double x = v->x, y = v->y;
  const float r0 = static_cast<float>(m->_41 + x * m->_11 + y * m->_21);
  const float r1 = static_cast<float>(m->_42 + x * m->_12 + y * m->_22);
  const float r2 = static_cast<float>(m->_43 + x * m->_13 + y * m->_23);
  const float r3 = static_cast<float>(m->_44 + x * m->_14 + y * m->_24);
  *out = {r0, r1, r2, r3};
  return out;
}

Vec4* vec3Transform(Vec4* out, const D3DVECTOR* v, const D3DMATRIX* m) {
  const double x = v->x, y = v->y, z = v->z;
  const float r0 = static_cast<float>(m->_41 + x * m->_11 + y * m->_21 + z * m->_31);
  const float r1 = static_cast<float>(m->_42 + x * m->_12 + y * m->_22 + z * m->_32);
  const float r2 = static_cast<float>(m->_43 + x * m->_13 + y * m->_23 + z * m->_33);
  const float r3 = static_cast<float>(m->_44 + x * m->_14 + y * m->_24 + z * m->_34);
  *out = {r0, r1, r2, r3};
  return out;
}

Vec4* vec4Transform(Vec4* out, const Vec4* v, const D3DMATRIX* m) {
  const double x = v->x, y = v->y, z = v->z, w = v->w;
  const float r0 = static_cast<float>(w * m->_41 + z * m->_31 + y * m->_21 + x * m->_11);
  const float r1 = static_cast<float>(w * m->_42 + z * m->_32 + y * m->_22 + x * m->_12);
  const float r2 = static_cast<float>(w * m->_43 + z * m->_33 + y * m->_23 + x * m->_13);
  const float r3 = static_cast<float>(w * m->_44 + z * m->_34 + y * m->_24 + x * m->_14);
  *out = {r0, r1, r2, r3};
  return out;
}

// The same routine as vec4Transform: a plane has the layout of a Vec4.
Plane* planeTransform(Plane* out, const Plane* p, const D3DMATRIX* m) {
  static_assert(sizeof(Plane) == sizeof(Vec4));
  const Vec4 v{p->a, p->b, p->c, p->d};
  Vec4 r;
  tuned::vec4Transform(&r, &v, m);
  *out = {r.x, r.y, r.z, r.w};
  return out;
}

namespace {
inline void product(float r[4][4], const D3DMATRIX* a, const D3DMATRIX* b) {
  for (int i = 0; i < 4; ++i) {
    const double a0 = a->m[i][0], a1 = a->m[i][1], a2 = a->m[i][2], a3 = a->m[i][3];
    for (int j = 0; j < 4; ++j)
      r[i][j] = static_cast<float>(a3 * b->m[3][j] + a2 * b->m[2][j] + a1 * b->m[1][j] + a0 * b->m[0][j]);
  }
}
}  // namespace

D3DMATRIX* mat4Multiply(D3DMATRIX* out, const D3DMATRIX* a, const D3DMATRIX* b) {
  float r[4][4];
  product(r, a, b);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out->m[i][j] = r[i][j];
  return out;
}

D3DMATRIX* mat4MultiplyTranspose(D3DMATRIX* out, const D3DMATRIX* a, const D3DMATRIX* b) {
  float r[4][4];
  product(r, a, b);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out->m[i][j] = r[j][i];
  return out;
}

Vec2* vec2TransformNormal(Vec2* out, const Vec2* v, const D3DMATRIX* m) {
  const double x = v->x, y = v->y;
  *out = {static_cast<float>(y * m->_21 + x * m->_11), static_cast<float>(y * m->_22 + x * m->_12)};
  return out;
}

D3DVECTOR* vec3TransformNormal(D3DVECTOR* out, const D3DVECTOR* v, const D3DMATRIX* m) {
  const double x = v->x, y = v->y, z = v->z;
  *out = {static_cast<float>(z * m->_31 + y * m->_21 + x * m->_11),
          static_cast<float>(z * m->_32 + y * m->_22 + x * m->_12),
          static_cast<float>(z * m->_33 + y * m->_23 + x * m->_13)};
  return out;
}

D3DVECTOR* vec3Normalize(D3DVECTOR* out, const D3DVECTOR* v) {
  const float x = v->x, y = v->y, z = v->z;
  const double xd = x, yd = y, zd = z;
  const float s = static_cast<float>(xd * xd + yd * yd + zd * zd);
  const uint32_t bits = detail::floatBits(s);
  // A zero or subnormal squared length has no usable reciprocal square
  // root: the vector is too short to give a direction.
  if ((bits & 0x7F800000u) == 0) {
    *out = {0.0f, 0.0f, 0.0f};
    return out;
  }
  const float unitTolerance = detail::bitsFloat(0x3727C5ACu);  // 0.00001
  if (std::fabs(s - 1.0f) <= unitTolerance) {
    *out = {x, y, z};
    return out;
  }
  const float r = reciprocalSqrtEstimate(s);
  *out = {x * r, y * r, z * r};
  return out;
}

}  // namespace tuned

namespace detail {
void installTunedRoutines(MathDispatch& table) {
  table.vec2Transform = &tuned::vec2Transform;
  table.vec3Transform = &tuned::vec3Transform;
  table.vec4Transform = &tuned::vec4Transform;
  table.mat4Multiply = &tuned::mat4Multiply;
  table.mat4MultiplyTranspose = &tuned::mat4MultiplyTranspose;
  table.vec2TransformNormal = &tuned::vec2TransformNormal;
  table.vec3TransformNormal = &tuned::vec3TransformNormal;
  table.vec3Normalize = &tuned::vec3Normalize;
  table.planeTransform = &tuned::planeTransform;
}
}  // namespace detail

}  // namespace nerro::math
