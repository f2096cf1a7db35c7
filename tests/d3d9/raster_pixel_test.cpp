// What a covered pixel becomes: the two texture stages, addressing and
// filtering, mip levels, depth order and blending, culling, and the fast
// routines giving the same bytes as the general one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "d3d9/raster/rasterizer.h"
#include "platform/platform.h"

namespace nerro::raster {
namespace {

struct Vertex {  // D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX2
  float x, y, z;
  uint32_t color;
  float u0, v0, u1, v1;
};
constexpr uint32_t kFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX2;
constexpr uint32_t kTexFvf = D3DFVF_XYZ | D3DFVF_TEX2;  // the same without colour
struct TexVertex {
  float x, y, z, u0, v0, u1, v1;
};

D3DMATRIX identity() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

// Positions straight in pixels (y down), depth z as given.
RasterState screenState(uint32_t w, uint32_t h) {
  RasterState s;
  s.viewport = D3DVIEWPORT9{0, 0, w, h, 0.0f, 1.0f};
  s.cullMode = D3DCULL_NONE;
  s.projection = identity();
  s.projection._11 = 2.0f / static_cast<float>(w);
  s.projection._22 = -2.0f / static_cast<float>(h);
  s.projection._41 = -1.0f;
  s.projection._42 = 1.0f;
  return s;
}

// The polygon renderer's stages: texel 0, times texel 1, alpha of texel 0.
void rendererStages(RasterState& s) {
  s.stages[0] = {D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0};
  s.stages[1] = {D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_TEXTURE, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_TEXTURE, 1};
  s.alphaBlendEnable = TRUE;
  s.srcBlend = D3DBLEND_SRCALPHA;
  s.destBlend = D3DBLEND_INVSRCALPHA;
}

struct Frame {
  uint32_t w, h;
  std::vector<uint32_t> color;
  std::vector<uint16_t> depth;
  Frame(uint32_t width, uint32_t height) : w(width), h(height), color(width * height), depth(width * height) {
    clear(target(), depthTarget(), D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f);
  }
  ColorTarget target() { return {reinterpret_cast<uint8_t*>(color.data()), static_cast<int32_t>(w * 4), w, h}; }
  DepthTarget depthTarget() { return {depth.data(), static_cast<int32_t>(w * 2)}; }
  uint32_t at(uint32_t x, uint32_t y) const { return color[y * w + x]; }
};

struct Texture {
  std::vector<std::vector<uint32_t>> texels;
  std::vector<TextureLevel> levels;
  TextureView view() const { return {levels.data(), static_cast<uint32_t>(levels.size())}; }
  // Adds a level filled by f(x, y).
  template <typename F>
  Texture& level(uint32_t w, uint32_t h, F f) {
    texels.emplace_back(w * h);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) texels.back()[y * w + x] = f(x, y);
    levels.clear();
    for (size_t i = 0; i < texels.size(); ++i) {
      uint32_t lw = w, lh = h;
      for (size_t k = i + 1; k < texels.size(); ++k) lw *= 2, lh *= 2;
      levels.push_back({texels[i].data(), lw, lh, lw});
    }
    return *this;
  }
};
Texture solid(uint32_t argb) {
  Texture t;
  t.level(2, 2, [&](uint32_t, uint32_t) { return argb; });
  return t;
}

// A rectangle from (x0, y0) to (x1, y1) as a strip, texture coordinates
// u0..u1 and v0..v1 in both sets.
std::vector<Vertex> rect(float x0, float y0, float x1, float y1, float z, uint32_t color, float u0 = 0, float v0 = 0,
                         float u1 = 1, float v1 = 1) {
  return {{x0, y0, z, color, u0, v0, u0, v0},
          {x1, y0, z, color, u1, v0, u1, v0},
          {x0, y1, z, color, u0, v1, u0, v1},
          {x1, y1, z, color, u1, v1, u1, v1}};
}

HRESULT draw(const RasterState& s, Frame& f, const TextureView* tex, const std::vector<Vertex>& v,
             uint32_t type = D3DPT_TRIANGLESTRIP) {
  const uint32_t count = type == D3DPT_TRIANGLELIST ? static_cast<uint32_t>(v.size() / 3)
                                                    : static_cast<uint32_t>(v.size() - 2);
  return drawPrimitive(s, f.target(), f.depthTarget(), tex, type, count, v.data(), sizeof(Vertex), kFvf);
}

// Channel-wise x*y/255 rounded to nearest, worked out in floating point.
uint32_t modulate(uint32_t a, uint32_t b, bool keepAlphaOfA) {
  uint32_t r = 0;
  for (int sh = 0; sh < 32; sh += 8) {
    double v = std::round(((a >> sh) & 0xFF) * ((b >> sh) & 0xFF) / 255.0);
    r |= static_cast<uint32_t>(v) << sh;
  }
  return keepAlphaOfA ? (r & 0x00FFFFFFu) | (a & 0xFF000000u) : r;
}
// s*a + d*(1-a) on all four channels, rounded to nearest.
uint32_t over(uint32_t s, uint32_t d) {
  const double a = (s >> 24) / 255.0;
  uint32_t r = 0;
  for (int sh = 0; sh < 32; sh += 8) {
    double v = std::round(((s >> sh) & 0xFF) * a + ((d >> sh) & 0xFF) * (1 - a));
    r |= static_cast<uint32_t>(v) << sh;
  }
  return r;
}

TEST(RasterPixel, TextureStagesCombineAsSet) {
  const uint32_t t0 = 0x80C04020u, t1 = 0xFF8040F0u, vc = 0xC0336699u;
  const Texture tex0 = solid(t0), tex1 = solid(t1);
  struct Case {
    const char* name;
    bool bind0, bind1;
    TextureStageState stage0, stage1;
    uint32_t expected;
  };
  const TextureStageState select0 = {D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1,
                                     D3DTA_TEXTURE, D3DTA_DIFFUSE, 0};
  const TextureStageState modulate1 = {D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_TEXTURE, D3DTOP_SELECTARG1,
                                       D3DTA_CURRENT, D3DTA_TEXTURE, 1};
  const TextureStageState off = {D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_DISABLE, D3DTA_TEXTURE,
                                 D3DTA_CURRENT, 1};
  const TextureStageState diffuse2 = {D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG2,
                                      D3DTA_TEXTURE, D3DTA_DIFFUSE, 0};
  const TextureStageState modulateBoth = {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE,
                                          D3DTA_TEXTURE, D3DTA_DIFFUSE, 0};
  const Case cases[] = {
      {"slot 0 only", true, false, select0, modulate1, t0},
      {"both slots", true, true, select0, modulate1, modulate(t0, t1, true)},
      {"slot 1 only reads white in stage 0", false, true, select0, modulate1, (t1 & 0x00FFFFFFu) | 0xFF000000u},
      {"no texture is white", false, false, select0, modulate1, 0xFFFFFFFFu},
      {"stage 1 off", true, true, select0, off, t0},
      {"stage 0 off shows the diffuse colour", true, true, off, modulate1, vc},
      {"diffuse selected", true, false, diffuse2, off, vc},
      {"texture times diffuse", true, false, modulateBoth, off, modulate(t0, vc, false)},
  };
  for (const Case& c : cases) {
    Frame f(8, 8);
    RasterState s = screenState(8, 8);
    s.zEnable = D3DZB_FALSE;
    s.stages[0] = c.stage0;
    s.stages[1] = c.stage1;
    const TextureView views[2] = {c.bind0 ? tex0.view() : TextureView{}, c.bind1 ? tex1.view() : TextureView{}};
    ASSERT_EQ(draw(s, f, views, rect(0, 0, 8, 8, 0.5f, vc)), S_OK);
    EXPECT_EQ(f.at(3, 4), c.expected) << c.name << std::hex << " got " << f.at(3, 4) << " want " << c.expected;
  }
}

TEST(RasterPixel, LaterTranslucentPolygonBlendsOverEarlierWhereItPassesDepth) {
  const uint32_t red = 0x80FF0000u, green = 0x4000FF00u, blue = 0xFF0000FFu;
  const Texture texR = solid(red), texG = solid(green), texB = solid(blue);
  Frame f(32, 16);
  RasterState s = screenState(32, 16);
  rendererStages(s);
  TextureView views[2] = {texR.view(), {}};
  ASSERT_EQ(draw(s, f, views, rect(0, 0, 20, 16, 0.5f, 0)), S_OK);  // red on x 0..19
  views[0] = texG.view();
  ASSERT_EQ(draw(s, f, views, rect(10, 0, 32, 16, 0.5f, 0)), S_OK);  // green on x 10..31, same depth
  views[0] = texB.view();
  ASSERT_EQ(draw(s, f, views, rect(0, 0, 32, 8, 0.75f, 0)), S_OK);  // opaque blue behind both, top half

  const uint32_t r = over(red, 0), g = over(green, 0), rg = over(green, r);
  for (uint32_t y : {2u, 12u}) {
    EXPECT_EQ(f.at(5, y), r) << y;
    EXPECT_EQ(f.at(15, y), rg) << y;
    EXPECT_EQ(f.at(25, y), g) << y;
  }
  EXPECT_EQ(rg, 0x40604000u);  // the arithmetic itself, by hand
  // Depth 0.5 in D16, and the far polygon wrote none of it.
  EXPECT_EQ(f.depth[5 * 32 + 3], static_cast<uint16_t>(std::lround(0.5 * 65535)));

  // Where nothing was drawn before, the far polygon shows; nearer ones then
  // still cover it.
  Frame g2(8, 8);
  RasterState s2 = screenState(8, 8);
  rendererStages(s2);
  TextureView b[2] = {texB.view(), {}};
  ASSERT_EQ(draw(s2, g2, b, rect(0, 0, 8, 8, 0.75f, 0)), S_OK);
  b[0] = texR.view();
  ASSERT_EQ(draw(s2, g2, b, rect(0, 0, 4, 8, 0.25f, 0)), S_OK);
  EXPECT_EQ(g2.at(6, 3), blue);
  EXPECT_EQ(g2.at(1, 3), over(red, blue));
}

// Expected texel index along one axis for address mode m; -1 is the border.
int expectedTexel(double t, int n, uint32_t m) {
  int i = static_cast<int>(std::floor(t));
  switch (m) {
    case D3DTADDRESS_WRAP: return ((i % n) + n) % n;
    case D3DTADDRESS_MIRROR: {
      int k = ((i % (2 * n)) + 2 * n) % (2 * n);
      return k < n ? k : 2 * n - 1 - k;
    }
    case D3DTADDRESS_CLAMP: return i < 0 ? 0 : i >= n ? n - 1 : i;
    case D3DTADDRESS_BORDER: return i < 0 || i >= n ? -1 : i;
    default: {  // mirror once
      int k = i < 0 ? -1 - i : i;
      return k >= n ? n - 1 : k;
    }
  }
}

TEST(RasterPixel, AddressModesPickTheTexelsTheirRulesGive) {
  // Four texels (three for a size that is not a power of two) across; the
  // 64 pixels of a row see u from -2.5 to 3.5, texel edges between centres.
  for (uint32_t n : {4u, 3u}) {
    Texture tex;
    tex.level(n, 1, [](uint32_t x, uint32_t) { return 0xFF000000u | (x + 1) * 0x00304050u; });
    for (uint32_t mode : {D3DTADDRESS_WRAP, D3DTADDRESS_MIRROR, D3DTADDRESS_CLAMP, D3DTADDRESS_BORDER,
                          D3DTADDRESS_MIRRORONCE}) {
      Frame f(64, 2);
      RasterState s = screenState(64, 2);
      s.zEnable = D3DZB_FALSE;
      s.stages[0].colorOp = D3DTOP_SELECTARG1;
      s.samplers[0].addressU = mode;
      s.samplers[0].borderColor = 0x12345678u;
      const float uA = -2.5f + 1.0f / 256, uB = 3.5f + 1.0f / 256;
      const TextureView views[2] = {tex.view(), {}};
      ASSERT_EQ(draw(s, f, views, rect(0, 0, 64, 2, 0.5f, 0, uA, 0.25f, uB, 0.25f)), S_OK);
      for (uint32_t i = 0; i < 64; ++i) {
        const double u = uA + (uB - uA) * i / 64.0;
        const int k = expectedTexel(u * n, static_cast<int>(n), mode);
        const uint32_t want = k < 0 ? 0x12345678u : 0xFF000000u | (k + 1) * 0x00304050u;
        ASSERT_EQ(f.at(i, 1), want) << "size " << n << " mode " << mode << " pixel " << i;
      }
    }
  }
}

TEST(RasterPixel, LinearFilteringWeighsNeighbouringTexels) {
  // Black and white texels magnified over 16 pixels, clamped: between the
  // texel centres (pixels 4 and 12) the grey rises linearly.
  Texture tex;
  tex.level(2, 1, [](uint32_t x, uint32_t) { return x ? 0xFFFFFFFFu : 0xFF000000u; });
  Frame f(16, 1);
  RasterState s = screenState(16, 1);
  s.zEnable = D3DZB_FALSE;
  s.stages[0].colorOp = D3DTOP_SELECTARG1;
  s.samplers[0].addressU = s.samplers[0].addressV = D3DTADDRESS_CLAMP;
  s.samplers[0].magFilter = s.samplers[0].minFilter = D3DTEXF_LINEAR;
  const TextureView views[2] = {tex.view(), {}};
  ASSERT_EQ(draw(s, f, views, rect(-0.5f, -0.5f, 15.5f, 0.5f, 0.5f, 0)), S_OK);
  for (uint32_t i = 0; i < 16; ++i) {
    const double t = (i + 0.5) / 16.0 * 2 - 0.5;  // texel space, centres on integers
    const double want = 255.0 * std::clamp(t, 0.0, 1.0);
    EXPECT_NEAR(static_cast<double>(f.at(i, 0) & 0xFF), want, 2.0) << i;
    EXPECT_EQ(f.at(i, 0) >> 24, 0xFFu);
  }
}

TEST(RasterPixel, MipLevelFollowsTheFootprintWhenMipFilteringIsOn) {
  // Levels 32, 16, 8, 4 of distinct colours; a quad of 8 x 8 pixels shows
  // 4 texels of level 0 a pixel, level of detail 2.
  Texture tex;
  const uint32_t colors[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFF00u};
  for (uint32_t i = 0, size = 32; i < 4; ++i, size /= 2)
    tex.level(size, size, [&](uint32_t, uint32_t) { return colors[i]; });
  struct Case {
    uint32_t mip, maxLevel;
    float size;
    uint32_t want;
  };
  const Case cases[] = {{D3DTEXF_NONE, 0, 8, colors[0]},  {D3DTEXF_POINT, 0, 8, colors[2]},
                        {D3DTEXF_POINT, 0, 64, colors[0]}, {D3DTEXF_POINT, 0, 2, colors[3]},
                        {D3DTEXF_POINT, 1, 64, colors[1]}, {D3DTEXF_LINEAR, 0, 8, colors[2]}};
  for (const Case& c : cases) {
    Frame f(64, 64);
    RasterState s = screenState(64, 64);
    s.zEnable = D3DZB_FALSE;
    s.stages[0].colorOp = D3DTOP_SELECTARG1;
    s.samplers[0].mipFilter = c.mip;
    s.samplers[0].maxMipLevel = c.maxLevel;
    const TextureView views[2] = {tex.view(), {}};
    ASSERT_EQ(draw(s, f, views, rect(0, 0, c.size, c.size, 0.5f, 0)), S_OK);
    EXPECT_EQ(f.at(0, 0), c.want) << c.mip << " " << c.size;
  }
}

TEST(RasterPixel, CullModesDropTheirWinding) {
  // On screen (y down) a -> b -> c runs clockwise.
  const std::vector<Vertex> clockwise = {
      {1, 1, 0.5f, 0xFFFFFFFFu, 0, 0, 0, 0}, {7, 1, 0.5f, 0xFFFFFFFFu, 0, 0, 0, 0}, {1, 7, 0.5f, 0xFFFFFFFFu, 0, 0, 0, 0}};
  const std::vector<Vertex> counter = {clockwise[0], clockwise[2], clockwise[1]};
  struct Case {
    uint32_t cull;
    bool cwDrawn, ccwDrawn;
  };
  for (const Case& c : {Case{D3DCULL_NONE, true, true}, Case{D3DCULL_CCW, true, false}, Case{D3DCULL_CW, false, true}}) {
    for (bool cw : {true, false}) {
      Frame f(8, 8);
      RasterState s = screenState(8, 8);
      s.cullMode = c.cull;
      ASSERT_EQ(draw(s, f, nullptr, cw ? clockwise : counter, D3DPT_TRIANGLELIST), S_OK);
      EXPECT_EQ(f.at(2, 2) != 0, cw ? c.cwDrawn : c.ccwDrawn) << c.cull << " " << cw;
    }
  }
}

// A busy scene of translucent, turned, overlapping quads with two textures.
void busyScene(const RasterState& base, Frame& f, bool splitDraws) {
  Texture t0, t1;
  t0.level(64, 64, [](uint32_t x, uint32_t y) { return (x * 4) << 24 | (y * 4) << 16 | ((x ^ y) * 4) << 8 | 0x33; });
  t1.level(48, 20, [](uint32_t x, uint32_t y) { return 0xFF000000u | (x * 5) << 16 | (y * 12) << 8 | 0x80; });
  const TextureView views[2] = {t0.view(), t1.view()};
  std::vector<TexVertex> list;
  for (int i = 0; i < 24; ++i) {
    const float cx = 40.0f + 17.3f * (i % 8), cy = 30.0f + 23.1f * (i / 8), a = 0.3f * i, r = 45.0f;
    const float z = 0.9f - 0.03f * i * (i % 3 == 0 ? -0.5f : 1.0f);
    TexVertex c[4];
    for (int k = 0; k < 4; ++k) {
      const float ang = a + 1.5707963f * k;
      c[k] = {cx + r * std::cos(ang), cy + r * std::sin(ang), z * (1.0f + 0.2f * (k & 1)), (k == 1 || k == 2) ? 2.5f : -0.5f,
              k >= 2 ? 1.75f : -0.25f, (k == 1 || k == 2) ? 1.0f : 0.0f, k >= 2 ? 1.0f : 0.0f};
    }
    for (int k : {0, 1, 2, 0, 2, 3}) list.push_back(c[k]);
  }
  RasterState s = base;
  // A perspective projection so that 1/w varies across the quads.
  s.projection._34 = 0.004f;
  if (!splitDraws) {
    ASSERT_EQ(drawPrimitive(s, f.target(), f.depthTarget(), views, D3DPT_TRIANGLELIST,
                            static_cast<uint32_t>(list.size() / 3), list.data(), sizeof(TexVertex), kTexFvf),
              S_OK);
    return;
  }
  for (size_t i = 0; i < list.size(); i += 3)
    ASSERT_EQ(drawPrimitive(s, f.target(), f.depthTarget(), views, D3DPT_TRIANGLELIST, 1, &list[i], sizeof(TexVertex),
                            kTexFvf),
              S_OK);
}

TEST(RasterPixel, FastRoutinesMatchTheGeneralOneByteForByte) {
  for (uint32_t address : {D3DTADDRESS_WRAP, D3DTADDRESS_MIRROR}) {
    for (bool blend : {true, false}) {
      RasterState s = screenState(200, 120);
      rendererStages(s);
      s.alphaBlendEnable = blend;
      s.samplers[0].addressU = s.samplers[1].addressV = address;
      Frame fast(200, 120), general(200, 120);
      busyScene(s, fast, false);
      // An alpha test that every pixel passes takes the general routine.
      s.alphaTestEnable = TRUE;
      s.alphaFunc = D3DCMP_GREATEREQUAL;
      s.alphaRef = 0;
      busyScene(s, general, false);
      size_t drawn = 0;
      for (uint32_t p : fast.color) drawn += p != 0;
      EXPECT_GT(drawn, fast.color.size() / 2);
      EXPECT_EQ(fast.color, general.color) << address << " " << blend;
      EXPECT_EQ(fast.depth, general.depth) << address << " " << blend;
    }
  }
}

TEST(RasterPixel, WideAndNarrowVectorRoutinesGiveTheSameBytes) {
  platform::CpuFeatures real = platform::cpuFeatures();
  if (!real.avx2) GTEST_SKIP() << "no AVX2 here";
  for (uint32_t address : {D3DTADDRESS_WRAP, D3DTADDRESS_CLAMP}) {
    RasterState s = screenState(200, 120);
    rendererStages(s);
    s.samplers[1].addressU = address;
    Frame wide(200, 120), narrow(200, 120);
    busyScene(s, wide, false);
    platform::CpuFeatures sse2 = real;
    sse2.avx2 = false;
    platform::overrideCpuFeatures(sse2);
    busyScene(s, narrow, false);
    platform::overrideCpuFeatures(std::nullopt);
    EXPECT_EQ(wide.color, narrow.color) << address;
    EXPECT_EQ(wide.depth, narrow.depth) << address;
  }
}

// The vector routines read and write whole groups of pixels where the row
// has room and only the covered pixels at its right edge. Both widths put
// the edge at an odd place in a group; every combination of depth and
// blending, on both vector widths, gives the general routine's bytes.
TEST(RasterPixel, ShortGroupsGiveTheGeneralBytesInsideRowsAndAtTheRightEdge) {
  const platform::CpuFeatures real = platform::cpuFeatures();
  struct RestoreFeatures {
    ~RestoreFeatures() { platform::overrideCpuFeatures(std::nullopt); }
  } restore;
  for (bool avx2 : {true, false}) {
    if (avx2 && !real.avx2) continue;
    platform::CpuFeatures features = real;
    features.avx2 = avx2;
    platform::overrideCpuFeatures(features);
    for (uint32_t zEnable : {D3DZB_TRUE, D3DZB_FALSE}) {
      for (bool blend : {true, false}) {
        for (uint32_t width : {101u, 131u}) {
          RasterState s = screenState(width, 120);
          rendererStages(s);
          s.zEnable = zEnable;
          s.alphaBlendEnable = blend;
          Frame fast(width, 120), general(width, 120);
          busyScene(s, fast, true);
          s.alphaTestEnable = TRUE;  // passes everywhere, but only the general routine tests alpha
          s.alphaFunc = D3DCMP_GREATEREQUAL;
          s.alphaRef = 0;
          busyScene(s, general, true);
          const std::string where = std::string(avx2 ? "avx2" : "sse2") + " z " + std::to_string(zEnable) +
                                    " blend " + std::to_string(blend) + " width " + std::to_string(width);
          size_t rightEdge = 0;
          for (uint32_t y = 0; y < 120; ++y) rightEdge += fast.at(width - 1, y) != 0;
          EXPECT_GT(rightEdge, 0u) << "the scene reaches the right edge: " << where;
          EXPECT_EQ(fast.color, general.color) << where;
          EXPECT_EQ(fast.depth, general.depth) << where;
        }
      }
    }
  }
}

TEST(RasterPixel, FramesAreTheSameHoweverTheWorkIsShared) {
  // One large draw goes to the worker threads by bands; one draw per
  // triangle stays on the calling thread. Both, and a repeat, agree.
  RasterState s = screenState(200, 120);
  rendererStages(s);
  Frame once(200, 120), again(200, 120), split(200, 120);
  busyScene(s, once, false);
  busyScene(s, again, false);
  busyScene(s, split, true);
  EXPECT_EQ(once.color, again.color);
  EXPECT_EQ(once.color, split.color);
  EXPECT_EQ(once.depth, split.depth);
}

TEST(RasterPixel, ClearFillsOnlyItsRectangle) {
  Frame f(8, 6);
  const RECT r{2, 1, 100, 3};  // clipped to the target
  clear(f.target(), f.depthTarget(), D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x11223344u, 0.5f, &r);
  for (uint32_t y = 0; y < 6; ++y)
    for (uint32_t x = 0; x < 8; ++x) {
      const bool in = x >= 2 && y >= 1 && y < 3;
      EXPECT_EQ(f.at(x, y), in ? 0x11223344u : 0u) << x << "," << y;
      EXPECT_EQ(f.depth[y * 8 + x], in ? 32768 : 65535) << x << "," << y;
    }
}

}  // namespace
}  // namespace nerro::raster
