// The math library per tier (generic set, SSE, SSE2) beside GLM doing the
// same work: 4x4 product, inverse, 1M point transforms with the divide,
// slerp, and 1M float-to-half conversions.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <glm/glm.hpp>
#include <glm/gtc/packing.hpp>
#include <glm/gtc/quaternion.hpp>

#include "math/math.h"
#include "math/math_testing.h"
#include "platform/platform.h"

namespace {

using namespace nerro::math;

enum Tier { Generic, Sse, Sse2 };

// Puts the library back in its first-use state and selects the tier.
void selectTier(Tier tier) {
  unsetenv("V3OD_DisableV3ODPSGP");
  setenv("V3OD_DisablePSGP", tier == Generic ? "1" : "2", 1);
  nerro::platform::CpuFeatures f = nerro::platform::cpuFeatures();
  f.amd3dnow = false;
  if (tier == Sse) f.sse2 = false;
  nerro::platform::overrideCpuFeatures(f);
  nerro::math::testing::resetMathState();
  selectMathRoutines(1);
  nerro::platform::overrideCpuFeatures(std::nullopt);
}

D3DMATRIX randomMatrix(std::mt19937& rng) {
  std::uniform_real_distribution<float> d(-1, 1);
  D3DMATRIX m;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) m.m[i][j] = d(rng) + (i == j ? 3.0f : 0.0f);
  return m;
}
glm::mat4 toGlm(const D3DMATRIX& m) {
  glm::mat4 g;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) g[j][i] = m.m[i][j];  // columns of GLM = rows of the row-vector matrix transposed
  return g;
}

constexpr int kMillion = 1 << 20;

// ---- 4x4 product --------------------------------------------------------------

void BM_Multiply(benchmark::State& state) {
  selectTier(static_cast<Tier>(state.range(0)));
  std::mt19937 rng(1);
  D3DMATRIX a = randomMatrix(rng), b = randomMatrix(rng), r;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&a);
    benchmark::DoNotOptimize(&b);
    mat4Multiply(&r, &a, &b);
    benchmark::DoNotOptimize(&r);
    benchmark::ClobberMemory();
  }
}
void BM_GlmMultiply(benchmark::State& state) {
  std::mt19937 rng(1);
  glm::mat4 a = toGlm(randomMatrix(rng)), b = toGlm(randomMatrix(rng)), r;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&a);
    benchmark::DoNotOptimize(&b);
    r = b * a;
    benchmark::DoNotOptimize(&r);
    benchmark::ClobberMemory();
  }
}

// ---- Inverse --------------------------------------------------------------------

void BM_Inverse(benchmark::State& state) {
  selectTier(static_cast<Tier>(state.range(0)));
  std::mt19937 rng(2);
  D3DMATRIX a = randomMatrix(rng), r;
  float det;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&a);
    benchmark::DoNotOptimize(mat4Inverse(&r, &det, &a));
    benchmark::DoNotOptimize(&r);
    benchmark::ClobberMemory();
  }
}
void BM_GlmInverse(benchmark::State& state) {
  std::mt19937 rng(2);
  glm::mat4 a = toGlm(randomMatrix(rng)), r;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&a);
    r = glm::inverse(a);
    benchmark::DoNotOptimize(&r);
    benchmark::ClobberMemory();
  }
}

// ---- 1M point transforms with the divide -------------------------------------------

struct Points {
  std::vector<D3DVECTOR> in, out;
  D3DMATRIX m;
  Points() : in(kMillion), out(kMillion) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> d(-10, 10);
    for (auto& p : in) p = {d(rng), d(rng), d(rng)};
    D3DMATRIX proj;
    mat4PerspectiveFovLH(&proj, 0.8f, 1.3f, 0.1f, 1000.0f);
    D3DMATRIX t;
    mat4Translation(&t, 0, 0, 30);
    mat4Multiply(&m, &t, &proj);
  }
};

void BM_TransformCoordArray(benchmark::State& state) {
  selectTier(static_cast<Tier>(state.range(0)));
  static Points p;
  for (auto _ : state) {
    vec3TransformCoordArray(p.out.data(), sizeof(D3DVECTOR), p.in.data(), sizeof(D3DVECTOR), &p.m, kMillion);
    benchmark::DoNotOptimize(p.out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kMillion);
  state.SetBytesProcessed(state.iterations() * kMillion * 24);
}
void BM_GlmTransformCoordArray(benchmark::State& state) {
  static Points p;
  const glm::mat4 g = toGlm(p.m);
  const glm::vec3* in = reinterpret_cast<const glm::vec3*>(p.in.data());
  glm::vec3* out = reinterpret_cast<glm::vec3*>(p.out.data());
  for (auto _ : state) {
    for (int i = 0; i < kMillion; ++i) {
      const glm::vec4 r = g * glm::vec4(in[i], 1.0f);
      out[i] = glm::vec3(r) / r.w;
    }
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kMillion);
  state.SetBytesProcessed(state.iterations() * kMillion * 24);
}

// Memory speed for the same traffic: read 12 bytes and write 12 bytes a point.
void BM_MemoryCopy(benchmark::State& state) {
  static Points p;
  for (auto _ : state) {
    std::memcpy(p.out.data(), p.in.data(), p.in.size() * sizeof(D3DVECTOR));
    benchmark::DoNotOptimize(p.out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kMillion);
  state.SetBytesProcessed(state.iterations() * kMillion * 24);
}

// ---- Slerp ------------------------------------------------------------------------

void BM_Slerp(benchmark::State& state) {
  selectTier(static_cast<Tier>(state.range(0)));
  Quat a{0.1f, 0.2f, 0.3f, 0.927f}, b{-0.5f, 0.5f, 0.5f, 0.5f}, r;
  float t = 0.3f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&a);
    benchmark::DoNotOptimize(t);
    quatSlerp(&r, &a, &b, t);
    benchmark::DoNotOptimize(&r);
    benchmark::ClobberMemory();
  }
}
void BM_GlmSlerp(benchmark::State& state) {
  glm::quat a(0.927f, 0.1f, 0.2f, 0.3f), b(0.5f, -0.5f, 0.5f, 0.5f), r;
  float t = 0.3f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&a);
    benchmark::DoNotOptimize(t);
    r = glm::slerp(a, b, t);
    benchmark::DoNotOptimize(&r);
    benchmark::ClobberMemory();
  }
}

// ---- 1M float-to-half conversions -------------------------------------------------

struct Floats {
  std::vector<float> in;
  std::vector<uint16_t> out;
  Floats() : in(kMillion), out(kMillion) {
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> d(-70000, 70000);
    for (float& f : in) f = d(rng);
  }
};

void BM_Float32To16(benchmark::State& state) {
  selectTier(static_cast<Tier>(state.range(0)));
  static Floats f;
  for (auto _ : state) {
    float32To16Array(f.out.data(), f.in.data(), kMillion);
    benchmark::DoNotOptimize(f.out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kMillion);
}
void BM_GlmFloat32To16(benchmark::State& state) {
  static Floats f;
  for (auto _ : state) {
    for (int i = 0; i < kMillion; ++i) f.out[i] = glm::packHalf1x16(f.in[i]);
    benchmark::DoNotOptimize(f.out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kMillion);
}

void tiers(benchmark::internal::Benchmark* b) {
  b->ArgName("tier");
  b->Arg(Generic);
#if defined(__x86_64__) || defined(__i386__)
  b->Arg(Sse)->Arg(Sse2);
#endif
}

BENCHMARK(BM_Multiply)->Apply(tiers);
BENCHMARK(BM_GlmMultiply);
BENCHMARK(BM_Inverse)->Apply(tiers);
BENCHMARK(BM_GlmInverse);
BENCHMARK(BM_TransformCoordArray)->Apply(tiers)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GlmTransformCoordArray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slerp)->Apply(tiers);
BENCHMARK(BM_GlmSlerp);
BENCHMARK(BM_Float32To16)->Apply(tiers)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GlmFloat32To16)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
