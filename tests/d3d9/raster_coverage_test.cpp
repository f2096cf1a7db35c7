// Which pixels a draw covers and which texels they show: the renderer's
// camera worked out by hand, the fill rule between neighbouring triangles,
// clipping behind the eye, and hostile vertices that must never reach
// memory outside the targets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "d3d9/raster/rasterizer.h"

namespace nerro::raster {
namespace {

constexpr uint32_t kW = 544, kH = 416;
constexpr double kPi = 3.14159265358979323846;

struct Vertex {  // D3DFVF_XYZ | D3DFVF_TEX2, the renderer's vertex
  float x, y, z, u0, v0, u1, v1;
};
struct ColorVertex {  // D3DFVF_XYZ | D3DFVF_DIFFUSE
  float x, y, z;
  uint32_t color;
};
constexpr uint32_t kFvf = D3DFVF_XYZ | D3DFVF_TEX2;
constexpr uint32_t kColorFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

D3DMATRIX identity() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

// The renderer's camera: eye at (0, 0, -580) looking at the origin, vertical
// field of view pi/4, near 0.1, far 100000, left-handed.
void setCamera(RasterState& s, uint32_t w, uint32_t h) {
  s.view = identity();
  s.view._43 = 580.0f;
  const float aspect = static_cast<float>(w) / static_cast<float>(h);
  const float yScale = 1.0f / std::tan(0.78539819f / 2.0f);
  const float zn = 0.1f, zf = 100000.0f;
  s.projection = D3DMATRIX{};
  s.projection._11 = yScale / aspect;
  s.projection._22 = yScale;
  s.projection._33 = zf / (zf - zn);
  s.projection._34 = 1.0f;
  s.projection._43 = -zn * zf / (zf - zn);
  s.viewport = D3DVIEWPORT9{0, 0, w, h, 0.0f, 1.0f};
}

// The polygon renderer's per-polygon state.
RasterState rendererState() {
  RasterState s;
  setCamera(s, kW, kH);
  s.cullMode = D3DCULL_NONE;
  s.stages[0] = {D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0};
  s.stages[1] = {D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_TEXTURE, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_TEXTURE, 1};
  s.alphaFunc = D3DCMP_GREATEREQUAL;
  s.alphaBlendEnable = TRUE;
  s.srcBlend = D3DBLEND_SRCALPHA;
  s.destBlend = D3DBLEND_INVSRCALPHA;
  return s;
}

// Colour and depth buffers with a guard band of sentinel bytes all round,
// so that any write outside the targets shows.
struct Targets {
  static constexpr uint32_t kGuard = 16;
  static constexpr uint8_t kSentinel = 0xA5;
  uint32_t width, height, stride;
  std::vector<uint32_t> colorMem;
  std::vector<uint16_t> depthMem;

  Targets(uint32_t w = kW, uint32_t h = kH) : width(w), height(h), stride(w + 2 * kGuard) {
    colorMem.assign(static_cast<size_t>(stride) * (h + 2 * kGuard), 0xA5A5A5A5u);
    depthMem.assign(static_cast<size_t>(stride) * (h + 2 * kGuard), 0xA5A5);
    clear(color(), depth(), D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f);
  }
  ColorTarget color() {
    return {reinterpret_cast<uint8_t*>(&colorMem[kGuard * stride + kGuard]), static_cast<int32_t>(stride * 4), width,
            height};
  }
  DepthTarget depth() { return {&depthMem[kGuard * stride + kGuard], static_cast<int32_t>(stride * 2)}; }
  uint32_t pixel(uint32_t x, uint32_t y) const { return colorMem[(y + kGuard) * stride + x + kGuard]; }
  uint16_t z(uint32_t x, uint32_t y) const { return depthMem[(y + kGuard) * stride + x + kGuard]; }
  bool guardsIntact() const {
    for (uint32_t y = 0; y < height + 2 * kGuard; ++y)
      for (uint32_t x = 0; x < stride; ++x) {
        bool inside = y >= kGuard && y < kGuard + height && x >= kGuard && x < kGuard + width;
        if (inside) continue;
        size_t i = static_cast<size_t>(y) * stride + x;
        if (colorMem[i] != 0xA5A5A5A5u || depthMem[i] != 0xA5A5) return false;
      }
    return true;
  }
};

struct Texture {
  std::vector<uint32_t> texels;
  TextureLevel level;
  TextureView view;
  Texture(uint32_t w, uint32_t h) : texels(static_cast<size_t>(w) * h) {
    level = {texels.data(), w, h, w};
    view = {&level, 1};
  }
  uint32_t& at(uint32_t x, uint32_t y) { return texels[static_cast<size_t>(y) * level.width + x]; }
};

// A colour that tells texel (x, y) apart, opaque.
uint32_t texelId(uint32_t x, uint32_t y) { return 0xFF000000u | (x * 37 + 1) << 16 | (y * 53 + 1) << 8 | 0x5A; }

// Where the ray through the centre of pixel (i, j) meets the plane z = 0 of
// the world, in double precision.
void pixelRayOnPlane(double i, double j, double& x, double& y) {
  const double t = std::tan(kPi / 8.0);
  const double aspect = static_cast<double>(kW) / kH;
  const double ndcX = (i - kW / 2.0) / (kW / 2.0), ndcY = (kH / 2.0 - j) / (kH / 2.0);
  x = ndcX * t * aspect * 580.0;
  y = ndcY * t * 580.0;
}

// A translucent texel over black: s * a + 0 * (1 - a), rounded.
uint32_t overBlack(uint32_t s) {
  const double a = (s >> 24) / 255.0;
  uint32_t r = 0;
  for (int sh = 0; sh < 32; sh += 8) r |= static_cast<uint32_t>(std::lround(((s >> sh) & 0xFF) * a)) << sh;
  return r;
}

TEST(RasterCoverage, FullScreenQuadShowsEveryTexelWhereTheCameraPutsIt) {
  // A quad exactly as large as the visible part of the plane z = 0, with a
  // 7 x 5 texture whose texel edges fall between pixel centres. The texels
  // are translucent, so a pixel drawn by both triangles would show darker.
  const double halfH = 580.0 * std::tan(kPi / 8.0), halfW = halfH * kW / kH;
  const float hx = static_cast<float>(halfW), hy = static_cast<float>(halfH);
  const Vertex quad[4] = {{-hx, hy, 0, 0, 0, 0, 0}, {hx, hy, 0, 1, 0, 1, 0}, {-hx, -hy, 0, 0, 1, 0, 1},
                          {hx, -hy, 0, 1, 1, 1, 1}};
  Texture tex(7, 5);
  auto texel = [](uint32_t x, uint32_t y) { return (texelId(x, y) & 0x00FFFFFFu) | 0x80000000u; };
  for (uint32_t y = 0; y < 5; ++y)
    for (uint32_t x = 0; x < 7; ++x) tex.at(x, y) = texel(x, y);
  TextureView views[2] = {tex.view, {}};
  Targets t;
  RasterState s = rendererState();
  ASSERT_EQ(drawPrimitive(s, t.color(), t.depth(), views, D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex), kFvf), S_OK);

  int checked = 0;
  for (uint32_t j = 0; j < kH; ++j)
    for (uint32_t i = 0; i < kW; ++i) {
      // Every pixel is covered exactly once (the left and top edges pass
      // through pixel centres and belong to the quad, the right and bottom
      // ones lie on the far side of the last pixels).
      ASSERT_NE(t.pixel(i, j), 0u) << i << "," << j;
      double x, y;
      pixelRayOnPlane(i, j, x, y);
      const double u = (x + halfW) / (2 * halfW) * 7, v = (halfH - y) / (2 * halfH) * 5;
      if (std::fabs(u - std::round(u)) < 1e-3 || std::fabs(v - std::round(v)) < 1e-3) continue;
      ASSERT_EQ(t.pixel(i, j), overBlack(texel(static_cast<uint32_t>(u), static_cast<uint32_t>(v)))) << i << "," << j;
      ++checked;
    }
  EXPECT_GT(checked, static_cast<int>(kW * kH * 9 / 10));
  // The corners show the corner texels.
  EXPECT_EQ(t.pixel(0, 0), overBlack(texel(0, 0)));
  EXPECT_EQ(t.pixel(kW - 1, 0), overBlack(texel(6, 0)));
  EXPECT_EQ(t.pixel(0, kH - 1), overBlack(texel(0, 4)));
  EXPECT_EQ(t.pixel(kW - 1, kH - 1), overBlack(texel(6, 4)));
  // Depth 0.5806 of the plane at 580: z = zf/(zf-zn) * (1 - zn/580).
  const double depth = 100000.0 / (100000.0 - 0.1) * (1.0 - 0.1 / 580.0);
  EXPECT_NEAR(t.z(100, 100), depth * 65535.0, 1.0);
  EXPECT_TRUE(t.guardsIntact());
}

// Draws with additive blending of a colour of 1, so that each pixel counts
// how often it was covered.
RasterState countingState() {
  RasterState s;
  s.viewport = D3DVIEWPORT9{0, 0, kW, kH, 0.0f, 1.0f};
  s.cullMode = D3DCULL_NONE;
  s.zEnable = D3DZB_FALSE;
  s.stages[0] = {D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTA_CURRENT, 0};
  s.alphaBlendEnable = TRUE;
  s.srcBlend = D3DBLEND_ONE;
  s.destBlend = D3DBLEND_ONE;
  // Screen space straight from the vertices: x, y in pixels, y down.
  s.projection = identity();
  s.projection._11 = 2.0f / kW;
  s.projection._22 = -2.0f / kH;
  s.projection._41 = -1.0f;
  s.projection._42 = 1.0f;
  return s;
}

TEST(RasterCoverage, SharedEdgesCoverEachPixelOnceWithoutSeams) {
  // A grid of quads as a triangle list, with corners jittered off the pixel
  // grid and some placed exactly on pixel centres, plus a fan whose spokes
  // run through pixel centres: every pixel inside is drawn exactly once.
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> jitter(-0.45f, 0.45f);
  constexpr int kCells = 12;
  float gx[kCells + 1][kCells + 1], gy[kCells + 1][kCells + 1];
  for (int r = 0; r <= kCells; ++r)
    for (int c = 0; c <= kCells; ++c) {
      bool onCentre = (r + c) % 3 == 0;
      gx[r][c] = 40.0f + c * 27.0f + (onCentre || c == 0 || c == kCells ? 0.0f : jitter(rng) * 10.0f);
      gy[r][c] = 30.0f + r * 25.0f + (onCentre || r == 0 || r == kCells ? 0.0f : jitter(rng) * 10.0f);
    }
  std::vector<ColorVertex> tris;
  for (int r = 0; r < kCells; ++r)
    for (int c = 0; c < kCells; ++c) {
      ColorVertex a{gx[r][c], gy[r][c], 0.5f, 0x01010101u}, b{gx[r][c + 1], gy[r][c + 1], 0.5f, 0x01010101u};
      ColorVertex d{gx[r + 1][c], gy[r + 1][c], 0.5f, 0x01010101u};
      ColorVertex e{gx[r + 1][c + 1], gy[r + 1][c + 1], 0.5f, 0x01010101u};
      // Alternate the diagonal so both orientations of shared edges occur.
      if ((r + c) & 1) {
        tris.insert(tris.end(), {a, b, e, a, e, d});
      } else {
        tris.insert(tris.end(), {a, b, d, b, e, d});
      }
    }
  Targets t;
  RasterState s = countingState();
  ASSERT_EQ(drawPrimitive(s, t.color(), t.depth(), nullptr, D3DPT_TRIANGLELIST,
                          static_cast<uint32_t>(tris.size() / 3), tris.data(), sizeof(ColorVertex), kColorFvf),
            S_OK);
  // A fan of 16 spokes around a pixel centre, spokes ending on pixel centres.
  std::vector<ColorVertex> fan{{480.0f, 360.0f, 0.5f, 0x01010101u}};
  for (int k = 0; k <= 16; ++k) {
    double a = k * 2 * kPi / 16;
    fan.push_back({480.0f + static_cast<float>(std::lround(40 * std::cos(a))),
                   360.0f + static_cast<float>(std::lround(40 * std::sin(a))), 0.5f, 0x01010101u});
  }
  ASSERT_EQ(drawPrimitive(s, t.color(), t.depth(), nullptr, D3DPT_TRIANGLEFAN, 16, fan.data(), sizeof(ColorVertex),
                          kColorFvf),
            S_OK);

  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x) {
      uint32_t p = t.pixel(x, y);
      ASSERT_TRUE(p == 0 || p == 0x01010101u) << "pixel " << x << "," << y << " covered more than once: " << std::hex
                                              << p;
      // Pixel centres strictly inside the grid's outline are covered.
      bool insideGrid = x > 40 && x < 40 + kCells * 27 && y > 30 && y < 30 + kCells * 25;
      if (insideGrid) {
        ASSERT_EQ(p, 0x01010101u) << "hole at " << x << "," << y;
      }
    }
  // The fan's centre pixel lies on all 16 spokes and is drawn once.
  EXPECT_EQ(t.pixel(480, 360), 0x01010101u);
  // Top-left rule on the grid's outline: the left and top edges (at x = 40,
  // y = 30 on pixel centres) are in, the right and bottom ones out.
  EXPECT_EQ(t.pixel(40, 100), 0x01010101u);
  EXPECT_EQ(t.pixel(100, 30), 0x01010101u);
  EXPECT_EQ(t.pixel(40 + kCells * 27, 100), 0u);
  EXPECT_EQ(t.pixel(100, 30 + kCells * 25), 0u);
}

TEST(RasterCoverage, FloorReachingBehindTheEyeIsClippedAndPerspectiveCorrect) {
  // A floor quad at height -100 of its own frame, from a = -400..400 and
  // from b = 1000 units behind the eye to 3000 in front, with a 16 x 16
  // texture of texel ids repeated 8 times along b. The frame is rolled 20
  // degrees about the view axis and turned 30 about the vertical, so that
  // depth changes along rows and columns alike.
  const double phi = kPi / 9, theta = kPi / 6;
  const double cp = std::cos(phi), sp = std::sin(phi), ct = std::cos(theta), st = std::sin(theta);
  // R = Ry(theta) * Rz(phi), world = R * local.
  const double r[3][3] = {{ct * cp, -ct * sp, st}, {sp, cp, 0}, {-st * cp, st * sp, ct}};
  const float bNear = -1580.0f, bFar = 3000.0f;
  auto corner = [&](double a, double b, float u, float v) {
    const double l[3] = {a, -100.0, b};
    float w[3];
    for (int i = 0; i < 3; ++i) w[i] = static_cast<float>(r[i][0] * l[0] + r[i][1] * l[1] + r[i][2] * l[2]);
    return Vertex{w[0], w[1], w[2], u, v, 0, 0};
  };
  const Vertex floor[4] = {corner(-400, bNear, 0, 8), corner(400, bNear, 1, 8), corner(-400, bFar, 0, 0),
                           corner(400, bFar, 1, 0)};
  Texture tex(16, 16);
  for (uint32_t y = 0; y < 16; ++y)
    for (uint32_t x = 0; x < 16; ++x) tex.at(x, y) = texelId(x, y);
  TextureView views[2] = {tex.view, {}};
  Targets t;
  RasterState s = rendererState();
  ASSERT_EQ(drawPrimitive(s, t.color(), t.depth(), views, D3DPT_TRIANGLESTRIP, 2, floor, sizeof(Vertex), kFvf), S_OK);

  // What the pixel centre (i, j) shows, worked out along its ray from the
  // eye (0, 0, -580) along (dx, dy, 1), in the floor's own frame.
  auto expected = [&](double i, double j) -> uint32_t {
    double d[3] = {0, 0, 1};
    pixelRayOnPlane(i, j, d[0], d[1]);
    d[0] /= 580.0;
    d[1] /= 580.0;
    const double e[3] = {0, 0, -580};
    double le[3], ld[3];  // eye and direction in the floor's frame (R transposed)
    for (int k = 0; k < 3; ++k) {
      le[k] = r[0][k] * e[0] + r[1][k] * e[1] + r[2][k] * e[2];
      ld[k] = r[0][k] * d[0] + r[1][k] * d[1] + r[2][k] * d[2];
    }
    const double tr = (-100.0 - le[1]) / ld[1];
    if (!(tr > 0.1)) return 0;
    const double a = le[0] + tr * ld[0], b = le[2] + tr * ld[2];
    if (!(a > -400 && a < 400 && b < bFar && b > bNear)) return 0;
    const double u = (a + 400) / 800 * 16, v = (bFar - b) / (bFar - bNear) * 8 * 16;
    return texelId(static_cast<uint32_t>(u) % 16, static_cast<uint32_t>(v) % 16);
  };
  int covered = 0, checked = 0;
  for (uint32_t j = 0; j < kH; ++j)
    for (uint32_t i = 0; i < kW; ++i) {
      const uint32_t e = expected(i, j);
      // Skip pixels whose centre lies within a fiftieth of a pixel of an
      // edge or a texel boundary.
      bool stable = true;
      for (double d : {-0.02, 0.02})
        stable = stable && expected(i + d, j) == e && expected(i, j + d) == e;
      if (!stable) continue;
      ASSERT_EQ(t.pixel(i, j), e) << i << "," << j;
      ++checked;
      covered += e != 0;
    }
  EXPECT_GT(checked, static_cast<int>(kW * kH * 8 / 10));
  // The floor fills a good part of the lower half of the picture.
  EXPECT_GT(covered, static_cast<int>(kW * kH / 5));
  EXPECT_TRUE(t.guardsIntact());
}

TEST(RasterCoverage, NearAndFarPlanesCutTheFloorWhereItsDepthLeavesZeroToOne) {
  // A floor at y = -0.3 from z = 0.5 to 20 seen with near 1 and far 10: rows
  // whose ray meets the floor nearer than 1 or farther than 10 stay empty.
  const float zn = 1.0f, zf = 10.0f;
  RasterState s = rendererState();
  s.view = D3DMATRIX{};
  s.view._11 = s.view._22 = s.view._33 = s.view._44 = 1.0f;
  s.projection._33 = zf / (zf - zn);
  s.projection._43 = -zn * zf / (zf - zn);
  const Vertex floor[4] = {{-5, -0.3f, 0.5f, 0, 0, 0, 0}, {5, -0.3f, 0.5f, 1, 0, 0, 0}, {-5, -0.3f, 20, 0, 1, 0, 0},
                           {5, -0.3f, 20, 1, 1, 0, 0}};
  Targets t;
  ASSERT_EQ(drawPrimitive(s, t.color(), t.depth(), nullptr, D3DPT_TRIANGLESTRIP, 2, floor, sizeof(Vertex), kFvf), S_OK);
  const double tanHalf = std::tan(kPi / 8.0), aspect = static_cast<double>(kW) / kH;
  // View depth where the ray through (i, j) meets the floor; 0 for none.
  auto depthAt = [&](double i, double j) -> double {
    const double ndcX = (i - kW / 2.0) / (kW / 2.0), ndcY = (kH / 2.0 - j) / (kH / 2.0);
    if (!(ndcY < 0)) return 0;
    const double z = -0.3 / (ndcY * tanHalf);
    return std::fabs(ndcX * tanHalf * aspect * z) < 5 && z > 0.5 && z < 20 ? z : 0;
  };
  auto drawn = [&](double i, double j) {
    const double z = depthAt(i, j);
    return z > zn && z < zf;
  };
  int inside = 0, outside = 0;
  for (uint32_t j = 0; j < kH; ++j)
    for (uint32_t i = 0; i < kW; i += 7) {
      const bool want = drawn(i, j);
      if (drawn(i, j - 0.5) != want || drawn(i, j + 0.5) != want || drawn(i - 0.5, j) != want ||
          drawn(i + 0.5, j) != want)
        continue;
      ASSERT_EQ(t.pixel(i, j) != 0, want) << i << "," << j;
      (want ? inside : outside) += 1;
      if (want) {
        // Depth zf / (zf - zn) * (1 - zn / z) in D16.
        const double z = depthAt(i, j);
        EXPECT_NEAR(t.z(i, j), 65535.0 * zf / (zf - zn) * (1 - zn / z), 3.0) << i << "," << j;
      }
    }
  EXPECT_GT(inside, 1000);
  EXPECT_GT(outside, 1000);
}

TEST(RasterCoverage, HostileVerticesNeverWriteOutsideTheTargets) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  const float values[] = {0.0f, 1.0f, -1.0f, 300.0f, -300.0f, 579.9f, -580.0f, -581.0f, 1e6f, -1e6f,
                          1e20f, -1e20f, 3e38f, -3e38f, inf, -inf, nan, 1e-30f, 2e5f, -2e5f};
  std::mt19937 rng(1234);
  std::uniform_int_distribution<size_t> pick(0, std::size(values) - 1);
  std::uniform_real_distribution<float> plain(-2000.0f, 2000.0f);
  Texture tex(3, 5);
  for (uint32_t& texel : tex.texels) texel = 0x80FF8040u;
  TextureView views[2] = {tex.view, tex.view};

  for (uint32_t size : {kW, 37u}) {
    Targets t(size, size == kW ? kH : 23u);
    for (int round = 0; round < 400; ++round) {
      std::vector<Vertex> v(12);
      for (Vertex& p : v) {
        float* f = &p.x;
        for (int k = 0; k < 7; ++k) f[k] = (rng() % 3 == 0) ? values[pick(rng)] : plain(rng);
      }
      RasterState s = rendererState();
      s.viewport.Width = t.width;
      s.viewport.Height = t.height;
      if (round % 5 == 1) s.viewport = D3DVIEWPORT9{t.width / 2, 3, t.width * 4, 100000, 0.0f, 1.0f};
      if (round % 5 == 2) s.samplers[0].addressU = D3DTADDRESS_MIRROR, s.samplers[1].magFilter = D3DTEXF_LINEAR;
      if (round % 7 == 3) s.world._44 = values[pick(rng)];
      if (round % 11 == 4) s.projection._34 = -1.0f;  // w negative in front
      const uint32_t type = D3DPT_TRIANGLELIST + round % 3;
      const uint32_t count = type == D3DPT_TRIANGLELIST ? 4 : 10;
      ASSERT_EQ(drawPrimitive(s, t.color(), t.depth(), views, type, count, v.data(), sizeof(Vertex), kFvf), S_OK);
    }
    EXPECT_TRUE(t.guardsIntact()) << size;
  }
}

TEST(RasterCoverage, BadArgumentsAreRefusedAndDrawNothing) {
  Targets t(8, 8);
  RasterState s = rendererState();
  s.viewport = {0, 0, 8, 8, 0.0f, 1.0f};
  const Vertex v[3] = {};
  ColorTarget c = t.color();
  ColorTarget narrow = c;
  narrow.pitch = 8;  // rows would overlap
  EXPECT_EQ(drawPrimitive(s, narrow, t.depth(), nullptr, D3DPT_TRIANGLELIST, 1, v, sizeof(Vertex), kFvf),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(drawPrimitive(s, c, t.depth(), nullptr, D3DPT_TRIANGLELIST, 1, v, 20, kFvf), D3DERR_INVALIDCALL);
  EXPECT_EQ(drawPrimitive(s, c, t.depth(), nullptr, D3DPT_TRIANGLELIST, 1, v, sizeof(Vertex), D3DFVF_XYZRHW),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(drawPrimitive(s, c, t.depth(), nullptr, D3DPT_LINELIST, 1, v, sizeof(Vertex), kFvf), D3DERR_INVALIDCALL);
  EXPECT_EQ(drawPrimitive(s, c, t.depth(), nullptr, D3DPT_TRIANGLELIST, 1, nullptr, sizeof(Vertex), kFvf),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(drawPrimitive(s, c, t.depth(), nullptr, D3DPT_TRIANGLESTRIP, kMaxPrimitiveCount + 1, v, sizeof(Vertex),
                          kFvf),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(vertexSize(kFvf), 28u);
  EXPECT_EQ(vertexSize(kColorFvf), 16u);
}

}  // namespace
}  // namespace nerro::raster
