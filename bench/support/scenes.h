// The four benchmark scenes as plain data, drawn the same way by our
// rasteriser, our renderer and the OpenGL peer: polygons with corners, a
// translation, a turn about Z and texture indices, over textures of BGRA
// pixels; and the camera and world matrices they are drawn with.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nerro::bench {

constexpr int kFrameWidth = 544;
constexpr int kFrameHeight = 416;

struct SceneTexture {
  int size = 0;                 // square, size x size pixels
  std::vector<uint32_t> bgra;   // 0xAARRGGBB words, rows top-down
};

struct ScenePolygon {
  bool quad = true;
  float corners[8] = {};        // x, y of each corner in strip order
  float translate[3] = {};
  float rotZ = 0.0f;
  int texture0 = -1;            // index into Scene::textures, -1 none
  int texture1 = -1;
};

struct Scene {
  std::string name;
  std::vector<SceneTexture> textures;
  std::vector<ScenePolygon> polygons;
};

inline SceneTexture makeTexture(int size, uint32_t seed, uint8_t alpha) {
  SceneTexture t;
  t.size = size;
  t.bgra.resize(static_cast<size_t>(size) * size);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const uint32_t r = static_cast<uint32_t>(x * 255 / (size - 1));
      const uint32_t g = static_cast<uint32_t>(y * 255 / (size - 1));
      const uint32_t b = ((x / 8 + y / 8 + seed) & 1) ? 0xE0 : 0x30;
      t.bgra[static_cast<size_t>(y) * size + x] = static_cast<uint32_t>(alpha) << 24 | r << 16 | g << 8 | b;
    }
  return t;
}

// A rectangle of half-extent (hx, hy) around the origin in strip order.
inline ScenePolygon rectangle(float hx, float hy) {
  ScenePolygon p;
  const float c[8] = {-hx, hy, -hx, -hy, hx, hy, hx, -hy};
  for (int i = 0; i < 8; ++i) p.corners[i] = c[i];
  return p;
}

inline Scene emptyScene() { return Scene{"empty", {}, {}}; }

// One quad a little larger than the visible 628 x 480 units at z = 0.
inline Scene fullScreenQuadScene() {
  Scene s{"one_quad", {makeTexture(256, 0, 255)}, {}};
  ScenePolygon p = rectangle(320.0f, 245.0f);
  p.texture0 = 0;
  s.polygons.push_back(p);
  return s;
}

// 64 translucent quads, each about a quarter of the frame, both slots
// textured with 256 x 256 textures, nearer ones later.
inline Scene translucentQuadsScene() {
  Scene s{"translucent_quads", {}, {}};
  for (uint32_t i = 0; i < 4; ++i) s.textures.push_back(makeTexture(256, i, static_cast<uint8_t>(96 + 32 * i)));
  for (int i = 0; i < 64; ++i) {
    ScenePolygon p = rectangle(160.0f, 120.0f);
    p.translate[0] = static_cast<float>((i % 8) * 40 - 140);
    p.translate[1] = static_cast<float>((i / 8) * 30 - 105);
    p.translate[2] = static_cast<float>(-i);
    p.rotZ = 0.05f * static_cast<float>(i % 5);
    p.texture0 = i % 4;
    p.texture1 = (i + 1) % 4;
    s.polygons.push_back(p);
  }
  return s;
}

// 10,000 small textured triangles scattered over the frame.
inline Scene smallTrianglesScene() {
  Scene s{"small_triangles", {makeTexture(64, 1, 255)}, {}};
  uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(state >> 8) / 16777216.0f;
  };
  for (int i = 0; i < 10000; ++i) {
    ScenePolygon p;
    p.quad = false;
    const float c[6] = {-5, 5, -5, -5, 5, 5};
    for (int k = 0; k < 6; ++k) p.corners[k] = c[k];
    p.translate[0] = next() * 600.0f - 300.0f;
    p.translate[1] = next() * 460.0f - 230.0f;
    p.translate[2] = next() * 100.0f - 50.0f;
    p.rotZ = next() * 6.2831853f;
    p.texture0 = 0;
    s.polygons.push_back(p);
  }
  return s;
}

// The scene at `index` in the order empty, one quad, translucent quads,
// small triangles (kSceneCount of them).
constexpr int kSceneCount = 4;
inline Scene sceneByIndex(int index) {
  switch (index) {
    case 1: return fullScreenQuadScene();
    case 2: return translucentQuadsScene();
    case 3: return smallTrianglesScene();
    default: return emptyScene();
  }
}

// The polygons in `order` as triangle strips, seven floats a vertex: x, y,
// z, then u, v of both texture sets.
inline std::vector<float> stripVertices(const Scene& scene, const std::vector<size_t>& order) {
  std::vector<float> vertices;
  const float uv[4][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
  for (size_t index : order) {
    const ScenePolygon& p = scene.polygons[index];
    for (int i = 0; i < (p.quad ? 4 : 3); ++i) {
      const float v[7] = {p.corners[2 * i], p.corners[2 * i + 1], 0, uv[i][0], uv[i][1], uv[i][0], uv[i][1]};
      vertices.insert(vertices.end(), v, v + 7);
    }
  }
  return vertices;
}

// Row-vector 4 x 4 matrices as Direct3D writes them (translation in row 4);
// loaded as they are, OpenGL reads them as the equivalent column matrices.
struct Mat4 {
  float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

inline Mat4 multiply(const Mat4& a, const Mat4& b) {
  Mat4 r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float s = 0;
      for (int k = 0; k < 4; ++k) s += a.m[i * 4 + k] * b.m[k * 4 + j];
      r.m[i * 4 + j] = s;
    }
  return r;
}

inline Mat4 worldOf(const ScenePolygon& p) {
  Mat4 rot;
  const float c = std::cos(p.rotZ), s = std::sin(p.rotZ);
  rot.m[0] = c, rot.m[1] = s, rot.m[4] = -s, rot.m[5] = c;
  Mat4 move;
  move.m[12] = p.translate[0], move.m[13] = p.translate[1], move.m[14] = p.translate[2];
  return multiply(rot, move);
}

// The camera: eye (0, 0, -580) looking at the origin, 45 degrees vertical
// field of view, near 0.1, far 100000.
inline Mat4 viewMatrix() {
  Mat4 v;
  v.m[14] = 580.0f;
  return v;
}
inline Mat4 projectionMatrix(int width, int height) {
  const float aspect = static_cast<float>(width) / static_cast<float>(height);
  const float h = 0.78539819f * 0.5f;
  const float yScale = std::cos(h) / std::sin(h);
  const float zn = 0.1f, zf = 100000.0f, q = zf / (zf - zn);
  Mat4 p;
  p.m[0] = yScale / aspect;
  p.m[5] = yScale;
  p.m[10] = q;
  p.m[11] = 1;
  p.m[14] = -q * zn;
  p.m[15] = 0;
  return p;
}
}  // namespace nerro::bench
