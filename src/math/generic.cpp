// The generic routines: plain single-precision definitions of every
// operation. Each reads its inputs into locals before writing, so an output
// may be the same object as an input.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "math/routines.h"

namespace nerro::math {

bool isNearlyEqual(float a, float b) {
  const float d = a - b;
  constexpr float eps = 1.1920929e-7f;  // 2^-23
  return d >= -eps && d <= eps;
}

namespace {

constexpr float kSmallestNormal = 1.17549435e-38f;

inline D3DMATRIX identityMatrix() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

inline D3DMATRIX multiplyInto(const D3DMATRIX& a, const D3DMATRIX& b) {
  D3DMATRIX r;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
    }
  }
  return r;
}

inline D3DMATRIX translationMatrix(float x, float y, float z) {
  D3DMATRIX m = identityMatrix();
  m._41 = x;
  m._42 = y;
  m._43 = z;
  return m;
}

// `m` followed by `r` applied about the centre (x, y, z).
inline D3DMATRIX thenAboutCentre(const D3DMATRIX& m, const D3DMATRIX& r, float x, float y, float z) {
  D3DMATRIX t = multiplyInto(m, translationMatrix(-x, -y, -z));
  t = multiplyInto(t, r);
  return multiplyInto(t, translationMatrix(x, y, z));
}

inline D3DMATRIX rotationZMatrix(float angle) {
  const float cs = std::cos(angle), sn = std::sin(angle);
  D3DMATRIX m = identityMatrix();
  m._11 = cs;
  m._12 = sn;
  m._21 = -sn;
  m._22 = cs;
  return m;
}

// Element loads for the strided array forms: strides need not keep floats
// aligned, so elements are copied in and out.
template <typename T>
inline T loadElement(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}
template <typename T>
inline void storeElement(void* p, const T& v) {
  std::memcpy(p, &v, sizeof(T));
}

}  // namespace

namespace generic {

// ---- Transforms -----------------------------------------------------------

Vec4* vec2Transform(Vec4* out, const Vec2* v, const D3DMATRIX* m) {
  const float x = v->x, y = v->y;
  *out = {x * m->_11 + y * m->_21 + m->_41, x * m->_12 + y * m->_22 + m->_42, x * m->_13 + y * m->_23 + m->_43,
          x * m->_14 + y * m->_24 + m->_44};
  return out;
}

Vec4* vec3Transform(Vec4* out, const D3DVECTOR* v, const D3DMATRIX* m) {
  const float x = v->x, y = v->y, z = v->z;
  *out = {x * m->_11 + y * m->_21 + z * m->_31 + m->_41, x * m->_12 + y * m->_22 + z * m->_32 + m->_42,
          x * m->_13 + y * m->_23 + z * m->_33 + m->_43, x * m->_14 + y * m->_24 + z * m->_34 + m->_44};
  return out;
}

Vec4* vec4Transform(Vec4* out, const Vec4* v, const D3DMATRIX* m) {
  const float x = v->x, y = v->y, z = v->z, w = v->w;
  *out = {x * m->_11 + y * m->_21 + z * m->_31 + w * m->_41, x * m->_12 + y * m->_22 + z * m->_32 + w * m->_42,
          x * m->_13 + y * m->_23 + z * m->_33 + w * m->_43, x * m->_14 + y * m->_24 + z * m->_34 + w * m->_44};
  return out;
}

Plane* planeTransform(Plane* out, const Plane* p, const D3DMATRIX* m) {
  const Vec4 v{p->a, p->b, p->c, p->d};
  Vec4 r;
  generic::vec4Transform(&r, &v, m);
  *out = {r.x, r.y, r.z, r.w};
  return out;
}

Vec2* vec2TransformNormal(Vec2* out, const Vec2* v, const D3DMATRIX* m) {
  const float x = v->x, y = v->y;
  *out = {x * m->_11 + y * m->_21, x * m->_12 + y * m->_22};
  return out;
}

D3DVECTOR* vec3TransformNormal(D3DVECTOR* out, const D3DVECTOR* v, const D3DMATRIX* m) {
  const float x = v->x, y = v->y, z = v->z;
  *out = {x * m->_11 + y * m->_21 + z * m->_31, x * m->_12 + y * m->_22 + z * m->_32,
          x * m->_13 + y * m->_23 + z * m->_33};
  return out;
}

Vec2* vec2TransformCoord(Vec2* out, const Vec2* v, const D3DMATRIX* m) {
  const float x = v->x, y = v->y;
  float rx = x * m->_11 + y * m->_21 + m->_41;
  float ry = x * m->_12 + y * m->_22 + m->_42;
  const float w = x * m->_14 + y * m->_24 + m->_44;
  if (!isNearlyEqual(w, 1.0f)) {
    rx /= w;
    ry /= w;
  }
  *out = {rx, ry};
  return out;
}

D3DVECTOR* vec3TransformCoord(D3DVECTOR* out, const D3DVECTOR* v, const D3DMATRIX* m) {
  const float x = v->x, y = v->y, z = v->z;
  float rx = x * m->_11 + y * m->_21 + z * m->_31 + m->_41;
  float ry = x * m->_12 + y * m->_22 + z * m->_32 + m->_42;
  float rz = x * m->_13 + y * m->_23 + z * m->_33 + m->_43;
  const float w = x * m->_14 + y * m->_24 + z * m->_34 + m->_44;
  if (!isNearlyEqual(w, 1.0f)) {
    rx /= w;
    ry /= w;
    rz /= w;
  }
  *out = {rx, ry, rz};
  return out;
}

// ---- Matrices -------------------------------------------------------------

D3DMATRIX* mat4Multiply(D3DMATRIX* out, const D3DMATRIX* a, const D3DMATRIX* b) {
  *out = multiplyInto(*a, *b);
  return out;
}

D3DMATRIX* mat4MultiplyTranspose(D3DMATRIX* out, const D3DMATRIX* a, const D3DMATRIX* b) {
  const D3DMATRIX r = multiplyInto(*a, *b);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out->m[i][j] = r.m[j][i];
  return out;
}

D3DMATRIX* mat4Transpose(D3DMATRIX* out, const D3DMATRIX* m) {
  const D3DMATRIX s = *m;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out->m[i][j] = s.m[j][i];
  return out;
}

float mat4Determinant(const D3DMATRIX* m) {
  // Expansion along the first row; the 2x2 determinants of rows 3 and 4.
  const float s0 = m->_33 * m->_44 - m->_34 * m->_43;
  const float s1 = m->_32 * m->_44 - m->_34 * m->_42;
  const float s2 = m->_32 * m->_43 - m->_33 * m->_42;
  const float s3 = m->_31 * m->_44 - m->_34 * m->_41;
  const float s4 = m->_31 * m->_43 - m->_33 * m->_41;
  const float s5 = m->_31 * m->_42 - m->_32 * m->_41;
  const float c0 = m->_22 * s0 - m->_23 * s1 + m->_24 * s2;
  const float c1 = m->_21 * s0 - m->_23 * s3 + m->_24 * s4;
  const float c2 = m->_21 * s1 - m->_22 * s3 + m->_24 * s5;
  const float c3 = m->_21 * s2 - m->_22 * s4 + m->_23 * s5;
  return m->_11 * c0 - m->_12 * c1 + m->_13 * c2 - m->_14 * c3;
}

D3DMATRIX* mat4Inverse(D3DMATRIX* out, float* determinant, const D3DMATRIX* m) {
  const float a0 = m->_11 * m->_22 - m->_12 * m->_21;
  const float a1 = m->_11 * m->_23 - m->_13 * m->_21;
  const float a2 = m->_11 * m->_24 - m->_14 * m->_21;
  const float a3 = m->_12 * m->_23 - m->_13 * m->_22;
  const float a4 = m->_12 * m->_24 - m->_14 * m->_22;
  const float a5 = m->_13 * m->_24 - m->_14 * m->_23;
  const float b0 = m->_31 * m->_42 - m->_32 * m->_41;
  const float b1 = m->_31 * m->_43 - m->_33 * m->_41;
  const float b2 = m->_31 * m->_44 - m->_34 * m->_41;
  const float b3 = m->_32 * m->_43 - m->_33 * m->_42;
  const float b4 = m->_32 * m->_44 - m->_34 * m->_42;
  const float b5 = m->_33 * m->_44 - m->_34 * m->_43;
  const float det = a0 * b5 - a1 * b4 + a2 * b3 + a3 * b2 - a4 * b1 + a5 * b0;
  if (determinant != nullptr) *determinant = det;
  if (det == 0.0f) return nullptr;
  const float r = 1.0f / det;
  if (!std::isfinite(r)) return nullptr;
  D3DMATRIX inv;
  inv._11 = (m->_22 * b5 - m->_23 * b4 + m->_24 * b3) * r;
  inv._12 = (-m->_12 * b5 + m->_13 * b4 - m->_14 * b3) * r;
  inv._13 = (m->_42 * a5 - m->_43 * a4 + m->_44 * a3) * r;
  inv._14 = (-m->_32 * a5 + m->_33 * a4 - m->_34 * a3) * r;
  inv._21 = (-m->_21 * b5 + m->_23 * b2 - m->_24 * b1) * r;
  inv._22 = (m->_11 * b5 - m->_13 * b2 + m->_14 * b1) * r;
  inv._23 = (-m->_41 * a5 + m->_43 * a2 - m->_44 * a1) * r;
  inv._24 = (m->_31 * a5 - m->_33 * a2 + m->_34 * a1) * r;
  inv._31 = (m->_21 * b4 - m->_22 * b2 + m->_24 * b0) * r;
  inv._32 = (-m->_11 * b4 + m->_12 * b2 - m->_14 * b0) * r;
  inv._33 = (m->_41 * a4 - m->_42 * a2 + m->_44 * a0) * r;
  inv._34 = (-m->_31 * a4 + m->_32 * a2 - m->_34 * a0) * r;
  inv._41 = (-m->_21 * b3 + m->_22 * b1 - m->_23 * b0) * r;
  inv._42 = (m->_11 * b3 - m->_12 * b1 + m->_13 * b0) * r;
  inv._43 = (-m->_41 * a3 + m->_42 * a1 - m->_43 * a0) * r;
  inv._44 = (m->_31 * a3 - m->_32 * a1 + m->_33 * a0) * r;
  *out = inv;
  return out;
}

D3DMATRIX* mat4Translation(D3DMATRIX* out, float tx, float ty, float tz) {
  *out = translationMatrix(tx, ty, tz);
  return out;
}

D3DMATRIX* mat4Scaling(D3DMATRIX* out, float sx, float sy, float sz) {
  D3DMATRIX m{};
  m._11 = sx;
  m._22 = sy;
  m._33 = sz;
  m._44 = 1.0f;
  *out = m;
  return out;
}

D3DMATRIX* mat4RotationX(D3DMATRIX* out, float angle) {
  const float cs = std::cos(angle), sn = std::sin(angle);
  D3DMATRIX m = identityMatrix();
  m._22 = cs;
  m._23 = sn;
  m._32 = -sn;
  m._33 = cs;
  *out = m;
  return out;
}

D3DMATRIX* mat4RotationY(D3DMATRIX* out, float angle) {
  const float cs = std::cos(angle), sn = std::sin(angle);
  D3DMATRIX m = identityMatrix();
  m._11 = cs;
  m._13 = -sn;
  m._31 = sn;
  m._33 = cs;
  *out = m;
  return out;
}

D3DMATRIX* mat4RotationZ(D3DMATRIX* out, float angle) {
  *out = rotationZMatrix(angle);
  return out;
}

D3DMATRIX* mat4RotationQuat(D3DMATRIX* out, const Quat* q) {
  const float x = q->x, y = q->y, z = q->z, w = q->w;
  D3DMATRIX m{};
  m._11 = 1.0f - 2.0f * y * y - 2.0f * z * z;
  m._12 = 2.0f * x * y + 2.0f * z * w;
  m._13 = 2.0f * x * z - 2.0f * y * w;
  m._21 = 2.0f * x * y - 2.0f * z * w;
  m._22 = 1.0f - 2.0f * x * x - 2.0f * z * z;
  m._23 = 2.0f * y * z + 2.0f * x * w;
  m._31 = 2.0f * x * z + 2.0f * y * w;
  m._32 = 2.0f * y * z - 2.0f * x * w;
  m._33 = 1.0f - 2.0f * x * x - 2.0f * y * y;
  m._44 = 1.0f;
  *out = m;
  return out;
}

D3DMATRIX* mat4RotationAxis(D3DMATRIX* out, const D3DVECTOR* axis, float angle) {
  D3DVECTOR n;
  math::vec3Normalize(&n, axis);
  const float x = n.x, y = n.y, z = n.z;
  const float cs = std::cos(angle), sn = std::sin(angle), t = 1.0f - cs;
  D3DMATRIX m{};
  m._11 = t * x * x + cs;
  m._12 = t * x * y + sn * z;
  m._13 = t * x * z - sn * y;
  m._21 = t * x * y - sn * z;
  m._22 = t * y * y + cs;
  m._23 = t * y * z + sn * x;
  m._31 = t * x * z + sn * y;
  m._32 = t * y * z - sn * x;
  m._33 = t * z * z + cs;
  m._44 = 1.0f;
  *out = m;
  return out;
}

D3DMATRIX* mat4RotationYawPitchRoll(D3DMATRIX* out, float yaw, float pitch, float roll) {
  Quat q;
  math::quatFromYawPitchRoll(&q, yaw, pitch, roll);
  return math::mat4RotationQuat(out, &q);
}

D3DMATRIX* mat4Shadow(D3DMATRIX* out, const Vec4* light, const Plane* plane) {
  Plane p;
  math::planeNormalize(&p, plane);
  const float P[4] = {p.a, p.b, p.c, p.d};
  const float L[4] = {light->x, light->y, light->z, light->w};
  const float d = P[0] * L[0] + P[1] * L[1] + P[2] * L[2] + P[3] * L[3];
  D3DMATRIX m;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) m.m[i][j] = (i == j ? d : 0.0f) - P[i] * L[j];
  *out = m;
  return out;
}

D3DMATRIX* mat4Reflect(D3DMATRIX* out, const Plane* plane) {
  Plane p;
  math::planeNormalize(&p, plane);
  const float a = p.a, b = p.b, c = p.c, d = p.d;
  D3DMATRIX m{};
  m._11 = 1.0f - 2.0f * a * a;
  m._12 = -2.0f * a * b;
  m._13 = -2.0f * a * c;
  m._21 = -2.0f * a * b;
  m._22 = 1.0f - 2.0f * b * b;
  m._23 = -2.0f * b * c;
  m._31 = -2.0f * a * c;
  m._32 = -2.0f * b * c;
  m._33 = 1.0f - 2.0f * c * c;
  m._41 = -2.0f * d * a;
  m._42 = -2.0f * d * b;
  m._43 = -2.0f * d * c;
  m._44 = 1.0f;
  *out = m;
  return out;
}

D3DMATRIX* mat4Transformation(D3DMATRIX* out, const D3DVECTOR* scalingCenter, const Quat* scalingRotation,
                              const D3DVECTOR* scaling, const D3DVECTOR* rotationCenter, const Quat* rotation,
                              const D3DVECTOR* translation) {
  D3DMATRIX m = identityMatrix();
  if (scaling != nullptr) {
    const D3DVECTOR sc = scalingCenter ? *scalingCenter : D3DVECTOR{0, 0, 0};
    m = translationMatrix(-sc.x, -sc.y, -sc.z);
    D3DMATRIX sr = identityMatrix(), srInverse = identityMatrix();
    if (scalingRotation != nullptr) {
      math::mat4RotationQuat(&sr, scalingRotation);
      math::mat4Transpose(&srInverse, &sr);
    }
    D3DMATRIX s;
    mat4Scaling(&s, scaling->x, scaling->y, scaling->z);
    m = multiplyInto(m, srInverse);
    m = multiplyInto(m, s);
    m = multiplyInto(m, sr);
    m = multiplyInto(m, translationMatrix(sc.x, sc.y, sc.z));
  }
  if (rotation != nullptr) {
    const D3DVECTOR rc = rotationCenter ? *rotationCenter : D3DVECTOR{0, 0, 0};
    D3DMATRIX r;
    math::mat4RotationQuat(&r, rotation);
    m = thenAboutCentre(m, r, rc.x, rc.y, rc.z);
  }
  if (translation != nullptr) {
    m._41 += translation->x;
    m._42 += translation->y;
    m._43 += translation->z;
  }
  *out = m;
  return out;
}

D3DMATRIX* mat4AffineTransformation(D3DMATRIX* out, float scaling, const D3DVECTOR* rotationCenter,
                                    const Quat* rotation, const D3DVECTOR* translation) {
  D3DMATRIX m;
  mat4Scaling(&m, scaling, scaling, scaling);
  if (rotation != nullptr) {
    const D3DVECTOR rc = rotationCenter ? *rotationCenter : D3DVECTOR{0, 0, 0};
    D3DMATRIX r;
    math::mat4RotationQuat(&r, rotation);
    m = thenAboutCentre(m, r, rc.x, rc.y, rc.z);
  }
  if (translation != nullptr) {
    m._41 += translation->x;
    m._42 += translation->y;
    m._43 += translation->z;
  }
  *out = m;
  return out;
}

D3DMATRIX* mat4Transformation2D(D3DMATRIX* out, const Vec2* scalingCenter, float scalingRotation, const Vec2* scaling,
                                const Vec2* rotationCenter, float rotation, const Vec2* translation) {
  D3DMATRIX m = identityMatrix();
  if (scaling != nullptr) {
    const Vec2 sc = scalingCenter ? *scalingCenter : Vec2{0, 0};
    D3DMATRIX s;
    mat4Scaling(&s, scaling->x, scaling->y, 1.0f);
    m = translationMatrix(-sc.x, -sc.y, 0.0f);
    m = multiplyInto(m, rotationZMatrix(-scalingRotation));
    m = multiplyInto(m, s);
    m = multiplyInto(m, rotationZMatrix(scalingRotation));
    m = multiplyInto(m, translationMatrix(sc.x, sc.y, 0.0f));
  }
  const Vec2 rc = rotationCenter ? *rotationCenter : Vec2{0, 0};
  m = thenAboutCentre(m, rotationZMatrix(rotation), rc.x, rc.y, 0.0f);
  if (translation != nullptr) {
    m._41 += translation->x;
    m._42 += translation->y;
  }
  *out = m;
  return out;
}

D3DMATRIX* mat4AffineTransformation2D(D3DMATRIX* out, float scaling, const Vec2* rotationCenter, float rotation,
                                      const Vec2* translation) {
  D3DMATRIX m;
  mat4Scaling(&m, scaling, scaling, 1.0f);
  if (rotation != 0.0f) {
    const Vec2 rc = rotationCenter ? *rotationCenter : Vec2{0, 0};
    m = thenAboutCentre(m, rotationZMatrix(rotation), rc.x, rc.y, 0.0f);
  }
  if (translation != nullptr) {
    m._41 += translation->x;
    m._42 += translation->y;
  }
  *out = m;
  return out;
}

HRESULT mat4Decompose(D3DVECTOR* scale, Quat* rotation, D3DVECTOR* translation, const D3DMATRIX* m) {
  float rows[3][3];
  float s[3];
  bool degenerate[3];
  int degenerateCount = 0;
  for (int i = 0; i < 3; ++i) {
    const float x = m->m[i][0], y = m->m[i][1], z = m->m[i][2];
    s[i] = std::sqrt(x * x + y * y + z * z);
    degenerate[i] = !(s[i] >= 0.0001f);
    degenerateCount += degenerate[i];
    if (!degenerate[i]) {
      rows[i][0] = x / s[i];
      rows[i][1] = y / s[i];
      rows[i][2] = z / s[i];
    }
  }
  auto cross = [](const float* a, const float* b, float* r) {
    const float x = a[1] * b[2] - a[2] * b[1];
    const float y = a[2] * b[0] - a[0] * b[2];
    const float z = a[0] * b[1] - a[1] * b[0];
    r[0] = x;
    r[1] = y;
    r[2] = z;
  };
  auto normalize = [](float* r) {
    const float len = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    if (len > 0.0f) {
      r[0] /= len;
      r[1] /= len;
      r[2] /= len;
    }
  };
  if (degenerateCount == 3) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) rows[i][j] = i == j ? 1.0f : 0.0f;
  } else if (degenerateCount == 2) {
    // One good row i: take the coordinate axis least parallel to it, then
    // complete a right-handed frame (rows i, i+1, i+2 cyclic).
    int i = degenerate[0] ? (degenerate[1] ? 2 : 1) : 0;
    int best = 0;
    for (int a = 1; a < 3; ++a)
      if (std::fabs(rows[i][a]) < std::fabs(rows[i][best])) best = a;
    float axis[3] = {0, 0, 0};
    axis[best] = 1.0f;
    const int j = (i + 1) % 3, k = (i + 2) % 3;
    cross(rows[i], axis, rows[j]);
    normalize(rows[j]);
    cross(rows[i], rows[j], rows[k]);
    normalize(rows[k]);
  } else if (degenerateCount == 1) {
    const int i = degenerate[0] ? 0 : (degenerate[1] ? 1 : 2);
    cross(rows[(i + 1) % 3], rows[(i + 2) % 3], rows[i]);
    normalize(rows[i]);
  }
  float det = rows[0][0] * (rows[1][1] * rows[2][2] - rows[1][2] * rows[2][1]) -
              rows[0][1] * (rows[1][0] * rows[2][2] - rows[1][2] * rows[2][0]) +
              rows[0][2] * (rows[1][0] * rows[2][1] - rows[1][1] * rows[2][0]);
  if (det < 0.0f) {
    int largest = 0;
    for (int i = 1; i < 3; ++i)
      if (s[i] > s[largest]) largest = i;
    s[largest] = -s[largest];
    for (int j = 0; j < 3; ++j) rows[largest][j] = -rows[largest][j];
    det = -det;
  }
  if (!((det - 1.0f) * (det - 1.0f) <= 0.0001f)) return D3DERR_INVALIDCALL;
  D3DMATRIX r = identityMatrix();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = rows[i][j];
  Quat q;
  math::quatFromMatrix(&q, &r);
  *scale = {s[0], s[1], s[2]};
  *rotation = q;
  *translation = {m->_41, m->_42, m->_43};
  return S_OK;
}

// ---- Normalisation ----------------------------------------------------------

D3DVECTOR* vec3Normalize(D3DVECTOR* out, const D3DVECTOR* v) {
  const float x = v->x, y = v->y, z = v->z;
  const float s = x * x + y * y + z * z;
  if (isNearlyEqual(s, 1.0f)) {
    *out = {x, y, z};
  } else if (!(s > kSmallestNormal)) {
    *out = {0.0f, 0.0f, 0.0f};
  } else {
    const float r = 1.0f / std::sqrt(s);
    *out = {x * r, y * r, z * r};
  }
  return out;
}

Vec2* vec2Normalize(Vec2* out, const Vec2* v) {
  const float x = v->x, y = v->y;
  const float s = x * x + y * y;
  if (isNearlyEqual(s, 1.0f)) {
    *out = {x, y};
  } else if (!(s > kSmallestNormal)) {
    *out = {0.0f, 0.0f};
  } else {
    const float r = 1.0f / std::sqrt(s);
    *out = {x * r, y * r};
  }
  return out;
}

Vec4* vec4Normalize(Vec4* out, const Vec4* v) {
  const float x = v->x, y = v->y, z = v->z, w = v->w;
  const float s = x * x + y * y + z * z + w * w;
  if (isNearlyEqual(s, 1.0f)) {
    *out = {x, y, z, w};
  } else if (!(s > kSmallestNormal)) {
    *out = {0.0f, 0.0f, 0.0f, 0.0f};
  } else {
    const float r = 1.0f / std::sqrt(s);
    *out = {x * r, y * r, z * r, w * r};
  }
  return out;
}

// Shares vec4Normalize: a quaternion has the layout of a Vec4.
Quat* quatNormalize(Quat* out, const Quat* q) {
  const Vec4 v{q->x, q->y, q->z, q->w};
  Vec4 r;
  generic::vec4Normalize(&r, &v);
  *out = {r.x, r.y, r.z, r.w};
  return out;
}

Plane* planeNormalize(Plane* out, const Plane* p) {
  const float a = p->a, b = p->b, c = p->c, d = p->d;
  const float s = a * a + b * b + c * c;
  if (isNearlyEqual(s, 1.0f)) {
    *out = {a, b, c, d};
  } else if (!(s > kSmallestNormal)) {
    *out = {0.0f, 0.0f, 0.0f, 0.0f};
  } else {
    const float r = 1.0f / std::sqrt(s);
    *out = {a * r, b * r, c * r, d * r};
  }
  return out;
}

// ---- Vectors ------------------------------------------------------------------

Vec4* vec4Cross(Vec4* out, const Vec4* u, const Vec4* v, const Vec4* w) {
  const float A = v->x * w->y - v->y * w->x;
  const float B = v->x * w->z - v->z * w->x;
  const float C = v->x * w->w - v->w * w->x;
  const float D = v->y * w->z - v->z * w->y;
  const float E = v->y * w->w - v->w * w->y;
  const float F = v->z * w->w - v->w * w->z;
  *out = {u->y * F - u->z * E + u->w * D, -u->x * F + u->z * C - u->w * B, u->x * E - u->y * C + u->w * A,
          -u->x * D + u->y * B - u->z * A};
  return out;
}

namespace {
// Four weights for a curve through four control vectors.
struct Weights4 {
  float a, b, c, d;
};
// Hermite: p1, t1, p2, t2.
inline Weights4 hermiteWeights(float s) {
  const float s2 = s * s, s3 = s2 * s;
  return {2.0f * s3 - 3.0f * s2 + 1.0f, s3 - 2.0f * s2 + s, -2.0f * s3 + 3.0f * s2, s3 - s2};
}
// Catmull-Rom: p0, p1, p2, p3.
inline Weights4 catmullRomWeights(float s) {
  const float s2 = s * s, s3 = s2 * s;
  return {0.5f * (-s3 + 2.0f * s2 - s), 0.5f * (3.0f * s3 - 5.0f * s2 + 2.0f), 0.5f * (-3.0f * s3 + 4.0f * s2 + s),
          0.5f * (s3 - s2)};
}
// w.a a + w.b b + w.c c + w.d d, component by component.
inline Vec2 weighted(const Weights4& w, const Vec2& a, const Vec2& b, const Vec2& c, const Vec2& d) {
  return {w.a * a.x + w.b * b.x + w.c * c.x + w.d * d.x, w.a * a.y + w.b * b.y + w.c * c.y + w.d * d.y};
}
inline D3DVECTOR weighted(const Weights4& w, const D3DVECTOR& a, const D3DVECTOR& b, const D3DVECTOR& c,
                          const D3DVECTOR& d) {
  return {w.a * a.x + w.b * b.x + w.c * c.x + w.d * d.x, w.a * a.y + w.b * b.y + w.c * c.y + w.d * d.y,
          w.a * a.z + w.b * b.z + w.c * c.z + w.d * d.z};
}
inline Vec4 weighted(const Weights4& w, const Vec4& a, const Vec4& b, const Vec4& c, const Vec4& d) {
  return {w.a * a.x + w.b * b.x + w.c * c.x + w.d * d.x, w.a * a.y + w.b * b.y + w.c * c.y + w.d * d.y,
          w.a * a.z + w.b * b.z + w.c * c.z + w.d * d.z, w.a * a.w + w.b * b.w + w.c * c.w + w.d * d.w};
}
}  // namespace

Vec2* vec2Hermite(Vec2* out, const Vec2* p1, const Vec2* t1, const Vec2* p2, const Vec2* t2, float s) {
  *out = weighted(hermiteWeights(s), *p1, *t1, *p2, *t2);
  return out;
}

D3DVECTOR* vec3Hermite(D3DVECTOR* out, const D3DVECTOR* p1, const D3DVECTOR* t1, const D3DVECTOR* p2,
                       const D3DVECTOR* t2, float s) {
  *out = weighted(hermiteWeights(s), *p1, *t1, *p2, *t2);
  return out;
}

Vec4* vec4Hermite(Vec4* out, const Vec4* p1, const Vec4* t1, const Vec4* p2, const Vec4* t2, float s) {
  *out = weighted(hermiteWeights(s), *p1, *t1, *p2, *t2);
  return out;
}

Vec2* vec2CatmullRom(Vec2* out, const Vec2* p0, const Vec2* p1, const Vec2* p2, const Vec2* p3, float s) {
  *out = weighted(catmullRomWeights(s), *p0, *p1, *p2, *p3);
  return out;
}

D3DVECTOR* vec3CatmullRom(D3DVECTOR* out, const D3DVECTOR* p0, const D3DVECTOR* p1, const D3DVECTOR* p2,
                          const D3DVECTOR* p3, float s) {
  *out = weighted(catmullRomWeights(s), *p0, *p1, *p2, *p3);
  return out;
}

Vec4* vec4CatmullRom(Vec4* out, const Vec4* p0, const Vec4* p1, const Vec4* p2, const Vec4* p3, float s) {
  *out = weighted(catmullRomWeights(s), *p0, *p1, *p2, *p3);
  return out;
}

Vec2* vec2Barycentric(Vec2* out, const Vec2* p1, const Vec2* p2, const Vec2* p3, float f, float g) {
  *out = {p1->x + f * (p2->x - p1->x) + g * (p3->x - p1->x), p1->y + f * (p2->y - p1->y) + g * (p3->y - p1->y)};
  return out;
}

D3DVECTOR* vec3Barycentric(D3DVECTOR* out, const D3DVECTOR* p1, const D3DVECTOR* p2, const D3DVECTOR* p3, float f,
                           float g) {
  *out = {p1->x + f * (p2->x - p1->x) + g * (p3->x - p1->x), p1->y + f * (p2->y - p1->y) + g * (p3->y - p1->y),
          p1->z + f * (p2->z - p1->z) + g * (p3->z - p1->z)};
  return out;
}

Vec4* vec4Barycentric(Vec4* out, const Vec4* p1, const Vec4* p2, const Vec4* p3, float f, float g) {
  *out = {p1->x + f * (p2->x - p1->x) + g * (p3->x - p1->x), p1->y + f * (p2->y - p1->y) + g * (p3->y - p1->y),
          p1->z + f * (p2->z - p1->z) + g * (p3->z - p1->z), p1->w + f * (p2->w - p1->w) + g * (p3->w - p1->w)};
  return out;
}

// ---- Projection -------------------------------------------------------------

namespace {
// world x view x projection with the absent matrices left out.
D3DMATRIX combinedTransform(const D3DMATRIX* projection, const D3DMATRIX* view, const D3DMATRIX* world) {
  D3DMATRIX m = identityMatrix();
  if (world != nullptr) m = *world;
  if (view != nullptr) m = multiplyInto(m, *view);
  if (projection != nullptr) m = multiplyInto(m, *projection);
  return m;
}
}  // namespace

D3DVECTOR* vec3Project(D3DVECTOR* out, const D3DVECTOR* v, const D3DVIEWPORT9* viewport, const D3DMATRIX* projection,
                       const D3DMATRIX* view, const D3DMATRIX* world) {
  const D3DMATRIX m = combinedTransform(projection, view, world);
  D3DVECTOR p;
  math::vec3TransformCoord(&p, v, &m);
  if (viewport != nullptr) {
    const float X = static_cast<float>(viewport->X), Y = static_cast<float>(viewport->Y);
    const float W = static_cast<float>(viewport->Width), H = static_cast<float>(viewport->Height);
    p = {X + (1.0f + p.x) * W / 2.0f, Y + (1.0f - p.y) * H / 2.0f,
         viewport->MinZ + p.z * (viewport->MaxZ - viewport->MinZ)};
  }
  *out = p;
  return out;
}

D3DVECTOR* vec3Unproject(D3DVECTOR* out, const D3DVECTOR* v, const D3DVIEWPORT9* viewport,
                         const D3DMATRIX* projection, const D3DMATRIX* view, const D3DMATRIX* world) {
  const D3DMATRIX m = combinedTransform(projection, view, world);
  D3DMATRIX inv;
  // A singular transformation has no inverse: report it instead of using an
  // uninitialised matrix.
  if (math::mat4Inverse(&inv, nullptr, &m) == nullptr) return nullptr;
  D3DVECTOR p = *v;
  if (viewport != nullptr) {
    const float X = static_cast<float>(viewport->X), Y = static_cast<float>(viewport->Y);
    const float W = static_cast<float>(viewport->Width), H = static_cast<float>(viewport->Height);
    p = {(p.x - X) / W * 2.0f - 1.0f, -((p.y - Y) / H * 2.0f - 1.0f),
         (p.z - viewport->MinZ) / (viewport->MaxZ - viewport->MinZ)};
  }
  return math::vec3TransformCoord(out, &p, &inv);
}

D3DVECTOR* vec3ProjectArray(D3DVECTOR* out, uint32_t outStride, const D3DVECTOR* in, uint32_t inStride,
                            const D3DVIEWPORT9* viewport, const D3DMATRIX* projection, const D3DMATRIX* view,
                            const D3DMATRIX* world, uint32_t count) {
  D3DMATRIX m = combinedTransform(projection, view, world);
  if (viewport != nullptr) {
    const float X = static_cast<float>(viewport->X), Y = static_cast<float>(viewport->Y);
    const float W = static_cast<float>(viewport->Width), H = static_cast<float>(viewport->Height);
    D3DMATRIX vp{};
    vp._11 = W / 2.0f;
    vp._22 = -H / 2.0f;
    vp._33 = viewport->MaxZ - viewport->MinZ;
    vp._41 = X + W / 2.0f;
    vp._42 = Y + H / 2.0f;
    vp._43 = viewport->MinZ;
    vp._44 = 1.0f;
    m = multiplyInto(m, vp);
  }
  return math::vec3TransformCoordArray(out, outStride, in, inStride, &m, count);
}

D3DVECTOR* vec3UnprojectArray(D3DVECTOR* out, uint32_t outStride, const D3DVECTOR* in, uint32_t inStride,
                              const D3DVIEWPORT9* viewport, const D3DMATRIX* projection, const D3DMATRIX* view,
                              const D3DMATRIX* world, uint32_t count) {
  const D3DMATRIX m = combinedTransform(projection, view, world);
  D3DMATRIX inv;
  if (math::mat4Inverse(&inv, nullptr, &m) == nullptr) return nullptr;
  if (viewport != nullptr) {
    const float X = static_cast<float>(viewport->X), Y = static_cast<float>(viewport->Y);
    const float W = static_cast<float>(viewport->Width), H = static_cast<float>(viewport->Height);
    const float depth = viewport->MaxZ - viewport->MinZ;
    D3DMATRIX vp{};
    vp._11 = 2.0f / W;
    vp._22 = -2.0f / H;
    vp._33 = 1.0f / depth;
    vp._41 = -1.0f - X * 2.0f / W;
    vp._42 = 1.0f + Y * 2.0f / H;
    vp._43 = -viewport->MinZ / depth;
    vp._44 = 1.0f;
    inv = multiplyInto(vp, inv);
  }
  return math::vec3TransformCoordArray(out, outStride, in, inStride, &inv, count);
}

// ---- Planes -----------------------------------------------------------------

Plane* planeFromPointNormal(Plane* out, const D3DVECTOR* point, const D3DVECTOR* normal) {
  const D3DVECTOR n = *normal;
  *out = {n.x, n.y, n.z, -(point->x * n.x + point->y * n.y + point->z * n.z)};
  return out;
}

Plane* planeFromPoints(Plane* out, const D3DVECTOR* p1, const D3DVECTOR* p2, const D3DVECTOR* p3) {
  const D3DVECTOR a{p2->x - p1->x, p2->y - p1->y, p2->z - p1->z};
  const D3DVECTOR b{p3->x - p1->x, p3->y - p1->y, p3->z - p1->z};
  const D3DVECTOR c{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
  D3DVECTOR n;
  math::vec3Normalize(&n, &c);
  *out = {n.x, n.y, n.z, -(n.x * p1->x + n.y * p1->y + n.z * p1->z)};
  return out;
}

D3DVECTOR* planeIntersectLine(D3DVECTOR* out, const Plane* p, const D3DVECTOR* l1, const D3DVECTOR* l2) {
  const float n1 = p->a * l1->x + p->b * l1->y + p->c * l1->z;
  const float n2 = p->a * l2->x + p->b * l2->y + p->c * l2->z;
  const float den = n1 - n2;
  if (den == 0.0f) return nullptr;
  const float t = (n1 + p->d) / den;
  if (!std::isfinite(t)) return nullptr;
  *out = {l1->x + t * (l2->x - l1->x), l1->y + t * (l2->y - l1->y), l1->z + t * (l2->z - l1->z)};
  return out;
}

// ---- Quaternions ------------------------------------------------------------

Quat* quatMultiply(Quat* out, const Quat* q1, const Quat* q2) {
  const Quat a = *q1, b = *q2;
  *out = {b.w * a.x + b.x * a.w + b.y * a.z - b.z * a.y, b.w * a.y - b.x * a.z + b.y * a.w + b.z * a.x,
          b.w * a.z + b.x * a.y - b.y * a.x + b.z * a.w, b.w * a.w - b.x * a.x - b.y * a.y - b.z * a.z};
  return out;
}

Quat* quatInverse(Quat* out, const Quat* q) {
  const float x = q->x, y = q->y, z = q->z, w = q->w;
  const float n = x * x + y * y + z * z + w * w;
  constexpr float kTiny = 1.08420217e-19f;  // 2^-63
  if (!(n > kTiny)) {
    *out = {0.0f, 0.0f, 0.0f, 0.0f};
  } else if (isNearlyEqual(n, 1.0f)) {
    *out = {-x, -y, -z, w};
  } else {
    *out = {-x / n, -y / n, -z / n, w / n};
  }
  return out;
}

void quatToAxisAngle(const Quat* q, D3DVECTOR* axis, float* angle) {
  if (axis != nullptr) *axis = {q->x, q->y, q->z};
  if (angle != nullptr) *angle = 2.0f * std::acos(q->w);
}

Quat* quatFromAxisAngle(Quat* out, const D3DVECTOR* axis, float angle) {
  D3DVECTOR n;
  math::vec3Normalize(&n, axis);
  const float sn = std::sin(angle * 0.5f), cs = std::cos(angle * 0.5f);
  *out = {n.x * sn, n.y * sn, n.z * sn, cs};
  return out;
}

Quat* quatFromYawPitchRoll(Quat* out, float yaw, float pitch, float roll) {
  const float cy = std::cos(yaw * 0.5f), sy = std::sin(yaw * 0.5f);
  const float cp = std::cos(pitch * 0.5f), sp = std::sin(pitch * 0.5f);
  const float cr = std::cos(roll * 0.5f), sr = std::sin(roll * 0.5f);
  *out = {cy * sp * cr + sy * cp * sr, sy * cp * cr - cy * sp * sr, cy * cp * sr - sy * sp * cr,
          cy * cp * cr + sy * sp * sr};
  return out;
}

Quat* quatFromMatrix(Quat* out, const D3DMATRIX* m) {
  const float t = m->_11 + m->_22 + m->_33;
  Quat q;
  if (t > 0.0f) {
    const float w = std::sqrt(t + 1.0f) * 0.5f;
    const float f = 4.0f * w;
    q = {(m->_23 - m->_32) / f, (m->_31 - m->_13) / f, (m->_12 - m->_21) / f, w};
  } else {
    const float d0 = m->_11 - m->_22 - m->_33;
    const float d1 = m->_22 - m->_11 - m->_33;
    const float d2 = m->_33 - m->_11 - m->_22;
    int i = 0;
    if (d1 > d0) i = 1;
    if (d2 > (i == 0 ? d0 : d1)) i = 2;
    const int j = (i + 1) % 3, k = (i + 2) % 3;
    float v[3];
    v[i] = std::sqrt(m->m[i][i] - m->m[j][j] - m->m[k][k] + 1.0f) * 0.5f;
    const float f = 4.0f * v[i];
    v[j] = (m->m[i][j] + m->m[j][i]) / f;
    v[k] = (m->m[i][k] + m->m[k][i]) / f;
    q = {v[0], v[1], v[2], (m->m[j][k] - m->m[k][j]) / f};
  }
  *out = q;
  return out;
}

Quat* quatSlerp(Quat* out, const Quat* q1, const Quat* q2, float t) {
  const Quat a = *q1, b = *q2;
  float h = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
  const float sigma = h >= 0.0f ? 1.0f : -1.0f;
  h *= sigma;
  float k1, k2;
  if (1.0f - h > 1.1920929e-7f) {
    // theta = atan2(sqrt(1 - h^2), h) = acos(h) for h in [0, 1], and its sine
    // is that square root.
    const float sinTheta = std::sqrt((1.0f - h) * (1.0f + h));
    const float theta = std::acos(h);
    const float inv = 1.0f / sinTheta;
    k1 = std::sin((1.0f - t) * theta) * inv;
    k2 = std::sin(t * theta) * inv;
  } else {
    k1 = 1.0f - t;
    k2 = t;
  }
  k2 *= sigma;
  *out = {k1 * a.x + k2 * b.x, k1 * a.y + k2 * b.y, k1 * a.z + k2 * b.z, k1 * a.w + k2 * b.w};
  return out;
}

Quat* quatBarycentric(Quat* out, const Quat* q1, const Quat* q2, const Quat* q3, float f, float g) {
  const float s = f + g;
  if (isNearlyEqual(s, 0.0f)) {
    *out = *q1;
    return out;
  }
  Quat a, b;
  math::quatSlerp(&a, q1, q2, s);
  math::quatSlerp(&b, q1, q3, s);
  return math::quatSlerp(out, &a, &b, g / s);
}

Quat* quatSquad(Quat* out, const Quat* q, const Quat* a, const Quat* b, const Quat* c, float t) {
  Quat u, v;
  math::quatSlerp(&u, q, c, t);
  math::quatSlerp(&v, a, b, t);
  return math::quatSlerp(out, &u, &v, 2.0f * t * (1.0f - t));
}

Quat* quatLn(Quat* out, const Quat* q) {
  const float x = q->x, y = q->y, z = q->z, w = q->w;
  if (w < 1.0f) {
    const float theta = std::acos(w);
    const float sinTheta = std::sin(theta);
    if (!isNearlyEqual(sinTheta, 0.0f)) {
      const float k = theta / sinTheta;
      *out = {x * k, y * k, z * k, 0.0f};
      return out;
    }
  }
  *out = {x, y, z, 0.0f};
  return out;
}

Quat* quatExp(Quat* out, const Quat* q) {
  const float x = q->x, y = q->y, z = q->z;
  const float theta = std::sqrt(x * x + y * y + z * z);
  const float sinTheta = std::sin(theta);
  const float w = std::cos(theta);
  if (!isNearlyEqual(sinTheta, 0.0f)) {
    const float k = sinTheta / theta;
    *out = {x * k, y * k, z * k, w};
  } else {
    *out = {x, y, z, w};
  }
  return out;
}

void quatSquadSetup(Quat* qa, Quat* qb, Quat* qc, const Quat* q0, const Quat* q1, const Quat* q2, const Quat* q3) {
  auto sum2 = [](const Quat& a, const Quat& b) {
    const float x = a.x + b.x, y = a.y + b.y, z = a.z + b.z, w = a.w + b.w;
    return x * x + y * y + z * z + w * w;
  };
  auto diff2 = [](const Quat& a, const Quat& b) {
    const float x = a.x - b.x, y = a.y - b.y, z = a.z - b.z, w = a.w - b.w;
    return x * x + y * y + z * z + w * w;
  };
  auto neg = [](const Quat& a) { return Quat{-a.x, -a.y, -a.z, -a.w}; };
  Quat p0 = *q0, p2 = *q2, p3 = *q3;
  const Quat p1 = *q1;
  if (diff2(p0, p1) > sum2(p0, p1)) p0 = neg(p0);
  if (diff2(p2, p1) > sum2(p2, p1)) p2 = neg(p2);
  if (diff2(p3, p2) > sum2(p3, p2)) p3 = neg(p3);
  // q * exp(-0.25 * (ln(q^-1 * a) + ln(q^-1 * b)))
  auto control = [](const Quat& q, const Quat& a, const Quat& b) {
    Quat inv, ta, tb, la, lb;
    math::quatInverse(&inv, &q);
    math::quatMultiply(&ta, &inv, &a);
    math::quatMultiply(&tb, &inv, &b);
    math::quatLn(&la, &ta);
    math::quatLn(&lb, &tb);
    const Quat e{-0.25f * (la.x + lb.x), -0.25f * (la.y + lb.y), -0.25f * (la.z + lb.z), -0.25f * (la.w + lb.w)};
    Quat ex, r;
    math::quatExp(&ex, &e);
    math::quatMultiply(&r, &q, &ex);
    return r;
  };
  const Quat a = control(p1, p0, p2);
  const Quat b = control(p2, p1, p3);
  *qa = a;
  *qb = b;
  *qc = p2;
}

// ---- Half floats --------------------------------------------------------------

uint16_t* float32To16Array(uint16_t* out, const float* in, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t f = detail::floatBits(in[i]);
    const uint32_t m = f & 0x7FFFFFFFu;
    const uint32_t s = (f >> 16) & 0x8000u;
    uint32_t h;
    if (m > 0x47FFEFFFu) {
      h = 0x7FFFu;
    } else if (m >= 0x38800000u) {
      h = (m + 0xC8000FFFu + ((m >> 13) & 1u)) >> 13;
    } else {
      const uint32_t k = 113u - (m >> 23);
      const uint32_t v = k > 31u ? 0u : ((m & 0x7FFFFFu) | 0x800000u) >> k;
      h = (v + 0xFFFu + ((v >> 13) & 1u)) >> 13;
    }
    out[i] = static_cast<uint16_t>(s | h);
  }
  return out;
}

float* float16To32Array(float* out, const uint16_t* in, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t h = in[i];
    const uint32_t sign = (h & 0x8000u) << 16;
    uint32_t bits;
    if ((h & 0x7C00u) != 0) {
      bits = sign | ((((h >> 10) & 0x1Fu) + 112u) << 23) | ((h & 0x3FFu) << 13);
    } else if ((h & 0x3FFu) != 0) {
      uint32_t m = h & 0x3FFu;
      uint32_t k = 0;
      while ((m & 0x400u) == 0) {
        m <<= 1;
        ++k;
      }
      bits = sign | ((127u - 14u - k) << 23) | ((m & 0x3FFu) << 13);
    } else {
      bits = sign;
    }
    out[i] = detail::bitsFloat(bits);
  }
  return out;
}

// ---- Array forms ----------------------------------------------------------------

#define NERRO_GENERIC_ARRAY(name, single, OutT, InT)                                                       \
  OutT* name(OutT* out, uint32_t outStride, const InT* in, uint32_t inStride, const D3DMATRIX* m,          \
             uint32_t count) {                                                                             \
    const D3DMATRIX mm = *m;                                                                               \
    auto* o = reinterpret_cast<unsigned char*>(out);                                                       \
    auto* s = reinterpret_cast<const unsigned char*>(in);                                                  \
    for (uint32_t i = 0; i < count; ++i, o += outStride, s += inStride) {                                  \
      const InT v = loadElement<InT>(s);                                                                   \
      OutT r;                                                                                              \
      generic::single(&r, &v, &mm);                                                                           \
      storeElement(o, r);                                                                                  \
    }                                                                                                      \
    return out;                                                                                            \
  }

NERRO_GENERIC_ARRAY(vec2TransformArray, vec2Transform, Vec4, Vec2)
NERRO_GENERIC_ARRAY(vec2TransformCoordArray, vec2TransformCoord, Vec2, Vec2)
NERRO_GENERIC_ARRAY(vec2TransformNormalArray, vec2TransformNormal, Vec2, Vec2)
NERRO_GENERIC_ARRAY(vec3TransformArray, vec3Transform, Vec4, D3DVECTOR)
NERRO_GENERIC_ARRAY(vec3TransformCoordArray, vec3TransformCoord, D3DVECTOR, D3DVECTOR)
NERRO_GENERIC_ARRAY(vec3TransformNormalArray, vec3TransformNormal, D3DVECTOR, D3DVECTOR)
NERRO_GENERIC_ARRAY(vec4TransformArray, vec4Transform, Vec4, Vec4)
NERRO_GENERIC_ARRAY(planeTransformArray, planeTransform, Plane, Plane)
#undef NERRO_GENERIC_ARRAY

// ---- Vertex processing -----------------------------------------------------------

void* skinVertexArray(void* dst, const void* src, uint32_t stride, uint32_t vertexCount, const D3DMATRIX* matrices,
                      const D3DMATRIX* normalMatrices, uint32_t matrixCount, const SkinComponent* components,
                      uint32_t componentCount, const float* influences) {
  if (normalMatrices == nullptr) normalMatrices = matrices;
  uint32_t processed = 0;
  for (uint32_t c = 0; c < componentCount; ++c) {
    const uint32_t u = components[c].usage;
    if (u == SkinUsagePosition || u == SkinUsageNormal || u == SkinUsageTangent || u == SkinUsageBinormal) {
      // A component that does not fit inside the vertex is not processed.
      if (components[c].offset <= stride && stride - components[c].offset >= sizeof(D3DVECTOR)) ++processed;
    }
  }
  const bool copyWhole = stride != processed * sizeof(D3DVECTOR);
  auto* d = static_cast<unsigned char*>(dst);
  auto* s = static_cast<const unsigned char*>(src);
  const float* inf = influences;
  constexpr uint32_t kMaxComponents = 16;
  D3DVECTOR sums[kMaxComponents];
  for (uint32_t v = 0; v < vertexCount; ++v, d += stride, s += stride) {
    const float* first = inf;
    const float* end = first;
    while (*end >= 0.0f) ++end;  // the vertex's list ends at a negative value
    inf = end + 1;
    for (uint32_t c0 = 0; c0 < componentCount; c0 += kMaxComponents) {
      const uint32_t n = std::min(kMaxComponents, componentCount - c0);
      for (uint32_t c = 0; c < n; ++c) sums[c] = {0.0f, 0.0f, 0.0f};
      for (const float* p = first; p != end; ++p) {
        const uint32_t index = static_cast<uint32_t>(*p * 0.5f);
        if (index >= matrixCount) continue;  // an influence naming no matrix adds nothing
        const float weight = *p - 2.0f * static_cast<float>(index);
        for (uint32_t c = 0; c < n; ++c) {
          const SkinComponent& comp = components[c0 + c];
          if (comp.offset > stride || stride - comp.offset < sizeof(D3DVECTOR)) continue;
          const D3DVECTOR in = loadElement<D3DVECTOR>(s + comp.offset);
          D3DVECTOR r;
          if (comp.usage == SkinUsagePosition) {
            math::vec3TransformCoord(&r, &in, &matrices[index]);
          } else if (comp.usage == SkinUsageNormal) {
            math::vec3TransformNormal(&r, &in, &normalMatrices[index]);
          } else if (comp.usage == SkinUsageTangent || comp.usage == SkinUsageBinormal) {
            math::vec3TransformNormal(&r, &in, &matrices[index]);
          } else {
            continue;
          }
          sums[c].x += weight * r.x;
          sums[c].y += weight * r.y;
          sums[c].z += weight * r.z;
        }
      }
      if (c0 == 0 && copyWhole && d != s) std::memmove(d, s, stride);
      for (uint32_t c = 0; c < n; ++c) {
        const SkinComponent& comp = components[c0 + c];
        const uint32_t u = comp.usage;
        if (u != SkinUsagePosition && u != SkinUsageNormal && u != SkinUsageTangent && u != SkinUsageBinormal)
          continue;
        if (comp.offset > stride || stride - comp.offset < sizeof(D3DVECTOR)) continue;
        storeElement(d + comp.offset, sums[c]);
      }
    }
  }
  return dst;
}

float* evaluatePnTriangles(float* out, const float* corners, const D3DVECTOR* normals, uint32_t floatsPerVertex,
                           const Vec2* uv, uint32_t count) {
  if (floatsPerVertex < 3) return out;
  struct V {
    float x, y, z;
  };
  auto at = [&](int i) { return V{corners[i * floatsPerVertex], corners[i * floatsPerVertex + 1],
                                  corners[i * floatsPerVertex + 2]}; };
  const V P[3] = {at(0), at(1), at(2)};
  const V N[3] = {{normals[0].x, normals[0].y, normals[0].z},
                  {normals[1].x, normals[1].y, normals[1].z},
                  {normals[2].x, normals[2].y, normals[2].z}};
  constexpr float kThird = 1.0f / 3.0f;
  // Corner i moved a third of the way towards corner j, projected onto the
  // tangent plane of corner i.
  auto edgePoint = [&](int i, int j) {
    const V e{(P[j].x - P[i].x) * kThird, (P[j].y - P[i].y) * kThird, (P[j].z - P[i].z) * kThird};
    const float d = e.x * N[i].x + e.y * N[i].y + e.z * N[i].z;
    return V{P[i].x + e.x - d * N[i].x, P[i].y + e.y - d * N[i].y, P[i].z + e.z - d * N[i].z};
  };
  const V e01 = edgePoint(0, 1), e10 = edgePoint(1, 0), e12 = edgePoint(1, 2), e21 = edgePoint(2, 1),
          e20 = edgePoint(2, 0), e02 = edgePoint(0, 2);
  constexpr float kCentreWeight = 0.16666597f;
  const V centre{(e01.x + e10.x + e12.x + e21.x + e20.x + e02.x) * 0.25f - kCentreWeight * (P[0].x + P[1].x + P[2].x),
                 (e01.y + e10.y + e12.y + e21.y + e20.y + e02.y) * 0.25f - kCentreWeight * (P[0].y + P[1].y + P[2].y),
                 (e01.z + e10.z + e12.z + e21.z + e20.z + e02.z) * 0.25f - kCentreWeight * (P[0].z + P[1].z + P[2].z)};
  float* o = out;
  for (uint32_t i = 0; i < count; ++i, o += floatsPerVertex) {
    // Corner 0 carries w = 1 - u - v, corner 1 u and corner 2 v.
    const float u = uv[i].x, v = uv[i].y, w = 1.0f - u - v;
    const float b300 = w * w * w, b030 = u * u * u, b003 = v * v * v;
    const float b210 = 3.0f * w * w * u, b120 = 3.0f * w * u * u, b201 = 3.0f * w * w * v;
    const float b102 = 3.0f * w * v * v, b021 = 3.0f * u * u * v, b012 = 3.0f * u * v * v;
    const float b111 = 6.0f * u * v * w;
    o[0] = b300 * P[0].x + b030 * P[1].x + b003 * P[2].x + b210 * e01.x + b120 * e10.x + b201 * e02.x +
           b102 * e20.x + b021 * e12.x + b012 * e21.x + b111 * centre.x;
    o[1] = b300 * P[0].y + b030 * P[1].y + b003 * P[2].y + b210 * e01.y + b120 * e10.y + b201 * e02.y +
           b102 * e20.y + b021 * e12.y + b012 * e21.y + b111 * centre.y;
    o[2] = b300 * P[0].z + b030 * P[1].z + b003 * P[2].z + b210 * e01.z + b120 * e10.z + b201 * e02.z +
           b102 * e20.z + b021 * e12.z + b012 * e21.z + b111 * centre.z;
    for (uint32_t f = 3; f < floatsPerVertex; ++f) {
      o[f] = w * corners[f] + u * corners[floatsPerVertex + f] + v * corners[2 * floatsPerVertex + f];
    }
  }
  return out;
}

}  // namespace generic

// ---- View and projection builders (not table slots) ---------------------------

D3DMATRIX* mat4LookAtLH(D3DMATRIX* out, const D3DVECTOR* eye, const D3DVECTOR* at, const D3DVECTOR* up) {
  const D3DVECTOR e = *eye;
  D3DVECTOR z{at->x - e.x, at->y - e.y, at->z - e.z};
  vec3Normalize(&z, &z);
  D3DVECTOR x{up->y * z.z - up->z * z.y, up->z * z.x - up->x * z.z, up->x * z.y - up->y * z.x};
  vec3Normalize(&x, &x);
  const D3DVECTOR y{z.y * x.z - z.z * x.y, z.z * x.x - z.x * x.z, z.x * x.y - z.y * x.x};
  D3DMATRIX m{};
  m._11 = x.x;
  m._12 = y.x;
  m._13 = z.x;
  m._21 = x.y;
  m._22 = y.y;
  m._23 = z.y;
  m._31 = x.z;
  m._32 = y.z;
  m._33 = z.z;
  m._41 = -(x.x * e.x + x.y * e.y + x.z * e.z);
  m._42 = -(y.x * e.x + y.y * e.y + y.z * e.z);
  m._43 = -(z.x * e.x + z.y * e.y + z.z * e.z);
  m._44 = 1.0f;
  *out = m;
  return out;
}

D3DMATRIX* mat4PerspectiveFovLH(D3DMATRIX* out, float fovy, float aspect, float zn, float zf) {
  const float h = fovy * 0.5f;
  const float yScale = std::cos(h) / std::sin(h);
  const float xScale = yScale / aspect;
  const float q = zf / (zf - zn);
  D3DMATRIX m{};
  m._11 = xScale;
  m._22 = yScale;
  m._33 = q;
  m._34 = 1.0f;
  m._43 = -(q * zn);
  *out = m;
  return out;
}

// ---- The generic table ------------------------------------------------------------

namespace detail {
const MathDispatch& genericRoutines() {
  static const MathDispatch table = {
#define NERRO_GENERIC_ENTRY(slot, name, R, P, A) &generic::name,
      NERRO_MATH_SLOTS(NERRO_GENERIC_ENTRY)
#undef NERRO_GENERIC_ENTRY
  };
  return table;
}
}  // namespace detail

}  // namespace nerro::math
