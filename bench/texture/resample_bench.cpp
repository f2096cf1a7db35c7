// Resampling and box-chain throughput on pixels in memory, beside
// stb_image_resize doing the same work.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "texture/surface_loading.h"

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STBIR_ASSERT(x) ((void)0)
#include <stb/stb_image_resize.h>

namespace {

using namespace nerro::texture;
using nerro::pixel::PixelRegion;

std::vector<uint32_t> randomPixels(size_t count) {
  std::vector<uint32_t> px(count);
  std::mt19937 rng(1);
  for (auto& p : px) p = rng();
  return px;
}

PixelRegion region(void* pixels, uint32_t w, uint32_t h) {
  PixelRegion r;
  r.pixels = pixels;
  r.format = D3DFMT_A8R8G8B8;
  r.rowPitch = w * 4;
  r.bounds = r.box = {0, 0, w, h, 0, 1};
  return r;
}

void resample(benchmark::State& state, FilterOptions filter) {
  const uint32_t sw = 1024, sh = 1024, dw = 700, dh = 500;
  auto src = randomPixels(size_t(sw) * sh);
  std::vector<uint32_t> dst(size_t(dw) * dh);
  for (auto _ : state) {
    PixelRegion s = region(src.data(), sw, sh), d = region(dst.data(), dw, dh);
    if (BlitRegion(d, s, filter) != S_OK) state.SkipWithError("blit failed");
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * sw * sh * 4);
}

void BM_FilterTriangle_1024_to_700x500(benchmark::State& state) { resample(state, FilterTriangle); }
void BM_FilterTriangleDither_1024_to_700x500(benchmark::State& state) { resample(state, FilterTriangle | FilterDither); }
void BM_FilterLinear_1024_to_700x500(benchmark::State& state) { resample(state, FilterLinear); }

void BM_StbTriangle_1024_to_700x500(benchmark::State& state) {
  const int sw = 1024, sh = 1024, dw = 700, dh = 500;
  auto src = randomPixels(size_t(sw) * sh);
  std::vector<uint32_t> dst(size_t(dw) * dh);
  for (auto _ : state) {
    stbir_resize_uint8_generic(reinterpret_cast<const unsigned char*>(src.data()), sw, sh, sw * 4,
                               reinterpret_cast<unsigned char*>(dst.data()), dw, dh, dw * 4, 4,
                               STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_WRAP, STBIR_FILTER_TRIANGLE,
                               STBIR_COLORSPACE_LINEAR, nullptr);
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * sw * sh * 4);
}

// A whole 2048 x 2048 chain down to 1 x 1, each level from the one above.
struct Chain {
  std::vector<std::vector<uint32_t>> levels;
  std::vector<uint32_t> sizes;
  Chain() {
    for (uint32_t s = 2048; s >= 1; s /= 2) {
      sizes.push_back(s);
      levels.push_back(s == 2048 ? randomPixels(size_t(s) * s) : std::vector<uint32_t>(size_t(s) * s));
    }
  }
};

void boxChain(benchmark::State& state, FilterOptions filter) {
  Chain chain;
  for (auto _ : state) {
    for (size_t i = 1; i < chain.levels.size(); ++i) {
      PixelRegion s = region(chain.levels[i - 1].data(), chain.sizes[i - 1], chain.sizes[i - 1]);
      PixelRegion d = region(chain.levels[i].data(), chain.sizes[i], chain.sizes[i]);
      if (BlitRegion(d, s, filter) != S_OK) state.SkipWithError("blit failed");
    }
    benchmark::DoNotOptimize(chain.levels.back().data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 2048 * 2048 * 4);
}

void BM_BoxChainInteger_2048(benchmark::State& state) { boxChain(state, FilterBox); }
void BM_BoxChainFloatDither_2048(benchmark::State& state) { boxChain(state, FilterBox | FilterDither); }

void BM_StbBoxChain_2048(benchmark::State& state) {
  Chain chain;
  for (auto _ : state) {
    for (size_t i = 1; i < chain.levels.size(); ++i) {
      const int s = int(chain.sizes[i - 1]), d = int(chain.sizes[i]);
      stbir_resize_uint8_generic(reinterpret_cast<const unsigned char*>(chain.levels[i - 1].data()), s, s, s * 4,
                                 reinterpret_cast<unsigned char*>(chain.levels[i].data()), d, d, d * 4, 4,
                                 STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP, STBIR_FILTER_BOX,
                                 STBIR_COLORSPACE_LINEAR, nullptr);
    }
    benchmark::DoNotOptimize(chain.levels.back().data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 2048 * 2048 * 4);
}

BENCHMARK(BM_FilterTriangle_1024_to_700x500)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterTriangleDither_1024_to_700x500)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterLinear_1024_to_700x500)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StbTriangle_1024_to_700x500)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoxChainInteger_2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoxChainFloatDither_2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StbBoxChain_2048)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
