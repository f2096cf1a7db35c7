// Selection of the routine tiers under the settings and processor features,
// the slots each tier installs, and every installed routine compared with
// the generic one on the same inputs.
#include <cmath>
#include <functional>
#include <vector>

#include "math_test_util.h"

namespace {

using namespace mathtest;

std::set<int> range(int lo, int hi) {
  std::set<int> r;
  for (int i = lo; i <= hi; ++i) r.insert(i);
  return r;
}
std::set<int> unite(std::initializer_list<std::set<int>> parts) {
  std::set<int> r;
  for (const auto& p : parts) r.insert(p.begin(), p.end());
  return r;
}

const std::set<int> kTuned = unite({range(0, 7), {35}});
const std::set<int> kSse = unite({range(0, 11), {14}, range(17, 23), {25, 26, 28, 29, 35, 45}, range(48, 55), {59},
                                  range(60, 66), {69, 71}});
const std::set<int> kSse2Alone = unite({{7, 14, 17, 22, 26, 28, 29, 59}, range(60, 66), {69}});
const std::set<int> kSseArrays = unite({range(60, 66), {69}});

using TierSelection = MathStateTest;

TEST_F(TierSelection, SlotsStartAtFirstUseEntriesAndTheFirstCallForwards) {
  EXPECT_EQ(mathTier(), MathTierUnselected);
  const std::set<int> before = nonGenericSlots(nerro::math::testing::liveRoutines());
  EXPECT_EQ(before.size(), static_cast<size_t>(MathSlotCount));  // no slot holds a generic routine yet
  // The very first call is answered correctly through its first-use entry.
  D3DMATRIX a, b, r;
  mat4Scaling(&a, 2, 3, 4);
  mat4Translation(&b, 1, 1, 1);
  mat4Multiply(&r, &a, &b);
  EXPECT_FLOAT_EQ(r._11, 2);
  EXPECT_FLOAT_EQ(r._33, 4);
  EXPECT_FLOAT_EQ(r._41, 1);
  EXPECT_NE(mathTier(), MathTierUnselected);
}

struct SelectionCase {
  const char* name;
  const char* disablePsgp;
  const char* disableV3od;
  nerro::platform::CpuFeatures cpu;
  uint32_t tier;
};

TEST_F(TierSelection, SettingsAndProcessorChooseTheTier) {
  const SelectionCase cases[] = {
      {"sse2 processor", nullptr, nullptr, cpu(true, true), MathTierSse2},
      {"sse only", nullptr, nullptr, cpu(true, false), MathTierSse},
      {"no sse", nullptr, nullptr, cpu(false, false), MathTierGeneric},
      {"3dnow wins", nullptr, nullptr, cpu(true, true, true), MathTier3DNow},
      {"value 2 removes only 3dnow", "2", nullptr, cpu(true, true, true), MathTierSse2},
      {"value 1 generic only", "1", nullptr, cpu(true, true, true), MathTierGeneric},
      {"other value full selection", "7", nullptr, cpu(true, true), MathTierSse2},
      {"second value wins", "1", "0", cpu(true, true), MathTierSse2},
      {"second value alone", nullptr, "1", cpu(true, true, true), MathTierGeneric},
      {"second value 2", "1", "2", cpu(true, true, true), MathTierSse2},
      {"unreadable value absent", "x1", nullptr, cpu(true, true), MathTierSse2},
  };
  for (const SelectionCase& c : cases) {
    SCOPED_TRACE(c.name);
    clear();
    setSetting("DisablePSGP", c.disablePsgp);
    setSetting("DisableV3ODPSGP", c.disableV3od);
    nerro::platform::overrideCpuFeatures(c.cpu);
    EXPECT_EQ(selectMathRoutines(1), c.tier);
    EXPECT_EQ(mathTier(), c.tier);
  }
}

TEST_F(TierSelection, EachTierInstallsExactlyItsSlots) {
  nerro::platform::overrideCpuFeatures(cpu(true, true));
  setSetting("DisableV3ODPSGP", "1");
  EXPECT_EQ(nonGenericSlots(selectNow()), kTuned);

  clear();
  nerro::platform::overrideCpuFeatures(cpu(true, false));
  const MathDispatch sse = selectNow();
  EXPECT_EQ(nonGenericSlots(sse), kSse);

  clear();
  nerro::platform::overrideCpuFeatures(cpu(true, true));
  const MathDispatch sse2 = selectNow();
  std::set<int> expected = kSse;
  expected.erase(45);  // quatInverse keeps its generic routine in the SSE2 tier
  EXPECT_EQ(nonGenericSlots(sse2), expected);
  // Shared slots hold the SSE routine; the others a routine of the SSE2 tier.
  const SlotView a = slots(sse), b = slots(sse2);
  for (int s : expected) {
    SCOPED_TRACE(s);
    if (kSse2Alone.count(s)) EXPECT_NE(b.slot[s], a.slot[s]);
    else EXPECT_EQ(b.slot[s], a.slot[s]);
  }

  // The 3DNow! tier: the tuned set plus the SSE array routines when SSE is there.
  clear();
  nerro::platform::overrideCpuFeatures(cpu(true, false, true));
  const MathDispatch amd = selectNow();
  EXPECT_EQ(nonGenericSlots(amd), unite({kTuned, kSseArrays}));
  for (int s : kSseArrays) EXPECT_EQ(slots(amd).slot[s], a.slot[s]);
  clear();
  nerro::platform::overrideCpuFeatures(cpu(false, false, true));
  EXPECT_EQ(nonGenericSlots(selectNow()), kTuned);
  EXPECT_EQ(mathTier(), MathTier3DNow);
}

TEST_F(TierSelection, SelectionIsMadeOnceAndNeverRedone) {
  nerro::platform::overrideCpuFeatures(cpu(true, true));
  const MathDispatch first = selectNow();
  EXPECT_EQ(mathTier(), MathTierSse2);
  setSetting("DisableV3ODPSGP", "1");
  nerro::platform::overrideCpuFeatures(cpu(false, false));
  EXPECT_EQ(selectMathRoutines(1), MathTierSse2);
  Quat q{0, 0, 0, 1}, r;
  quatNormalize(&r, &q);
  EXPECT_EQ(mathTier(), MathTierSse2);
  EXPECT_EQ(std::memcmp(&first, &nerro::math::testing::liveRoutines(), sizeof first), 0);
}

// ---- Every slot of a tier against the generic routine ---------------------------

class SlotComparer {
 public:
  SlotComparer(const MathDispatch& tier, const MathDispatch& generic) : t_(tier), g_(generic) {}

  // Runs `f` with both tables; each writes `n` floats, compared within
  // `tol` relative to (1 + |generic value|).
  void same(const char* slot, int n, const std::function<void(const MathDispatch&, float*)>& f, double tol = 2e-5) {
    std::vector<float> a(n, -777.0f), b(n, -777.0f);
    f(t_, a.data());
    f(g_, b.data());
    for (int i = 0; i < n; ++i) {
      const bool bothNan = std::isnan(a[i]) && std::isnan(b[i]);
      EXPECT_TRUE(bothNan || std::fabs(a[i] - b[i]) <= tol * (1.0 + std::fabs(b[i])))
          << slot << " element " << i << ": tier " << a[i] << " generic " << b[i];
    }
  }

 private:
  const MathDispatch& t_;
  const MathDispatch& g_;
};

template <typename T>
void put(float* out, const T& v) {
  std::memcpy(out, &v, sizeof v);
}

void compareEverySlot(const MathDispatch& tier, uint32_t seed) {
  const MathDispatch& g = nerro::math::testing::genericRoutines();
  SlotComparer c(tier, g);
  Rng rng(seed);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    const D3DMATRIX m1 = rng.matrix(), m2 = rng.matrix();
    const Vec2 a2 = rng.vec2(), b2 = rng.vec2(), c2 = rng.vec2(), d2 = rng.vec2();
    const D3DVECTOR a3 = rng.vec3(), b3 = rng.vec3(), c3 = rng.vec3(), d3 = rng.vec3();
    const Vec4 a4 = rng.vec4(), b4 = rng.vec4(), c4 = rng.vec4(), d4 = rng.vec4();
    const Quat q1 = rng.unitQuat(), q2 = rng.unitQuat(), q3 = rng.unitQuat(), q4 = rng.unitQuat();
    const Plane pl = rng.plane();
    const float s = rng.uniform(0, 1), f = rng.uniform(0, 0.5f), gg = rng.uniform(0, 0.5f);
    const float ang = rng.uniform(-3, 3);
    const D3DVIEWPORT9 vp{10, 20, 640, 480, 0.0f, 1.0f};

    c.same("vec2Transform", 4, [&](const MathDispatch& t, float* o) { Vec4 r; t.vec2Transform(&r, &a2, &m1); put(o, r); });
    c.same("vec3Transform", 4, [&](const MathDispatch& t, float* o) { Vec4 r; t.vec3Transform(&r, &a3, &m1); put(o, r); });
    c.same("vec4Transform", 4, [&](const MathDispatch& t, float* o) { Vec4 r; t.vec4Transform(&r, &a4, &m1); put(o, r); });
    c.same("mat4Multiply", 16, [&](const MathDispatch& t, float* o) { D3DMATRIX r; t.mat4Multiply(&r, &m1, &m2); put(o, r); });
    c.same("mat4MultiplyTranspose", 16, [&](const MathDispatch& t, float* o) { D3DMATRIX r; t.mat4MultiplyTranspose(&r, &m1, &m2); put(o, r); });
    c.same("vec2TransformNormal", 2, [&](const MathDispatch& t, float* o) { Vec2 r; t.vec2TransformNormal(&r, &a2, &m1); put(o, r); });
    c.same("vec3TransformNormal", 3, [&](const MathDispatch& t, float* o) { D3DVECTOR r; t.vec3TransformNormal(&r, &a3, &m1); put(o, r); });
    c.same("vec3Normalize", 3, [&](const MathDispatch& t, float* o) { D3DVECTOR r; t.vec3Normalize(&r, &a3); put(o, r); });
    c.same("vec4Normalize", 4, [&](const MathDispatch& t, float* o) { Vec4 r; t.vec4Normalize(&r, &a4); put(o, r); });
    c.same("vec2TransformCoord", 2, [&](const MathDispatch& t, float* o) { Vec2 r; t.vec2TransformCoord(&r, &a2, &m1); put(o, r); });
    c.same("vec3TransformCoord", 3, [&](const MathDispatch& t, float* o) { D3DVECTOR r; t.vec3TransformCoord(&r, &a3, &m1); put(o, r); });
    c.same("mat4Determinant", 1, [&](const MathDispatch& t, float* o) { o[0] = t.mat4Determinant(&m1); }, 1e-5);
    c.same("mat4Decompose", 11, [&](const MathDispatch& t, float* o) {
      D3DMATRIX sm, rm, tm, a, b;
      t.mat4Scaling(&sm, 1.5f, 2.0f, 0.5f);
      t.mat4RotationQuat(&rm, &q1);
      t.mat4Translation(&tm, 1, 2, 3);
      t.mat4Multiply(&a, &sm, &rm);
      t.mat4Multiply(&b, &a, &tm);
      D3DVECTOR sc, tr;
      Quat q;
      o[10] = static_cast<float>(t.mat4Decompose(&sc, &q, &tr, &b) == S_OK);
      if (q.w < 0) q = {-q.x, -q.y, -q.z, -q.w};
      put(o, sc), put(o + 3, q), put(o + 7, tr);
    }, 1e-4);
    c.same("planeFromPointNormal", 4, [&](const MathDispatch& t, float* o) { Plane r; t.planeFromPointNormal(&r, &a3, &b3); put(o, r); });
    c.same("planeFromPoints", 4, [&](const MathDispatch& t, float* o) { Plane r; t.planeFromPoints(&r, &a3, &b3, &c3); put(o, r); });
    c.same("vec3Project", 3, [&](const MathDispatch& t, float* o) { D3DVECTOR r; t.vec3Project(&r, &a3, &vp, &m1, &m2, nullptr); put(o, r); }, 5e-5);
    c.same("vec3Unproject", 3, [&](const MathDispatch& t, float* o) { D3DVECTOR r{}; t.vec3Unproject(&r, &a3, &vp, &m1, &m2, nullptr); put(o, r); }, 5e-5);
    c.same("vec4Cross", 4, [&](const MathDispatch& t, float* o) { Vec4 r; t.vec4Cross(&r, &a4, &b4, &c4); put(o, r); });
    c.same("vec2Hermite", 2, [&](const MathDispatch& t, float* o) { Vec2 r; t.vec2Hermite(&r, &a2, &b2, &c2, &d2, s); put(o, r); });
    c.same("mat4Inverse", 18, [&](const MathDispatch& t, float* o) {
      D3DMATRIX r;
      float det = 0;
      o[17] = static_cast<float>(t.mat4Inverse(&r, &det, &m1) == &r);
      put(o, r);
      o[16] = det;
    });
    c.same("quatMultiply", 4, [&](const MathDispatch& t, float* o) { Quat r; t.quatMultiply(&r, &q1, &q2); put(o, r); });
    c.same("quatNormalize", 4, [&](const MathDispatch& t, float* o) { Quat q{a4.x, a4.y, a4.z, a4.w}, r; t.quatNormalize(&r, &q); put(o, r); });
    c.same("planeNormalize", 4, [&](const MathDispatch& t, float* o) { Plane r; t.planeNormalize(&r, &pl); put(o, r); });
    c.same("planeIntersectLine", 4, [&](const MathDispatch& t, float* o) {
      D3DVECTOR r{};
      o[3] = static_cast<float>(t.planeIntersectLine(&r, &pl, &a3, &b3) != nullptr);
      put(o, r);
    }, 1e-4);
    c.same("quatToAxisAngle", 4, [&](const MathDispatch& t, float* o) { D3DVECTOR ax; float an; t.quatToAxisAngle(&q1, &ax, &an); put(o, ax); o[3] = an; });
    c.same("quatFromMatrix", 4, [&](const MathDispatch& t, float* o) {
      D3DMATRIX rm;
      t.mat4RotationQuat(&rm, &q1);
      Quat r;
      t.quatFromMatrix(&r, &rm);
      put(o, r);
    });
    c.same("quatFromYawPitchRoll", 4, [&](const MathDispatch& t, float* o) { Quat r; t.quatFromYawPitchRoll(&r, ang, s, f); put(o, r); });
    c.same("mat4Translation", 16, [&](const MathDispatch& t, float* o) { D3DMATRIX r; t.mat4Translation(&r, s, f, gg); put(o, r); });
    c.same("mat4Shadow", 16, [&](const MathDispatch& t, float* o) { D3DMATRIX r; t.mat4Shadow(&r, &a4, &pl); put(o, r); });
    c.same("mat4Reflect", 16, [&](const MathDispatch& t, float* o) { D3DMATRIX r; t.mat4Reflect(&r, &pl); put(o, r); });
    c.same("quatFromAxisAngle", 4, [&](const MathDispatch& t, float* o) { Quat r; t.quatFromAxisAngle(&r, &a3, ang); put(o, r); });
    c.same("mat4RotationX", 16, [&](const MathDispatch& t, float* o) { D3DMATRIX r; t.mat4RotationX(&r, ang); put(o, r); });
    c.same("mat4RotationY", 16, [&](const MathDispatch& t, float* o) { D3DMATRIX r; t.mat4RotationY(&r, ang); put(o, r); });
    c.same("mat4RotationZ", 16, [&](const MathDispatch& t, float* o) { D3DMATRIX r; t.mat4RotationZ(&r, ang); put(o, r); });
    c.same("mat4Scaling", 16, [&](const MathDispatch& t, float* o) { D3DMATRIX r; t.mat4Scaling(&r, s, f, gg); put(o, r); });
    c.same("planeTransform", 4, [&](const MathDispatch& t, float* o) { Plane r; t.planeTransform(&r, &pl, &m1); put(o, r); });
    c.same("quatSlerp", 4, [&](const MathDispatch& t, float* o) { Quat r; t.quatSlerp(&r, &q1, &q2, s); put(o, r); });
    c.same("quatBarycentric", 4, [&](const MathDispatch& t, float* o) { Quat r; t.quatBarycentric(&r, &q1, &q2, &q3, f, gg); put(o, r); }, 1e-4);
    c.same("mat4Transpose", 16, [&](const MathDispatch& t, float* o) { D3DMATRIX r; t.mat4Transpose(&r, &m1); put(o, r); });
    c.same("mat4RotationQuat", 16, [&](const MathDispatch& t, float* o) { D3DMATRIX r; t.mat4RotationQuat(&r, &q1); put(o, r); });
    c.same("mat4Transformation", 16, [&](const MathDispatch& t, float* o) { D3DMATRIX r; t.mat4Transformation(&r, &a3, &q1, &b3, &c3, &q2, &d3); put(o, r); }, 5e-5);
    c.same("mat4RotationYawPitchRoll", 16, [&](const MathDispatch& t, float* o) { D3DMATRIX r; t.mat4RotationYawPitchRoll(&r, ang, s, f); put(o, r); });
    c.same("mat4AffineTransformation", 16, [&](const MathDispatch& t, float* o) { D3DMATRIX r; t.mat4AffineTransformation(&r, s, &a3, &q1, &b3); put(o, r); });
    c.same("mat4RotationAxis", 16, [&](const MathDispatch& t, float* o) { D3DMATRIX r; t.mat4RotationAxis(&r, &a3, ang); put(o, r); });
    c.same("quatSquad", 4, [&](const MathDispatch& t, float* o) { Quat r; t.quatSquad(&r, &q1, &q2, &q3, &q4, s); put(o, r); }, 1e-4);
    c.same("quatInverse", 4, [&](const MathDispatch& t, float* o) { Quat q{a4.x, a4.y, a4.z, a4.w}, r; t.quatInverse(&r, &q); put(o, r); });
    c.same("quatSquadSetup", 12, [&](const MathDispatch& t, float* o) { Quat a, b, cc; t.quatSquadSetup(&a, &b, &cc, &q1, &q2, &q3, &q4); put(o, a), put(o + 4, b), put(o + 8, cc); }, 1e-4);
    c.same("vec2Normalize", 2, [&](const MathDispatch& t, float* o) { Vec2 r; t.vec2Normalize(&r, &a2); put(o, r); });
    c.same("vec2CatmullRom", 2, [&](const MathDispatch& t, float* o) { Vec2 r; t.vec2CatmullRom(&r, &a2, &b2, &c2, &d2, s); put(o, r); });
    c.same("vec2Barycentric", 2, [&](const MathDispatch& t, float* o) { Vec2 r; t.vec2Barycentric(&r, &a2, &b2, &c2, f, gg); put(o, r); });
    c.same("vec3Hermite", 3, [&](const MathDispatch& t, float* o) { D3DVECTOR r; t.vec3Hermite(&r, &a3, &b3, &c3, &d3, s); put(o, r); });
    c.same("vec3CatmullRom", 3, [&](const MathDispatch& t, float* o) { D3DVECTOR r; t.vec3CatmullRom(&r, &a3, &b3, &c3, &d3, s); put(o, r); });
    c.same("vec3Barycentric", 3, [&](const MathDispatch& t, float* o) { D3DVECTOR r; t.vec3Barycentric(&r, &a3, &b3, &c3, f, gg); put(o, r); });
    c.same("vec4Hermite", 4, [&](const MathDispatch& t, float* o) { Vec4 r; t.vec4Hermite(&r, &a4, &b4, &c4, &d4, s); put(o, r); });
    c.same("vec4CatmullRom", 4, [&](const MathDispatch& t, float* o) { Vec4 r; t.vec4CatmullRom(&r, &a4, &b4, &c4, &d4, s); put(o, r); });
    c.same("vec4Barycentric", 4, [&](const MathDispatch& t, float* o) { Vec4 r; t.vec4Barycentric(&r, &a4, &b4, &c4, f, gg); put(o, r); });
    c.same("quatLn", 4, [&](const MathDispatch& t, float* o) { Quat r; t.quatLn(&r, &q1); put(o, r); });
    c.same("quatExp", 4, [&](const MathDispatch& t, float* o) { Quat q{a4.x, a4.y, a4.z, 0}, r; t.quatExp(&r, &q); put(o, r); });
    c.same("mat4Transformation2D", 16, [&](const MathDispatch& t, float* o) { D3DMATRIX r; t.mat4Transformation2D(&r, &a2, ang, &b2, &c2, s, &d2); put(o, r); });
    c.same("mat4AffineTransformation2D", 16, [&](const MathDispatch& t, float* o) { D3DMATRIX r; t.mat4AffineTransformation2D(&r, s, &a2, ang, &b2); put(o, r); });
    c.same("evaluatePnTriangles", 3 * 8, [&](const MathDispatch& t, float* o) {
      const float corners[3 * 8] = {0, 0, 0, 0, 0, 1, 0.1f, 0.2f, 1, 0, 0, 0, 0, 1, 0.3f, 0.4f,
                                    0, 1, 0, 0, 0, 1, 0.5f, 0.6f};
      const D3DVECTOR normals[3] = {{a3.x * 0.1f, a3.y * 0.1f, 1}, {0, 0, 1}, {b3.x * 0.1f, 0, 1}};
      const Vec2 uv[3] = {{s, f}, {f, gg}, {0.2f, 0.3f}};
      t.evaluatePnTriangles(o, corners, normals, 8, uv, 3);
    });
  }

  // The array forms: 13 elements (groups of four and a remainder), packed
  // and with a padded stride, against the generic routine element by element.
  constexpr int kCount = 13;
  struct Padded {
    float v[4];
    float pad;
  };
  std::vector<Padded> src(kCount);
  for (auto& p : src)
    for (float& x : p.v) x = rng.uniform(-2, 2);
  const D3DMATRIX m = rng.matrix();
  for (uint32_t inStride : {16u, 20u}) {
    for (uint32_t packedOut : {0u, 1u}) {
      SCOPED_TRACE(::testing::Message() << "in stride " << inStride << " packed out " << packedOut);
      std::vector<float> packed3(kCount * 3), packed2(kCount * 2);
      auto input = [&](int i) -> const float* {
        return reinterpret_cast<const float*>(reinterpret_cast<const unsigned char*>(src.data()) + i * inStride);
      };
      std::vector<unsigned char> in3(kCount * 12), in2(kCount * 8);
      for (int i = 0; i < kCount; ++i) {
        std::memcpy(&in3[i * 12], src[i].v, 12);
        std::memcpy(&in2[i * 8], src[i].v, 8);
      }
      // Input stride 16 uses the packed copies for 2 and 3 components.
      const void* v3 = inStride == 16 ? static_cast<const void*>(in3.data()) : static_cast<const void*>(src.data());
      const void* v2 = inStride == 16 ? static_cast<const void*>(in2.data()) : static_cast<const void*>(src.data());
      const uint32_t s3 = inStride == 16 ? 12 : inStride, s2 = inStride == 16 ? 8 : inStride;
      const uint32_t o3 = packedOut ? 12 : 20, o2 = packedOut ? 8 : 20, o4 = packedOut ? 16 : 20;
      auto arr = [&](const char* name, uint32_t os, int comps, auto call) {
        c.same(name, kCount * 5, [&](const MathDispatch& t, float* o) {
          std::vector<unsigned char> buf(kCount * 20 + 16, 0);
          call(t, buf.data(), os);
          for (int i = 0; i < kCount; ++i)
            for (int k = 0; k < 5; ++k)
              o[i * 5 + k] = k < comps ? reinterpret_cast<const float*>(buf.data() + i * os)[k] : 0.0f;
        });
      };
      arr("vec2TransformArray", o4, 4, [&](const MathDispatch& t, void* o, uint32_t os) {
        t.vec2TransformArray(static_cast<Vec4*>(o), os, static_cast<const Vec2*>(v2), s2, &m, kCount); });
      arr("vec2TransformCoordArray", o2, 2, [&](const MathDispatch& t, void* o, uint32_t os) {
        t.vec2TransformCoordArray(static_cast<Vec2*>(o), os, static_cast<const Vec2*>(v2), s2, &m, kCount); });
      arr("vec2TransformNormalArray", o2, 2, [&](const MathDispatch& t, void* o, uint32_t os) {
        t.vec2TransformNormalArray(static_cast<Vec2*>(o), os, static_cast<const Vec2*>(v2), s2, &m, kCount); });
      arr("vec3TransformArray", o4, 4, [&](const MathDispatch& t, void* o, uint32_t os) {
        t.vec3TransformArray(static_cast<Vec4*>(o), os, static_cast<const D3DVECTOR*>(v3), s3, &m, kCount); });
      arr("vec3TransformCoordArray", o3, 3, [&](const MathDispatch& t, void* o, uint32_t os) {
        t.vec3TransformCoordArray(static_cast<D3DVECTOR*>(o), os, static_cast<const D3DVECTOR*>(v3), s3, &m, kCount); });
      arr("vec3TransformNormalArray", o3, 3, [&](const MathDispatch& t, void* o, uint32_t os) {
        t.vec3TransformNormalArray(static_cast<D3DVECTOR*>(o), os, static_cast<const D3DVECTOR*>(v3), s3, &m, kCount); });
      arr("vec4TransformArray", o4, 4, [&](const MathDispatch& t, void* o, uint32_t os) {
        t.vec4TransformArray(static_cast<Vec4*>(o), os, reinterpret_cast<const Vec4*>(input(0)), inStride, &m, kCount); });
      arr("planeTransformArray", o4, 4, [&](const MathDispatch& t, void* o, uint32_t os) {
        t.planeTransformArray(static_cast<Plane*>(o), os, reinterpret_cast<const Plane*>(input(0)), inStride, &m, kCount); });
      const D3DVIEWPORT9 vp{0, 0, 320, 200, 0.0f, 1.0f};
      arr("vec3ProjectArray", o3, 3, [&](const MathDispatch& t, void* o, uint32_t os) {
        t.vec3ProjectArray(static_cast<D3DVECTOR*>(o), os, static_cast<const D3DVECTOR*>(v3), s3, &vp, &m, nullptr, nullptr, kCount); });
      arr("vec3UnprojectArray", o3, 3, [&](const MathDispatch& t, void* o, uint32_t os) {
        t.vec3UnprojectArray(static_cast<D3DVECTOR*>(o), os, static_cast<const D3DVECTOR*>(v3), s3, &vp, &m, nullptr, nullptr, kCount); });
    }
  }

  // Half floats: every value, bit for bit.
  std::vector<uint16_t> halves(65536);
  for (uint32_t i = 0; i < 65536; ++i) halves[i] = static_cast<uint16_t>(i);
  std::vector<float> ft(65536), fg(65536);
  tier.float16To32Array(ft.data(), halves.data(), 65536);
  g.float16To32Array(fg.data(), halves.data(), 65536);
  EXPECT_EQ(std::memcmp(ft.data(), fg.data(), ft.size() * 4), 0) << "float16To32Array";
  std::vector<uint16_t> ht(65536), hg(65536);
  tier.float32To16Array(ht.data(), fg.data(), 65536);
  g.float32To16Array(hg.data(), fg.data(), 65536);
  EXPECT_EQ(ht, hg) << "float32To16Array";
  EXPECT_EQ(ht, halves);
}

TEST_F(TierSelection, TunedSetMatchesGenericRoutines) {
  // Everything disabled: only the tuned set replaces generic routines.
  setSetting("DisableV3ODPSGP", "1");
  compareEverySlot(selectNow(), 1);
}

#if defined(__x86_64__) || defined(__i386__)
TEST_F(TierSelection, SseTierMatchesGenericRoutines) {
  nerro::platform::overrideCpuFeatures(cpu(true, false));
  const MathDispatch t = selectNow();
  ASSERT_EQ(mathTier(), MathTierSse);
  compareEverySlot(t, 2);
}

TEST_F(TierSelection, Sse2TierMatchesGenericRoutines) {
  // Four-wide array forms, and eight-wide where the processor has AVX2.
  for (bool avx2 : {false, true}) {
    if (avx2 && !nerro::platform::cpuFeatures().avx2) continue;
    SCOPED_TRACE(avx2 ? "avx2" : "sse2");
    clear();
    auto features = cpu(true, true);
    features.avx2 = avx2;
    nerro::platform::overrideCpuFeatures(features);
    const MathDispatch t = selectNow();
    ASSERT_EQ(mathTier(), MathTierSse2);
    compareEverySlot(t, 3);
  }
}

TEST_F(TierSelection, AmdTierMatchesGenericRoutines) {
  nerro::platform::overrideCpuFeatures(cpu(true, false, true));
  const MathDispatch t = selectNow();
  ASSERT_EQ(mathTier(), MathTier3DNow);
  compareEverySlot(t, 4);
}

// The vectorised tiers' own numerical rules.
TEST_F(TierSelection, VectorTiersOwnRules) {
  for (auto features : {cpu(true, false), cpu(true, true)}) {
    clear();
    nerro::platform::overrideCpuFeatures(features);
    selectNow();
    SCOPED_TRACE(mathTier());
    // Zero below 2^-46, no unit shortcut.
    D3DVECTOR r;
    const D3DVECTOR tiny{1e-7f, 0, 0};  // squared length 1e-14 < 2^-46
    vec3Normalize(&r, &tiny);
    EXPECT_EQ(r.x, 0.0f);
    const D3DVECTOR small{1e-6f, 0, 0};  // 1e-12 > 2^-46
    vec3Normalize(&r, &small);
    EXPECT_NEAR(r.x, 1.0f, 1e-6);
    // mat4Inverse returns null before storing the determinant.
    D3DMATRIX zeroRow;
    mat4Scaling(&zeroRow, 1, 0, 1);
    D3DMATRIX out;
    mat4Translation(&out, 5, 6, 7);
    float det = 42.0f;
    EXPECT_EQ(mat4Inverse(&out, &det, &zeroRow), nullptr);
    EXPECT_EQ(det, 42.0f);
    EXPECT_EQ(out._41, 5.0f);
  }
}
#endif

TEST_F(TierSelection, TunedNormalizeRules) {
  setSetting("DisablePSGP", "1");
  selectNow();
  D3DVECTOR r;
  // Within 0.00001 of unit length: copied unchanged.
  const D3DVECTOR nearUnit{1.000004f, 0, 0};
  vec3Normalize(&r, &nearUnit);
  EXPECT_EQ(r.x, 1.000004f);
  // Otherwise scaled by the estimate.
  const D3DVECTOR v{0, 3, 4};
  vec3Normalize(&r, &v);
  EXPECT_NEAR(r.y, 0.6f, 2e-6);
  EXPECT_NEAR(r.z, 0.8f, 2e-6);
  // Zero, and a squared length too small to be a normal float, give zero.
  for (const D3DVECTOR z : {D3DVECTOR{0, 0, 0}, D3DVECTOR{1e-20f, 0, 0}}) {
    vec3Normalize(&r, &z);
    EXPECT_EQ(r.x, 0.0f);
  }
}

}  // namespace
