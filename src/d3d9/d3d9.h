// Front door of our Direct3D 9 layer: the reference-counted interfaces of
// the Direct3D object, the device, surfaces, volumes and the three texture
// kinds, and Direct3DCreate9. Plain types and constants are in d3d9types.h.
//
// The interfaces are abstract classes with Direct3D's operations and
// argument orders. Every object is reference-counted: AddRef adds one
// reference, Release drops one and destroys the object at zero. An object
// handed out through an out-pointer carries one reference for the caller.
// Level surfaces and volumes of a texture share their texture's count (an
// AddRef on a level keeps the whole texture alive).
//
// The only implementation is the software adapter (software_adapter.h for
// its test controls).
#pragma once

#include <cstdint>

#include "d3d9/d3d9types.h"

// ---- Interface identities (for QueryInterface and GetContainer) -------
struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
using REFIID = const GUID&;

inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}

// Identities of our own layer: distinct values, nothing else relies on them.
inline constexpr GUID IID_IUnknown = {0x6e65726fu, 0x0001, 0x0009, {0, 0, 0, 0, 0, 0, 0, 1}};
inline constexpr GUID IID_IDirect3D9 = {0x6e65726fu, 0x0001, 0x0009, {0, 0, 0, 0, 0, 0, 0, 2}};
inline constexpr GUID IID_IDirect3DDevice9 = {0x6e65726fu, 0x0001, 0x0009, {0, 0, 0, 0, 0, 0, 0, 3}};
inline constexpr GUID IID_IDirect3DResource9 = {0x6e65726fu, 0x0001, 0x0009, {0, 0, 0, 0, 0, 0, 0, 4}};
inline constexpr GUID IID_IDirect3DBaseTexture9 = {0x6e65726fu, 0x0001, 0x0009, {0, 0, 0, 0, 0, 0, 0, 5}};
inline constexpr GUID IID_IDirect3DTexture9 = {0x6e65726fu, 0x0001, 0x0009, {0, 0, 0, 0, 0, 0, 0, 6}};
inline constexpr GUID IID_IDirect3DCubeTexture9 = {0x6e65726fu, 0x0001, 0x0009, {0, 0, 0, 0, 0, 0, 0, 7}};
inline constexpr GUID IID_IDirect3DVolumeTexture9 = {0x6e65726fu, 0x0001, 0x0009, {0, 0, 0, 0, 0, 0, 0, 8}};
inline constexpr GUID IID_IDirect3DSurface9 = {0x6e65726fu, 0x0001, 0x0009, {0, 0, 0, 0, 0, 0, 0, 9}};
inline constexpr GUID IID_IDirect3DVolume9 = {0x6e65726fu, 0x0001, 0x0009, {0, 0, 0, 0, 0, 0, 0, 10}};

class IDirect3D9;
class IDirect3DDevice9;
class IDirect3DSurface9;
class IDirect3DVolume9;
class IDirect3DBaseTexture9;
class IDirect3DTexture9;
class IDirect3DCubeTexture9;
class IDirect3DVolumeTexture9;

// ---- Reference counting -------------------------------------------------
class IUnknown {
 public:
  // S_OK and one new reference in *object when this object has interface
  // riid; E_NOINTERFACE (and null) otherwise.
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;  // objects die through Release only
};

// ---- The Direct3D object ------------------------------------------------
class IDirect3D9 : public IUnknown {
 public:
  virtual uint32_t GetAdapterCount() = 0;
  virtual HRESULT GetAdapterDisplayMode(uint32_t adapter, D3DDISPLAYMODE* mode) = 0;
  virtual HRESULT CheckDeviceType(uint32_t adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat,
                                  D3DFORMAT backBufferFormat, BOOL windowed) = 0;
  // S_OK when a resource of checkFormat, resource type and usage can be made
  // on that device type; D3DERR_NOTAVAILABLE when not.
  virtual HRESULT CheckDeviceFormat(uint32_t adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat,
                                    uint32_t usage, D3DRESOURCETYPE resourceType,
                                    D3DFORMAT checkFormat) = 0;
  virtual HRESULT GetDeviceCaps(uint32_t adapter, D3DDEVTYPE deviceType, D3DCAPS9* caps) = 0;
  virtual HRESULT CreateDevice(uint32_t adapter, D3DDEVTYPE deviceType, HWND focusWindow,
                               uint32_t behaviorFlags, D3DPRESENT_PARAMETERS* presentParameters,
                               IDirect3DDevice9** device) = 0;

 protected:
  ~IDirect3D9() = default;
};

// ---- The device ----------------------------------------------------------
class IDirect3DDevice9 : public IUnknown {
 public:
  // S_OK, D3DERR_DEVICELOST, or D3DERR_DEVICENOTRESET once Reset can succeed.
  virtual HRESULT TestCooperativeLevel() = 0;
  virtual HRESULT GetDirect3D(IDirect3D9** direct3d) = 0;
  virtual HRESULT GetDeviceCaps(D3DCAPS9* caps) = 0;
  virtual HRESULT GetDisplayMode(uint32_t swapChain, D3DDISPLAYMODE* mode) = 0;
  virtual HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) = 0;
  // New back buffer and depth buffer; every state back to its default.
  virtual HRESULT Reset(D3DPRESENT_PARAMETERS* presentParameters) = 0;
  virtual HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindow,
                          const void* dirtyRegion) = 0;
  virtual HRESULT GetBackBuffer(uint32_t swapChain, uint32_t backBuffer, D3DBACKBUFFER_TYPE type,
                                IDirect3DSurface9** surface) = 0;
  virtual HRESULT GetRenderTarget(uint32_t index, IDirect3DSurface9** surface) = 0;
  virtual HRESULT GetDepthStencilSurface(IDirect3DSurface9** surface) = 0;

  // Resources. sharedHandle must be null.
  virtual HRESULT CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture,
                                HANDLE* sharedHandle) = 0;
  virtual HRESULT CreateVolumeTexture(uint32_t width, uint32_t height, uint32_t depth, uint32_t levels,
                                      uint32_t usage, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DVolumeTexture9** texture, HANDLE* sharedHandle) = 0;
  virtual HRESULT CreateCubeTexture(uint32_t edgeLength, uint32_t levels, uint32_t usage, D3DFORMAT format,
                                    D3DPOOL pool, IDirect3DCubeTexture9** texture,
                                    HANDLE* sharedHandle) = 0;
  virtual HRESULT CreateRenderTarget(uint32_t width, uint32_t height, D3DFORMAT format,
                                     D3DMULTISAMPLE_TYPE multiSample, uint32_t multisampleQuality,
                                     BOOL lockable, IDirect3DSurface9** surface, HANDLE* sharedHandle) = 0;
  virtual HRESULT CreateOffscreenPlainSurface(uint32_t width, uint32_t height, D3DFORMAT format, D3DPOOL pool,
                                              IDirect3DSurface9** surface, HANDLE* sharedHandle) = 0;

  // Copies between pools: UpdateSurface and UpdateTexture from
  // D3DPOOL_SYSTEMMEM into D3DPOOL_DEFAULT; StretchRect between
  // D3DPOOL_DEFAULT surfaces; GetRenderTargetData from a render target
  // into D3DPOOL_SYSTEMMEM. Other pairings give D3DERR_INVALIDCALL.
  virtual HRESULT UpdateSurface(IDirect3DSurface9* source, const RECT* sourceRect,
                                IDirect3DSurface9* destination, const POINT* destPoint) = 0;
  virtual HRESULT UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* destination) = 0;
  virtual HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* destination) = 0;
  virtual HRESULT StretchRect(IDirect3DSurface9* source, const RECT* sourceRect,
                              IDirect3DSurface9* destination, const RECT* destRect,
                              D3DTEXTUREFILTERTYPE filter) = 0;

  // Drawing.
  virtual HRESULT BeginScene() = 0;
  virtual HRESULT EndScene() = 0;
  virtual HRESULT Clear(uint32_t count, const D3DRECT* rects, uint32_t flags, D3DCOLOR color, float z,
                        uint32_t stencil) = 0;
  virtual HRESULT SetViewport(const D3DVIEWPORT9* viewport) = 0;
  virtual HRESULT GetViewport(D3DVIEWPORT9* viewport) = 0;
  virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) = 0;
  virtual HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) = 0;
  virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, uint32_t value) = 0;
  virtual HRESULT GetRenderState(D3DRENDERSTATETYPE state, uint32_t* value) = 0;
  // The device holds a reference to a bound texture until it is replaced,
  // unbound (null) or the device is reset.
  virtual HRESULT SetTexture(uint32_t stage, IDirect3DBaseTexture9* texture) = 0;
  virtual HRESULT GetTexture(uint32_t stage, IDirect3DBaseTexture9** texture) = 0;
  virtual HRESULT SetTextureStageState(uint32_t stage, D3DTEXTURESTAGESTATETYPE type, uint32_t value) = 0;
  virtual HRESULT GetTextureStageState(uint32_t stage, D3DTEXTURESTAGESTATETYPE type, uint32_t* value) = 0;
  virtual HRESULT SetSamplerState(uint32_t sampler, D3DSAMPLERSTATETYPE type, uint32_t value) = 0;
  virtual HRESULT GetSamplerState(uint32_t sampler, D3DSAMPLERSTATETYPE type, uint32_t* value) = 0;
  virtual HRESULT SetFVF(uint32_t fvf) = 0;
  virtual HRESULT GetFVF(uint32_t* fvf) = 0;
  virtual HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE primitiveType, uint32_t primitiveCount,
                                  const void* vertexData, uint32_t vertexStride) = 0;

 protected:
  ~IDirect3DDevice9() = default;
};

// ---- Resources -----------------------------------------------------------
class IDirect3DResource9 : public IUnknown {
 public:
  virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
  virtual D3DRESOURCETYPE GetType() = 0;

 protected:
  ~IDirect3DResource9() = default;
};

class IDirect3DSurface9 : public IDirect3DResource9 {
 public:
  // The texture a level surface belongs to, as interface riid
  // (IID_IDirect3DTexture9, IID_IDirect3DCubeTexture9, ...), or the device
  // for a stand-alone surface (IID_IDirect3DDevice9); E_NOINTERFACE else.
  virtual HRESULT GetContainer(REFIID riid, void** container) = 0;
  virtual HRESULT GetDesc(D3DSURFACE_DESC* desc) = 0;
  // rect null: the whole surface. For block formats the rectangle must lie
  // on 4 x 4 block edges (or the surface's edge).
  virtual HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, uint32_t flags) = 0;
  virtual HRESULT UnlockRect() = 0;

 protected:
  ~IDirect3DSurface9() = default;
};

// Not a resource in Direct3D 9: a volume has a device and a container only.
class IDirect3DVolume9 : public IUnknown {
 public:
  virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
  virtual HRESULT GetContainer(REFIID riid, void** container) = 0;
  virtual HRESULT GetDesc(D3DVOLUME_DESC* desc) = 0;
  virtual HRESULT LockBox(D3DLOCKED_BOX* locked, const D3DBOX* box, uint32_t flags) = 0;
  virtual HRESULT UnlockBox() = 0;

 protected:
  ~IDirect3DVolume9() = default;
};

class IDirect3DBaseTexture9 : public IDirect3DResource9 {
 public:
  virtual uint32_t GetLevelCount() = 0;

 protected:
  ~IDirect3DBaseTexture9() = default;
};

class IDirect3DTexture9 : public IDirect3DBaseTexture9 {
 public:
  virtual HRESULT GetLevelDesc(uint32_t level, D3DSURFACE_DESC* desc) = 0;
  virtual HRESULT GetSurfaceLevel(uint32_t level, IDirect3DSurface9** surface) = 0;
  virtual HRESULT LockRect(uint32_t level, D3DLOCKED_RECT* locked, const RECT* rect, uint32_t flags) = 0;
  virtual HRESULT UnlockRect(uint32_t level) = 0;

 protected:
  ~IDirect3DTexture9() = default;
};

class IDirect3DCubeTexture9 : public IDirect3DBaseTexture9 {
 public:
  virtual HRESULT GetLevelDesc(uint32_t level, D3DSURFACE_DESC* desc) = 0;
  virtual HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES face, uint32_t level, IDirect3DSurface9** surface) = 0;
  virtual HRESULT LockRect(D3DCUBEMAP_FACES face, uint32_t level, D3DLOCKED_RECT* locked, const RECT* rect,
                           uint32_t flags) = 0;
  virtual HRESULT UnlockRect(D3DCUBEMAP_FACES face, uint32_t level) = 0;

 protected:
  ~IDirect3DCubeTexture9() = default;
};

class IDirect3DVolumeTexture9 : public IDirect3DBaseTexture9 {
 public:
  virtual HRESULT GetLevelDesc(uint32_t level, D3DVOLUME_DESC* desc) = 0;
  virtual HRESULT GetVolumeLevel(uint32_t level, IDirect3DVolume9** volume) = 0;
  virtual HRESULT LockBox(uint32_t level, D3DLOCKED_BOX* locked, const D3DBOX* box, uint32_t flags) = 0;
  virtual HRESULT UnlockBox(uint32_t level) = 0;

 protected:
  ~IDirect3DVolumeTexture9() = default;
};

// ---- The module entry ----------------------------------------------------
// The Direct3D object of the software adapter, or null when the selected
// adapter profile has none or sdkVersion is not D3D_SDK_VERSION (32).
IDirect3D9* Direct3DCreate9(uint32_t sdkVersion);
