// A device of the software adapter for tests, made on a selected profile;
// every test checks that no adapter object outlives it.
#pragma once

#include <gtest/gtest.h>

#include "d3d9/d3d9.h"
#include "d3d9/software_adapter.h"

namespace nerro::d3d9::adaptertest {

inline D3DPRESENT_PARAMETERS windowedParameters(uint32_t width = 64, uint32_t height = 32,
                                                D3DFORMAT format = D3DFMT_A8R8G8B8) {
  D3DPRESENT_PARAMETERS pp{};
  pp.BackBufferWidth = width;
  pp.BackBufferHeight = height;
  pp.BackBufferFormat = format;
  pp.BackBufferCount = 1;
  pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  pp.Windowed = TRUE;
  pp.EnableAutoDepthStencil = TRUE;
  pp.AutoDepthStencilFormat = D3DFMT_D16;
  pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
  return pp;
}

inline HWND testWindow() {
  static int token;
  return &token;
}

class AdapterTest : public ::testing::Test {
 protected:
  void SetUp() override { resetAdapter(); }
  void TearDown() override {
    if (device) device->Release();
    if (d3d) d3d->Release();
    EXPECT_EQ(liveObjectCount(), 0u) << "an adapter object outlived the test";
    resetAdapter();
  }

  // Makes the Direct3D object and a HAL device on `profile`.
  void makeDevice(const AdapterProfile& profile = AdapterProfile::desktop(),
                  D3DPRESENT_PARAMETERS pp = windowedParameters()) {
    selectAdapterProfile(profile);
    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, testWindow(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device),
              S_OK);
  }

  IDirect3D9* d3d = nullptr;
  IDirect3DDevice9* device = nullptr;
};

}  // namespace nerro::d3d9::adaptertest
