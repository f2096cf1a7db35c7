// Helpers shared by the math tests: settings and processor overrides that
// are undone after each test, slot views of a table and random inputs.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>

#include "math/math.h"
#include "math/math_testing.h"
#include "platform/platform.h"

namespace mathtest {

using namespace nerro::math;

inline void setSetting(const char* name, const char* value) {
  const std::string var = std::string("V3OD_") + name;
  if (value == nullptr) unsetenv(var.c_str());
  else setenv(var.c_str(), value, 1);
}

inline nerro::platform::CpuFeatures cpu(bool sse, bool sse2, bool amd3dnow = false, bool mmx = true) {
  nerro::platform::CpuFeatures f;
  f.isX86 = true;
  f.family = 6;
  f.cpuid = true;
  f.mmx = mmx;
  f.sse = sse;
  f.sse2 = sse2;
  f.amd3dnow = amd3dnow;
  return f;
}

// Every test starts and ends with the library in its first-use state, no
// settings and the real processor.
class MathStateTest : public ::testing::Test {
 protected:
  void SetUp() override { clear(); }
  void TearDown() override { clear(); }
  static void clear() {
    for (const char* n : {"DisablePSGP", "DisableV3ODPSGP", "DisableMMX", "V3ODDoNotMute"}) setSetting(n, nullptr);
    nerro::platform::overrideCpuFeatures(std::nullopt);
    nerro::math::testing::resetMathState();
  }
};

// The slot addresses of a table, in slot order.
struct SlotView {
  void* slot[MathSlotCount];
};
inline SlotView slots(const MathDispatch& t) {
  SlotView v;
  std::memcpy(v.slot, &t, sizeof t);
  return v;
}
// Slots where `t` holds a routine other than the generic one.
inline std::set<int> nonGenericSlots(const MathDispatch& t) {
  const SlotView a = slots(t), g = slots(nerro::math::testing::genericRoutines());
  std::set<int> r;
  for (int i = 0; i < MathSlotCount; ++i)
    if (a.slot[i] != g.slot[i]) r.insert(i);
  return r;
}

// Runs the first math call and returns a copy of the selected table.
inline MathDispatch selectNow() {
  D3DMATRIX m;
  mat4Translation(&m, 1, 2, 3);
  return nerro::math::testing::liveRoutines();
}

class Rng {
 public:
  explicit Rng(uint32_t seed) : engine_(seed) {}
  float uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(engine_); }
  D3DVECTOR vec3(float r = 2.0f) { return {uniform(-r, r), uniform(-r, r), uniform(-r, r)}; }
  Vec2 vec2(float r = 2.0f) { return {uniform(-r, r), uniform(-r, r)}; }
  Vec4 vec4(float r = 2.0f) { return {uniform(-r, r), uniform(-r, r), uniform(-r, r), uniform(-r, r)}; }
  Plane plane() { return {uniform(-2, 2), uniform(-2, 2), uniform(-2, 2), uniform(-2, 2)}; }
  Quat unitQuat() {
    Quat q{uniform(-1, 1), uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)};
    const float n = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    return {q.x / n, q.y / n, q.z / n, q.w / n};
  }
  // Entries in [-1, 1] with a dominant diagonal: well conditioned, and a
  // point's w stays well away from 0 and from 1.
  D3DMATRIX matrix() {
    D3DMATRIX m;
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) m.m[i][j] = uniform(-1, 1) * (j == 3 && i != 3 ? 0.2f : 1.0f) + (i == j ? 3.0f : 0.0f);
    return m;
  }

 private:
  std::mt19937 engine_;
};

}  // namespace mathtest
