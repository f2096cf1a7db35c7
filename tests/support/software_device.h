// The software adapter's device as tests and benchmarks make it: windowed
// present parameters, a window token, and the Direct3D object with a HAL
// device on it, released device first. Free of GoogleTest so benchmarks
// can use it too; tests/support/test_device.h adds the test fixtures.
#pragma once

#include <cstdint>

#include "d3d9/com_ptr.h"
#include "d3d9/d3d9.h"
#include "d3d9/software_adapter.h"

namespace nerro::testing {

// Windowed, one discarded back buffer of `format` and a 16-bit depth buffer.
inline D3DPRESENT_PARAMETERS windowedParameters(uint32_t width = 64, uint32_t height = 64,
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
  return pp;
}

// The window the devices are made for; the software adapter only keeps it.
inline HWND testWindow() {
  static int token;
  return &token;
}

// The Direct3D object and a HAL device on the adapter profile selected at
// the time of `create`.
class SoftwareDevice {
 public:
  SoftwareDevice() = default;
  explicit SoftwareDevice(const D3DPRESENT_PARAMETERS& pp) { create(pp); }

  // The result of CreateDevice, or E_FAIL when there is no Direct3D object.
  HRESULT create(D3DPRESENT_PARAMETERS pp) {
    reset();
    direct3d_ = d3d9::ComPtr<IDirect3D9>(Direct3DCreate9(D3D_SDK_VERSION));
    if (!direct3d_) return E_FAIL;
    return direct3d_->CreateDevice(0, D3DDEVTYPE_HAL, testWindow(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp,
                                   device_.put());
  }

  void reset() {
    device_.reset();
    direct3d_.reset();
  }

  IDirect3D9* d3d() const { return direct3d_.get(); }
  IDirect3DDevice9* get() const { return device_.get(); }
  IDirect3DDevice9* operator->() const { return device_.get(); }
  explicit operator bool() const { return bool(device_); }

 private:
  d3d9::ComPtr<IDirect3D9> direct3d_;
  d3d9::ComPtr<IDirect3DDevice9> device_;  // released before the Direct3D object
};

}  // namespace nerro::testing
