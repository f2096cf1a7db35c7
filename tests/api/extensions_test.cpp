#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "d3d9/software_adapter.h"
#include "nerroPolygon.h"

namespace {

class Extensions : public ::testing::Test {
 protected:
  void SetUp() override { d3d9Reset(); }
  void TearDown() override {
    dispose();
    EXPECT_EQ(nerro::d3d9::liveObjectCount(), 0u);
    d3d9Reset();
  }
  static void d3d9Reset() { nerro::d3d9::resetAdapter(); }
};

TEST_F(Extensions, LoadFromPixelsAndFromImageFiles) {
  std::vector<uint32_t> pixels(8 * 4, 0x80402010u);
  EXPECT_EQ(loadTexturePixels("pixels", pixels.data(), 8, 4), 1);
  EXPECT_EQ(loadTexturePixels("pixels", nullptr, 8, 4), 0);
  EXPECT_EQ(loadTexturePixels("pixels", pixels.data(), 0, 4), 0);
  EXPECT_EQ(loadTexturePixels("pixels", pixels.data(), 0x10000, 0x10000), 0);  // size past 32 bits

  const std::string ppm = "P6\n2 2\n255\n" + std::string(12, '\x7f');
  EXPECT_EQ(loadTextureImage("ppm", ppm.data(), static_cast<uint32_t>(ppm.size())), 1);
  EXPECT_EQ(loadTextureImage("bad", "not an image", 12), 0);
  EXPECT_EQ(loadTextureImage("none", nullptr, 12), 0);
  EXPECT_EQ(clearTextures(), 1);
}

TEST_F(Extensions, DrawIntoPixelsByPointer) {
  std::vector<uint32_t> frame(32 * 16, 0xDEADBEEFu);
  setWindowSize(32, 16);
  ASSERT_EQ(drawPaintPixels(frame.data(), 32, 16), S_OK);
  for (uint32_t p : frame) ASSERT_EQ(p, 0u);  // the empty frame is cleared to zero
  EXPECT_EQ(drawPaintPixels(nullptr, 32, 16), static_cast<int32_t>(E_FAIL));
  EXPECT_EQ(drawPaintPixels(frame.data(), -1, 16), static_cast<int32_t>(E_FAIL));
  setWindowSize(544, 416);
}

TEST_F(Extensions, FailWithoutAContext) {
  nerro::d3d9::selectAdapterProfile(nerro::d3d9::AdapterProfile::noDirect3D());
  std::vector<uint32_t> pixels(4, 0);
  EXPECT_EQ(loadTexturePixels("p", pixels.data(), 2, 2), 0);
  EXPECT_EQ(loadTextureImage("p", pixels.data(), 16), 0);
  EXPECT_EQ(drawPaintPixels(pixels.data(), 2, 2), static_cast<int32_t>(E_FAIL));
}

}  // namespace
