#include "texture/mip_generation.h"

#include <gtest/gtest.h>

#include "texture/surface_loading.h"
#include "texture_test_device.h"

namespace nerro::texture {
namespace {

using test_support::ComPtr;
using test_support::pattern;

class MipGeneration : public test_support::DeviceTest {
 protected:
  // A texture whose level 0 holds `px`.
  ComPtr<IDirect3DTexture9> filled(uint32_t w, uint32_t h, uint32_t levels, const std::vector<uint32_t>& px) {
    auto t = texture(w, h, levels, D3DFMT_A8R8G8B8);
    writePixels32(level(t.get(), 0).get(), px);
    return t;
  }

  // Each level filled by hand from `sourceLevel` of the same texture.
  std::vector<std::vector<uint32_t>> byHand(IDirect3DTexture9* t, FilterOptions filter, bool chain) {
    std::vector<std::vector<uint32_t>> levels;
    for (uint32_t i = 1; i < t->GetLevelCount(); ++i) {
      auto dest = level(t, i), source = level(t, chain ? i - 1 : 0);
      EXPECT_EQ(FillSurfaceFromSurface(dest.get(), nullptr, nullptr, source.get(), nullptr, nullptr, filter, 0), S_OK);
      levels.push_back(pixels32(dest.get()));
    }
    return levels;
  }

  std::vector<std::vector<uint32_t>> levelsOf(IDirect3DTexture9* t) {
    std::vector<std::vector<uint32_t>> levels;
    for (uint32_t i = 1; i < t->GetLevelCount(); ++i) levels.push_back(pixels32(level(t, i).get()));
    return levels;
  }
};

uint32_t boxAverage(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const uint32_t sum = ((a >> shift) & 255) + ((b >> shift) & 255) + ((c >> shift) & 255) + ((d >> shift) & 255) + 2;
    out |= (sum >> 2) << shift;
  }
  return out;
}

TEST_F(MipGeneration, PowerOfTwoDefaultChainsBoxHalvings) {
  auto t = filled(256, 256, 9, pattern(256 * 256, 21));
  ASSERT_EQ(GenerateMipLevels(t.get(), nullptr, 0, FilterDefault), S_OK);
  auto above = pixels32(level(t.get(), 0).get());
  for (uint32_t i = 1, size = 128; i < 9; ++i, size /= 2) {
    const auto got = pixels32(level(t.get(), i).get());
    ASSERT_EQ(got.size(), size_t(size) * size);
    const uint32_t w = 2 * size;
    for (uint32_t y = 0; y < size; ++y)
      for (uint32_t x = 0; x < size; ++x) {
        const uint32_t* r0 = &above[size_t(2 * y) * w + 2 * x];
        ASSERT_EQ(got[y * size + x], boxAverage(r0[0], r0[1], r0[w], r0[w + 1])) << "level " << i;
      }
    above = got;
  }
}

TEST_F(MipGeneration, OtherSizesDefaultToDitheredTriangleFromTheSource) {
  const auto px = pattern(100 * 60, 23);
  auto t = filled(100, 60, 7, px), reference = filled(100, 60, 7, px);
  ASSERT_EQ(GenerateMipLevels(t.get(), nullptr, kMipSourceLevelDefault, FilterDefault), S_OK);
  EXPECT_EQ(levelsOf(t.get()), byHand(reference.get(), FilterTriangle | FilterDither, false));
}

TEST_F(MipGeneration, LinearMakesEveryLevelFromTheSourceLevel) {
  const auto px = pattern(64 * 32, 25);
  auto t = filled(64, 32, 7, px), reference = filled(64, 32, 7, px), chained = filled(64, 32, 7, px);
  ASSERT_EQ(GenerateMipLevels(t.get(), nullptr, 0, FilterLinear), S_OK);
  const auto fromSource = byHand(reference.get(), FilterLinear, false);
  EXPECT_EQ(levelsOf(t.get()), fromSource);
  EXPECT_NE(fromSource.back(), byHand(chained.get(), FilterLinear, true).back());
  // Point chains like box.
  auto p = filled(64, 32, 7, px), pointReference = filled(64, 32, 7, px);
  ASSERT_EQ(GenerateMipLevels(p.get(), nullptr, 0, FilterPoint), S_OK);
  EXPECT_EQ(levelsOf(p.get()), byHand(pointReference.get(), FilterPoint, true));
}

TEST_F(MipGeneration, SourceLevelBounds) {
  auto t = filled(8, 8, 4, pattern(64, 27));
  const auto before = levelsOf(t.get());
  EXPECT_EQ(GenerateMipLevels(t.get(), nullptr, 3, FilterBox), S_OK);  // the last level: nothing to fill
  EXPECT_EQ(levelsOf(t.get()), before);
  EXPECT_EQ(GenerateMipLevels(t.get(), nullptr, 4, FilterBox), D3DERR_INVALIDCALL);
  EXPECT_EQ(GenerateMipLevels(nullptr, nullptr, 0, FilterBox), D3DERR_INVALIDCALL);
  // From level 1: level 1 itself is kept.
  EXPECT_EQ(GenerateMipLevels(t.get(), nullptr, 1, FilterBox), S_OK);
  EXPECT_EQ(levelsOf(t.get())[0], before[0]);
}

TEST_F(MipGeneration, GammaFlagsTravelTogether) {
  const auto px = pattern(16 * 16, 29);
  auto outOnly = filled(16, 16, 5, px), both = filled(16, 16, 5, px), inOnly = filled(16, 16, 5, px),
       plain = filled(16, 16, 5, px);
  ASSERT_EQ(GenerateMipLevels(outOnly.get(), nullptr, 0, FilterTriangle | FilterSrgbOut), S_OK);
  ASSERT_EQ(GenerateMipLevels(both.get(), nullptr, 0, FilterTriangle | FilterSrgbOut | FilterSrgbIn), S_OK);
  ASSERT_EQ(GenerateMipLevels(inOnly.get(), nullptr, 0, FilterTriangle | FilterSrgbIn), S_OK);
  ASSERT_EQ(GenerateMipLevels(plain.get(), nullptr, 0, FilterTriangle), S_OK);
  EXPECT_EQ(levelsOf(outOnly.get()), levelsOf(both.get()));
  EXPECT_EQ(levelsOf(inOnly.get()), levelsOf(plain.get()));
  EXPECT_NE(levelsOf(both.get()), levelsOf(plain.get()));
}

TEST_F(MipGeneration, CubeFacesAllFilteredWithMirroring) {
  ComPtr<IDirect3DCubeTexture9> cube;
  ASSERT_EQ(device_->CreateCubeTexture(6, 3, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, cube.put(), nullptr), S_OK);
  for (uint32_t f = 0; f < 6; ++f) {
    ComPtr<IDirect3DSurface9> s;
    ASSERT_EQ(cube->GetCubeMapSurface(D3DCUBEMAP_FACES(f), 0, s.put()), S_OK);
    writePixels32(s.get(), pattern(36, 31 + f));
  }
  ASSERT_EQ(GenerateMipLevels(cube.get(), nullptr, 0, FilterTriangle), S_OK);
  for (uint32_t f = 0; f < 6; ++f) {
    ComPtr<IDirect3DSurface9> top, generated;
    ASSERT_EQ(cube->GetCubeMapSurface(D3DCUBEMAP_FACES(f), 0, top.put()), S_OK);
    ASSERT_EQ(cube->GetCubeMapSurface(D3DCUBEMAP_FACES(f), 1, generated.put()), S_OK);
    auto mirrored = texture(3, 3, 1, D3DFMT_A8R8G8B8), wrapped = texture(3, 3, 1, D3DFMT_A8R8G8B8);
    auto m = level(mirrored.get(), 0), w = level(wrapped.get(), 0);
    ASSERT_EQ(FillSurfaceFromSurface(m.get(), nullptr, nullptr, top.get(), nullptr, nullptr, FilterTriangle | FilterMirror, 0), S_OK);
    ASSERT_EQ(FillSurfaceFromSurface(w.get(), nullptr, nullptr, top.get(), nullptr, nullptr, FilterTriangle, 0), S_OK);
    EXPECT_EQ(pixels32(generated.get()), pixels32(m.get())) << "face " << f;
    EXPECT_NE(pixels32(generated.get()), pixels32(w.get())) << "face " << f;
  }
}

TEST_F(MipGeneration, VolumeChainAveragesEightVoxels) {
  ComPtr<IDirect3DVolumeTexture9> t;
  ASSERT_EQ(device_->CreateVolumeTexture(4, 4, 4, 3, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.put(), nullptr), S_OK);
  const auto px = pattern(64, 37);
  {
    D3DLOCKED_BOX lb;
    ASSERT_EQ(t->LockBox(0, &lb, nullptr, 0), S_OK);
    for (uint32_t z = 0; z < 4; ++z)
      for (uint32_t y = 0; y < 4; ++y)
        std::memcpy(static_cast<uint8_t*>(lb.pBits) + z * lb.SlicePitch + y * lb.RowPitch, &px[(z * 4 + y) * 4], 16);
    t->UnlockBox(0);
  }
  ASSERT_EQ(GenerateMipLevels(t.get(), nullptr, 0, FilterDefault), S_OK);
  D3DLOCKED_BOX lb;
  ASSERT_EQ(t->LockBox(1, &lb, nullptr, D3DLOCK_READONLY), S_OK);
  uint32_t got;
  std::memcpy(&got, lb.pBits, 4);  // voxel (0, 0, 0) of level 1
  t->UnlockBox(1);
  for (int shift = 0; shift < 32; shift += 8) {
    float sum = 0;
    for (uint32_t z : {0u, 1u})
      for (uint32_t y : {0u, 1u})
        for (uint32_t x : {0u, 1u}) sum += float((px[(z * 4 + y) * 4 + x] >> shift) & 255);
    EXPECT_NEAR(float((got >> shift) & 255), sum / 8, 0.51f) << shift;
  }
}

TEST_F(MipGeneration, FailuresReleaseEverything) {
  auto t = filled(16, 16, 5, pattern(256, 41));
  // Every lock fails, the copies too: the first fill fails and its code comes back.
  d3d9::injectFault(d3d9::FaultPoint::Lock, 1000);
  EXPECT_EQ(GenerateMipLevels(t.get(), nullptr, 0, FilterBox), D3DERR_INVALIDCALL);
  d3d9::clearFaults();
  // A failure part-way leaves the levels already made.
  d3d9::injectFault(d3d9::FaultPoint::Lock, 1000, 4);
  EXPECT_EQ(GenerateMipLevels(t.get(), nullptr, 0, FilterBox), D3DERR_INVALIDCALL);
  d3d9::clearFaults();
  auto reference = filled(16, 16, 5, pixels32(level(t.get(), 0).get()));
  EXPECT_EQ(levelsOf(t.get())[0], byHand(reference.get(), FilterBox, true)[0]);
}

}  // namespace
}  // namespace nerro::texture
