// Whole frames at 544 x 416 drawn straight through the rasteriser (clear,
// every polygon with its own world matrix and bindings, copy of the frame
// into a bottom-up host buffer), and the same scenes drawn by Mesa's
// software OpenGL with equivalent state and read back with glReadPixels.
//
// Scenes: (1) no polygons, (2) one full-screen textured quad, (3) 64
// overlapping translucent quads with 256 x 256 textures in both slots,
// (4) 10,000 small textured triangles, one draw call each.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "../support/scenes.h"
#include "d3d9/raster/rasterizer.h"

#ifdef NERRO_HAVE_OSMESA
#include "../support/osmesa_peer.h"
#endif

namespace {

using namespace nerro::raster;
using nerro::bench::Scene;
using nerro::bench::ScenePolygon;
using nerro::bench::SceneTexture;

constexpr uint32_t kWidth = nerro::bench::kFrameWidth, kHeight = nerro::bench::kFrameHeight;

// The scenes' row-vector matrices have Direct3D's layout already.
D3DMATRIX toD3D(const nerro::bench::Mat4& m) {
  D3DMATRIX r;
  static_assert(sizeof r == sizeof m.m);
  std::memcpy(&r, m.m, sizeof r);
  return r;
}

void setCounters(benchmark::State& state) {
  state.counters["frames"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["Mpixel"] = benchmark::Counter(static_cast<double>(state.iterations()) * kWidth * kHeight / 1e6,
                                                  benchmark::Counter::kIsRate);
}

void BM_Raster(benchmark::State& state) {
  const Scene scene = nerro::bench::sceneByIndex(static_cast<int>(state.range(0)));
  std::vector<size_t> order(scene.polygons.size());
  std::iota(order.begin(), order.end(), size_t{0});
  const std::vector<float> vertices = nerro::bench::stripVertices(scene, order);
  std::vector<TextureLevel> levels;
  for (const SceneTexture& t : scene.textures) {
    const auto size = static_cast<uint32_t>(t.size);
    levels.push_back({t.bgra.data(), size, size, size});
  }
  std::vector<uint32_t> color(static_cast<size_t>(kWidth) * kHeight), host(color.size());
  std::vector<uint16_t> depth(color.size());
  const ColorTarget ct{reinterpret_cast<uint8_t*>(color.data()), static_cast<int32_t>(kWidth * 4), kWidth, kHeight};
  const DepthTarget dt{depth.data(), static_cast<int32_t>(kWidth * 2)};

  RasterState rs;
  rs.viewport = {0, 0, kWidth, kHeight, 0.0f, 1.0f};
  rs.cullMode = D3DCULL_NONE;
  rs.stages[0] = {D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0};
  rs.stages[1] = {D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_TEXTURE, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_TEXTURE, 1};
  rs.alphaFunc = D3DCMP_GREATEREQUAL;
  rs.alphaBlendEnable = TRUE;
  rs.srcBlend = D3DBLEND_SRCALPHA;
  rs.destBlend = D3DBLEND_INVSRCALPHA;
  rs.view = toD3D(nerro::bench::viewMatrix());
  rs.projection = toD3D(nerro::bench::projectionMatrix(kWidth, kHeight));
  std::vector<D3DMATRIX> worlds;
  for (const ScenePolygon& p : scene.polygons) worlds.push_back(toD3D(nerro::bench::worldOf(p)));

  for (auto _ : state) {
    clear(ct, dt, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f);
    TextureView bound[2] = {};
    size_t first = 0;
    for (size_t i = 0; i < scene.polygons.size(); ++i) {
      const ScenePolygon& p = scene.polygons[i];
      if (p.texture0 >= 0) bound[0] = {&levels[p.texture0], 1};
      if (p.texture1 >= 0) bound[1] = {&levels[p.texture1], 1};
      rs.world = worlds[i];
      drawPrimitive(rs, ct, dt, bound, D3DPT_TRIANGLESTRIP, p.quad ? 2 : 1, vertices.data() + first * 7, 28,
                    D3DFVF_XYZ | D3DFVF_TEX2);
      first += p.quad ? 4 : 3;
    }
    for (uint32_t y = 0; y < kHeight; ++y)
      std::memcpy(&host[static_cast<size_t>(kHeight - 1 - y) * kWidth], &color[static_cast<size_t>(y) * kWidth],
                  kWidth * 4);
    benchmark::DoNotOptimize(host.data());
    benchmark::ClobberMemory();
  }
  setCounters(state);
}

#ifdef NERRO_HAVE_OSMESA
// The same frames through OSMesa with equivalent state, polygons in scene
// order, read back with glReadPixels.
void BM_OsMesa(benchmark::State& state) {
  const Scene scene = nerro::bench::sceneByIndex(static_cast<int>(state.range(0)));
  std::vector<size_t> order(scene.polygons.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::vector<uint32_t> host(static_cast<size_t>(kWidth) * kHeight);
  nerro::bench::OsMesaPeer peer(kWidth, kHeight);
  if (!peer.ok()) {
    state.SkipWithError("OSMesa context unavailable");
    return;
  }
  peer.load(scene, order);
  for (auto _ : state) {
    peer.draw(host.data());
    benchmark::DoNotOptimize(host.data());
    benchmark::ClobberMemory();
  }
  setCounters(state);
}
#endif

}  // namespace

// Each scene ours, then the peer's, so that both see the same machine load.
// "Time" is wall-clock time, "CPU" the process's time over all threads.
int main(int argc, char** argv) {
  for (int scene = 0; scene < nerro::bench::kSceneCount; ++scene) {
    const std::string name = nerro::bench::sceneByIndex(scene).name;
    benchmark::RegisterBenchmark(("raster/" + name).c_str(), BM_Raster)
        ->Arg(scene)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
#ifdef NERRO_HAVE_OSMESA
    benchmark::RegisterBenchmark(("osmesa/" + name).c_str(), BM_OsMesa)
        ->Arg(scene)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
#endif
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
