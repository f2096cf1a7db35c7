// Internals of the software adapter: the object classes behind the
// interfaces of d3d9.h and the adapter-wide control state. Not for use
// outside src/d3d9.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "d3d9/d3d9.h"
#include "d3d9/raster/rasterizer.h"
#include "d3d9/software_adapter.h"

namespace nerro::d3d9::detail {

// ---- Adapter-wide control state ------------------------------------------
struct FaultCounter {
  uint32_t skip = 0;
  uint32_t count = 0;
  uint32_t fired = 0;
};

struct ControlState {
  AdapterProfile profile = AdapterProfile::desktop();
  std::array<FaultCounter, static_cast<size_t>(FaultPoint::Count)> faults{};
  CallCounts calls;
  std::vector<CreateDeviceCall> createLog;
  MuteLog mute;
  std::shared_ptr<TexelDecoder> decoder;
  // Lost state every live device shares: a device made later starts well.
  uint64_t lossEpoch = 0;
  uint32_t lostPolls = 0;
};
ControlState& control();

// True when the next call at that point is to fail (and counts it).
bool faultFires(FaultPoint point);

// Count of live adapter objects.
void objectMade();
void objectDestroyed();

// ---- Reference counting ---------------------------------------------------
// Counts references of an object that dies at zero.
template <class Interface>
class Counted : public Interface {
 public:
  uint32_t AddRef() override { return ++refs_; }
  uint32_t Release() override {
    if (refs_ == 0) return 0;  // over-release: ignored rather than a double free
    const uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  Counted() { objectMade(); }
  virtual ~Counted() { objectDestroyed(); }
  uint32_t refs() const { return refs_; }

 private:
  uint32_t refs_ = 1;
};

class Direct3D;
class Device;
class Texture;
class CubeTexture;
class VolumeTexture;

// ---- Pixel storage -----------------------------------------------------------
// One image of a format in system memory, rows `pitch` bytes apart (rows of
// 4 x 4 blocks for DXT formats).
struct Image2D {
  D3DFORMAT format = D3DFMT_UNKNOWN;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t depth = 1;      // slices, for volumes
  int32_t pitch = 0;       // bytes between stored rows
  int32_t slicePitch = 0;  // bytes between slices
  uint32_t storedRows = 0; // rows of pixels or of blocks in one slice
  std::vector<uint8_t> bits;

  // Sizes the storage; false when the format cannot be stored or memory runs out.
  bool allocate(D3DFORMAT format, uint32_t width, uint32_t height, uint32_t depth, uint32_t alignment);
  uint8_t* row(uint32_t storedRow, uint32_t slice = 0) {
    return bits.data() + static_cast<size_t>(slice) * slicePitch + static_cast<size_t>(storedRow) * pitch;
  }
};

// Where a level or a plain surface lives and what it is for.
struct ResourceInfo {
  D3DRESOURCETYPE type = D3DRTYPE_SURFACE;
  uint32_t usage = 0;
  D3DPOOL pool = D3DPOOL_SYSTEMMEM;
  bool lockable = false;      // may be locked whatever the pool says
  bool renderTarget = false;  // back buffer, render target or render-target texture level
  bool depthStencil = false;
};

// ---- Surfaces ----------------------------------------------------------------
// A surface is either a level of a texture (its references are the
// texture's), a stand-alone surface (counted itself), or a buffer the device
// owns (back buffer, depth buffer: its references are the device's).
class Surface final : public IDirect3DSurface9 {
 public:
  enum class Owner { Container, Standalone, Device };
  Surface(Device* device, Owner owner, IDirect3DBaseTexture9* container, const ResourceInfo& info);
  ~Surface();

  HRESULT QueryInterface(REFIID riid, void** object) override;
  uint32_t AddRef() override;
  uint32_t Release() override;
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
  HRESULT GetContainer(REFIID riid, void** container) override;
  HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
  HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, uint32_t flags) override;
  HRESULT UnlockRect() override;

  bool isTextureLevel() const { return owner_ == Owner::Container; }

  Image2D image;
  ResourceInfo info;
  bool locked = false;
  uint64_t version = 0;  // changes at every lock: decoded copies are stale then
  uint32_t externalRefs = 0;  // device-owned buffers: references held outside
  Device* device;

 private:
  Owner owner_;
  IDirect3DBaseTexture9* container_;
  uint32_t refs_ = 1;
};

class Volume final : public IDirect3DVolume9 {
 public:
  Volume(Device* device, IDirect3DVolumeTexture9* container, const ResourceInfo& info);

  HRESULT QueryInterface(REFIID riid, void** object) override;
  uint32_t AddRef() override;
  uint32_t Release() override;
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  HRESULT GetContainer(REFIID riid, void** container) override;
  HRESULT GetDesc(D3DVOLUME_DESC* desc) override;
  HRESULT LockBox(D3DLOCKED_BOX* locked, const D3DBOX* box, uint32_t flags) override;
  HRESULT UnlockBox() override;

  Image2D image;
  ResourceInfo info;
  bool locked = false;
  Device* device;

 private:
  IDirect3DVolumeTexture9* container_;
};

// ---- Textures ------------------------------------------------------------------
// Keeps the device alive (an internal reference) and counts itself.
class ResourceBase {
 public:
  ResourceBase(Device* device, D3DPOOL pool);
  ~ResourceBase();
  Device* device() const { return device_; }

 private:
  Device* device_;
  D3DPOOL pool_;
};

// A decoded A8R8G8B8 copy of a 2D level for the rasteriser.
struct DecodedLevel {
  uint64_t version = ~uint64_t{0};
  bool valid = false;
  std::vector<uint32_t> argb;
};

class Texture final : public Counted<IDirect3DTexture9>, public ResourceBase {
 public:
  Texture(Device* device, const ResourceInfo& info);
  HRESULT QueryInterface(REFIID riid, void** object) override;
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
  uint32_t GetLevelCount() override { return static_cast<uint32_t>(levels.size()); }
  HRESULT GetLevelDesc(uint32_t level, D3DSURFACE_DESC* desc) override;
  HRESULT GetSurfaceLevel(uint32_t level, IDirect3DSurface9** surface) override;
  HRESULT LockRect(uint32_t level, D3DLOCKED_RECT* locked, const RECT* rect, uint32_t flags) override;
  HRESULT UnlockRect(uint32_t level) override;

  std::vector<std::unique_ptr<Surface>> levels;
  std::vector<DecodedLevel> decoded;
  ResourceInfo info;
};

class CubeTexture final : public Counted<IDirect3DCubeTexture9>, public ResourceBase {
 public:
  CubeTexture(Device* device, const ResourceInfo& info);
  HRESULT QueryInterface(REFIID riid, void** object) override;
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  D3DRESOURCETYPE GetType() override { return D3DRTYPE_CUBETEXTURE; }
  uint32_t GetLevelCount() override { return levelCount; }
  HRESULT GetLevelDesc(uint32_t level, D3DSURFACE_DESC* desc) override;
  HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES face, uint32_t level, IDirect3DSurface9** surface) override;
  HRESULT LockRect(D3DCUBEMAP_FACES face, uint32_t level, D3DLOCKED_RECT* locked, const RECT* rect,
                   uint32_t flags) override;
  HRESULT UnlockRect(D3DCUBEMAP_FACES face, uint32_t level) override;

  Surface* surface(uint32_t face, uint32_t level) {
    return face < 6 && level < levelCount ? faces[face * levelCount + level].get() : nullptr;
  }

  uint32_t levelCount = 0;
  std::vector<std::unique_ptr<Surface>> faces;  // face-major: face * levelCount + level
  ResourceInfo info;
};

class VolumeTexture final : public Counted<IDirect3DVolumeTexture9>, public ResourceBase {
 public:
  VolumeTexture(Device* device, const ResourceInfo& info);
  HRESULT QueryInterface(REFIID riid, void** object) override;
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  D3DRESOURCETYPE GetType() override { return D3DRTYPE_VOLUMETEXTURE; }
  uint32_t GetLevelCount() override { return static_cast<uint32_t>(levels.size()); }
  HRESULT GetLevelDesc(uint32_t level, D3DVOLUME_DESC* desc) override;
  HRESULT GetVolumeLevel(uint32_t level, IDirect3DVolume9** volume) override;
  HRESULT LockBox(uint32_t level, D3DLOCKED_BOX* locked, const D3DBOX* box, uint32_t flags) override;
  HRESULT UnlockBox(uint32_t level) override;

  std::vector<std::unique_ptr<Volume>> levels;
  ResourceInfo info;
};

// Helpers shared by the resource files.
Surface* asSurface(IDirect3DSurface9* surface);            // null for foreign objects
ResourceInfo* textureInfo(IDirect3DBaseTexture9* texture);  // null for foreign objects
uint32_t fullChainLength(uint32_t width, uint32_t height, uint32_t depth);
bool isBlockFormat(D3DFORMAT format);
bool isPairFormat(D3DFORMAT format);
bool isDepthFormat(D3DFORMAT format);

// ---- The Direct3D object ----------------------------------------------------------
class Direct3D final : public Counted<IDirect3D9> {
 public:
  explicit Direct3D(const AdapterProfile& profile);
  HRESULT QueryInterface(REFIID riid, void** object) override;
  uint32_t GetAdapterCount() override { return 1; }
  HRESULT GetAdapterDisplayMode(uint32_t adapter, D3DDISPLAYMODE* mode) override;
  HRESULT CheckDeviceType(uint32_t adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat,
                          D3DFORMAT backBufferFormat, BOOL windowed) override;
  HRESULT CheckDeviceFormat(uint32_t adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat, uint32_t usage,
                            D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) override;
  HRESULT GetDeviceCaps(uint32_t adapter, D3DDEVTYPE deviceType, D3DCAPS9* caps) override;
  HRESULT CreateDevice(uint32_t adapter, D3DDEVTYPE deviceType, HWND focusWindow, uint32_t behaviorFlags,
                       D3DPRESENT_PARAMETERS* presentParameters, IDirect3DDevice9** device) override;

  bool hasDeviceType(D3DDEVTYPE type) const;
  void fillCaps(D3DDEVTYPE type, D3DCAPS9* caps) const;
  // Checks present parameters for CreateDevice and Reset; the back-buffer
  // format they give (the display's for D3DFMT_UNKNOWN) in *backFormat.
  HRESULT checkPresentParameters(const D3DPRESENT_PARAMETERS& pp, HWND focusWindow, D3DFORMAT* backFormat) const;
  // What CheckDeviceFormat answers, without counting the call.
  HRESULT formatSupport(D3DDEVTYPE type, uint32_t usage, D3DRESOURCETYPE resourceType, D3DFORMAT format) const;
  // The back-buffer format a present record asks for, checked; UNKNOWN when refused.
  D3DFORMAT backBufferFormat(D3DFORMAT requested) const;

  const AdapterProfile profile;
};

// ---- The device ------------------------------------------------------------------
class Device final : public IDirect3DDevice9 {
 public:
  Device(Direct3D* direct3d, D3DDEVTYPE type, HWND focusWindow, uint32_t behaviorFlags);
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Builds the back and depth buffers for present parameters already
  // checked by the Direct3D object.
  HRESULT buildSwapChain(const D3DPRESENT_PARAMETERS& pp, D3DFORMAT backFormat);

  HRESULT QueryInterface(REFIID riid, void** object) override;
  uint32_t AddRef() override { return ++refs_; }
  uint32_t Release() override;
  // References the device's resources hold; D3DPOOL_DEFAULT ones are also
  // counted because Reset needs them gone.
  void internalAddRef(D3DPOOL pool = D3DPOOL_SYSTEMMEM);
  void internalRelease(D3DPOOL pool = D3DPOOL_SYSTEMMEM);

  HRESULT TestCooperativeLevel() override;
  HRESULT GetDirect3D(IDirect3D9** direct3d) override;
  HRESULT GetDeviceCaps(D3DCAPS9* caps) override;
  HRESULT GetDisplayMode(uint32_t swapChain, D3DDISPLAYMODE* mode) override;
  HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) override;
  HRESULT Reset(D3DPRESENT_PARAMETERS* presentParameters) override;
  HRESULT Present(const RECT*, const RECT*, HWND, const void*) override;
  HRESULT GetBackBuffer(uint32_t swapChain, uint32_t backBuffer, D3DBACKBUFFER_TYPE type,
                        IDirect3DSurface9** surface) override;
  HRESULT GetRenderTarget(uint32_t index, IDirect3DSurface9** surface) override;
  HRESULT GetDepthStencilSurface(IDirect3DSurface9** surface) override;

  HRESULT CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, D3DFORMAT format,
                        D3DPOOL pool, IDirect3DTexture9** texture, HANDLE* sharedHandle) override;
  HRESULT CreateVolumeTexture(uint32_t width, uint32_t height, uint32_t depth, uint32_t levels, uint32_t usage,
                              D3DFORMAT format, D3DPOOL pool, IDirect3DVolumeTexture9** texture,
                              HANDLE* sharedHandle) override;
  HRESULT CreateCubeTexture(uint32_t edgeLength, uint32_t levels, uint32_t usage, D3DFORMAT format, D3DPOOL pool,
                            IDirect3DCubeTexture9** texture, HANDLE* sharedHandle) override;
  HRESULT CreateRenderTarget(uint32_t width, uint32_t height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                             uint32_t multisampleQuality, BOOL lockable, IDirect3DSurface9** surface,
                             HANDLE* sharedHandle) override;
  HRESULT CreateOffscreenPlainSurface(uint32_t width, uint32_t height, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DSurface9** surface, HANDLE* sharedHandle) override;

  HRESULT UpdateSurface(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* destination,
                        const POINT* destPoint) override;
  HRESULT UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* destination) override;
  HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* destination) override;
  HRESULT StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* destination,
                      const RECT* destRect, D3DTEXTUREFILTERTYPE filter) override;

  HRESULT BeginScene() override;
  HRESULT EndScene() override;
  HRESULT Clear(uint32_t count, const D3DRECT* rects, uint32_t flags, D3DCOLOR color, float z,
                uint32_t stencil) override;
  HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
  HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
  HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, uint32_t value) override;
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, uint32_t* value) override;
  HRESULT SetTexture(uint32_t stage, IDirect3DBaseTexture9* texture) override;
  HRESULT GetTexture(uint32_t stage, IDirect3DBaseTexture9** texture) override;
  HRESULT SetTextureStageState(uint32_t stage, D3DTEXTURESTAGESTATETYPE type, uint32_t value) override;
  HRESULT GetTextureStageState(uint32_t stage, D3DTEXTURESTAGESTATETYPE type, uint32_t* value) override;
  HRESULT SetSamplerState(uint32_t sampler, D3DSAMPLERSTATETYPE type, uint32_t value) override;
  HRESULT GetSamplerState(uint32_t sampler, D3DSAMPLERSTATETYPE type, uint32_t* value) override;
  HRESULT SetFVF(uint32_t fvf) override;
  HRESULT GetFVF(uint32_t* fvf) override;
  HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE primitiveType, uint32_t primitiveCount, const void* vertexData,
                          uint32_t vertexStride) override;

  const AdapterProfile& profile() const { return direct3d_->profile; }
  Direct3D* direct3d() const { return direct3d_; }
  // Every state back to Direct3D's defaults, textures unbound.
  void resetStates();
  // Decoded A8R8G8B8 view of a 2D level (cached until its next lock).
  const uint32_t* decodedLevel(Texture* texture, uint32_t level);

  static constexpr uint32_t kSamplerSlots = D3D_MAX_SAMPLERS + 5;  // 16, displacement map, 4 vertex samplers
  static constexpr uint32_t kTransformSlots = 512;

 private:
  ~Device();
  void destroyIfUnused();
  bool isLost();
  static int samplerSlot(uint32_t sampler);
  HRESULT checkResourceRequest(D3DRESOURCETYPE type, uint32_t width, uint32_t height, uint32_t depth,
                               uint32_t* levels, uint32_t usage, D3DFORMAT format, D3DPOOL pool);

  Direct3D* direct3d_;
  uint32_t refs_ = 1;
  uint32_t internalRefs_ = 0;
  uint32_t defaultPoolResources_ = 0;

  D3DDEVICE_CREATION_PARAMETERS creation_{};
  D3DPRESENT_PARAMETERS present_{};
  std::unique_ptr<Surface> backBuffer_;
  std::unique_ptr<Surface> depthBuffer_;
  uint64_t lossEpoch_ = 0;  // the loss this device has recovered from
  uint32_t lostPolls_ = 0;
  bool lost_ = false;
  bool notReset_ = false;
  bool inScene_ = false;

  uint32_t renderStates_[D3DRS_COUNT]{};
  uint32_t stageStates_[D3D_MAX_TEXTURE_STAGES][D3DTSS_COUNT]{};
  uint32_t samplerStates_[kSamplerSlots][D3DSAMP_COUNT]{};
  IDirect3DBaseTexture9* textures_[kSamplerSlots]{};
  std::unique_ptr<D3DMATRIX[]> transforms_;
  uint32_t fvf_ = 0;
  D3DVIEWPORT9 viewport_{};
  raster::RasterState raster_;
  // Scratch of DrawPrimitiveUP, kept between draws: a 32-bit copy of a
  // 16-bit back buffer and the level views of the two stages.
  std::vector<uint32_t> wideTarget_;
  std::vector<raster::TextureLevel> stageLevels_[raster::kStageCount];
};

}  // namespace nerro::d3d9::detail
