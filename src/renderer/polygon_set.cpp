#include "renderer/polygon_set.h"

#include <cstring>

namespace nerro::renderer {

int32_t windowWidth = 544;
int32_t windowHeight = 416;
D3DFORMAT backBufferFormat = D3DFMT_UNKNOWN;

D3DPRESENT_PARAMETERS makePresentParameters(D3DFORMAT format) {
  D3DPRESENT_PARAMETERS pp;
  std::memset(&pp, 0, sizeof pp);
  pp.BackBufferWidth = static_cast<uint32_t>(windowWidth);
  pp.BackBufferHeight = static_cast<uint32_t>(windowHeight);
  pp.BackBufferFormat = format;
  pp.BackBufferCount = 1;
  pp.MultiSampleType = D3DMULTISAMPLE_NONE;
  pp.MultiSampleQuality = 0;
  pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  pp.hDeviceWindow = nullptr;  // the focus window serves
  pp.Windowed = TRUE;
  pp.EnableAutoDepthStencil = TRUE;
  pp.AutoDepthStencilFormat = D3DFMT_D16;
  pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  pp.FullScreen_RefreshRateInHz = 0;
  pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
  return pp;
}

NerroPolygonSet::NerroPolygonSet() = default;

NerroPolygonSet::~NerroPolygonSet() {
  polygonTable.clear();
  textureEntries.clear();
  bitmapScratch.reset();
  if (readbackSurface != nullptr) {
    readbackSurface->Release();
    readbackSurface = nullptr;
  }
  if (backBuffer != nullptr) {
    backBuffer->Release();
    backBuffer = nullptr;
  }
  if (device != nullptr) {
    device->Release();
    device = nullptr;
  }
  if (d3d != nullptr) {
    d3d->Release();
    d3d = nullptr;
  }
}

HRESULT NerroPolygonSet::initDevice(HWND focusWindow) {
  d3d = Direct3DCreate9(D3D_SDK_VERSION);
  if (d3d == nullptr) return E_FAIL;
  window = focusWindow;
  for (const D3DFORMAT format : kBackBufferFormats) {
    backBufferFormat = format;
    presentParameters = makePresentParameters(format);
    if (createDevice() == S_OK) return S_OK;
  }
  return E_FAIL;
}

HRESULT NerroPolygonSet::createDevice() {
  for (const CreationAttempt& attempt : kCreationAttempts) {
    IDirect3DDevice9* made = nullptr;
    const HRESULT hr = d3d->CreateDevice(D3DADAPTER_DEFAULT, attempt.deviceType, window, attempt.behaviorFlags,
                                         &presentParameters, &made);
    if (SUCCEEDED(hr) && made != nullptr) {
      device = made;
      return S_OK;
    }
  }
  return E_FAIL;
}

HRESULT NerroPolygonSet::resetDevice() {
  presentParameters = makePresentParameters(backBufferFormat);
  if (device->Reset(&presentParameters) != S_OK) return E_FAIL;
  for (const auto& entry : textureEntries) entry->rebuild(device);
  return S_OK;
}

}  // namespace nerro::renderer
