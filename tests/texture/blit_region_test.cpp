// The blit strategies seen through BlitRegion on pixels in memory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "texture/blit_strategies.h"
#include "texture/resample_weights.h"
#include "texture/surface_loading.h"

namespace nerro::texture {
namespace {

using pixel::PixelRegion;
using Color = D3DCOLORVALUE;

PixelRegion region(void* pixels, D3DFORMAT format, uint32_t rowPitch, uint32_t w, uint32_t h, uint32_t d = 1,
                   uint32_t slicePitch = 0) {
  PixelRegion r;
  r.pixels = pixels;
  r.format = format;
  r.rowPitch = rowPitch;
  r.slicePitch = slicePitch;
  r.bounds = r.box = {0, 0, w, h, 0, d};
  return r;
}

// A float image (A32B32G32R32F) of w x h x d colours, rows tightly packed.
struct FloatImage {
  uint32_t w, h, d;
  std::vector<Color> px;
  FloatImage(uint32_t w_, uint32_t h_, uint32_t d_ = 1) : w(w_), h(h_), d(d_), px(size_t(w_) * h_ * d_) {}
  Color& at(uint32_t x, uint32_t y, uint32_t z = 0) { return px[(size_t(z) * h + y) * w + x]; }
  PixelRegion region() {
    return texture::region(px.data(), D3DFMT_A32B32G32R32F, w * 16, w, h, d, w * h * 16);
  }
};

FloatImage randomImage(uint32_t w, uint32_t h, uint32_t d, uint32_t seed) {
  FloatImage img(w, h, d);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  for (Color& c : img.px) c = {u(rng), u(rng), u(rng), u(rng)};
  return img;
}

// Runs the strategies on codecs made from the regions, reporting which one
// succeeded.
HRESULT blitChoosing(PixelRegion& dest, PixelRegion& source, FilterOptions filter, int* chosen) {
  auto d = pixel::CreatePixelCodec(dest);
  auto s = pixel::CreatePixelCodec(source);
  if (!d || !s) return E_FAIL;
  if (FAILED(d->LinkToSource(*s))) return E_OUTOFMEMORY;
  return RunBlitStrategies(*s, *d, filter, chosen);
}

void expectColor(const Color& c, float r, float g, float b, float a, float tolerance = 1e-6f) {
  EXPECT_NEAR(c.r, r, tolerance);
  EXPECT_NEAR(c.g, g, tolerance);
  EXPECT_NEAR(c.b, b, tolerance);
  EXPECT_NEAR(c.a, a, tolerance);
}

TEST(BlitRegion, FilterWordValidation) {
  uint32_t src[4] = {1, 2, 3, 4}, dst[4] = {};
  const struct {
    FilterOptions filter;
    bool valid;
  } cases[] = {{0, false},         {6, false},           {0x10006, false},   {0x800003, false},
               {0xFFFF0001, false}, {FilterNone, true},  {FilterBox, true},  {FilterTriangle | 0x7F0000, true},
               {0x10000, false}};
  for (const auto& c : cases) {
    PixelRegion s = region(src, D3DFMT_A8R8G8B8, 8, 2, 2), d = region(dst, D3DFMT_A8R8G8B8, 8, 2, 2);
    const HRESULT hr = BlitRegion(d, s, c.filter);
    EXPECT_EQ(hr, c.valid ? S_OK : D3DERR_INVALIDCALL) << std::hex << c.filter;
  }
}

TEST(BlitRegion, FlagsOfTheFilterWordReachTheRegions) {
  uint32_t src[4] = {}, dst[4] = {};
  PixelRegion s = region(src, D3DFMT_A8R8G8B8, 8, 2, 2), d = region(dst, D3DFMT_A8R8G8B8, 8, 2, 2);
  d.orderedDither = 1;
  ASSERT_EQ(BlitRegion(d, s, FilterPoint | FilterSrgbIn | FilterDiffusionDither), S_OK);
  EXPECT_NE(s.gamma, 0u);
  EXPECT_EQ(d.gamma, 0u);
  EXPECT_EQ(d.orderedDither, 0u);
  EXPECT_NE(d.diffuseErrors, 0u);
}

TEST(BlitRegion, EmptySourceIsRefusedBeforeReading) {
  uint32_t dst[4] = {7, 7, 7, 7};
  for (FilterOptions f : {FilterNone, FilterPoint, FilterLinear, FilterTriangle, FilterBox}) {
    PixelRegion s = region(nullptr, D3DFMT_A8R8G8B8, 0, 0, 0), d = region(dst, D3DFMT_A8R8G8B8, 8, 2, 2);
    s.box = s.bounds = {0, 0, 0, 1, 0, 1};
    EXPECT_EQ(BlitRegion(d, s, f), D3DERR_INVALIDCALL) << f;
  }
  EXPECT_EQ(dst[0], 7u);
}

TEST(BlitRegion, UnknownFormatHasNoCodec) {
  uint32_t a[4] = {}, b[4] = {};
  PixelRegion s = region(a, D3DFMT_D24S8, 8, 2, 2), d = region(b, D3DFMT_A8R8G8B8, 8, 2, 2);
  EXPECT_EQ(BlitRegion(d, s, FilterPoint), E_FAIL);
}

TEST(BoxFilter, HalvingIntegerRounding) {
  // 4 x 4 -> 2 x 2 on the integer path: the four bytes 0, 1, 1, 1 give 1,
  // and 0, 0, 1, 1 give 1; 0, 0, 0, 1 gives 0; 3, 3, 3, 4 gives 3.
  uint32_t src[16] = {0x00000000, 0x01010101, 0x00000000, 0x00000000,  //
                      0x01010101, 0x01010101, 0x01010101, 0x01010101,  //
                      0x00000000, 0x00000000, 0x03030303, 0x03030303,  //
                      0x00000000, 0x01010101, 0x03030303, 0x04040404};
  uint32_t dst[4] = {};
  PixelRegion s = region(src, D3DFMT_A8R8G8B8, 16, 4, 4), d = region(dst, D3DFMT_A8R8G8B8, 8, 2, 2);
  int chosen = -1;
  ASSERT_EQ(blitChoosing(d, s, FilterBox, &chosen), S_OK);
  EXPECT_EQ(chosen, kStrategyBox2D);
  EXPECT_EQ(dst[0], 0x01010101u);
  EXPECT_EQ(dst[1], 0x01010101u);
  EXPECT_EQ(dst[2], 0x00000000u);
  EXPECT_EQ(dst[3], 0x03030303u);
}

TEST(BoxFilter, OddSourceUsesOnlyEvenPart) {
  // 5 x 3 -> 2 x 1: the last column and row do not contribute.
  FloatImage img(5, 3);
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 5; ++x) img.at(x, y) = (x == 4 || y == 2) ? Color{100, 100, 100, 100} : Color{float(x), float(y), 1, 0.5f};
  FloatImage out(2, 1);
  PixelRegion s = img.region(), d = out.region();
  ASSERT_EQ(BlitRegion(d, s, FilterBox), S_OK);
  expectColor(out.at(0, 0), 0.5f, 0.5f, 1, 0.5f);
  expectColor(out.at(1, 0), 2.5f, 0.5f, 1, 0.5f);
}

TEST(BoxFilter, FloatPathAveragesAndHandlesUnitSizes) {
  const struct {
    uint32_t sw, sh, dw, dh;
  } cases[] = {{4, 4, 2, 2}, {1, 4, 1, 2}, {4, 1, 2, 1}, {1, 1, 1, 1}, {3, 3, 1, 1}};
  for (const auto& c : cases) {
    FloatImage img = randomImage(c.sw, c.sh, 1, c.sw * 10 + c.sh);
    FloatImage out(c.dw, c.dh);
    PixelRegion s = img.region(), d = out.region();
    ASSERT_EQ(BlitRegion(d, s, FilterBox), S_OK);
    for (uint32_t y = 0; y < c.dh; ++y)
      for (uint32_t x = 0; x < c.dw; ++x) {
        const uint32_t x0 = c.sw == 1 ? 0 : 2 * x, x1 = c.sw == 1 ? 0 : 2 * x + 1;
        const uint32_t y0 = c.sh == 1 ? 0 : 2 * y, y1 = c.sh == 1 ? 0 : 2 * y + 1;
        const Color &p00 = img.at(x0, y0), &p10 = img.at(x1, y0), &p01 = img.at(x0, y1), &p11 = img.at(x1, y1);
        expectColor(out.at(x, y), (((p00.r + p10.r) + p01.r) + p11.r) * 0.25f, (((p00.g + p10.g) + p01.g) + p11.g) * 0.25f,
                    (((p00.b + p10.b) + p01.b) + p11.b) * 0.25f, (((p00.a + p10.a) + p01.a) + p11.a) * 0.25f, 0);
      }
  }
}

TEST(BoxFilter, NonHalvingFallsBackToTriangle) {
  FloatImage img = randomImage(6, 6, 1, 3);
  FloatImage viaBox(4, 4), viaTriangle(4, 4);
  PixelRegion s = img.region(), d = viaBox.region();
  int chosen = -1;
  ASSERT_EQ(blitChoosing(d, s, FilterBox, &chosen), S_OK);
  EXPECT_EQ(chosen, kStrategyTriangle2D);
  PixelRegion s2 = img.region(), d2 = viaTriangle.region();
  ASSERT_EQ(BlitRegion(d2, s2, FilterTriangle), S_OK);
  EXPECT_EQ(0, std::memcmp(viaBox.px.data(), viaTriangle.px.data(), viaBox.px.size() * sizeof(Color)));
}

TEST(BoxFilter, ColourKeyTakesFloatPath) {
  // The keyed pixel reads as transparent black and pulls the average down.
  uint32_t src[4] = {0xFF00FF00, 0xFF804020, 0xFF804020, 0xFF804020};
  uint32_t dst = 0;
  PixelRegion s = region(src, D3DFMT_A8R8G8B8, 8, 2, 2), d = region(&dst, D3DFMT_A8R8G8B8, 4, 1, 1);
  s.colorKey = 0xFF00FF00;
  ASSERT_EQ(BlitRegion(d, s, FilterBox), S_OK);
  // 3/4 of each channel: 0x80 -> 0x60, 0x40 -> 0x30, 0x20 -> 0x18, 0xFF -> 0xBF.
  EXPECT_EQ(dst, 0xBF603018u);
}

TEST(BoxFilter, Volume2x2x2Average) {
  FloatImage img = randomImage(3, 2, 3, 5);  // odd width and depth lose their last column / slice
  FloatImage out(1, 1, 1);
  PixelRegion s = img.region(), d = out.region();
  int chosen = -1;
  ASSERT_EQ(blitChoosing(d, s, FilterBox, &chosen), S_OK);
  EXPECT_EQ(chosen, kStrategyBox3D);
  float sum = 0;
  for (uint32_t y : {0u, 1u})
    for (uint32_t z : {0u, 1u})
      for (uint32_t x : {0u, 1u}) sum += img.at(x, y, z).r;
  EXPECT_NEAR(out.at(0, 0).r, sum * 0.125f, 1e-6f);
}

TEST(PointFilter, Stepping) {
  // 3 -> 2: step 98304, destination columns read source columns 0 and 1.
  FloatImage img(3, 1);
  for (uint32_t x = 0; x < 3; ++x) img.at(x, 0) = {float(x), 0, 0, 1};
  FloatImage out(2, 1);
  PixelRegion s = img.region(), d = out.region();
  ASSERT_EQ(BlitRegion(d, s, FilterPoint), S_OK);
  EXPECT_EQ(out.at(0, 0).r, 0.0f);
  EXPECT_EQ(out.at(1, 0).r, 1.0f);
  // Upsampling 2 x 2 -> 4 x 3 repeats rows and columns.
  FloatImage small(2, 2);
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 2; ++x) small.at(x, y) = {float(x), float(y), 0, 1};
  FloatImage big(4, 3);
  PixelRegion s2 = small.region(), d2 = big.region();
  ASSERT_EQ(BlitRegion(d2, s2, FilterPoint), S_OK);
  const float ys[3] = {0, 0, 1};
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 4; ++x) expectColor(big.at(x, y), float(x / 2), ys[y], 0, 1, 0);
}

TEST(PointFilter, WideSourcesDoNotOverflow) {
  // 70000 columns: the 16.16 step exceeds 32 bits.
  const uint32_t width = 70000;
  std::vector<uint8_t> src(width);
  for (uint32_t x = 0; x < width; ++x) src[x] = static_cast<uint8_t>(x % 251);
  uint8_t dst[2] = {};
  PixelRegion s = region(src.data(), D3DFMT_L8, width, width, 1), d = region(dst, D3DFMT_L8, 2, 2, 1);
  ASSERT_EQ(BlitRegion(d, s, FilterPoint), S_OK);
  EXPECT_EQ(dst[0], src[0]);
  EXPECT_EQ(dst[1], src[35000]);
}

TEST(NoneFilter, PlacesAtTopLeftAndFillsWithTransparentBlack) {
  uint32_t src[4] = {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004};
  uint32_t dst[9];
  std::fill(std::begin(dst), std::end(dst), 0x12345678u);
  PixelRegion s = region(src, D3DFMT_A8R8G8B8, 8, 2, 2), d = region(dst, D3DFMT_A8R8G8B8, 12, 3, 3);
  ASSERT_EQ(BlitRegion(d, s, FilterNone), S_OK);
  const uint32_t expected[9] = {0xFF000001, 0xFF000002, 0, 0xFF000003, 0xFF000004, 0, 0, 0, 0};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(dst[i], expected[i]) << i;
  // 3 x 3 -> 2 x 2 crops.
  uint32_t back[4] = {};
  PixelRegion s2 = region(dst, D3DFMT_A8R8G8B8, 12, 3, 3), d2 = region(back, D3DFMT_A8R8G8B8, 8, 2, 2);
  ASSERT_EQ(BlitRegion(d2, s2, FilterNone), S_OK);
  EXPECT_EQ(0, std::memcmp(back, src, sizeof src));
}

TEST(NoneFilter, VolumeSlicesBeyondTheSourceAreZero) {
  FloatImage img = randomImage(2, 2, 1, 9);
  FloatImage out(2, 3, 2);
  for (Color& c : out.px) c = {9, 9, 9, 9};
  PixelRegion s = img.region(), d = out.region();
  ASSERT_EQ(BlitRegion(d, s, FilterNone), S_OK);
  expectColor(out.at(1, 1, 0), img.at(1, 1).r, img.at(1, 1).g, img.at(1, 1).b, img.at(1, 1).a, 0);
  for (uint32_t x = 0; x < 2; ++x) expectColor(out.at(x, 2, 0), 0, 0, 0, 0, 0);
  for (uint32_t y = 0; y < 3; ++y) expectColor(out.at(1, y, 1), 0, 0, 0, 0, 0);
}

TEST(DirectCopy, PalettesMustMatchForIndexCopy) {
  PALETTEENTRY a[256], b[256];
  for (int i = 0; i < 256; ++i) a[i] = b[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 255};
  b[200] = {1, 2, 3, 255};  // the destination's 200 is some other colour
  uint8_t src[2] = {200, 10}, dst[2] = {};
  PixelRegion s = region(src, D3DFMT_P8, 2, 2, 1), d = region(dst, D3DFMT_P8, 2, 2, 1);
  s.palette = a;
  d.palette = b;
  int chosen = -1;
  ASSERT_EQ(blitChoosing(d, s, FilterPoint, &chosen), S_OK);
  EXPECT_EQ(chosen, kStrategySameSizeConversion);
  EXPECT_NE(dst[0], 200);  // the colour of source index 200 is looked up, not the index copied
  EXPECT_EQ(dst[1], 10);
  d.palette = a;
  std::memset(dst, 0, sizeof dst);
  ASSERT_EQ(blitChoosing(d, s, FilterPoint, &chosen), S_OK);
  EXPECT_EQ(chosen, kStrategyDirectCopy);
  EXPECT_EQ(dst[0], 200);
}

TEST(DirectCopy, EqualSizesNeverFilter) {
  // Whatever the kind, equal sizes copy the pixels exactly.
  std::vector<uint32_t> src(15);
  for (size_t i = 0; i < src.size(); ++i) src[i] = 0x01020304u * uint32_t(i + 1);
  for (FilterOptions f : {FilterNone, FilterPoint, FilterLinear, FilterTriangle, FilterBox}) {
    std::vector<uint32_t> dst(15);
    PixelRegion s = region(src.data(), D3DFMT_A8R8G8B8, 20, 5, 3), d = region(dst.data(), D3DFMT_A8R8G8B8, 20, 5, 3);
    int chosen = -1;
    ASSERT_EQ(blitChoosing(d, s, f | FilterDither, &chosen), S_OK);
    EXPECT_EQ(chosen, kStrategyDirectCopy);
    EXPECT_EQ(src, dst);
  }
}

TEST(SameSizeConversion, AlphaAndXByteFormatsConvertExactly) {
  // The integer shortcut must give what decoding and re-encoding gives; error
  // diffusion takes the codec path, so the two are compared.
  std::vector<uint32_t> src(7 * 5);
  uint32_t v = 99;
  for (auto& p : src) p = (v = v * 1664525u + 1013904223u);
  const struct {
    D3DFORMAT from, to;
    uint32_t keep, set;
  } cases[] = {{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, 0x00FFFFFF, 0xFF000000},
               {D3DFMT_A8B8G8R8, D3DFMT_X8B8G8R8, 0x00FFFFFF, 0},
               {D3DFMT_X8B8G8R8, D3DFMT_A8B8G8R8, 0x00FFFFFF, 0xFF000000}};
  for (const auto& c : cases) {
    std::vector<uint32_t> fast(35), codec(35);
    PixelRegion s = region(src.data(), c.from, 28, 7, 5), d = region(fast.data(), c.to, 28, 7, 5);
    ASSERT_EQ(BlitRegion(d, s, FilterTriangle | FilterDither), S_OK);
    PixelRegion s2 = region(src.data(), c.from, 28, 7, 5), d2 = region(codec.data(), c.to, 28, 7, 5);
    ASSERT_EQ(BlitRegion(d2, s2, FilterTriangle | FilterDiffusionDither), S_OK);
    EXPECT_EQ(fast, codec) << c.from << "->" << c.to;
    for (size_t i = 0; i < src.size(); ++i) ASSERT_EQ(fast[i], (src[i] & c.keep) | c.set) << i;
  }
}

TEST(LinearFilter, TwoTapInterpolationWrapsOrMirrors) {
  FloatImage img(2, 1);
  img.at(0, 0) = {0, 0, 0, 0};
  img.at(1, 0) = {1, 1, 1, 1};
  const struct {
    FilterOptions filter;
    float expected[4];
  } cases[] = {
      // p = 0.75, 1.25, 1.75, 2.25 over centres 0.5 and 1.5.
      {FilterLinear, {0.25f, 0.25f, 0.75f, 0.75f}},
      {FilterLinear | FilterMirrorU, {0.0f, 0.25f, 0.75f, 1.0f}},
  };
  for (const auto& c : cases) {
    FloatImage out(4, 1);
    PixelRegion s = img.region(), d = out.region();
    ASSERT_EQ(BlitRegion(d, s, c.filter), S_OK);
    for (int x = 0; x < 4; ++x) EXPECT_NEAR(out.at(x, 0).r, c.expected[x], 1e-6f) << std::hex << c.filter << " x " << x;
  }
}

// Reference resampling by the per-axis weights, in double precision.
FloatImage referenceLinear(FloatImage& img, uint32_t dw, uint32_t dh, bool wrap) {
  const auto tx = LinearTaps(img.w, dw, wrap), ty = LinearTaps(img.h, dh, wrap);
  FloatImage out(dw, dh);
  for (uint32_t y = 0; y < dh; ++y)
    for (uint32_t x = 0; x < dw; ++x) {
      auto mix = [&](float Color::*ch) {
        auto row = [&](int32_t yy) {
          return tx[x].firstWeight * (img.at(tx[x].first, yy).*ch) + tx[x].secondWeight * (img.at(tx[x].second, yy).*ch);
        };
        return ty[y].firstWeight * row(ty[y].first) + ty[y].secondWeight * row(ty[y].second);
      };
      out.at(x, y) = {mix(&Color::r), mix(&Color::g), mix(&Color::b), mix(&Color::a)};
    }
  return out;
}

FloatImage referenceTriangle(FloatImage& img, uint32_t dw, uint32_t dh, bool wrap) {
  const auto tx = TriangleWeights(img.w, dw, wrap), ty = TriangleWeights(img.h, dh, wrap);
  std::vector<double> acc(size_t(dw) * dh * 4, 0.0);
  for (uint32_t j = 0; j < img.h; ++j)
    for (const TrianglePair& py : ty.record(j))
      for (uint32_t i = 0; i < img.w; ++i)
        for (const TrianglePair& px : tx.record(i)) {
          const Color& c = img.at(i, j);
          double* a = &acc[(size_t(py.dest) * dw + px.dest) * 4];
          const double w = double(px.weight) * py.weight;
          a[0] += w * c.r, a[1] += w * c.g, a[2] += w * c.b, a[3] += w * c.a;
        }
  FloatImage out(dw, dh);
  for (size_t k = 0; k < out.px.size(); ++k)
    out.px[k] = {float(acc[4 * k]), float(acc[4 * k + 1]), float(acc[4 * k + 2]), float(acc[4 * k + 3])};
  return out;
}

void expectImagesNear(FloatImage& a, FloatImage& b, float tolerance) {
  ASSERT_EQ(a.px.size(), b.px.size());
  for (size_t k = 0; k < a.px.size(); ++k) {
    ASSERT_NEAR(a.px[k].r, b.px[k].r, tolerance) << k;
    ASSERT_NEAR(a.px[k].g, b.px[k].g, tolerance) << k;
    ASSERT_NEAR(a.px[k].b, b.px[k].b, tolerance) << k;
    ASSERT_NEAR(a.px[k].a, b.px[k].a, tolerance) << k;
  }
}

struct ResampleCase {
  uint32_t sw, sh, dw, dh;
  bool mirror;
};
const ResampleCase kResampleCases[] = {{7, 5, 3, 9, false}, {7, 5, 3, 9, true}, {16, 16, 5, 5, false},
                                       {1, 3, 4, 2, false}, {3, 1, 9, 4, true}, {40, 30, 17, 23, false}};

TEST(LinearFilter, MatchesPerAxisReference) {
  for (const ResampleCase& c : kResampleCases) {
    SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << "->" << c.dw << "x" << c.dh << " mirror " << c.mirror);
    FloatImage img = randomImage(c.sw, c.sh, 1, c.sw + 100 * c.dh);
    FloatImage out(c.dw, c.dh);
    PixelRegion s = img.region(), d = out.region();
    ASSERT_EQ(BlitRegion(d, s, FilterLinear | (c.mirror ? FilterMirror : 0)), S_OK);
    FloatImage ref = referenceLinear(img, c.dw, c.dh, !c.mirror);
    expectImagesNear(out, ref, 1e-5f);
  }
}

TEST(TriangleFilter, MatchesWeightTableReference) {
  // Rows complete in an order set by the tents (with wrapping the first row
  // completes last), and their buffers are recycled: every row must still
  // be the weighted sum of its sources.
  for (const ResampleCase& c : kResampleCases) {
    SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << "->" << c.dw << "x" << c.dh << " mirror " << c.mirror);
    FloatImage img = randomImage(c.sw, c.sh, 1, c.sh + 100 * c.dw);
    FloatImage out(c.dw, c.dh);
    PixelRegion s = img.region(), d = out.region();
    ASSERT_EQ(BlitRegion(d, s, FilterTriangle | (c.mirror ? FilterMirror : 0)), S_OK);
    FloatImage ref = referenceTriangle(img, c.dw, c.dh, !c.mirror);
    expectImagesNear(out, ref, 2e-5f);
  }
}

TEST(TriangleFilter, VolumeOfConstantColourStaysConstant) {
  FloatImage img(5, 4, 3);
  for (Color& c : img.px) c = {0.25f, 0.5f, 0.75f, 1.0f};
  for (bool mirror : {false, true}) {
    FloatImage out(3, 7, 2);
    PixelRegion s = img.region(), d = out.region();
    int chosen = -1;
    ASSERT_EQ(blitChoosing(d, s, FilterTriangle | (mirror ? FilterMirror : 0), &chosen), S_OK);
    EXPECT_EQ(chosen, kStrategyTriangle3D);
    for (const Color& c : out.px) expectColor(c, 0.25f, 0.5f, 0.75f, 1.0f, 1e-5f);
  }
}

TEST(TriangleFilter, CompletedRowsClampedBySourceRange) {
  // An unsigned source never yields values above 1 in a float destination,
  // even where the weights add up to slightly more than 1.
  std::vector<uint8_t> src(7 * 5, 255);
  FloatImage out(3, 9);
  PixelRegion s = region(src.data(), D3DFMT_L8, 7, 7, 5), d = out.region();
  ASSERT_EQ(BlitRegion(d, s, FilterTriangle), S_OK);
  for (const Color& c : out.px) {
    EXPECT_LE(c.r, 1.0f);
    EXPECT_NEAR(c.r, 1.0f, 1e-5f);
  }
  // A float source is not clamped.
  FloatImage big(4, 4);
  for (Color& c : big.px) c = {3, -2, 0.5f, 7};
  FloatImage small(3, 3);
  PixelRegion s2 = big.region(), d2 = small.region();
  ASSERT_EQ(BlitRegion(d2, s2, FilterTriangle), S_OK);
  for (const Color& c : small.px) expectColor(c, 3, -2, 0.5f, 7, 1e-4f);
}

TEST(LinearFilter, VolumeInterpolatesAlongDepth) {
  FloatImage img(1, 1, 2);
  img.at(0, 0, 0) = {0, 0, 0, 0};
  img.at(0, 0, 1) = {1, 1, 1, 1};
  FloatImage out(1, 1, 4);
  PixelRegion s = img.region(), d = out.region();
  int chosen = -1;
  ASSERT_EQ(blitChoosing(d, s, FilterLinear | FilterMirrorW, &chosen), S_OK);
  EXPECT_EQ(chosen, kStrategyLinear3D);
  const float expected[4] = {0.0f, 0.25f, 0.75f, 1.0f};
  for (uint32_t z = 0; z < 4; ++z) EXPECT_NEAR(out.at(0, 0, z).r, expected[z], 1e-6f) << z;
}

}  // namespace
}  // namespace nerro::texture
