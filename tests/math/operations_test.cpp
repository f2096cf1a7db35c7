// The operations against their definitions: edge cases, double-precision
// references on random inputs, aliasing, half floats and the reciprocal
// square-root estimate. Each test runs with the generic set (DisablePSGP=1)
// and with the full selection for this processor.
#include <cmath>
#include <limits>
#include <vector>

#include "math_test_util.h"

namespace {

using namespace mathtest;

constexpr float kPi = 3.14159265358979f;

class Operations : public MathStateTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    MathStateTest::SetUp();
    setSetting("DisablePSGP", GetParam());
    selectNow();
  }
  // Tolerance of the vectorised tiers' refined approximations.
  static constexpr double kTol = 4e-6;
};

INSTANTIATE_TEST_SUITE_P(Tiers, Operations, ::testing::Values("1", "0"),
                         [](const auto& info) { return std::string(info.param[0] == '1' ? "Generic" : "Selected"); });

D3DVECTOR transformPoint(const D3DMATRIX& m, D3DVECTOR p) {
  D3DVECTOR r;
  vec3TransformCoord(&r, &p, &m);
  return r;
}

void expectVec(const D3DVECTOR& v, float x, float y, float z, double tol) {
  EXPECT_NEAR(v.x, x, tol);
  EXPECT_NEAR(v.y, y, tol);
  EXPECT_NEAR(v.z, z, tol);
}

void expectMatrixNear(const D3DMATRIX& a, const double b[4][4], double tol) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(a.m[i][j], b[i][j], tol * (1 + std::fabs(b[i][j]))) << i << "," << j;
}

// ---- Matrix builders and transforms ------------------------------------------

TEST_P(Operations, BuildersMovePointsAsDefined) {
  D3DMATRIX m;
  expectVec(transformPoint(*mat4Scaling(&m, 2, 3, 4), {1, 1, 1}), 2, 3, 4, kTol);
  expectVec(transformPoint(*mat4Translation(&m, 1, -2, 3), {1, 1, 1}), 2, -1, 4, kTol);
  expectVec(transformPoint(*mat4RotationX(&m, kPi / 2), {0, 1, 0}), 0, 0, 1, kTol);
  expectVec(transformPoint(*mat4RotationY(&m, kPi / 2), {0, 0, 1}), 1, 0, 0, kTol);
  expectVec(transformPoint(*mat4RotationZ(&m, kPi / 2), {1, 0, 0}), 0, 1, 0, kTol);

  const D3DVECTOR eye{0, 0, -580}, at{0, 0, 0}, up{0, 1, 0};
  mat4LookAtLH(&m, &eye, &at, &up);
  D3DMATRIX expected;
  mat4Translation(&expected, 0, 0, 580);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR((&m._11)[i], (&expected._11)[i], 2e-6 * (1 + std::fabs((&expected._11)[i]))) << i;

  mat4PerspectiveFovLH(&m, kPi / 4, 1.0f, 0.1f, 100000.0f);
  EXPECT_NEAR(m._22, 2.4142135f, 1e-6);
  EXPECT_NEAR(m._33, 1.000001f, 1e-6);
  EXPECT_NEAR(m._43, -0.1000001f, 1e-7);
  EXPECT_EQ(m._34, 1.0f);
  EXPECT_EQ(m._44, 0.0f);
  mat4PerspectiveFovLH(&m, kPi / 3, 1.5f, 2.0f, 50.0f);
  EXPECT_NEAR(transformPoint(m, {1, 1, 2}).z, 0.0f, 1e-6);
  EXPECT_NEAR(transformPoint(m, {1, 1, 50}).z, 1.0f, 1e-6);
}

TEST_P(Operations, TransformCoordDividesUnlessWIsNearlyOne) {
  D3DMATRIX m;
  mat4Scaling(&m, 1, 1, 1);
  m._44 = 2.0f;
  expectVec(transformPoint(m, {2, 4, 6}), 1, 2, 3, kTol);
  m._44 = 1.0f + 1.1920929e-7f;  // within 2^-23 of 1: left undivided
  const D3DVECTOR r = transformPoint(m, {2, 4, 6});
  EXPECT_EQ(r.x, 2.0f);
  EXPECT_EQ(r.z, 6.0f);
  Vec2 v{2, 4}, o;
  m._44 = 4.0f;
  vec2TransformCoord(&o, &v, &m);
  EXPECT_NEAR(o.x, 0.5f, kTol);
  EXPECT_NEAR(o.y, 1.0f, kTol);
}

TEST_P(Operations, NormalisationCutOffs) {
  D3DVECTOR r;
  const D3DVECTOR far{0, 0, 580};
  vec3Normalize(&r, &far);
  expectVec(r, 0, 0, 1, kTol);
  const D3DVECTOR unit{1, 0, 0};
  vec3Normalize(&r, &unit);
  EXPECT_EQ(r.x, 1.0f);
  for (const D3DVECTOR z : {D3DVECTOR{0, 0, 0}, D3DVECTOR{1e-20f, 0, 0}}) {
    vec3Normalize(&r, &z);
    expectVec(r, 0, 0, 0, 0);
  }
  Plane p{0, 0, 2, 4}, pn;
  planeNormalize(&pn, &p);
  EXPECT_NEAR(pn.c, 1.0f, kTol);
  EXPECT_NEAR(pn.d, 2.0f, kTol);
  EXPECT_EQ(pn.a, 0.0f);
  Vec2 v2{3, 4}, r2;
  vec2Normalize(&r2, &v2);
  EXPECT_NEAR(r2.x, 0.6f, kTol);
  Vec4 v4{1, 1, 1, 1}, r4, z4{0, 0, 0, 0};
  vec4Normalize(&r4, &v4);
  EXPECT_NEAR(r4.w, 0.5f, kTol);
  vec4Normalize(&r4, &z4);
  EXPECT_EQ(r4.x, 0.0f);
  Quat q{0, 0, 0, 3}, rq;
  quatNormalize(&rq, &q);
  EXPECT_NEAR(rq.w, 1.0f, kTol);
}

TEST(NearlyEqual, BoundaryAtTwoToMinus23) {
  EXPECT_TRUE(isNearlyEqual(1.0f, 1.0f));
  EXPECT_TRUE(isNearlyEqual(1.0f + 1.1920929e-7f, 1.0f));
  EXPECT_FALSE(isNearlyEqual(1.0f + 2.3841858e-7f, 1.0f));
  EXPECT_TRUE(isNearlyEqual(1e-8f, 0.0f));
  EXPECT_FALSE(isNearlyEqual(std::nanf(""), 0.0f));
}

// ---- Matrix family against a double-precision reference ---------------------------

void reference(const D3DMATRIX& a, const D3DMATRIX& b, double r[4][4]) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      r[i][j] = 0;
      for (int k = 0; k < 4; ++k) r[i][j] += double(a.m[i][k]) * b.m[k][j];
    }
}

// Gauss-Jordan inverse with partial pivoting; returns the determinant.
double referenceInverse(const D3DMATRIX& m, double inv[4][4]) {
  double a[4][8];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 8; ++j) a[i][j] = j < 4 ? m.m[i][j] : (j - 4 == i);
  double det = 1;
  for (int c = 0; c < 4; ++c) {
    int p = c;
    for (int r = c + 1; r < 4; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
    if (p != c) {
      std::swap(a[p], a[c]);
      det = -det;
    }
    det *= a[c][c];
    const double d = a[c][c];
    for (int j = 0; j < 8; ++j) a[c][j] /= d;
    for (int r = 0; r < 4; ++r)
      if (r != c) {
        const double f = a[r][c];
        for (int j = 0; j < 8; ++j) a[r][j] -= f * a[c][j];
      }
  }
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) inv[i][j] = a[i][j + 4];
  return det;
}

TEST_P(Operations, MatrixFamilyMatchesDoubleReference) {
  Rng rng(11);
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE(round);
    const D3DMATRIX a = rng.matrix(), b = rng.matrix();
    double ref[4][4], refT[4][4];
    reference(a, b, ref);
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) refT[i][j] = ref[j][i];
    D3DMATRIX r;
    expectMatrixNear(*mat4Multiply(&r, &a, &b), ref, 1e-6);
    expectMatrixNear(*mat4MultiplyTranspose(&r, &a, &b), refT, 1e-6);
    double tr[4][4];
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) tr[i][j] = a.m[j][i];
    expectMatrixNear(*mat4Transpose(&r, &a), tr, 0);

    double inv[4][4];
    const double det = referenceInverse(a, inv);
    EXPECT_NEAR(mat4Determinant(&a), det, 2e-6 * std::fabs(det));
    float d = 0;
    ASSERT_EQ(mat4Inverse(&r, &d, &a), &r);
    EXPECT_NEAR(d, det, 2e-6 * std::fabs(det));
    expectMatrixNear(r, inv, 2e-6);
    ASSERT_EQ(mat4Inverse(&r, nullptr, &a), &r);  // the determinant pointer may be null
  }
}

TEST_P(Operations, ProductTransposeAndMultiplyTransposeMayAlias) {
  Rng rng(5);
  const D3DMATRIX a = rng.matrix(), b = rng.matrix();
  using Op = D3DMATRIX* (*)(D3DMATRIX*, const D3DMATRIX*, const D3DMATRIX*);
  for (Op op : {Op{mat4Multiply}, Op{mat4MultiplyTranspose}}) {
    D3DMATRIX separate, first = a, second = b;
    op(&separate, &a, &b);
    op(&first, &first, &b);
    op(&second, &a, &second);
    EXPECT_EQ(std::memcmp(&first, &separate, sizeof separate), 0);
    EXPECT_EQ(std::memcmp(&second, &separate, sizeof separate), 0);
  }
  D3DMATRIX t, self = a;
  mat4Transpose(&t, &a);
  mat4Transpose(&self, &self);
  EXPECT_EQ(std::memcmp(&t, &self, sizeof t), 0);
}

TEST_P(Operations, SingularInverseReturnsNullAndLeavesTheOutput) {
  D3DMATRIX m;
  mat4Scaling(&m, 2, 3, 4);
  m._21 = m._22 = m._23 = m._24 = 0;  // zero row
  D3DMATRIX out;
  mat4Translation(&out, 7, 8, 9);
  const D3DMATRIX before = out;
  EXPECT_EQ(mat4Inverse(&out, nullptr, &m), nullptr);
  EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0);
}

TEST_P(Operations, DecomposeRecoversScaleRotationTranslation) {
  Rng rng(3);
  struct Case {
    D3DVECTOR scale;
  } cases[] = {{{1.5f, 2.0f, 0.5f}}, {{-2.0f, 1.0f, 1.0f}}, {{1.0f, 0.00001f, 3.0f}}};
  for (const Case& c : cases) {
    const Quat q = rng.unitQuat();
    D3DMATRIX s, rot, t, m;
    mat4Scaling(&s, c.scale.x, c.scale.y, c.scale.z);
    mat4RotationQuat(&rot, &q);
    mat4Translation(&t, 4, -5, 6);
    mat4Multiply(&m, &s, &rot);
    mat4Multiply(&m, &m, &t);
    D3DVECTOR scale, trans;
    Quat r;
    ASSERT_EQ(mat4Decompose(&scale, &r, &trans, &m), S_OK);
    expectVec(trans, 4, -5, 6, 1e-5);
    // Rebuilding from the parts gives the matrix back.
    D3DMATRIX s2, r2, t2, m2;
    mat4Scaling(&s2, scale.x, scale.y, scale.z);
    mat4RotationQuat(&r2, &r);
    mat4Translation(&t2, trans.x, trans.y, trans.z);
    mat4Multiply(&m2, &s2, &r2);
    mat4Multiply(&m2, &m2, &t2);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR((&m2._11)[i], (&m._11)[i], 2e-4) << i;
  }
  // A shear is no rotation: the call fails and writes nothing.
  D3DMATRIX shear;
  mat4Scaling(&shear, 1, 1, 1);
  shear._21 = 0.9f;
  D3DVECTOR scale{9, 9, 9}, trans{9, 9, 9};
  Quat r{9, 9, 9, 9};
  EXPECT_EQ(mat4Decompose(&scale, &r, &trans, &shear), D3DERR_INVALIDCALL);
  EXPECT_EQ(scale.x, 9.0f);
  EXPECT_EQ(r.w, 9.0f);
}

TEST_P(Operations, TransformationBuildersComposeTheirParts) {
  Rng rng(8);
  const Quat sr = rng.unitQuat(), rot = rng.unitQuat();
  const D3DVECTOR sc{1, 2, 3}, s{2, 0.5f, 1.5f}, rc{-1, 0, 2}, t{5, 6, 7};
  D3DMATRIX m;
  mat4Transformation(&m, &sc, &sr, &s, &rc, &rot, &t);
  // Reference: step by step on a point.
  const D3DVECTOR p{0.3f, -0.7f, 1.1f};
  D3DMATRIX srm, rotm, sm;
  mat4RotationQuat(&srm, &sr);
  mat4RotationQuat(&rotm, &rot);
  mat4Scaling(&sm, s.x, s.y, s.z);
  D3DMATRIX srInv;
  mat4Transpose(&srInv, &srm);
  D3DVECTOR q{p.x - sc.x, p.y - sc.y, p.z - sc.z};
  q = transformPoint(srInv, q);
  q = transformPoint(sm, q);
  q = transformPoint(srm, q);
  q = {q.x + sc.x - rc.x, q.y + sc.y - rc.y, q.z + sc.z - rc.z};
  q = transformPoint(rotm, q);
  q = {q.x + rc.x + t.x, q.y + rc.y + t.y, q.z + rc.z + t.z};
  const D3DVECTOR got = transformPoint(m, p);
  expectVec(got, q.x, q.y, q.z, 2e-5);
  // All parts absent: the identity.
  mat4Transformation(&m, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  expectVec(transformPoint(m, p), p.x, p.y, p.z, 0);

  mat4AffineTransformation(&m, 2.0f, &rc, &rot, &t);
  D3DVECTOR a{2 * p.x - rc.x, 2 * p.y - rc.y, 2 * p.z - rc.z};
  a = transformPoint(rotm, a);
  expectVec(transformPoint(m, p), a.x + rc.x + t.x, a.y + rc.y + t.y, a.z + rc.z + t.z, 2e-5);

  // In the plane: scale 2 about (1, 0), rotate a quarter turn about (0, 1), move by (3, 4).
  const Vec2 c2{1, 0}, s2{2, 2}, r2{0, 1}, t2{3, 4};
  mat4Transformation2D(&m, &c2, 0.3f, &s2, &r2, kPi / 2, &t2);
  // (2, 0) -> scaled about (1, 0): (3, 0) -> rotated about (0, 1): (1, 4) -> moved: (4, 8).
  expectVec(transformPoint(m, {2, 0, 0}), 4, 8, 0, 2e-5);
  EXPECT_EQ(m._33, 1.0f);
  mat4AffineTransformation2D(&m, 3.0f, &r2, kPi / 2, &t2);
  // (1, 1) -> (3, 3) -> about (0, 1): (-2, 4) -> (1, 8).
  expectVec(transformPoint(m, {1, 1, 0}), 1, 8, 0, 2e-5);
}

TEST_P(Operations, ShadowAndReflect) {
  const Plane ground{0, 2, 0, 0};  // y = 0, not normalised
  const Vec4 light{0, 10, 0, 1};   // a point light above the origin
  D3DMATRIX m;
  mat4Shadow(&m, &light, &ground);
  const D3DVECTOR s = transformPoint(m, {1, 5, 0});
  expectVec(s, 2, 0, 0, 1e-5);  // the shadow of (1, 5, 0) from (0, 10, 0)
  const Plane mirror{1, 0, 0, -2};  // x = 2
  mat4Reflect(&m, &mirror);
  expectVec(transformPoint(m, {3, 1, 1}), 1, 1, 1, 1e-5);
}

// ---- Quaternion family ------------------------------------------------------------

struct QuatD {
  double x, y, z, w;
};
QuatD hamilton(QuatD a, QuatD b) {  // a * b in the usual (Hamilton) order
  return {a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y, a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
          a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w, a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

TEST_P(Operations, QuaternionFamilyMatchesDoubleReference) {
  Rng rng(21);
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE(round);
    const Quat a = rng.unitQuat(), b = rng.unitQuat();
    // quatMultiply(a, b) is rotation a followed by b: the Hamilton product b a.
    Quat r;
    quatMultiply(&r, &a, &b);
    const QuatD ref = hamilton({b.x, b.y, b.z, b.w}, {a.x, a.y, a.z, a.w});
    EXPECT_NEAR(r.x, ref.x, 1e-6);
    EXPECT_NEAR(r.y, ref.y, 1e-6);
    EXPECT_NEAR(r.z, ref.z, 1e-6);
    EXPECT_NEAR(r.w, ref.w, 1e-6);
    D3DMATRIX ma, mb, mab, mr;
    mat4RotationQuat(&ma, &a);
    mat4RotationQuat(&mb, &b);
    mat4Multiply(&mab, &ma, &mb);
    mat4RotationQuat(&mr, &r);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR((&mr._11)[i], (&mab._11)[i], 1e-5);

    // Slerp against the double formula (shorter arc).
    const float t = rng.uniform(0, 1);
    double h = double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z + double(a.w) * b.w;
    const double sign = h >= 0 ? 1 : -1;
    h *= sign;
    const double th = std::acos(std::min(1.0, h));
    const double k1 = std::sin((1 - t) * th) / std::sin(th), k2 = sign * std::sin(t * th) / std::sin(th);
    quatSlerp(&r, &a, &b, t);
    EXPECT_NEAR(r.x, k1 * a.x + k2 * b.x, 2e-5);
    EXPECT_NEAR(r.w, k1 * a.w + k2 * b.w, 2e-5);

    // Matrix round trip, exp of ln, axis-angle round trip.
    Quat back;
    quatFromMatrix(&back, &ma);
    const float s = back.w * a.w + back.x * a.x + back.y * a.y + back.z * a.z >= 0 ? 1.0f : -1.0f;
    EXPECT_NEAR(s * back.x, a.x, 2e-5);
    EXPECT_NEAR(s * back.w, a.w, 2e-5);
    Quat ln, ex;
    quatLn(&ln, &a);
    EXPECT_EQ(ln.w, 0.0f);
    quatExp(&ex, &ln);
    EXPECT_NEAR(ex.x, a.x, 2e-5);
    EXPECT_NEAR(ex.w, a.w, 2e-5);
    D3DVECTOR axis;
    float angle;
    quatToAxisAngle(&a, &axis, &angle);
    Quat aa;
    quatFromAxisAngle(&aa, &axis, angle);
    EXPECT_NEAR(aa.x, a.x, 2e-5);
    EXPECT_NEAR(aa.w, a.w, 2e-5);
    D3DMATRIX axisM, viaQuat;
    mat4RotationAxis(&axisM, &axis, angle);
    mat4RotationQuat(&viaQuat, &aa);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR((&axisM._11)[i], (&viaQuat._11)[i], 2e-5);
    // Yaw, pitch, roll: the matrix is the product of roll (Z), pitch (X), yaw (Y).
    const float yaw = rng.uniform(-3, 3), pitch = rng.uniform(-1.5f, 1.5f), roll = rng.uniform(-3, 3);
    D3DMATRIX ypr, rz, rx, ry, expected;
    mat4RotationYawPitchRoll(&ypr, yaw, pitch, roll);
    mat4RotationZ(&rz, roll);
    mat4RotationX(&rx, pitch);
    mat4RotationY(&ry, yaw);
    mat4Multiply(&expected, &rz, &rx);
    mat4Multiply(&expected, &expected, &ry);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR((&ypr._11)[i], (&expected._11)[i], 2e-5);
  }
}

TEST_P(Operations, QuaternionEdgeCases) {
  const Quat q{0.5f, 0.5f, 0.5f, 0.5f}, neg{-0.5f, -0.5f, -0.5f, -0.5f};
  Quat r;
  quatSlerp(&r, &q, &neg, 0.5f);
  EXPECT_NEAR(r.x, 0.5f, kTol);
  EXPECT_NEAR(r.w, 0.5f, kTol);

  const Quat two{0, 0, 0, 2};
  quatInverse(&r, &two);
  EXPECT_TRUE(std::signbit(r.x) && std::signbit(r.y) && std::signbit(r.z));
  EXPECT_NEAR(r.w, 0.5f, kTol);
  const Quat tiny{1e-10f, 0, 0, 0};
  quatInverse(&r, &tiny);
  EXPECT_EQ(r.x, 0.0f);
  EXPECT_EQ(r.w, 0.0f);

  // Barycentric with f + g = 0 is q1; squad through its control points
  // starts at q1 and ends at q2.
  Rng rng(4);
  const Quat q0 = rng.unitQuat(), q1 = rng.unitQuat(), q2 = rng.unitQuat(), q3 = rng.unitQuat();
  quatBarycentric(&r, &q1, &q2, &q3, 0.0f, 0.0f);
  EXPECT_EQ(std::memcmp(&r, &q1, sizeof r), 0);
  quatBarycentric(&r, &q1, &q2, &q3, 1.0f, 0.0f);
  const float s = r.x * q2.x + r.y * q2.y + r.z * q2.z + r.w * q2.w;
  EXPECT_NEAR(std::fabs(s), 1.0f, 1e-5);
  Quat a, b, c;
  quatSquadSetup(&a, &b, &c, &q0, &q1, &q2, &q3);
  quatSquad(&r, &q1, &a, &b, &c, 0.0f);
  EXPECT_NEAR(r.x, q1.x, 1e-5);
  quatSquad(&r, &q1, &a, &b, &c, 1.0f);
  EXPECT_NEAR(std::fabs(r.x * c.x + r.y * c.y + r.z * c.z + r.w * c.w), 1.0f, 1e-5);
}

// ---- Planes, vectors, splines, projection ------------------------------------------

TEST_P(Operations, PlanesAndIntersections) {
  const D3DVECTOR p1{1, 0, 0}, p2{0, 1, 0}, p3{0, 0, 1};
  Plane pl;
  planeFromPoints(&pl, &p1, &p2, &p3);
  for (const D3DVECTOR& p : {p1, p2, p3}) EXPECT_NEAR(pl.a * p.x + pl.b * p.y + pl.c * p.z + pl.d, 0.0f, kTol);
  EXPECT_NEAR(pl.a * pl.a + pl.b * pl.b + pl.c * pl.c, 1.0f, kTol);
  const D3DVECTOR n{0, 0, 2}, pt{0, 0, 3};
  planeFromPointNormal(&pl, &pt, &n);
  EXPECT_EQ(pl.d, -6.0f);

  const Plane z1{0, 0, 1, -1};
  const D3DVECTOR a{0, 0, 0}, b{2, 4, 4};
  D3DVECTOR hit{9, 9, 9};
  ASSERT_NE(planeIntersectLine(&hit, &z1, &a, &b), nullptr);
  expectVec(hit, 0.5f, 1.0f, 1.0f, kTol);
  const D3DVECTOR c{1, 0, 0};
  hit = {9, 9, 9};
  EXPECT_EQ(planeIntersectLine(&hit, &z1, &a, &c), nullptr);  // parallel
  EXPECT_EQ(hit.x, 9.0f);
  const Plane huge{0, 0, 1e-30f, 1e30f};
  const D3DVECTOR d{0, 0, 1};
  EXPECT_EQ(planeIntersectLine(&hit, &huge, &a, &d), nullptr);  // t not finite
}

TEST_P(Operations, CrossAndSplines) {
  Rng rng(9);
  const Vec4 u = rng.vec4(), v = rng.vec4(), w = rng.vec4();
  Vec4 x;
  vec4Cross(&x, &u, &v, &w);
  for (const Vec4& o : {u, v, w}) EXPECT_NEAR(x.x * o.x + x.y * o.y + x.z * o.z + x.w * o.w, 0.0f, 1e-4);

  const D3DVECTOR p0 = rng.vec3(), p1 = rng.vec3(), p2 = rng.vec3(), p3 = rng.vec3();
  D3DVECTOR r;
  vec3Hermite(&r, &p1, &p0, &p2, &p3, 0.0f);
  expectVec(r, p1.x, p1.y, p1.z, kTol);
  vec3Hermite(&r, &p1, &p0, &p2, &p3, 1.0f);
  expectVec(r, p2.x, p2.y, p2.z, kTol);
  vec3CatmullRom(&r, &p0, &p1, &p2, &p3, 0.0f);
  expectVec(r, p1.x, p1.y, p1.z, kTol);
  vec3CatmullRom(&r, &p0, &p1, &p2, &p3, 1.0f);
  expectVec(r, p2.x, p2.y, p2.z, kTol);
  vec3Barycentric(&r, &p1, &p2, &p3, 0.25f, 0.5f);
  expectVec(r, p1.x + 0.25f * (p2.x - p1.x) + 0.5f * (p3.x - p1.x), p1.y + 0.25f * (p2.y - p1.y) + 0.5f * (p3.y - p1.y),
            p1.z + 0.25f * (p2.z - p1.z) + 0.5f * (p3.z - p1.z), kTol);
  // Hermite at s = 0.5 with known weights (0.5, 0.125, 0.5, -0.125).
  const Vec2 a{1, 2}, t1{4, 0}, b{3, 6}, t2{0, 8};
  Vec2 h;
  vec2Hermite(&h, &a, &t1, &b, &t2, 0.5f);
  EXPECT_NEAR(h.x, 0.5f * 1 + 0.125f * 4 + 0.5f * 3, kTol);
  EXPECT_NEAR(h.y, 0.5f * 2 + 0.5f * 6 - 0.125f * 8, kTol);
}

TEST_P(Operations, ProjectUnprojectAndTheirArrays) {
  Rng rng(6);
  const D3DVECTOR eye{1, 2, -10}, at{0, 0, 0}, up{0, 1, 0};
  D3DMATRIX view, proj, world;
  mat4LookAtLH(&view, &eye, &at, &up);
  mat4PerspectiveFovLH(&proj, kPi / 4, 4.0f / 3.0f, 1.0f, 100.0f);
  mat4RotationY(&world, 0.3f);
  const D3DVIEWPORT9 vp{10, 20, 640, 480, 0.0f, 1.0f};
  std::vector<D3DVECTOR> pts(7), screen(7), back(7);
  for (auto& p : pts) p = rng.vec3();
  vec3ProjectArray(screen.data(), 12, pts.data(), 12, &vp, &proj, &view, &world, 7);
  ASSERT_NE(vec3UnprojectArray(back.data(), 12, screen.data(), 12, &vp, &proj, &view, &world, 7), nullptr);
  for (int i = 0; i < 7; ++i) {
    D3DVECTOR s, b;
    vec3Project(&s, &pts[i], &vp, &proj, &view, &world);
    expectVec(screen[i], s.x, s.y, s.z, 1e-3);
    EXPECT_GE(s.x, 10.0f);
    ASSERT_NE(vec3Unproject(&b, &s, &vp, &proj, &view, &world), nullptr);
    expectVec(b, pts[i].x, pts[i].y, pts[i].z, 1e-3);
    expectVec(back[i], pts[i].x, pts[i].y, pts[i].z, 1e-3);
  }
  // Without matrices and viewport the point is unchanged; a singular
  // transformation cannot be undone.
  D3DVECTOR s;
  vec3Project(&s, &pts[0], nullptr, nullptr, nullptr, nullptr);
  expectVec(s, pts[0].x, pts[0].y, pts[0].z, 0);
  D3DMATRIX flat;
  mat4Scaling(&flat, 1, 1, 0);
  EXPECT_EQ(vec3Unproject(&s, &pts[0], &vp, &flat, nullptr, nullptr), nullptr);
}

TEST_P(Operations, ArrayFormsStepByTheirStridesAndStopAtTheCount) {
  Rng rng(12);
  const D3DMATRIX m = rng.matrix();
  struct Padded {
    D3DVECTOR v;
    float tag;
  };
  std::vector<Padded> in(9), out(10);
  for (auto& p : in) p = {rng.vec3(), 1.0f};
  for (auto& p : out) p = {{-5, -5, -5}, 42.0f};
  vec3TransformCoordArray(&out[0].v, sizeof(Padded), &in[0].v, sizeof(Padded), &m, 9);
  for (int i = 0; i < 9; ++i) {
    D3DVECTOR e;
    vec3TransformCoord(&e, &in[i].v, &m);
    expectVec(out[i].v, e.x, e.y, e.z, 1e-5);
    EXPECT_EQ(out[i].tag, 42.0f);  // the padding is not written
  }
  EXPECT_EQ(out[9].v.x, -5.0f);
  vec3TransformCoordArray(&out[0].v, sizeof(Padded), &in[0].v, sizeof(Padded), &m, 0);  // nothing happens

  // In place with a packed stride.
  std::vector<D3DVECTOR> pts(11);
  for (auto& p : pts) p = rng.vec3();
  std::vector<D3DVECTOR> expected(11);
  for (int i = 0; i < 11; ++i) vec3TransformNormal(&expected[i], &pts[i], &m);
  vec3TransformNormalArray(pts.data(), 12, pts.data(), 12, &m, 11);
  for (int i = 0; i < 11; ++i) expectVec(pts[i], expected[i].x, expected[i].y, expected[i].z, 1e-5);
}

// ---- Vertex processing -------------------------------------------------------------

TEST_P(Operations, SkinningBlendsWeightedMatrices) {
  struct Vertex {
    D3DVECTOR pos, normal;
    float u, v;
  };
  D3DMATRIX mats[2], normals[2];
  mat4Translation(&mats[0], 10, 0, 0);
  mat4Scaling(&mats[1], 2, 2, 2);
  mat4RotationZ(&normals[0], kPi / 2);
  mat4Scaling(&normals[1], 1, 1, 1);
  const Vertex src[2] = {{{1, 1, 1}, {1, 0, 0}, 0.25f, 0.75f}, {{0, 1, 0}, {0, 1, 0}, 0.5f, 0.5f}};
  Vertex dst[2] = {};
  const SkinComponent comps[2] = {{SkinUsagePosition, 0}, {SkinUsageNormal, 12}};
  // Vertex 0: 0.25 of matrix 0 and 0.75 of matrix 1; vertex 1: matrix 1
  // alone, plus an influence naming a matrix that does not exist.
  const float influences[] = {0 * 2 + 0.25f, 1 * 2 + 0.75f, -1, 1 * 2 + 1.0f, 7 * 2 + 0.5f, -1};
  skinVertexArray(dst, src, sizeof(Vertex), 2, mats, normals, 2, comps, 2, influences);
  expectVec(dst[0].pos, 0.25f * 11 + 0.75f * 2, 0.25f * 1 + 0.75f * 2, 0.25f * 1 + 0.75f * 2, 1e-5);
  expectVec(dst[0].normal, 0.75f, 0.25f, 0, 1e-5);
  EXPECT_EQ(dst[0].u, 0.25f);  // stride wider than the components: the vertex was copied first
  expectVec(dst[1].pos, 0, 2, 0, 1e-5);
  expectVec(dst[1].normal, 0, 1, 0, 1e-5);

  // Without a second array the normals use the first.
  skinVertexArray(dst, src, sizeof(Vertex), 1, mats, nullptr, 2, comps, 2, influences);
  expectVec(dst[0].normal, 0.25f + 0.75f * 2, 0, 0, 1e-5);
}

TEST_P(Operations, PnTrianglesInterpolateACubicPatch) {
  // Position then two further floats per vertex.
  const float corners[3 * 5] = {0, 0, 0, 1, 10, 3, 0, 0, 2, 20, 0, 3, 0, 3, 30};
  const D3DVECTOR flat[3] = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
  const Vec2 uv[4] = {{0, 0}, {1, 0}, {0, 1}, {1.0f / 3, 1.0f / 3}};
  float out[4 * 5];
  evaluatePnTriangles(out, corners, flat, 5, uv, 4);
  // Corners are reproduced; a flat patch stays in its plane; the further
  // floats are interpolated linearly.
  for (int c = 0; c < 3; ++c)
    for (int k = 0; k < 5; ++k) EXPECT_NEAR(out[c * 5 + k], corners[c * 5 + k], 1e-5) << c << "," << k;
  EXPECT_NEAR(out[15], 1.0f, 1e-5);
  EXPECT_NEAR(out[16], 1.0f, 1e-5);
  EXPECT_NEAR(out[17], 0.0f, 1e-5);
  EXPECT_NEAR(out[18], 2.0f, 1e-5);
  EXPECT_NEAR(out[19], 20.0f, 1e-4);
  // Normals tilted outwards bulge the centre out of the plane.
  const D3DVECTOR bulge[3] = {{-0.6f, -0.6f, 0.52915f}, {0.8f, 0, 0.6f}, {0, 0.8f, 0.6f}};
  evaluatePnTriangles(out, corners, bulge, 5, uv + 3, 1);
  EXPECT_GT(out[2], 0.1f);
}

// ---- Half floats --------------------------------------------------------------------

TEST_P(Operations, HalfFloatEdgeValuesAndRoundTrip) {
  struct Case {
    float f;
    uint16_t h;
  } toHalf[] = {{1.0f, 0x3C00},     {65504.0f, 0x7BFF}, {65536.0f, 0x7C00},  {131008.0f, 0x7FFF},
                {1e6f, 0x7FFF},     {INFINITY, 0x7FFF}, {-INFINITY, 0xFFFF}, {-2.0f, 0xC000},
                {0x1p-24f, 0x0001}, {0x1p-26f, 0x0000}, {-0.0f, 0x8000},     {0x1p-14f, 0x0400},
                {1.0f + 0x1p-11f, 0x3C00},  // a tie rounds to even
                {1.0f + 3 * 0x1p-11f, 0x3C02}, {std::nanf(""), 0x7FFF}};
  for (const Case& c : toHalf) {
    uint16_t h;
    float16To32Array(nullptr, nullptr, 0);
    float32To16Array(&h, &c.f, 1);
    EXPECT_EQ(h, c.h) << c.f;
  }
  struct Back {
    uint16_t h;
    float f;
  } toFloat[] = {{0x7C00, 65536.0f}, {0x7FFF, 131008.0f}, {0x0001, 0x1p-24f}, {0x3C00, 1.0f}, {0x03FF, 0x3FFp-24f}};
  for (const Back& c : toFloat) {
    float f;
    float16To32Array(&f, &c.h, 1);
    EXPECT_EQ(f, c.f) << c.h;
  }
  const uint16_t negZero = 0x8000;
  float f;
  float16To32Array(&f, &negZero, 1);
  EXPECT_TRUE(f == 0.0f && std::signbit(f));

  std::vector<uint16_t> all(65536), back(65536);
  for (uint32_t i = 0; i < 65536; ++i) all[i] = static_cast<uint16_t>(i);
  std::vector<float> floats(65536);
  float16To32Array(floats.data(), all.data(), 65536);
  float32To16Array(back.data(), floats.data(), 65536);
  EXPECT_EQ(back, all);
}

// ---- Reciprocal square-root estimate -------------------------------------------------

TEST(ReciprocalSqrtEstimate, RelativeErrorBelowBoundOverAllFloats) {
  // The estimate only scales by exact powers of two outside [0.5, 2), so
  // every mantissa of those two binades covers every table entry; further
  // exponents and subnormals are sampled.
  double worst = 0;
  auto check = [&](float x) {
    const double e = reciprocalSqrtEstimate(x), r = 1.0 / std::sqrt(double(x));
    worst = std::max(worst, std::fabs(e - r) / r);
  };
  for (uint32_t bits = 0x3F000000u; bits < 0x40000000u; ++bits) {
    float x;
    std::memcpy(&x, &bits, 4);
    check(x);
  }
  for (uint32_t bits = 1; bits < 0x7F800000u; bits += 9973) {
    float x;
    std::memcpy(&x, &bits, 4);
    check(x);
  }
  check(std::numeric_limits<float>::max());
  check(std::numeric_limits<float>::denorm_min());
  EXPECT_LT(worst, 1.6e-6);
  EXPECT_GT(worst, 0.0);  // an estimate, not the exact value
  EXPECT_EQ(reciprocalSqrtEstimate(INFINITY), 0.0f);
}

}  // namespace
