// One host bitmap to a texture, end to end (loadTexture on a live context,
// then the texture list cleared), and the stages of that road timed on their
// own: the BMP file image and the entry's copy of it, decoding it, and the
// fill of each mip level from the full image with the linear filter. The
// end-to-end and fill runs come with the texture builder's shortcuts on
// (fast:1) and off (fast:0), for a before-and-after in one run; host pixels
// are opaque (alpha 255, an A8R8G8B8 image) or have a zero fourth byte (as
// most host bitmaps do: an X8R8G8B8 image).
//
// Each load allocates several image-sized buffers (the BMP file image, the
// entry's copy, the decoded pixels, the texture's levels). In a process
// whose allocator hands them back to the system after each load, first-touch
// page faults make up most of the end-to-end time; with
// GLIBC_TUNABLES=glibc.malloc.mmap_threshold=134217728:glibc.malloc.trim_threshold=1073741824
// the heap keeps them and the figures show the work itself.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "d3d9/com_ptr.h"
#include "d3d9/software_adapter.h"
#include "image/image.h"
#include "platform/platform.h"
#include "renderer/polygon_set.h"
#include "renderer/texture_list.h"
#include "texture/fast_paths.h"
#include "texture/surface_loading.h"

namespace {

using namespace nerro;

// Random host pixels, opaque or with a zero fourth byte.
std::vector<uint32_t> hostPixels(uint32_t side, bool opaque = true) {
  std::vector<uint32_t> px(size_t(side) * side);
  std::mt19937 rng(7);
  for (auto& p : px) p = opaque ? rng() | 0xFF000000u : rng() & 0x00FFFFFFu;
  return px;
}

// Turns the shortcuts on or off for one benchmark and back on after it.
class FastPaths {
 public:
  explicit FastPaths(bool on) { nerro::texture::setFastPathsEnabled(on); }
  ~FastPaths() { nerro::texture::setFastPathsEnabled(true); }
};

void setRates(benchmark::State& state, uint64_t pixelsPerIteration) {
  state.counters["Mpixel/s"] = benchmark::Counter(double(pixelsPerIteration) * 1e-6 * double(state.iterations()),
                                                  benchmark::Counter::kIsRate);
}

class LiveContext {
 public:
  LiveContext() {
    d3d9::resetAdapter();
    context_ = std::make_unique<renderer::NerroPolygonSet>();
    ok_ = context_->initDevice(platform::foregroundWindow()) == S_OK;
  }
  bool ok() const { return ok_; }
  renderer::NerroPolygonSet& context() { return *context_; }

 private:
  std::unique_ptr<renderer::NerroPolygonSet> context_;
  bool ok_ = false;
};

void BM_LoadTexture(benchmark::State& state) {
  const auto side = static_cast<uint32_t>(state.range(0));
  const auto pixels = hostPixels(side, state.range(1) != 0);
  const FastPaths fast(state.range(2) != 0);
  LiveContext live;
  if (!live.ok()) return state.SkipWithError("no device");
  for (auto _ : state) {
    if (renderer::loadTexture(live.context(), "bench", pixels.data(), int32_t(side), int32_t(side)) != 1)
      return state.SkipWithError("loadTexture failed");
    renderer::clearTextures(live.context());
  }
  setRates(state, uint64_t(side) * side);
}
BENCHMARK(BM_LoadTexture)
    ->ArgNames({"side", "opaque", "fast"})
    ->ArgsProduct({{256, 1024, 2048}, {1, 0}, {1, 0}})
    ->Unit(benchmark::kMillisecond);

// The BMP file image and the entry's copy of it.
void BM_StageBitmapImage(benchmark::State& state) {
  const auto side = static_cast<uint32_t>(state.range(0));
  const auto pixels = hostPixels(side);
  const uint32_t size = renderer::bitmapFileSize(int32_t(side), int32_t(side));
  for (auto _ : state) {
    auto file = renderer::buildBitmapFile(pixels.data(), int32_t(side), int32_t(side));
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
    std::memcpy(copy.get(), file.get(), size);
    benchmark::DoNotOptimize(copy.get());
  }
  setRates(state, uint64_t(side) * side);
}
BENCHMARK(BM_StageBitmapImage)->Arg(256)->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond);

void BM_StageDecode(benchmark::State& state) {
  const auto side = static_cast<uint32_t>(state.range(0));
  const auto pixels = hostPixels(side);
  const auto file = renderer::buildBitmapFile(pixels.data(), int32_t(side), int32_t(side));
  const uint32_t size = renderer::bitmapFileSize(int32_t(side), int32_t(side));
  for (auto _ : state) {
    image::DecodedImage decoded;
    if (decoded.load(file.get(), size, nullptr, true) != S_OK) return state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(decoded.pixels);
  }
  setRates(state, uint64_t(side) * side);
}
BENCHMARK(BM_StageDecode)->Arg(256)->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond);

// The fill of one level of a full mip chain from the decoded image, as the
// texture builder does it: args are the image side and the level.
void BM_StageFillLevel(benchmark::State& state) {
  const auto side = static_cast<uint32_t>(state.range(0));
  const auto level = static_cast<uint32_t>(state.range(1));
  const auto pixels = hostPixels(side, state.range(2) != 0);
  const FastPaths fast(state.range(3) != 0);
  const auto file = renderer::buildBitmapFile(pixels.data(), int32_t(side), int32_t(side));
  image::DecodedImage decoded;
  if (decoded.load(file.get(), renderer::bitmapFileSize(int32_t(side), int32_t(side)), nullptr, true) != S_OK)
    return state.SkipWithError("decode failed");
  LiveContext live;
  if (!live.ok()) return state.SkipWithError("no device");
  d3d9::ComPtr<IDirect3DTexture9> texture;
  if (live.context().device->CreateTexture(side, side, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.put(),
                                           nullptr) != S_OK)
    return state.SkipWithError("no texture");
  d3d9::ComPtr<IDirect3DSurface9> surface;
  if (texture->GetSurfaceLevel(level, surface.put()) != S_OK) return state.SkipWithError("no level");
  const RECT all = {0, 0, int32_t(side), int32_t(side)};
  for (auto _ : state) {
    if (texture::FillSurfaceFromPixels(surface.get(), nullptr, nullptr, decoded.pixels, decoded.format,
                                       decoded.rowPitch, nullptr, &all, texture::FilterLinear, 0) != S_OK)
      return state.SkipWithError("fill failed");
  }
  const uint32_t levelSide = side >> level;
  setRates(state, uint64_t(levelSide) * levelSide);
  state.SetLabel(std::to_string(levelSide) + "x" + std::to_string(levelSide) +
                 (decoded.format == D3DFMT_A8R8G8B8 ? " from A8R8G8B8" : " from X8R8G8B8"));
}
BENCHMARK(BM_StageFillLevel)
    ->ArgNames({"side", "level", "opaque", "fast"})
    ->ArgsProduct({{1024}, {0, 1, 2, 3}, {1, 0}, {1, 0}})
    ->Args({2048, 1, 1, 1})
    ->Args({2048, 1, 1, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
