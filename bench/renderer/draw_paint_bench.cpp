// Whole drawPaint calls at 544 x 416 on four scenes, and beside them the same
// scenes drawn and read back by Mesa's software OpenGL in the same run.
//
// Reported per scene: frames/s ("frames" rate) and frame pixels per second
// ("Mpixel/s", 544 x 416 pixels a frame).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "api/context.h"
#include "../../tests/support/host_bitmap.h"
#include "nerroPolygon.h"
#include "renderer/frame.h"
#include "renderer/polygon_set.h"
#include "renderer/polygon_table.h"
#include "../support/scenes.h"
#ifdef NERRO_HAVE_OSMESA
#include "../support/osmesa_peer.h"
#endif

namespace nerro::bench {
namespace {

using nerro::testing::HostBitmap;

const float kDefaultUv[8] = {0, 0, 0, 1, 1, 0, 1, 1};

const Scene& sceneAt(int index) {
  static const Scene scenes[] = {emptyScene(), fullScreenQuadScene(), translucentQuadsScene(), smallTrianglesScene()};
  return scenes[index];
}

// The order in which our polygon table visits n polygons made in a row, as
// indices into the scene; the peer draws in the same order.
std::vector<size_t> tableOrder(size_t count) {
  renderer::PolygonTable table;
  uint32_t last = 0;
  const float corners[8] = {};
  for (size_t i = 0; i < count; ++i) renderer::makePolygon(table, last, 1, corners);
  std::vector<size_t> order;
  table.forEach([&](uint32_t id, const renderer::NerroPolygon*) { order.push_back(id - 1); });
  return order;
}

void reportRates(benchmark::State& state) {
  const double frames = static_cast<double>(state.iterations());
  state.counters["frames"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  state.counters["Mpixel/s"] =
      benchmark::Counter(frames * kFrameWidth * kFrameHeight / 1e6, benchmark::Counter::kIsRate);
}

std::array<char, 24> textureName(size_t index) {
  std::array<char, 24> name{};
  std::snprintf(name.data(), name.size(), "t%zu", index);
  return name;
}

// Builds the scene through the exports: textures by loadTexture (host
// bitmaps are bottom row first), polygons by makePolygon and the setup calls.
bool loadIntoLibrary(const Scene& scene) {
  dispose();
  setWindowSize(kFrameWidth, kFrameHeight);
  if (!create()) return false;
  for (size_t i = 0; i < scene.textures.size(); ++i) {
    const SceneTexture& t = scene.textures[i];
    HostBitmap bitmap(t.size, t.size);
    if (!bitmap.ok()) return false;
    for (int y = 0; y < t.size; ++y)
      std::memcpy(bitmap.pixels() + static_cast<size_t>(t.size - 1 - y) * t.size,
                  t.bgra.data() + static_cast<size_t>(y) * t.size, static_cast<size_t>(t.size) * 4);
    if (!loadTexture(textureName(i).data(), bitmap.handle(), t.size, t.size)) return false;
  }
  for (const ScenePolygon& p : scene.polygons) {
    const uint32_t id = makePolygon(p.quad ? 1 : 0, p.corners);
    if (id == 0) return false;
    const int textures[2] = {p.texture0, p.texture1};
    for (uint32_t slot = 0; slot < 2; ++slot) {
      if (textures[slot] < 0) continue;
      if (!setupTextures(id, textureName(static_cast<size_t>(textures[slot])).data(), slot, kDefaultUv)) return false;
    }
    setupRotZ(id, &p.rotZ, 0);
    setupTranslate(id, p.translate, 0);
  }
  return true;
}

void BM_DrawPaint(benchmark::State& state) {
  const Scene& scene = sceneAt(static_cast<int>(state.range(0)));
  state.SetLabel(scene.name);
  HostBitmap host(kFrameWidth, kFrameHeight);
  if (!host.ok() || !loadIntoLibrary(scene)) {
    state.SkipWithError("scene could not be built through the exports");
    dispose();
    return;
  }
  if (drawPaint(host.handle(), kFrameWidth, kFrameHeight) != 0) {
    state.SkipWithError("drawPaint failed");
    dispose();
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(drawPaint(host.handle(), kFrameWidth, kFrameHeight));
    benchmark::ClobberMemory();
  }
  reportRates(state);
  dispose();
}
BENCHMARK(BM_DrawPaint)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The empty frame without the export around it: drawPaint also checks, page
// by page, that the host's buffer is mapped and writable before the frame
// runs; this is the frame alone, for comparison with the floor below.
void BM_EmptyFrameWithoutExport(benchmark::State& state) {
  HostBitmap host(kFrameWidth, kFrameHeight);
  if (!host.ok() || !loadIntoLibrary(emptyScene())) {
    state.SkipWithError("no context");
    dispose();
    return;
  }
  renderer::NerroPolygonSet& context = *api::context();
  for (auto _ : state) {
    benchmark::DoNotOptimize(renderer::drawFrame(context, host.pixels(), kFrameWidth, kFrameHeight));
    benchmark::ClobberMemory();
  }
  reportRates(state);
  dispose();
}
BENCHMARK(BM_EmptyFrameWithoutExport)->Unit(benchmark::kMillisecond)->UseRealTime();

// The memory traffic an empty frame needs at the least: clear the colour and
// depth buffers, copy the colour buffer into system memory, copy that into
// the host's buffer. The empty drawPaint is measured against this floor.
void BM_EmptyFrameTrafficFloor(benchmark::State& state) {
  const size_t pixels = static_cast<size_t>(kFrameWidth) * kFrameHeight;
  std::vector<uint32_t> colour(pixels, 1), system(pixels, 1), host(pixels, 1);
  std::vector<uint16_t> depth(pixels, 1);
  for (auto _ : state) {
    std::memset(colour.data(), 0, pixels * 4);
    std::fill(depth.begin(), depth.end(), uint16_t{0xFFFF});
    std::memcpy(system.data(), colour.data(), pixels * 4);
    for (int y = 0; y < kFrameHeight; ++y)
      std::memcpy(host.data() + static_cast<size_t>(kFrameHeight - 1 - y) * kFrameWidth,
                  system.data() + static_cast<size_t>(y) * kFrameWidth, static_cast<size_t>(kFrameWidth) * 4);
    benchmark::ClobberMemory();
  }
  reportRates(state);
}
BENCHMARK(BM_EmptyFrameTrafficFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef NERRO_HAVE_OSMESA
void BM_OsMesa(benchmark::State& state) {
  const Scene& scene = sceneAt(static_cast<int>(state.range(0)));
  state.SetLabel(scene.name);
  std::vector<uint32_t> host(static_cast<size_t>(kFrameWidth) * kFrameHeight);
  OsMesaPeer peer(kFrameWidth, kFrameHeight);
  if (!peer.ok()) {
    state.SkipWithError("no OSMesa context");
    return;
  }
  peer.load(scene, tableOrder(scene.polygons.size()));
  peer.draw(host.data());
  for (auto _ : state) {
    peer.draw(host.data());
    benchmark::ClobberMemory();
  }
  reportRates(state);
}
BENCHMARK(BM_OsMesa)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace
}  // namespace nerro::bench

BENCHMARK_MAIN();
