// Frames through the fifteen exports, with host bitmaps reached by their
// handles: the picture lands where the camera puts it, bottom row first,
// textures come from loadTexture, and a lost device leaves the host alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "api/context.h"
#include "d3d9/software_adapter.h"
#include "nerroPolygon.h"
#include "renderer/polygon_set.h"
#include "../support/host_bitmap.h"

namespace {

constexpr int kWidth = 544;
constexpr int kHeight = 416;
constexpr uint32_t kSentinel = 0xABABABABu;

// Host bitmaps that start filled with kSentinel, so pixels left alone show.
class HostBitmap : public nerro::testing::HostBitmap {
 public:
  HostBitmap(int width, int height) : nerro::testing::HostBitmap(width, height) {
    if (ok()) fill(kSentinel);
  }
};

double yScale() { return 1.0 / std::tan(0.78539819 / 2); }
float worldX(double x) { return static_cast<float>((2.0 * x / kWidth - 1.0) * 580.0 * kWidth / (kHeight * yScale())); }
float worldY(double y) { return static_cast<float>((1.0 - 2.0 * y / kHeight) * 580.0 / yScale()); }

class FrameExports : public ::testing::Test {
 protected:
  void SetUp() override {
    nerro::d3d9::resetAdapter();
    setWindowSize(kWidth, kHeight);
    ASSERT_EQ(create(), 1);
    ASSERT_TRUE(frame.ok());
  }
  void TearDown() override {
    dispose();
    EXPECT_EQ(nerro::d3d9::liveObjectCount(), 0u);
    nerro::d3d9::resetAdapter();
  }
  // A quad whose edges lie on the screen lines given.
  uint32_t rect(double left, double top, double right, double bottom) {
    const float c[8] = {worldX(left), worldY(top), worldX(left), worldY(bottom),
                        worldX(right), worldY(top), worldX(right), worldY(bottom)};
    return makePolygon(1, c);
  }
  int32_t paint() { return drawPaint(frame.handle(), kWidth, kHeight); }

  HostBitmap frame{kWidth, kHeight};
};

TEST_F(FrameExports, EmptyFrameIsAllZeroBytes) {
  ASSERT_EQ(paint(), 0);
  for (size_t i = 0; i < static_cast<size_t>(kWidth) * kHeight; ++i) ASSERT_EQ(frame.pixels()[i], 0u) << i;
}

// A 2 x 2 opaque texture loaded from a host bitmap (bottom row first) on a
// quad covering pixel centres 101..200 and 51..150: each quarter shows its
// texel, the top-left texel at the top-left, the picture bottom row first.
TEST_F(FrameExports, LoadedTextureLandsWhereTheCameraSays) {
  HostBitmap texture(2, 2);
  ASSERT_TRUE(texture.ok());
  const uint32_t topLeft = 0xFF102030u, topRight = 0xFF405060u, bottomLeft = 0xFF708090u, bottomRight = 0xFFA0B0C0u;
  const uint32_t bottomUp[4] = {bottomLeft, bottomRight, topLeft, topRight};
  std::memcpy(texture.pixels(), bottomUp, sizeof bottomUp);
  ASSERT_EQ(loadTexture("grid", texture.handle(), 2, 2), 1);
  const uint32_t id = rect(100.5, 50.5, 200.5, 150.5);
  ASSERT_NE(id, 0u);
  const float uv[8] = {0, 0, 0, 1, 1, 0, 1, 1};
  ASSERT_EQ(setupTextures(id, "grid", 0, uv), 1);
  ASSERT_EQ(paint(), 0);

  EXPECT_EQ(frame.at(101, 51), topLeft);
  EXPECT_EQ(frame.at(150, 100), topLeft);
  EXPECT_EQ(frame.at(151, 51), topRight);
  EXPECT_EQ(frame.at(101, 101), bottomLeft);
  EXPECT_EQ(frame.at(200, 150), bottomRight);
  EXPECT_EQ(frame.at(100, 100), 0u);
  EXPECT_EQ(frame.at(201, 100), 0u);
  EXPECT_EQ(frame.at(150, 50), 0u);
  EXPECT_EQ(frame.at(150, 151), 0u);
  // Back-buffer row 51 is host row 416 - 1 - 51.
  EXPECT_EQ(frame.pixels()[static_cast<size_t>(kHeight - 1 - 51) * kWidth + 101], topLeft);

  // Transforms through the exports: turned half a turn about Z around the
  // quad's own origin and moved so that the picture comes back upside down
  // in the same place.
  const float half = static_cast<float>(M_PI);
  const float back[3] = {worldX(100.5) + worldX(200.5), worldY(50.5) + worldY(150.5), 0};
  setupRotZ(id, &half, 0);
  setupTranslate(id, back, 0);
  ASSERT_EQ(paint(), 0);
  EXPECT_EQ(frame.at(110, 60), bottomRight);
  EXPECT_EQ(frame.at(190, 140), topLeft);
}

// A polygon keeps drawing the texture it was given after the texture list
// lets go of it (clearTextures) and across a device reset, and the texture
// object lives exactly as long as a polygon holds it.
TEST_F(FrameExports, PolygonKeepsItsTextureAfterClearAndReset) {
  HostBitmap texture(1, 1);
  ASSERT_TRUE(texture.ok());
  texture.pixels()[0] = 0xFF336699u;
  const uint32_t before = nerro::d3d9::liveObjectCount();
  ASSERT_EQ(loadTexture("one", texture.handle(), 1, 1), 1);
  const uint32_t id = rect(100.5, 100.5, 200.5, 200.5);
  const float uv[8] = {0, 0, 0, 1, 1, 0, 1, 1};
  ASSERT_EQ(setupTextures(id, "one", 0, uv), 1);
  ASSERT_EQ(clearTextures(), 1);
  EXPECT_EQ(setupTextures(id, "one", 0, uv), 0);
  ASSERT_EQ(paint(), 0);
  EXPECT_EQ(frame.at(150, 150), 0xFF336699u);

  nerro::d3d9::loseDevice(0);
  ASSERT_EQ(paint(), 0);
  EXPECT_EQ(frame.at(150, 150), 0xFF336699u);

  disposePolygon(id);
  ASSERT_EQ(paint(), 0);
  EXPECT_EQ(frame.at(150, 150), 0u);
  // The device may still hold the texture bound to stage 0; a reset drops
  // that too, and then nothing of it is left.
  nerro::d3d9::loseDevice(0);
  ASSERT_EQ(paint(), 0);
  EXPECT_EQ(nerro::d3d9::liveObjectCount(), before);
}

TEST_F(FrameExports, LostDeviceLeavesTheHostBufferAndDisposedPolygonsAlone) {
  const uint32_t kept = rect(10.5, 10.5, 20.5, 20.5);
  const uint32_t gone = rect(30.5, 10.5, 40.5, 20.5);
  disposePolygon(gone);
  nerro::d3d9::loseDevice(1);
  EXPECT_EQ(paint(), static_cast<int32_t>(E_FAIL));
  EXPECT_EQ(frame.pixels()[0], kSentinel);
  EXPECT_EQ(frame.at(15, 15), kSentinel);
  EXPECT_NE(nerro::api::context()->polygonTable.find(gone), nullptr);

  EXPECT_EQ(paint(), 0);  // resettable now: reset and drawn in the same call
  EXPECT_EQ(frame.at(15, 15), 0xFFFFFFFFu);
  EXPECT_EQ(frame.at(35, 15), 0u);
  EXPECT_EQ(nerro::api::context()->polygonTable.find(gone), nullptr);
  EXPECT_NE(nerro::api::context()->polygonTable.find(kept), nullptr);

  clearPolygons();
  EXPECT_EQ(rect(0, 0, 1, 1), 1u);
}

}  // namespace
