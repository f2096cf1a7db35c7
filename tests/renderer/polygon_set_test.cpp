// Device set-up of the rendering context: the order of back-buffer formats
// and creation attempts, the present parameters, and resets.
#include <gtest/gtest.h>

#include "d3d9/software_adapter.h"
#include "renderer/polygon_set.h"

namespace nerro::renderer {
namespace {

using d3d9::AdapterProfile;

HWND window() {
  static int token;
  return &token;
}

class PolygonSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d9::resetAdapter();
    windowWidth = 544;
    windowHeight = 416;
    backBufferFormat = D3DFMT_UNKNOWN;
  }
  void TearDown() override {
    set.reset();
    EXPECT_EQ(d3d9::liveObjectCount(), 0u);
    d3d9::resetAdapter();
    windowWidth = 544;
    windowHeight = 416;
  }
  HRESULT init(const AdapterProfile& profile) {
    d3d9::selectAdapterProfile(profile);
    set = std::make_unique<NerroPolygonSet>();
    return set->initDevice(window());
  }
  D3DSURFACE_DESC backBufferDesc() {
    IDirect3DSurface9* back = nullptr;
    D3DSURFACE_DESC desc{};
    EXPECT_EQ(set->device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), S_OK);
    if (back) {
      back->GetDesc(&desc);
      back->Release();
    }
    return desc;
  }
  std::unique_ptr<NerroPolygonSet> set;
};

TEST_F(PolygonSetTest, PresentParametersAreSetFieldByField) {
  windowWidth = 800;
  windowHeight = 600;
  const D3DPRESENT_PARAMETERS pp = makePresentParameters(D3DFMT_X1R5G5B5);
  EXPECT_EQ(pp.BackBufferWidth, 800u);
  EXPECT_EQ(pp.BackBufferHeight, 600u);
  EXPECT_EQ(pp.BackBufferFormat, D3DFMT_X1R5G5B5);
  EXPECT_EQ(pp.BackBufferCount, 1u);
  EXPECT_EQ(pp.MultiSampleType, D3DMULTISAMPLE_NONE);
  EXPECT_EQ(pp.MultiSampleQuality, 0u);
  EXPECT_EQ(pp.SwapEffect, D3DSWAPEFFECT_DISCARD);
  EXPECT_EQ(pp.hDeviceWindow, nullptr);
  EXPECT_EQ(pp.Windowed, TRUE);
  EXPECT_EQ(pp.EnableAutoDepthStencil, TRUE);
  EXPECT_EQ(pp.AutoDepthStencilFormat, D3DFMT_D16);
  EXPECT_EQ(pp.Flags, D3DPRESENTFLAG_LOCKABLE_BACKBUFFER);
  EXPECT_EQ(pp.FullScreen_RefreshRateInHz, 0u);
  EXPECT_EQ(pp.PresentationInterval, D3DPRESENT_INTERVAL_IMMEDIATE);
}

TEST_F(PolygonSetTest, TheFirstAcceptedFormatAndAttemptMakeTheDevice) {
  struct Case {
    const char* what;
    AdapterProfile profile;
    size_t calls;               // CreateDevice calls made
    D3DFORMAT format;           // backBufferFormat afterwards
    D3DFORMAT actualFormat;     // the back buffer's own format
    D3DDEVTYPE type;
    uint32_t flags;
  };
  AdapterProfile displayOnly = AdapterProfile::desktop();
  displayOnly.renderTargetFormats.clear();
  AdapterProfile mixedRefused = AdapterProfile::desktop();
  mixedRefused.halVertexProcessing = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
  const Case cases[] = {
      {"desktop", AdapterProfile::desktop(), 1, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, D3DDEVTYPE_HAL, 0x80},
      {"hardware without mixed or hardware processing", mixedRefused, 3, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8,
       D3DDEVTYPE_HAL, 0x20},
      {"no hardware device", AdapterProfile::noHal(), 4, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, D3DDEVTYPE_REF, 0x20},
      {"first formats refused", AdapterProfile::refusing({D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8}), 13, D3DFMT_A1R5G5B5,
       D3DFMT_A1R5G5B5, D3DDEVTYPE_HAL, 0x80},
      {"only the display format", displayOnly, 21, D3DFMT_UNKNOWN, D3DFMT_X8R8G8B8, D3DDEVTYPE_HAL, 0x80},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    d3d9::clearFaults();
    ASSERT_EQ(init(c.profile), S_OK);
    const auto calls = d3d9::createDeviceCalls();
    ASSERT_EQ(calls.size(), c.calls);
    // Formats in the outer loop, the four attempts in the inner one.
    for (size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(calls[i].backBufferFormat, kBackBufferFormats[i / 4]) << "call " << i;
      EXPECT_EQ(calls[i].deviceType, kCreationAttempts[i % 4].deviceType) << "call " << i;
      EXPECT_EQ(calls[i].behaviorFlags, kCreationAttempts[i % 4].behaviorFlags) << "call " << i;
    }
    EXPECT_EQ(backBufferFormat, c.format);
    EXPECT_EQ(backBufferDesc().Format, c.actualFormat);
    D3DDEVICE_CREATION_PARAMETERS params{};
    set->device->GetCreationParameters(&params);
    EXPECT_EQ(params.DeviceType, c.type);
    EXPECT_EQ(params.BehaviorFlags, c.flags);
    EXPECT_EQ(params.hFocusWindow, window());
    set.reset();
    EXPECT_EQ(d3d9::liveObjectCount(), 0u);
  }
}

TEST_F(PolygonSetTest, WithoutADeviceAll24CallsFailAndNothingIsLeftAfterDestruction) {
  EXPECT_EQ(init(AdapterProfile::noDevice()), E_FAIL);
  EXPECT_EQ(d3d9::createDeviceCalls().size(), 24u);
  EXPECT_EQ(set->device, nullptr);
  EXPECT_NE(set->d3d, nullptr) << "the Direct3D object stays until the context is destroyed";
  EXPECT_EQ(backBufferFormat, D3DFMT_UNKNOWN);

  set.reset();
  EXPECT_EQ(init(AdapterProfile::noDirect3D()), E_FAIL);
  EXPECT_EQ(set->d3d, nullptr);
}

TEST_F(PolygonSetTest, ResetUsesTheStoredSizeAndFormatAndFailsAsE_FAIL) {
  ASSERT_EQ(init(AdapterProfile::refusing({D3DFMT_A8R8G8B8})), S_OK);
  EXPECT_EQ(backBufferFormat, D3DFMT_X8R8G8B8);
  windowWidth = 640;
  windowHeight = 480;
  EXPECT_EQ(backBufferDesc().Width, 544u) << "a live device keeps its size";
  d3d9::loseDevice(0);
  ASSERT_EQ(set->device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  d3d9::injectFault(d3d9::FaultPoint::Reset);
  EXPECT_EQ(resetDevice(*set), E_FAIL);
  ASSERT_EQ(resetDevice(*set), S_OK);
  const D3DSURFACE_DESC desc = backBufferDesc();
  EXPECT_EQ(desc.Width, 640u);
  EXPECT_EQ(desc.Height, 480u);
  EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(set->presentParameters.BackBufferWidth, 640u);
}

TEST_F(PolygonSetTest, TheFrameStateTableLeavesTheSpecifiedStatesOnTheDevice) {
  ASSERT_EQ(init(AdapterProfile::desktop()), S_OK);
  for (const PolygonRenderState& s : kPolygonRenderStates) {
    if (s.stage < 0)
      set->device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(s.state), s.value);
    else
      set->device->SetTextureStageState(s.stage, static_cast<D3DTEXTURESTAGESTATETYPE>(s.state), s.value);
  }
  // Stage 1 modulates, blending by source alpha, nothing culled; alpha
  // testing and sampler states keep their defaults.
  uint32_t v = 0;
  set->device->GetTextureStageState(1, D3DTSS_COLOROP, &v);
  EXPECT_EQ(v, uint32_t{D3DTOP_MODULATE});
  set->device->GetRenderState(D3DRS_DESTBLEND, &v);
  EXPECT_EQ(v, uint32_t{D3DBLEND_INVSRCALPHA});
  set->device->GetRenderState(D3DRS_CULLMODE, &v);
  EXPECT_EQ(v, uint32_t{D3DCULL_NONE});
  set->device->GetRenderState(D3DRS_ALPHATESTENABLE, &v);
  EXPECT_EQ(v, uint32_t{FALSE});
  EXPECT_EQ(kPolygonRenderStateCount, 20u);
}

}  // namespace
}  // namespace nerro::renderer
