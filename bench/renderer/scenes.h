// The four benchmark scenes as plain data, drawn the same way by our
// renderer and by the OpenGL peer: polygons with corners, a translation,
// a turn about Z and texture indices, over textures of BGRA pixels.
#pragma once

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

}  // namespace nerro::bench
