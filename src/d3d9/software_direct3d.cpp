// The Direct3D object of the software adapter: Direct3DCreate9, format and
// device-type checks from the adapter profile, capabilities, and device
// creation with its checks of the present parameters.
#include "d3d9/software_objects.h"

namespace nerro::d3d9::detail {
namespace {

bool isDisplayFormat(D3DFORMAT format) {
  return format == D3DFMT_X8R8G8B8 || format == D3DFMT_R5G6B5 || format == D3DFMT_X1R5G5B5 ||
         format == D3DFMT_A2R10G10B10;
}

constexpr uint32_t kVertexProcessing =
    D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MIXED_VERTEXPROCESSING;

// Exactly one vertex-processing flag.
bool oneVertexProcessingMode(uint32_t flags) {
  const uint32_t vp = flags & kVertexProcessing;
  return vp != 0 && (vp & (vp - 1)) == 0;
}

}  // namespace

Direct3D::Direct3D(const AdapterProfile& p) : profile(p) {}

HRESULT Direct3D::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDirect3D9) {
    AddRef();
    *object = static_cast<IDirect3D9*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

bool Direct3D::hasDeviceType(D3DDEVTYPE type) const {
  if (type == D3DDEVTYPE_HAL) return profile.halDevice;
  if (type == D3DDEVTYPE_REF) return profile.refDevice;
  return false;
}

HRESULT Direct3D::GetAdapterDisplayMode(uint32_t adapter, D3DDISPLAYMODE* mode) {
  if (adapter != D3DADAPTER_DEFAULT || mode == nullptr) return D3DERR_INVALIDCALL;
  *mode = profile.displayMode;
  return S_OK;
}

D3DFORMAT Direct3D::backBufferFormat(D3DFORMAT requested) const {
  if (requested == D3DFMT_UNKNOWN) return profile.displayMode.Format;
  return profile.acceptsRenderTarget(requested) ? requested : D3DFMT_UNKNOWN;
}

HRESULT Direct3D::CheckDeviceType(uint32_t adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat,
                                  D3DFORMAT backFormat, BOOL /*windowed*/) {
  if (adapter != D3DADAPTER_DEFAULT) return D3DERR_INVALIDCALL;
  if (!hasDeviceType(deviceType)) return D3DERR_NOTAVAILABLE;
  if (!isDisplayFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
  return backBufferFormat(backFormat) == D3DFMT_UNKNOWN ? D3DERR_NOTAVAILABLE : S_OK;
}

HRESULT Direct3D::formatSupport(D3DDEVTYPE type, uint32_t usage, D3DRESOURCETYPE resourceType,
                                D3DFORMAT format) const {
  if (!hasDeviceType(type)) return D3DERR_NOTAVAILABLE;
  if (usage & D3DUSAGE_DMAP) return D3DERR_NOTAVAILABLE;
  switch (resourceType) {
    case D3DRTYPE_VERTEXBUFFER:
      return format == D3DFMT_VERTEXDATA ? S_OK : D3DERR_NOTAVAILABLE;
    case D3DRTYPE_INDEXBUFFER:
      return format == D3DFMT_INDEX16 || format == D3DFMT_INDEX32 ? S_OK : D3DERR_NOTAVAILABLE;
    case D3DRTYPE_SURFACE:
    case D3DRTYPE_TEXTURE:
    case D3DRTYPE_CUBETEXTURE:
    case D3DRTYPE_VOLUME:
    case D3DRTYPE_VOLUMETEXTURE:
      break;
    default:
      return D3DERR_INVALIDCALL;
  }
  if (usage & D3DUSAGE_DEPTHSTENCIL) {
    const bool flat = resourceType == D3DRTYPE_SURFACE || resourceType == D3DRTYPE_TEXTURE;
    return flat && profile.acceptsDepth(format) ? S_OK : D3DERR_NOTAVAILABLE;
  }
  if (usage & D3DUSAGE_RENDERTARGET) {
    const bool volume = resourceType == D3DRTYPE_VOLUME || resourceType == D3DRTYPE_VOLUMETEXTURE;
    return !volume && profile.acceptsRenderTarget(format) ? S_OK : D3DERR_NOTAVAILABLE;
  }
  if (usage & D3DUSAGE_QUERY_VERTEXTEXTURE) {
    if (format != D3DFMT_R32F && format != D3DFMT_A32B32G32R32F) return D3DERR_NOTAVAILABLE;
  }
  const bool cubeOrVolume = resourceType == D3DRTYPE_CUBETEXTURE || resourceType == D3DRTYPE_VOLUME ||
                            resourceType == D3DRTYPE_VOLUMETEXTURE;
  if (cubeOrVolume && isPairFormat(format)) return D3DERR_NOTAVAILABLE;
  return profile.acceptsTexture(format) ? S_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D::CheckDeviceFormat(uint32_t adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat,
                                    uint32_t usage, D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) {
  ++control().calls.checkDeviceFormat;
  if (adapter != D3DADAPTER_DEFAULT) return D3DERR_INVALIDCALL;
  if (!hasDeviceType(deviceType)) return D3DERR_NOTAVAILABLE;
  if (!isDisplayFormat(adapterFormat)) return D3DERR_INVALIDCALL;
  return formatSupport(deviceType, usage, resourceType, checkFormat);
}

void Direct3D::fillCaps(D3DDEVTYPE type, D3DCAPS9* caps) const {
  *caps = D3DCAPS9{};
  caps->DeviceType = type;
  caps->AdapterOrdinal = D3DADAPTER_DEFAULT;
  caps->Caps2 = D3DCAPS2_DYNAMICTEXTURES;
  caps->PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
  caps->DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
                  D3DDEVCAPS_TEXTURESYSTEMMEMORY | D3DDEVCAPS_DRAWPRIMTLVERTEX |
                  (type == D3DDEVTYPE_HAL ? D3DDEVCAPS_HWTRANSFORMANDLIGHT : 0);
  caps->PrimitiveMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW;
  caps->RasterCaps = D3DPRASTERCAPS_ZTEST;
  caps->ZCmpCaps = caps->AlphaCmpCaps = 0xFF;
  caps->SrcBlendCaps = caps->DestBlendCaps =
      D3DPBLENDCAPS_ZERO | D3DPBLENDCAPS_ONE | D3DPBLENDCAPS_SRCALPHA | D3DPBLENDCAPS_INVSRCALPHA;
  caps->TextureCaps = profile.textureCaps;
  caps->TextureFilterCaps = caps->CubeTextureFilterCaps = caps->VolumeTextureFilterCaps =
      D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MAGFPOINT |
      D3DPTFILTERCAPS_MAGFLINEAR | D3DPTFILTERCAPS_MIPFPOINT | D3DPTFILTERCAPS_MIPFLINEAR;
  caps->TextureAddressCaps = caps->VolumeTextureAddressCaps =
      D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP | D3DPTADDRESSCAPS_BORDER |
      D3DPTADDRESSCAPS_INDEPENDENTUV | D3DPTADDRESSCAPS_MIRRORONCE;
  caps->MaxTextureWidth = profile.maxTextureWidth;
  caps->MaxTextureHeight = profile.maxTextureHeight;
  caps->MaxVolumeExtent = profile.maxVolumeExtent;
  caps->MaxTextureRepeat = 8192;
  caps->MaxTextureAspectRatio = profile.maxTextureAspectRatio;
  caps->MaxAnisotropy = 1;
  caps->TextureOpCaps = D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_SELECTARG1 | D3DTEXOPCAPS_SELECTARG2 |
                        D3DTEXOPCAPS_MODULATE;
  caps->MaxTextureBlendStages = D3D_MAX_TEXTURE_STAGES;
  caps->MaxSimultaneousTextures = raster::kStageCount;
  caps->MaxActiveLights = 0;
  caps->MaxPrimitiveCount = 0xFFFFF;
  caps->MaxVertexIndex = 0xFFFFFF;
  caps->MaxStreams = 1;
  caps->MaxStreamStride = 255;
}

HRESULT Direct3D::GetDeviceCaps(uint32_t adapter, D3DDEVTYPE deviceType, D3DCAPS9* caps) {
  if (adapter != D3DADAPTER_DEFAULT || caps == nullptr) return D3DERR_INVALIDCALL;
  if (!hasDeviceType(deviceType)) return D3DERR_NOTAVAILABLE;
  fillCaps(deviceType, caps);
  return S_OK;
}

HRESULT Direct3D::checkPresentParameters(const D3DPRESENT_PARAMETERS& pp, HWND focusWindow,
                                         D3DFORMAT* backFormat) const {
  if (focusWindow == nullptr && pp.hDeviceWindow == nullptr) return D3DERR_INVALIDCALL;
  // Full-screen and multisampled devices are not offered.
  if (!pp.Windowed || pp.MultiSampleType != D3DMULTISAMPLE_NONE) return D3DERR_NOTAVAILABLE;
  // A windowed back buffer of size 0 would take the window's client size,
  // which a headless window does not have.
  if (pp.BackBufferCount > 1 || pp.SwapEffect < D3DSWAPEFFECT_DISCARD || pp.SwapEffect > D3DSWAPEFFECT_COPY ||
      pp.FullScreen_RefreshRateInHz != 0 || pp.BackBufferWidth == 0 || pp.BackBufferHeight == 0 ||
      pp.BackBufferWidth > profile.maxBackBufferSize || pp.BackBufferHeight > profile.maxBackBufferSize)
    return D3DERR_INVALIDCALL;
  *backFormat = backBufferFormat(pp.BackBufferFormat);
  if (*backFormat == D3DFMT_UNKNOWN) return D3DERR_NOTAVAILABLE;
  if (pp.EnableAutoDepthStencil && !profile.acceptsDepth(pp.AutoDepthStencilFormat)) return D3DERR_NOTAVAILABLE;
  return S_OK;
}

HRESULT Direct3D::CreateDevice(uint32_t adapter, D3DDEVTYPE deviceType, HWND focusWindow, uint32_t behaviorFlags,
                               D3DPRESENT_PARAMETERS* pp, IDirect3DDevice9** out) {
  auto& c = control();
  ++c.calls.createDevice;
  c.createLog.push_back({deviceType, behaviorFlags, pp != nullptr ? pp->BackBufferFormat : D3DFMT_UNKNOWN, false});

  HRESULT hr = S_OK;
  D3DFORMAT backFormat = D3DFMT_UNKNOWN;
  const uint32_t accepted = deviceType == D3DDEVTYPE_HAL ? profile.halVertexProcessing : profile.refVertexProcessing;
  if (out == nullptr || pp == nullptr || adapter != D3DADAPTER_DEFAULT) {
    hr = D3DERR_INVALIDCALL;
  } else if (!hasDeviceType(deviceType)) {
    hr = D3DERR_NOTAVAILABLE;
  } else if (!oneVertexProcessingMode(behaviorFlags)) {
    hr = D3DERR_INVALIDCALL;
  } else if ((behaviorFlags & kVertexProcessing & accepted) == 0) {
    hr = D3DERR_NOTAVAILABLE;
  } else {
    hr = checkPresentParameters(*pp, focusWindow, &backFormat);
    if (SUCCEEDED(hr) && faultFires(FaultPoint::CreateDevice)) hr = D3DERR_NOTAVAILABLE;
  }
  if (FAILED(hr)) return hr;

  auto* device = new Device(this, deviceType, focusWindow, behaviorFlags);
  hr = device->buildSwapChain(*pp, backFormat);
  if (FAILED(hr)) {
    device->Release();
    return hr;
  }
  ++c.calls.devicesMade;
  c.createLog.back().succeeded = true;
  *out = device;
  return S_OK;
}

}  // namespace nerro::d3d9::detail

IDirect3D9* Direct3DCreate9(uint32_t sdkVersion) {
  using namespace nerro::d3d9;
  auto& c = detail::control();
  ++c.calls.direct3DCreate;
  registerDebugModule();
  if (sdkVersion != D3D_SDK_VERSION || !c.profile.direct3d) return nullptr;
  return new detail::Direct3D(c.profile);
}
