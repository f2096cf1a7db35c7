// The shortcuts for 32-bit RGB sources against the general float path,
// byte for byte, on random pixels: the masked same-size copy, and the
// linear filter on downscales by two and by odd ratios, upscales, single rows and columns, wrapping and mirrored edges,
// source boxes inside a larger surface, and destinations of other formats
// and with dither, on both the AVX2 and the SSE2 loops. Float destinations
// keep every bit of the sums, so a difference of one unit in the last place
// shows there even where 8-bit rounding would hide it.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "texture/fast_paths.h"
#include "texture/surface_loading.h"

namespace nerro::texture {
namespace {

using pixel::PixelRegion;

struct Case {
  D3DFORMAT sourceFormat;
  uint32_t surfaceWidth, surfaceHeight;
  D3DBOX box;  // inside the surface
  uint32_t destWidth, destHeight;
  D3DFORMAT destFormat;
  FilterOptions filter;
};

uint32_t bytesOf(D3DFORMAT f) {
  return f == D3DFMT_R5G6B5 ? 2 : f == D3DFMT_A16B16G16R16F ? 8 : f == D3DFMT_A32B32G32R32F ? 16 : 4;
}

std::vector<uint8_t> run(const Case& c, const std::vector<uint8_t>& source, bool fast) {
  std::vector<uint8_t> dest(size_t(c.destWidth) * c.destHeight * bytesOf(c.destFormat) + 16, 0xCD);
  PixelRegion s;
  s.pixels = const_cast<uint8_t*>(source.data());
  s.format = c.sourceFormat;
  s.rowPitch = c.surfaceWidth * 4 + 12;  // rows padded past the pixels
  s.bounds = {0, 0, c.surfaceWidth, c.surfaceHeight, 0, 1};
  s.box = c.box;
  PixelRegion d;
  d.pixels = dest.data();
  d.format = c.destFormat;
  d.rowPitch = c.destWidth * bytesOf(c.destFormat);
  d.bounds = d.box = {0, 0, c.destWidth, c.destHeight, 0, 1};
  setFastPathsEnabled(fast);
  const HRESULT hr = BlitRegion(d, s, c.filter);
  setFastPathsEnabled(true);
  EXPECT_EQ(hr, S_OK);
  return dest;
}

std::string describe(const Case& c) {
  return std::to_string(c.box.Right - c.box.Left) + "x" + std::to_string(c.box.Bottom - c.box.Top) + " -> " +
         std::to_string(c.destWidth) + "x" + std::to_string(c.destHeight) + " format " +
         std::to_string(c.sourceFormat) + " to " + std::to_string(c.destFormat) + " filter " +
         std::to_string(c.filter);
}

class LinearFastPath : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    platform::CpuFeatures features = platform::cpuFeatures();
    if (!GetParam()) features.avx2 = false;
    else if (!features.avx2) GTEST_SKIP() << "no AVX2 here";
    platform::overrideCpuFeatures(features);
  }
  void TearDown() override { platform::overrideCpuFeatures(std::nullopt); }
};

TEST_P(LinearFastPath, MatchesTheFloatPathByteForByte) {
  constexpr D3DFORMAT A = D3DFMT_A8R8G8B8, X = D3DFMT_X8R8G8B8, F = D3DFMT_A32B32G32R32F;
  const Case cases[] = {
      {A, 64, 64, {0, 0, 64, 64, 0, 1}, 32, 32, F, FilterLinear},
      {A, 37, 23, {0, 0, 37, 23, 0, 1}, 13, 9, F, FilterLinear},
      {X, 38, 20, {0, 0, 38, 20, 0, 1}, 19, 10, F, FilterLinear},  // halving with a ragged end
      {A, 44, 20, {2, 1, 40, 19, 0, 1}, 19, 9, F, FilterLinear},
      {X, 5, 3, {0, 0, 5, 3, 0, 1}, 17, 11, F, FilterLinear | FilterMirror},
      {A, 40, 30, {3, 5, 33, 27, 0, 1}, 11, 7, F, FilterLinear | FilterMirrorV},
      {A, 64, 64, {0, 0, 64, 64, 0, 1}, 32, 32, A, FilterLinear},     // the texture builder's level 1
      {A, 38, 20, {0, 0, 38, 20, 0, 1}, 19, 10, A, FilterLinear},
      {A, 64, 64, {0, 0, 64, 64, 0, 1}, 8, 8, A, FilterLinear},       // level 3: taps far apart
      {X, 64, 64, {0, 0, 64, 64, 0, 1}, 32, 32, A, FilterLinear},     // X bytes read as opaque
      {A, 37, 23, {0, 0, 37, 23, 0, 1}, 13, 9, A, FilterLinear},      // odd ratios, ragged last vector
      {A, 5, 3, {0, 0, 5, 3, 0, 1}, 17, 11, A, FilterLinear},         // upscale: rows and taps shared
      {A, 5, 3, {0, 0, 5, 3, 0, 1}, 17, 11, A, FilterLinear | FilterMirror},
      {X, 40, 30, {3, 5, 33, 27, 0, 1}, 11, 7, X, FilterLinear | FilterMirrorU},  // box inside a surface
      {A, 1, 1, {0, 0, 1, 1, 0, 1}, 4, 3, A, FilterLinear},
      {A, 9, 1, {0, 0, 9, 1, 0, 1}, 4, 1, A, FilterLinear},
      {A, 1, 9, {0, 0, 1, 9, 0, 1}, 1, 5, A, FilterLinear | FilterMirrorV},
      {A, 50, 50, {0, 0, 50, 50, 0, 1}, 21, 19, A, FilterLinear | FilterDither},
      {A, 50, 50, {0, 0, 50, 50, 0, 1}, 21, 19, D3DFMT_R5G6B5, FilterLinear | FilterDither},
      {X, 50, 50, {0, 0, 50, 50, 0, 1}, 23, 17, D3DFMT_A16B16G16R16F, FilterLinear},
      {A, 50, 50, {0, 0, 50, 50, 0, 1}, 21, 19, A, FilterLinear | FilterDiffusionDither},
  };
  std::mt19937 rng(2024);
  for (const Case& c : cases) {
    std::vector<uint8_t> source(size_t(c.surfaceWidth * 4 + 12) * c.surfaceHeight);
    for (auto& b : source) b = static_cast<uint8_t>(rng());
    const auto fast = run(c, source, true), general = run(c, source, false);
    size_t first = 0;
    while (first < fast.size() && fast[first] == general[first]) ++first;
    EXPECT_EQ(first, fast.size()) << describe(c) << ": first differing byte";
  }
}

// Same-size conversions between the 32-bit formats with and without alpha
// are a masked copy: against decoding and encoding every row.
TEST(AlphaMaskFastPath, MatchesTheFloatPathByteForByte) {
  constexpr D3DFORMAT A = D3DFMT_A8R8G8B8, X = D3DFMT_X8R8G8B8;
  const Case cases[] = {
      {X, 37, 5, {0, 0, 37, 5, 0, 1}, 37, 5, A, FilterLinear},
      {A, 37, 5, {0, 0, 37, 5, 0, 1}, 37, 5, X, FilterPoint | FilterDither},
      {D3DFMT_X8B8G8R8, 8, 3, {0, 0, 8, 3, 0, 1}, 8, 3, D3DFMT_A8B8G8R8, FilterTriangle},
      {X, 20, 9, {3, 2, 16, 9, 0, 1}, 13, 7, A, FilterLinear | FilterDither},
      {A, 1, 1, {0, 0, 1, 1, 0, 1}, 1, 1, X, FilterBox},
  };
  std::mt19937 rng(77);
  for (const Case& c : cases) {
    std::vector<uint8_t> source(size_t(c.surfaceWidth * 4 + 12) * c.surfaceHeight);
    for (auto& b : source) b = static_cast<uint8_t>(rng());
    EXPECT_EQ(run(c, source, true), run(c, source, false)) << describe(c);
  }
}

INSTANTIATE_TEST_SUITE_P(Loops, LinearFastPath, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Avx2" : "Sse2"; });

// The shortcut must actually take the texture builder's common cases, and
// hand back the ones it cannot do exactly.
TEST(LinearFastPathRule, TakesPlain32BitSourcesOnly) {
  std::vector<uint32_t> pixels(16, 0x80402010u);
  const auto accepts = [&](D3DFORMAT format, FilterOptions filter, D3DCOLOR key) {
    PixelRegion r;
    r.pixels = pixels.data();
    r.format = format;
    r.rowPitch = 16;
    r.bounds = r.box = {0, 0, 4, 4, 0, 1};
    r.gamma = filter & FilterSrgbIn;
    r.colorKey = key;
    const auto codec = pixel::CreatePixelCodec(r);
    return codec && linearFromArgbAccepts(*codec);
  };
  EXPECT_TRUE(accepts(D3DFMT_A8R8G8B8, FilterLinear, 0));
  EXPECT_TRUE(accepts(D3DFMT_X8R8G8B8, FilterLinear, 0));
  EXPECT_FALSE(accepts(D3DFMT_A8R8G8B8, FilterLinear | FilterSrgbIn, 0));
  EXPECT_FALSE(accepts(D3DFMT_A8R8G8B8, FilterLinear, 0xFF804020u));
  EXPECT_FALSE(accepts(D3DFMT_A8B8G8R8, FilterLinear, 0));
  EXPECT_FALSE(accepts(D3DFMT_R5G6B5, FilterLinear, 0));
  setFastPathsEnabled(false);
  EXPECT_FALSE(accepts(D3DFMT_A8R8G8B8, FilterLinear, 0));
  setFastPathsEnabled(true);
}

}  // namespace
}  // namespace nerro::texture
