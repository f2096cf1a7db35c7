// A software device for tests: made on a chosen adapter profile, released
// (device first, then the Direct3D object) when the holder goes.
#pragma once

#include <gtest/gtest.h>

#include "d3d9/com_ptr.h"
#include "d3d9/d3d9.h"
#include "d3d9/software_adapter.h"

namespace nerro::testing {

class TestDevice {
 public:
  explicit TestDevice(const d3d9::AdapterProfile& profile = d3d9::AdapterProfile::desktop(), uint32_t width = 64,
                      uint32_t height = 64) {
    d3d9::selectAdapterProfile(profile);
    direct3d_ = d3d9::ComPtr<IDirect3D9>(Direct3DCreate9(32));
    if (!direct3d_) return;
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = width;
    parameters.BackBufferHeight = height;
    parameters.BackBufferFormat = D3DFMT_A8R8G8B8;
    parameters.BackBufferCount = 1;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.Windowed = TRUE;
    parameters.EnableAutoDepthStencil = TRUE;
    parameters.AutoDepthStencilFormat = D3DFMT_D16;
    static int window;
    const HRESULT hr = direct3d_->CreateDevice(0, D3DDEVTYPE_HAL, &window, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                               &parameters, device_.put());
    EXPECT_EQ(hr, S_OK) << "software device could not be made";
  }

  IDirect3DDevice9* get() const { return device_.get(); }
  IDirect3DDevice9* operator->() const { return device_.get(); }

 private:
  d3d9::ComPtr<IDirect3D9> direct3d_;
  d3d9::ComPtr<IDirect3DDevice9> device_;  // released before the Direct3D object
};

}  // namespace nerro::testing
