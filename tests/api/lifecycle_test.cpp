// The exports' common first step and the context's lifecycle, driven
// through adapter profiles, fault injection and the foreground window.
#include <gtest/gtest.h>

#include <cstring>

#include "api/context.h"
#include "d3d9/software_adapter.h"
#include "nerroPolygon.h"
#include "platform/platform.h"
#include "renderer/polygon_set.h"
#include "../support/host_bitmap.h"

namespace nerro::api {
namespace {

using d3d9::AdapterProfile;

class LifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d9::resetAdapter();
    platform::setForegroundWindowAvailable(true);
    setWindowSize(544, 416);
  }
  void TearDown() override {
    dispose();
    EXPECT_EQ(context(), nullptr);
    EXPECT_EQ(d3d9::liveObjectCount(), 0u) << "objects left after dispose";
    platform::setForegroundWindowAvailable(true);
    d3d9::resetAdapter();
    setWindowSize(544, 416);
  }
  static D3DSURFACE_DESC backBuffer() {
    D3DSURFACE_DESC desc{};
    IDirect3DSurface9* back = nullptr;
    EXPECT_NE(context(), nullptr);
    if (context() && context()->device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back) == S_OK) {
      back->GetDesc(&desc);
      back->Release();
    }
    return desc;
  }
};

TEST_F(LifecycleTest, CreateTwiceMakesOneDeviceAndDisposeTwiceIsHarmless) {
  dispose();  // without a context: nothing happens
  EXPECT_EQ(create(), 1);
  EXPECT_EQ(create(), 1);
  EXPECT_EQ(d3d9::callCounts().devicesMade, 1u);
  EXPECT_EQ(d3d9::callCounts().direct3DCreate, 1u);
  dispose();
  EXPECT_EQ(d3d9::liveObjectCount(), 0u);
  dispose();
}

TEST_F(LifecycleTest, WithoutAForegroundWindowEveryExportFailsAndALaterCallRetries) {
  platform::setForegroundWindowAvailable(false);
  const float corners[8] = {0, 0, 1, 0, 0, 1, 1, 1};
  EXPECT_EQ(create(), 0);
  EXPECT_EQ(drawPaint(0x1000, 4, 4), static_cast<int32_t>(E_FAIL));
  EXPECT_EQ(makePolygon(1, corners), 0u);
  EXPECT_EQ(loadTexture("t", 0x1000, 4, 4), 0);
  EXPECT_EQ(setupTextures(1, "t", 0, corners), 0);
  EXPECT_EQ(clearTextures(), 0);
  EXPECT_EQ(clearPolygons(), 0);
  EXPECT_EQ(context(), nullptr);
  EXPECT_EQ(d3d9::liveObjectCount(), 0u) << "a failed creation leaves nothing behind";
  // Each of these calls tried a whole creation: 24 CreateDevice calls each.
  EXPECT_EQ(d3d9::callCounts().createDevice, 7u * 24u);

  platform::setForegroundWindowAvailable(true);
  EXPECT_EQ(clearTextures(), 1) << "the next call makes the context";
  EXPECT_NE(context(), nullptr);
}

TEST_F(LifecycleTest, FailedCreationsLeaveNoObjectOnAnyPath) {
  struct Case {
    const char* what;
    AdapterProfile profile;
    uint32_t createFaults;
  };
  const Case cases[] = {
      {"no Direct3D", AdapterProfile::noDirect3D(), 0},
      {"no device of any type", AdapterProfile::noDevice(), 0},
      {"every creation call fails", AdapterProfile::desktop(), 24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    d3d9::selectAdapterProfile(c.profile);
    d3d9::clearFaults();
    if (c.createFaults) d3d9::injectFault(d3d9::FaultPoint::CreateDevice, c.createFaults);
    EXPECT_EQ(create(), 0);
    EXPECT_EQ(context(), nullptr);
    EXPECT_EQ(d3d9::liveObjectCount(), 0u);
  }
  // The desktop profile refuses A4R4G4B4 back buffers itself, so 20 calls
  // reach the injected failure; 19 failures let the very last attempt through.
  d3d9::selectAdapterProfile(AdapterProfile::desktop());
  d3d9::clearFaults();
  d3d9::injectFault(d3d9::FaultPoint::CreateDevice, 19);
  ASSERT_EQ(create(), 1);
  EXPECT_EQ(d3d9::createDeviceCalls().size(), 24u);
  EXPECT_EQ(renderer::backBufferFormat, D3DFMT_UNKNOWN) << "the sixth format";
  D3DDEVICE_CREATION_PARAMETERS params{};
  context()->device->GetCreationParameters(&params);
  EXPECT_EQ(params.DeviceType, D3DDEVTYPE_REF);
}

TEST_F(LifecycleTest, TheBackBufferFormatOutlivesTheContext) {
  d3d9::selectAdapterProfile(AdapterProfile::refusing({D3DFMT_A8R8G8B8}));
  ASSERT_EQ(create(), 1);
  EXPECT_EQ(renderer::backBufferFormat, D3DFMT_X8R8G8B8);
  dispose();
  EXPECT_EQ(renderer::backBufferFormat, D3DFMT_X8R8G8B8);
}

TEST_F(LifecycleTest, WindowSizeIsReadWhenADeviceIsMade) {
  setWindowSize(800, 600);
  ASSERT_EQ(create(), 1);
  EXPECT_EQ(backBuffer().Width, 800u);
  EXPECT_EQ(backBuffer().Height, 600u);
  setWindowSize(640, 480);
  EXPECT_EQ(backBuffer().Width, 800u) << "a live device keeps its size";
  dispose();
  ASSERT_EQ(create(), 1);
  EXPECT_EQ(backBuffer().Width, 640u);
  EXPECT_EQ(backBuffer().Height, 480u);
  // A size no device accepts makes creation fail, and nothing is left.
  dispose();
  setWindowSize(-5, 480);
  EXPECT_EQ(create(), 0);
}

// A host bitmap below 4 GiB with its handle chain, as a 32-bit host has it.
using nerro::testing::HostBitmap;

TEST_F(LifecycleTest, PolygonIdsStartAtOneInEveryNewContext) {
  const float corners[6] = {0, 0, 10, 0, 0, 10};
  EXPECT_EQ(makePolygon(0, corners), 1u) << "the first call makes the context";
  EXPECT_EQ(makePolygon(0, corners), 2u);
  dispose();
  const float quad[8] = {0, 0, 1, 0, 0, 1, 1, 1};
  EXPECT_EQ(makePolygon(1, quad), 1u);
  const float coords[6] = {0, 0, 1, 0, 0, 1};
  EXPECT_EQ(setupTextures(1, "anything", 0, coords), 0) << "a new context has no textures";
}

TEST_F(LifecycleTest, TexturesPolygonsFramesAndLossLeaveNothingAfterDispose) {
  HostBitmap bitmap(32, 16);
  ASSERT_TRUE(bitmap.ok());
  setWindowSize(32, 16);
  for (int i = 0; i < 32 * 16; ++i) bitmap.pixels()[i] = 0xFF336699u;
  ASSERT_EQ(loadTexture("blue", bitmap.handle(), 32, 16), 1);
  const float corners[8] = {-1000, 1000, 1000, 1000, -1000, -1000, 1000, -1000};
  const float coords[8] = {0, 0, 1, 0, 0, 1, 1, 1};
  const uint32_t id = makePolygon(1, corners);
  ASSERT_EQ(id, 1u);
  ASSERT_EQ(setupTextures(id, "blue", 0, coords), 1);
  ASSERT_EQ(drawPaint(bitmap.handle(), 32, 16), 0);
  EXPECT_EQ(bitmap.pixels()[8 * 32 + 16], 0xFF336699u) << "the quad covers the frame with its texture";

  // A lost device: the frame fails and leaves the buffer; the next one resets
  // the device, rebuilds the texture and draws again.
  bitmap.pixels()[0] = 0x12345678u;
  d3d9::loseDevice(1);
  EXPECT_EQ(drawPaint(bitmap.handle(), 32, 16), static_cast<int32_t>(E_FAIL));
  EXPECT_EQ(bitmap.pixels()[0], 0x12345678u);
  ASSERT_EQ(drawPaint(bitmap.handle(), 32, 16), 0);
  EXPECT_EQ(bitmap.pixels()[8 * 32 + 16], 0xFF336699u);
  // TearDown disposes and expects no adapter object left.
}

TEST_F(LifecycleTest, ClearTexturesEmptiesTheListOfALiveContext) {
  ASSERT_EQ(create(), 1);
  context()->textureEntries.push_back(std::make_unique<renderer::TextureList>());
  EXPECT_EQ(clearTextures(), 1);
  EXPECT_TRUE(context()->textureEntries.empty());
}

}  // namespace
}  // namespace nerro::api
