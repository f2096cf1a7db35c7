// GenerateMipLevels on a 2048 x 2048 A8R8G8B8 texture of the software
// adapter, beside stb_image_resize producing the same box chain.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "../../tests/support/software_device.h"
#include "d3d9/com_ptr.h"
#include "texture/mip_generation.h"

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STBIR_ASSERT(x) ((void)0)
#include <stb/stb_image_resize.h>

namespace {

using namespace nerro::texture;
using nerro::d3d9::ComPtr;

constexpr uint32_t kSize = 2048;
constexpr uint32_t kLevels = 12;

ComPtr<IDirect3DTexture9> randomTexture(IDirect3DDevice9* device) {
  ComPtr<IDirect3DTexture9> t;
  if (!device || device->CreateTexture(kSize, kSize, kLevels, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.put(), nullptr) != S_OK)
    return t;
  D3DLOCKED_RECT lr;
  if (t->LockRect(0, &lr, nullptr, 0) == S_OK) {
    std::mt19937 rng(1);
    for (uint32_t y = 0; y < kSize; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch);
      for (uint32_t x = 0; x < kSize; ++x) row[x] = rng();
    }
    t->UnlockRect(0);
  }
  return t;
}

void generate(benchmark::State& state, FilterOptions filter) {
  // The depth buffer of the shared parameters is never drawn to here.
  nerro::testing::SoftwareDevice dev(nerro::testing::windowedParameters(64, 64, D3DFMT_X8R8G8B8));
  auto t = randomTexture(dev.get());
  if (!t) {
    state.SkipWithError("no texture");
    return;
  }
  for (auto _ : state)
    if (GenerateMipLevels(t.get(), nullptr, 0, filter) != S_OK) state.SkipWithError("GenerateMipLevels failed");
  state.SetBytesProcessed(int64_t(state.iterations()) * kSize * kSize * 4);
}

void BM_GenerateMipLevels_Box_2048(benchmark::State& state) { generate(state, FilterBox); }
void BM_GenerateMipLevels_BoxDither_2048(benchmark::State& state) { generate(state, FilterBox | FilterDither); }
void BM_GenerateMipLevels_Triangle_2048(benchmark::State& state) { generate(state, FilterTriangle | FilterDither); }

void BM_StbBoxChain_2048(benchmark::State& state) {
  std::vector<std::vector<uint32_t>> levels;
  std::mt19937 rng(1);
  for (uint32_t s = kSize; s >= 1; s /= 2) levels.emplace_back(size_t(s) * s);
  for (auto& p : levels[0]) p = rng();
  for (auto _ : state) {
    for (size_t i = 1; i < levels.size(); ++i) {
      const int s = int(kSize >> (i - 1)), d = s / 2;
      stbir_resize_uint8_generic(reinterpret_cast<const unsigned char*>(levels[i - 1].data()), s, s, s * 4,
                                 reinterpret_cast<unsigned char*>(levels[i].data()), d, d, d * 4, 4,
                                 STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP, STBIR_FILTER_BOX,
                                 STBIR_COLORSPACE_LINEAR, nullptr);
    }
    benchmark::DoNotOptimize(levels.back().data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kSize * kSize * 4);
}

BENCHMARK(BM_GenerateMipLevels_Box_2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenerateMipLevels_BoxDither_2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenerateMipLevels_Triangle_2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StbBoxChain_2048)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
