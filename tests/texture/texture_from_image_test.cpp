#include "texture/texture_from_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "../support/bmp_file.h"
#include "../support/test_device.h"
#include "d3d9/com_ptr.h"

namespace nerro::texture {
namespace {

using d3d9::AdapterProfile;
using d3d9::ComPtr;
using testing::makeBmp;
using testing::TestDevice;

// A deterministic 32-bit image, top-down, B G R A bytes; alpha nonzero.
std::vector<uint8_t> patternPixels(uint32_t w, uint32_t h, bool withAlpha) {
  std::vector<uint8_t> p(w * h * 4);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* q = &p[(y * w + x) * 4];
      q[0] = static_cast<uint8_t>(x * 7 + y * 3);
      q[1] = static_cast<uint8_t>(x * 5 ^ y * 11);
      q[2] = static_cast<uint8_t>(x + y * 13);
      q[3] = withAlpha ? static_cast<uint8_t>(128 + (x + y) % 100) : 0;
    }
  return p;
}

// The texture list's call: explicit size, full chain, A8R8G8B8, managed,
// linear filters, no colour key.
HRESULT makeLikeTextureList(IDirect3DDevice9* device, const std::vector<uint8_t>& bmp, uint32_t w, uint32_t h,
                            ComPtr<IDirect3DTexture9>& out) {
  return MakeTextureFromImage(device, bmp.data(), static_cast<uint32_t>(bmp.size()), w, h, 0, 0, D3DFMT_A8R8G8B8,
                              D3DPOOL_MANAGED, FilterLinear, FilterLinear, 0, nullptr, nullptr, out.put());
}

struct LevelPixels {
  uint32_t width = 0, height = 0;
  std::vector<uint32_t> argb;
  uint32_t at(uint32_t x, uint32_t y) const { return argb[y * width + x]; }
};

LevelPixels readLevel(IDirect3DTexture9* texture, uint32_t level) {
  LevelPixels out;
  D3DSURFACE_DESC desc{};
  EXPECT_EQ(texture->GetLevelDesc(level, &desc), S_OK);
  out.width = desc.Width;
  out.height = desc.Height;
  D3DLOCKED_RECT locked{};
  EXPECT_EQ(texture->LockRect(level, &locked, nullptr, D3DLOCK_READONLY), S_OK);
  out.argb.resize(size_t{desc.Width} * desc.Height);
  for (uint32_t y = 0; y < desc.Height; ++y)
    std::memcpy(&out.argb[y * desc.Width], static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch, desc.Width * 4);
  texture->UnlockRect(level);
  return out;
}

uint32_t imagePixel(const std::vector<uint8_t>& topDown, uint32_t w, uint32_t x, uint32_t y) {
  uint32_t v;
  std::memcpy(&v, &topDown[(y * w + x) * 4], 4);
  return v;
}

// Mean of the channel `shift` of the given image pixels.
double channelMean(const std::vector<uint32_t>& pixels, int shift) {
  double sum = 0;
  for (uint32_t p : pixels) sum += (p >> shift) & 0xFF;
  return sum / pixels.size();
}

void expectNear(uint32_t actual, double r, double g, double b, double a, const char* what) {
  EXPECT_NEAR((actual >> 16) & 0xFF, r, 1.0) << what;
  EXPECT_NEAR((actual >> 8) & 0xFF, g, 1.0) << what;
  EXPECT_NEAR(actual & 0xFF, b, 1.0) << what;
  EXPECT_NEAR(actual >> 24, a, 1.0) << what;
}

class TextureFromImage : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d9::resetAdapter();
    baseline_ = d3d9::liveObjectCount();
  }
  void TearDown() override {
    EXPECT_EQ(d3d9::liveObjectCount(), baseline_) << "objects leaked";
    d3d9::resetAdapter();
  }
  uint32_t baseline_ = 0;
};

TEST_F(TextureFromImage, HostBitmapGivesFullChainWithTwoTapLevels) {
  const uint32_t w = 256, h = 128;
  const auto pixels = patternPixels(w, h, true);
  const auto bmp = makeBmp(w, h, 32, pixels);
  TestDevice device;
  ComPtr<IDirect3DTexture9> texture;
  ASSERT_EQ(makeLikeTextureList(device.get(), bmp, w, h, texture), S_OK);
  ASSERT_EQ(texture->GetLevelCount(), 9u);

  const LevelPixels level0 = readLevel(texture.get(), 0);
  ASSERT_EQ(level0.width, w);
  ASSERT_EQ(level0.height, h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) ASSERT_EQ(level0.at(x, y), imagePixel(pixels, w, x, y)) << x << "," << y;

  // Level 1 averages image columns 2x, 2x+1 and rows 2y, 2y+1; level 2
  // columns 4x+1, 4x+2 (and rows likewise) only.
  const LevelPixels level1 = readLevel(texture.get(), 1);
  const LevelPixels level2 = readLevel(texture.get(), 2);
  ASSERT_EQ(level1.width, 128u);
  ASSERT_EQ(level2.width, 64u);
  for (uint32_t y : {0u, 5u, 31u}) {
    for (uint32_t x : {0u, 17u, 63u}) {
      std::vector<uint32_t> taps1, taps2;
      for (uint32_t dy = 0; dy < 2; ++dy)
        for (uint32_t dx = 0; dx < 2; ++dx) {
          taps1.push_back(imagePixel(pixels, w, 2 * x + dx, 2 * y + dy));
          taps2.push_back(imagePixel(pixels, w, 4 * x + 1 + dx, 4 * y + 1 + dy));
        }
      expectNear(level1.at(x, y), channelMean(taps1, 16), channelMean(taps1, 8), channelMean(taps1, 0),
                 channelMean(taps1, 24), "level 1");
      expectNear(level2.at(x, y), channelMean(taps2, 16), channelMean(taps2, 8), channelMean(taps2, 0),
                 channelMean(taps2, 24), "level 2");
    }
  }
}

TEST_F(TextureFromImage, ZeroAlphaBitmapBecomesOpaque) {
  const auto pixels = patternPixels(8, 4, false);
  TestDevice device;
  ComPtr<IDirect3DTexture9> texture;
  ASSERT_EQ(makeLikeTextureList(device.get(), makeBmp(8, 4, 32, pixels), 8, 4, texture), S_OK);
  const LevelPixels level0 = readLevel(texture.get(), 0);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 8; ++x) EXPECT_EQ(level0.at(x, y), imagePixel(pixels, 8, x, y) | 0xFF000000u);
}

TEST_F(TextureFromImage, SizesOnPowerOfTwoDevice) {
  const auto bmp = makeBmp(100, 60, 32, patternPixels(100, 60, true));
  TestDevice device(AdapterProfile::pow2());
  struct Case {
    uint32_t width, height;
    HRESULT result;
    uint32_t levels, fitWidth, fitHeight;
  } cases[] = {
      {100, 60, S_OK, 8, 128, 64},
      {0, 0, S_OK, 8, 128, 64},
      {UseImageSize, UseImageSize, S_OK, 8, 128, 64},
      {UseImageValue, UseImageValue, D3DERR_NOTAVAILABLE, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    ComPtr<IDirect3DTexture9> texture;
    EXPECT_EQ(MakeTextureFromImage(device.get(), bmp.data(), static_cast<uint32_t>(bmp.size()), c.width, c.height, 0,
                                   0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, FilterLinear, FilterLinear, 0, nullptr,
                                   nullptr, texture.put()),
              c.result);
    if (c.result != S_OK) {
      EXPECT_FALSE(texture);
      continue;
    }
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Width, c.fitWidth);
    EXPECT_EQ(desc.Height, c.fitHeight);
    EXPECT_EQ(texture->GetLevelCount(), c.levels);
  }
  // Without the power-of-two rule the image size is kept by UseImageValue.
  TestDevice plain;
  ComPtr<IDirect3DTexture9> texture;
  ASSERT_EQ(MakeTextureFromImage(plain.get(), bmp.data(), static_cast<uint32_t>(bmp.size()), UseImageValue,
                                 UseImageValue, UseImageValue, 0, static_cast<D3DFORMAT>(UseImageValue),
                                 D3DPOOL_MANAGED, FilterNone, FilterBox, 0, nullptr, nullptr, texture.put()),
            S_OK);
  EXPECT_EQ(texture->GetLevelCount(), 1u);
}

std::vector<PALETTEENTRY> greyRamp() {
  std::vector<PALETTEENTRY> p(256);
  for (uint32_t i = 0; i < 256; ++i) p[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 255};
  return p;
}

TEST_F(TextureFromImage, PaletteRules) {
  std::vector<uint8_t> indices(16 * 4);
  for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint8_t>(i * 3);
  indices[1] = 5;
  TestDevice device;

  // A grey-ramp palette reads as L8.
  const auto grey = makeBmp(16, 4, 8, indices, greyRamp());
  ComPtr<IDirect3DTexture9> texture;
  image::ImageInfo info{};
  ASSERT_EQ(MakeTextureFromImage(device.get(), grey.data(), static_cast<uint32_t>(grey.size()), 0, 0, 1, 0,
                                 D3DFMT_UNKNOWN, D3DPOOL_MANAGED, FilterNone, FilterBox, 0, &info, nullptr,
                                 texture.put()),
            S_OK);
  EXPECT_EQ(info.format, D3DFMT_P8);
  D3DSURFACE_DESC desc{};
  texture->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Format, D3DFMT_L8);

  // Any other palette: X8R8G8B8; a colour key naming entry 5 makes it
  // transparent black and the texture A8R8G8B8.
  std::vector<PALETTEENTRY> colours(256);
  for (uint32_t i = 0; i < 256; ++i) colours[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 255};
  const auto coloured = makeBmp(16, 4, 8, indices, colours);
  const auto argbOf = [](const PALETTEENTRY& e) {
    return 0xFF000000u | uint32_t{e.peRed} << 16 | uint32_t{e.peGreen} << 8 | e.peBlue;
  };
  const D3DCOLOR key5 = argbOf(colours[5]);
  for (D3DCOLOR key : {D3DCOLOR{0}, key5}) {
    SCOPED_TRACE(key);
    ComPtr<IDirect3DTexture9> t;
    ASSERT_EQ(MakeTextureFromImage(device.get(), coloured.data(), static_cast<uint32_t>(coloured.size()), 0, 0, 1,
                                   0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, FilterNone, FilterBox, key, nullptr, nullptr,
                                   t.put()),
              S_OK);
    t->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, key ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8);
    const LevelPixels level0 = readLevel(t.get(), 0);
    // X8R8G8B8 leaves the top byte unspecified: compare colour only there.
    const uint32_t mask = key ? 0xFFFFFFFFu : 0x00FFFFFFu;
    EXPECT_EQ(level0.at(15, 0) & mask, argbOf(colours[45]) & mask);
    EXPECT_EQ(level0.at(1, 0) & mask, key ? 0u : argbOf(colours[5]) & mask);
  }

  // With a palette argument the palettised format is kept for the device to
  // substitute (A8R8G8B8 here), and the caller's palette carries the key.
  PALETTEENTRY out[256];
  ComPtr<IDirect3DTexture9> t;
  ASSERT_EQ(MakeTextureFromImage(device.get(), coloured.data(), static_cast<uint32_t>(coloured.size()), 0, 0, 1, 0,
                                 D3DFMT_UNKNOWN, D3DPOOL_MANAGED, FilterNone, FilterBox, key5, nullptr, out, t.put()),
            S_OK);
  EXPECT_EQ(out[5].peFlags, 0);
  EXPECT_EQ(out[5].peRed, 0);
  EXPECT_EQ(out[6].peFlags, 255);
  EXPECT_EQ(readLevel(t.get(), 0).at(1, 0), 0u);
}

TEST_F(TextureFromImage, DefaultPoolIsFilledThroughStaging) {
  const auto pixels = patternPixels(16, 16, true);
  const auto bmp = makeBmp(16, 16, 32, pixels);
  TestDevice device;
  ComPtr<IDirect3DTexture9> texture;
  ASSERT_EQ(MakeTextureFromImage(device.get(), bmp.data(), static_cast<uint32_t>(bmp.size()), 16, 16, 0, 0,
                                 D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, FilterLinear, FilterBox, 0, nullptr, nullptr,
                                 texture.put()),
            S_OK);
  EXPECT_EQ(texture->GetLevelCount(), 5u);
  // The default-pool texture cannot be locked, so its contents came through
  // UpdateTexture from a system-memory copy; read them as the rasteriser does.
  D3DLOCKED_RECT locked{};
  EXPECT_LT(texture->LockRect(0, &locked, nullptr, 0), 0);
  uint32_t w = 0, h = 0;
  const uint32_t* texels = d3d9::decodedTexels(texture.get(), 0, &w, &h);
  ASSERT_NE(texels, nullptr);
  ASSERT_EQ(w, 16u);
  for (uint32_t y = 0; y < 16; ++y)
    for (uint32_t x = 0; x < 16; ++x) ASSERT_EQ(texels[y * 16 + x], imagePixel(pixels, 16, x, y));
}

TEST_F(TextureFromImage, FailuresReleaseEverything) {
  const auto bmp = makeBmp(32, 32, 32, patternPixels(32, 32, true));
  TestDevice device;
  const uint32_t withDevice = d3d9::liveObjectCount();
  struct Case {
    d3d9::FaultPoint point;
    uint32_t skip;
    D3DPOOL pool;
  } cases[] = {
      {d3d9::FaultPoint::CreateResource, 0, D3DPOOL_MANAGED},  // the texture
      {d3d9::FaultPoint::CreateResource, 1, D3DPOOL_DEFAULT},  // the staging texture
      {d3d9::FaultPoint::Lock, 0, D3DPOOL_MANAGED},            // level 0
      {d3d9::FaultPoint::Lock, 3, D3DPOOL_MANAGED},            // a later level
      {d3d9::FaultPoint::Copy, 0, D3DPOOL_DEFAULT},            // UpdateTexture
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.point) * 100 + c.skip);
    d3d9::clearFaults();
    d3d9::injectFault(c.point, 1000, c.skip);
    ComPtr<IDirect3DTexture9> texture;
    EXPECT_LT(MakeTextureFromImage(device.get(), bmp.data(), static_cast<uint32_t>(bmp.size()), 32, 32, 0, 0,
                                   D3DFMT_A8R8G8B8, c.pool, FilterLinear, FilterLinear, 0, nullptr, nullptr,
                                   texture.put()),
              0);
    EXPECT_GT(d3d9::faultsFired(c.point), 0u);
    EXPECT_FALSE(texture);
    EXPECT_EQ(d3d9::liveObjectCount(), withDevice);
  }
  d3d9::clearFaults();
  const uint8_t garbage[64] = {1, 2, 3};
  ComPtr<IDirect3DTexture9> texture;
  EXPECT_EQ(MakeTextureFromImage(device.get(), garbage, sizeof garbage, 0, 0, 0, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                 FilterDefault, FilterDefault, 0, nullptr, nullptr, texture.put()),
            ERR_INVALIDDATA);
  EXPECT_EQ(MakeTextureFromImage(nullptr, bmp.data(), 1, 0, 0, 0, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, FilterDefault,
                                 FilterDefault, 0, nullptr, nullptr, texture.put()),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(d3d9::liveObjectCount(), withDevice);
}

}  // namespace
}  // namespace nerro::texture
