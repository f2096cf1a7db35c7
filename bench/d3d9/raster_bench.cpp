// Whole frames at 544 x 416 drawn straight through the rasteriser (clear,
// every polygon with its own world matrix and bindings, copy of the frame
// into a bottom-up host buffer), and the same scenes drawn by Mesa's
// software OpenGL with equivalent state and read back with glReadPixels.
//
// Scenes: (1) no polygons, (2) one full-screen textured quad, (3) 64
// overlapping translucent quads with 256 x 256 textures in both slots,
// (4) 10,000 small textured triangles, one draw call each.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "d3d9/raster/rasterizer.h"

#ifdef NERRO_HAVE_OSMESA
#include <GL/gl.h>
#include <GL/osmesa.h>
#endif

namespace {

using namespace nerro::raster;

constexpr uint32_t kWidth = 544, kHeight = 416;

struct Polygon {
  bool quad = true;
  float corners[8] = {};  // x, y in strip order
  float translate[3] = {};
  float rotZ = 0.0f;
  int texture0 = -1, texture1 = -1;
};

struct SquareTexture {
  uint32_t size = 0;
  std::vector<uint32_t> argb;  // rows top-down
};

struct Scene {
  std::vector<SquareTexture> textures;
  std::vector<Polygon> polygons;
};

SquareTexture makeTexture(uint32_t size, uint32_t seed, uint32_t alpha) {
  SquareTexture t{size, std::vector<uint32_t>(static_cast<size_t>(size) * size)};
  for (uint32_t y = 0; y < size; ++y)
    for (uint32_t x = 0; x < size; ++x) {
      uint32_t r = x * 255 / (size - 1), g = y * 255 / (size - 1);
      uint32_t b = ((x / 8 + y / 8 + seed) & 1) ? 0xE0 : 0x30;
      t.argb[static_cast<size_t>(y) * size + x] = alpha << 24 | r << 16 | g << 8 | b;
    }
  return t;
}

Polygon rectangle(float hx, float hy) {
  Polygon p;
  const float c[8] = {-hx, hy, -hx, -hy, hx, hy, hx, -hy};
  std::memcpy(p.corners, c, sizeof c);
  return p;
}

Scene makeScene(int which) {
  Scene s;
  if (which == 1) {
    // A little larger than the visible 628 x 480 units at z = 0.
    s.textures.push_back(makeTexture(256, 0, 255));
    Polygon p = rectangle(320.0f, 245.0f);
    p.texture0 = 0;
    s.polygons.push_back(p);
  } else if (which == 2) {
    for (uint32_t i = 0; i < 4; ++i) s.textures.push_back(makeTexture(256, i, 96 + 32 * i));
    for (int i = 0; i < 64; ++i) {
      Polygon p = rectangle(160.0f, 120.0f);  // about a quarter of the frame each
      p.translate[0] = static_cast<float>((i % 8) * 40 - 140);
      p.translate[1] = static_cast<float>((i / 8) * 30 - 105);
      p.translate[2] = static_cast<float>(-i);  // later ones nearer
      p.rotZ = 0.05f * static_cast<float>(i % 5);
      p.texture0 = i % 4;
      p.texture1 = (i + 1) % 4;
      s.polygons.push_back(p);
    }
  } else if (which == 3) {
    s.textures.push_back(makeTexture(64, 1, 255));
    uint32_t state = 12345;
    auto next = [&state] {
      state = state * 1664525u + 1013904223u;
      return static_cast<float>(state >> 8) / 16777216.0f;
    };
    for (int i = 0; i < 10000; ++i) {
      Polygon p;
      p.quad = false;
      const float c[6] = {-5, 5, -5, -5, 5, 5};
      std::memcpy(p.corners, c, sizeof c);
      p.translate[0] = next() * 600.0f - 300.0f;
      p.translate[1] = next() * 460.0f - 230.0f;
      p.translate[2] = next() * 100.0f - 50.0f;
      p.rotZ = next() * 6.2831853f;
      p.texture0 = 0;
      s.polygons.push_back(p);
    }
  }
  return s;
}

const char* kSceneNames[4] = {"empty", "one_quad", "translucent_quads", "small_triangles"};

D3DMATRIX identity() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
  D3DMATRIX r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
  return r;
}

D3DMATRIX worldOf(const Polygon& p) {
  D3DMATRIX rot = identity(), move = identity();
  const float c = std::cos(p.rotZ), s = std::sin(p.rotZ);
  rot._11 = c, rot._12 = s, rot._21 = -s, rot._22 = c;
  move._41 = p.translate[0], move._42 = p.translate[1], move._43 = p.translate[2];
  return multiply(rot, move);
}

D3DMATRIX viewMatrix() {
  D3DMATRIX v = identity();
  v._43 = 580.0f;
  return v;
}

D3DMATRIX projectionMatrix(float aspect) {
  const float yScale = 1.0f / std::tan(0.78539819f * 0.5f);
  const float zn = 0.1f, zf = 100000.0f, q = zf / (zf - zn);
  D3DMATRIX p{};
  p._11 = yScale / aspect;
  p._22 = yScale;
  p._33 = q;
  p._34 = 1.0f;
  p._43 = -q * zn;
  return p;
}

// The renderer's vertices: x, y, z, then u, v of both sets.
std::vector<float> vertexData(const Scene& s) {
  std::vector<float> v;
  const float uv[4][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
  for (const Polygon& p : s.polygons)
    for (int i = 0; i < (p.quad ? 4 : 3); ++i) {
      const float f[7] = {p.corners[2 * i], p.corners[2 * i + 1], 0, uv[i][0], uv[i][1], uv[i][0], uv[i][1]};
      v.insert(v.end(), f, f + 7);
    }
  return v;
}

void setCounters(benchmark::State& state) {
  state.counters["frames"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["Mpixel"] = benchmark::Counter(static_cast<double>(state.iterations()) * kWidth * kHeight / 1e6,
                                                  benchmark::Counter::kIsRate);
}

void BM_Raster(benchmark::State& state) {
  const Scene scene = makeScene(static_cast<int>(state.range(0)));
  const std::vector<float> vertices = vertexData(scene);
  std::vector<TextureLevel> levels;
  for (const SquareTexture& t : scene.textures) levels.push_back({t.argb.data(), t.size, t.size, t.size});
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
  rs.view = viewMatrix();
  rs.projection = projectionMatrix(static_cast<float>(kWidth) / static_cast<float>(kHeight));
  std::vector<D3DMATRIX> worlds;
  for (const Polygon& p : scene.polygons) worlds.push_back(worldOf(p));

  for (auto _ : state) {
    clear(ct, dt, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f);
    TextureView bound[2] = {};
    size_t first = 0;
    for (size_t i = 0; i < scene.polygons.size(); ++i) {
      const Polygon& p = scene.polygons[i];
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
// The same frames through OSMesa: texture 0 replaces colour and alpha,
// texture 1 modulates the colour, nearest sampling with repeat, 16-bit depth
// with LEQUAL, source-alpha blending, the same matrices (Direct3D's row
// matrices load as OpenGL's column ones; depth is remapped to -1..1).
void BM_OsMesa(benchmark::State& state) {
  setenv("LP_NUM_THREADS", "2", 0);
  const Scene scene = makeScene(static_cast<int>(state.range(0)));
  const std::vector<float> vertices = vertexData(scene);
  std::vector<uint32_t> target(static_cast<size_t>(kWidth) * kHeight), host(target.size());
  OSMesaContext ctx = OSMesaCreateContextExt(OSMESA_BGRA, 16, 0, 0, nullptr);
  if (!ctx || !OSMesaMakeCurrent(ctx, target.data(), GL_UNSIGNED_BYTE, kWidth, kHeight)) {
    state.SkipWithError("OSMesa context unavailable");
    if (ctx) OSMesaDestroyContext(ctx);
    return;
  }
  std::vector<GLuint> names(scene.textures.size());
  if (!names.empty()) glGenTextures(static_cast<GLsizei>(names.size()), names.data());
  for (size_t i = 0; i < names.size(); ++i) {
    glBindTexture(GL_TEXTURE_2D, names[i]);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    const SquareTexture& t = scene.textures[i];
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, static_cast<GLsizei>(t.size), static_cast<GLsizei>(t.size), 0, GL_BGRA,
                 GL_UNSIGNED_BYTE, t.argb.data());
  }
  glActiveTexture(GL_TEXTURE0);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  glActiveTexture(GL_TEXTURE1);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE);
  glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_RGB, GL_MODULATE);
  glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE0_RGB, GL_PREVIOUS);
  glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE1_RGB, GL_TEXTURE);
  glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_ALPHA, GL_REPLACE);
  glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE0_ALPHA, GL_PREVIOUS);
  glActiveTexture(GL_TEXTURE0);
  glViewport(0, 0, kWidth, kHeight);
  D3DMATRIX toGl = identity();  // z' = 2z - w
  toGl._33 = 2.0f;
  toGl._43 = -1.0f;
  const D3DMATRIX proj = multiply(projectionMatrix(static_cast<float>(kWidth) / kHeight), toGl);
  glMatrixMode(GL_PROJECTION);
  glLoadMatrixf(&proj.m[0][0]);
  glMatrixMode(GL_MODELVIEW);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glDisable(GL_CULL_FACE);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glClearColor(0, 0, 0, 0);
  glClearDepth(1.0);
  std::vector<D3DMATRIX> modelviews;
  for (const Polygon& p : scene.polygons) modelviews.push_back(multiply(worldOf(p), viewMatrix()));
  const GLsizei stride = 7 * sizeof(float);
  glEnableClientState(GL_VERTEX_ARRAY);
  glVertexPointer(3, GL_FLOAT, stride, vertices.data());
  for (int unit = 0; unit < 2; ++unit) {
    glClientActiveTexture(GL_TEXTURE0 + unit);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glTexCoordPointer(2, GL_FLOAT, stride, vertices.data() + 3 + 2 * unit);
  }

  for (auto _ : state) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    int bound[2] = {-1, -1};
    GLint first = 0;
    for (size_t i = 0; i < scene.polygons.size(); ++i) {
      const Polygon& p = scene.polygons[i];
      const int tex[2] = {p.texture0, p.texture1};
      for (int unit = 0; unit < 2; ++unit) {
        if (tex[unit] < 0 || tex[unit] == bound[unit]) continue;  // bindings persist
        glActiveTexture(GL_TEXTURE0 + unit);
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, names[tex[unit]]);
        bound[unit] = tex[unit];
      }
      glLoadMatrixf(&modelviews[i].m[0][0]);
      glDrawArrays(GL_TRIANGLE_STRIP, first, p.quad ? 4 : 3);
      first += p.quad ? 4 : 3;
    }
    glActiveTexture(GL_TEXTURE0);
    glReadPixels(0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_BYTE, host.data());
    benchmark::DoNotOptimize(host.data());
    benchmark::ClobberMemory();
  }
  if (!names.empty()) glDeleteTextures(static_cast<GLsizei>(names.size()), names.data());
  OSMesaDestroyContext(ctx);
  setCounters(state);
}
#endif

}  // namespace

// Each scene ours, then the peer's, so that both see the same machine load.
// "Time" is wall-clock time, "CPU" the process's time over all threads.
int main(int argc, char** argv) {
  for (int scene = 0; scene < 4; ++scene) {
    benchmark::RegisterBenchmark((std::string("raster/") + kSceneNames[scene]).c_str(), BM_Raster)
        ->Arg(scene)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
#ifdef NERRO_HAVE_OSMESA
    benchmark::RegisterBenchmark((std::string("osmesa/") + kSceneNames[scene]).c_str(), BM_OsMesa)
        ->Arg(scene)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
#endif
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
