// A device of the software adapter for tests, made on a selected profile;
// every test checks that no adapter object outlives it.
#pragma once

#include "../support/test_device.h"

namespace nerro::d3d9::adaptertest {

using nerro::testing::testWindow;

// The shared windowed parameters with a lockable back buffer, presented
// without waiting for the vertical blank.
inline D3DPRESENT_PARAMETERS windowedParameters(uint32_t width = 64, uint32_t height = 32,
                                                D3DFORMAT format = D3DFMT_A8R8G8B8) {
  D3DPRESENT_PARAMETERS pp = nerro::testing::windowedParameters(width, height, format);
  pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
  return pp;
}

// Holds bare pointers so tests can release them one by one and watch the
// reference counts.
class AdapterTest : public nerro::testing::AdapterStateTest {
 protected:
  void releaseObjects() override {
    if (device) device->Release();
    if (d3d) d3d->Release();
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
