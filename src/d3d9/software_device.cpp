// The software device: lifetime, loss and reset, and the stored pipeline
// state (render, texture-stage and sampler states, transforms, viewport,
// bound textures) with Direct3D's default values.
#include <cstring>

#include "d3d9/software_objects.h"

namespace nerro::d3d9::detail {
namespace {

constexpr uint32_t kOne = 0x3F800000u;  // 1.0f
constexpr uint32_t kSixtyFour = 0x42800000u;  // 64.0f

struct StateDefault {
  uint32_t state;
  uint32_t value;
};

// Every render state a device knows, with its value after creation and
// after Reset. D3DRS_ZENABLE follows the automatic depth buffer (set apart).
constexpr StateDefault kRenderStateDefaults[] = {
    {D3DRS_ZENABLE, D3DZB_FALSE},
    {D3DRS_FILLMODE, D3DFILL_SOLID},
    {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
    {D3DRS_ZWRITEENABLE, TRUE},
    {D3DRS_ALPHATESTENABLE, FALSE},
    {D3DRS_LASTPIXEL, TRUE},
    {D3DRS_SRCBLEND, D3DBLEND_ONE},
    {D3DRS_DESTBLEND, D3DBLEND_ZERO},
    {D3DRS_CULLMODE, D3DCULL_CCW},
    {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},
    {D3DRS_ALPHAREF, 0},
    {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS},
    {D3DRS_DITHERENABLE, FALSE},
    {D3DRS_ALPHABLENDENABLE, FALSE},
    {D3DRS_FOGENABLE, FALSE},
    {D3DRS_SPECULARENABLE, FALSE},
    {D3DRS_FOGCOLOR, 0},
    {D3DRS_FOGTABLEMODE, D3DFOG_NONE},
    {D3DRS_FOGSTART, 0},
    {D3DRS_FOGEND, kOne},
    {D3DRS_FOGDENSITY, kOne},
    {D3DRS_RANGEFOGENABLE, FALSE},
    {D3DRS_STENCILENABLE, FALSE},
    {D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP},
    {D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP},
    {D3DRS_STENCILPASS, D3DSTENCILOP_KEEP},
    {D3DRS_STENCILFUNC, D3DCMP_ALWAYS},
    {D3DRS_STENCILREF, 0},
    {D3DRS_STENCILMASK, 0xFFFFFFFFu},
    {D3DRS_STENCILWRITEMASK, 0xFFFFFFFFu},
    {D3DRS_TEXTUREFACTOR, 0xFFFFFFFFu},
    {D3DRS_WRAP0, 0},
    {D3DRS_WRAP1, 0},
    {D3DRS_WRAP2, 0},
    {D3DRS_WRAP3, 0},
    {D3DRS_WRAP4, 0},
    {D3DRS_WRAP5, 0},
    {D3DRS_WRAP6, 0},
    {D3DRS_WRAP7, 0},
    {D3DRS_CLIPPING, TRUE},
    {D3DRS_LIGHTING, TRUE},
    {D3DRS_AMBIENT, 0},
    {D3DRS_FOGVERTEXMODE, D3DFOG_NONE},
    {D3DRS_COLORVERTEX, TRUE},
    {D3DRS_LOCALVIEWER, TRUE},
    {D3DRS_NORMALIZENORMALS, FALSE},
    {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
    {D3DRS_SPECULARMATERIALSOURCE, D3DMCS_COLOR2},
    {D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL},
    {D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_MATERIAL},
    {D3DRS_VERTEXBLEND, D3DVBF_DISABLE},
    {D3DRS_CLIPPLANEENABLE, 0},
    {D3DRS_POINTSIZE, kOne},
    {D3DRS_POINTSIZE_MIN, kOne},
    {D3DRS_POINTSPRITEENABLE, FALSE},
    {D3DRS_POINTSCALEENABLE, FALSE},
    {D3DRS_POINTSCALE_A, kOne},
    {D3DRS_POINTSCALE_B, 0},
    {D3DRS_POINTSCALE_C, 0},
    {D3DRS_MULTISAMPLEANTIALIAS, TRUE},
    {D3DRS_MULTISAMPLEMASK, 0xFFFFFFFFu},
    {D3DRS_PATCHEDGESTYLE, D3DPATCHEDGE_DISCRETE},
    {D3DRS_DEBUGMONITORTOKEN, 0},
    {D3DRS_POINTSIZE_MAX, kSixtyFour},
    {D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE},
    {D3DRS_COLORWRITEENABLE, 0xF},
    {D3DRS_TWEENFACTOR, 0},
    {D3DRS_BLENDOP, D3DBLENDOP_ADD},
    {D3DRS_POSITIONDEGREE, D3DDEGREE_CUBIC},
    {D3DRS_NORMALDEGREE, D3DDEGREE_LINEAR},
    {D3DRS_SCISSORTESTENABLE, FALSE},
    {D3DRS_SLOPESCALEDEPTHBIAS, 0},
    {D3DRS_ANTIALIASEDLINEENABLE, FALSE},
    {D3DRS_MINTESSELLATIONLEVEL, kOne},
    {D3DRS_MAXTESSELLATIONLEVEL, kOne},
    {D3DRS_ADAPTIVETESS_X, 0},
    {D3DRS_ADAPTIVETESS_Y, 0},
    {D3DRS_ADAPTIVETESS_Z, kOne},
    {D3DRS_ADAPTIVETESS_W, 0},
    {D3DRS_ENABLEADAPTIVETESSELLATION, FALSE},
    {D3DRS_TWOSIDEDSTENCILMODE, FALSE},
    {D3DRS_CCW_STENCILFAIL, D3DSTENCILOP_KEEP},
    {D3DRS_CCW_STENCILZFAIL, D3DSTENCILOP_KEEP},
    {D3DRS_CCW_STENCILPASS, D3DSTENCILOP_KEEP},
    {D3DRS_CCW_STENCILFUNC, D3DCMP_ALWAYS},
    {D3DRS_COLORWRITEENABLE1, 0xF},
    {D3DRS_COLORWRITEENABLE2, 0xF},
    {D3DRS_COLORWRITEENABLE3, 0xF},
    {D3DRS_BLENDFACTOR, 0xFFFFFFFFu},
    {D3DRS_SRGBWRITEENABLE, 0},
    {D3DRS_DEPTHBIAS, 0},
    {D3DRS_WRAP8, 0},
    {D3DRS_WRAP9, 0},
    {D3DRS_WRAP10, 0},
    {D3DRS_WRAP11, 0},
    {D3DRS_WRAP12, 0},
    {D3DRS_WRAP13, 0},
    {D3DRS_WRAP14, 0},
    {D3DRS_WRAP15, 0},
    {D3DRS_SEPARATEALPHABLENDENABLE, FALSE},
    {D3DRS_SRCBLENDALPHA, D3DBLEND_ONE},
    {D3DRS_DESTBLENDALPHA, D3DBLEND_ZERO},
    {D3DRS_BLENDOPALPHA, D3DBLENDOP_ADD},
};

// Texture-stage states of every stage; COLOROP, ALPHAOP and TEXCOORDINDEX
// differ per stage and are set apart.
constexpr StateDefault kStageStateDefaults[] = {
    {D3DTSS_COLOROP, D3DTOP_DISABLE},     {D3DTSS_COLORARG1, D3DTA_TEXTURE},  {D3DTSS_COLORARG2, D3DTA_CURRENT},
    {D3DTSS_ALPHAOP, D3DTOP_DISABLE},     {D3DTSS_ALPHAARG1, D3DTA_TEXTURE},  {D3DTSS_ALPHAARG2, D3DTA_CURRENT},
    {D3DTSS_BUMPENVMAT00, 0},             {D3DTSS_BUMPENVMAT01, 0},           {D3DTSS_BUMPENVMAT10, 0},
    {D3DTSS_BUMPENVMAT11, 0},             {D3DTSS_TEXCOORDINDEX, 0},          {D3DTSS_BUMPENVLSCALE, 0},
    {D3DTSS_BUMPENVLOFFSET, 0},           {D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE},
    {D3DTSS_COLORARG0, D3DTA_CURRENT},    {D3DTSS_ALPHAARG0, D3DTA_CURRENT},  {D3DTSS_RESULTARG, D3DTA_CURRENT},
    {D3DTSS_CONSTANT, 0},
};

constexpr StateDefault kSamplerStateDefaults[] = {
    {D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP}, {D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP}, {D3DSAMP_ADDRESSW, D3DTADDRESS_WRAP},
    {D3DSAMP_BORDERCOLOR, 0},             {D3DSAMP_MAGFILTER, D3DTEXF_POINT},   {D3DSAMP_MINFILTER, D3DTEXF_POINT},
    {D3DSAMP_MIPFILTER, D3DTEXF_NONE},    {D3DSAMP_MIPMAPLODBIAS, 0},           {D3DSAMP_MAXMIPLEVEL, 0},
    {D3DSAMP_MAXANISOTROPY, 1},           {D3DSAMP_SRGBTEXTURE, 0},             {D3DSAMP_ELEMENTINDEX, 0},
    {D3DSAMP_DMAPOFFSET, 0},
};

// The state numbers a table lists, as flags by number, so that every Set
// and Get call checks its state with one look-up. Numbers at or above Count
// are never known.
template <uint32_t Count>
struct KnownStates {
  bool flags[Count] = {};
  template <size_t N>
  constexpr explicit KnownStates(const StateDefault (&table)[N]) {
    for (const auto& d : table)
      if (d.state < Count) flags[d.state] = true;
  }
  constexpr bool operator()(uint32_t state) const { return state < Count && flags[state]; }
};

constexpr KnownStates<D3DRS_COUNT> kKnownRenderState(kRenderStateDefaults);
constexpr KnownStates<D3DTSS_COUNT> kKnownStageState(kStageStateDefaults);
constexpr KnownStates<D3DSAMP_COUNT> kKnownSamplerState(kSamplerStateDefaults);

D3DMATRIX identityMatrix() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

bool validTransform(uint32_t t) {
  return t == D3DTS_VIEW || t == D3DTS_PROJECTION || (t >= D3DTS_TEXTURE0 && t <= D3DTS_TEXTURE7) ||
         (t >= D3DTS_WORLD && t < Device::kTransformSlots);
}

}  // namespace

Device::Device(Direct3D* direct3d, D3DDEVTYPE type, HWND focusWindow, uint32_t behaviorFlags)
    : direct3d_(direct3d), transforms_(std::make_unique<D3DMATRIX[]>(kTransformSlots)) {
  objectMade();
  direct3d_->AddRef();
  creation_ = D3DDEVICE_CREATION_PARAMETERS{D3DADAPTER_DEFAULT, type, focusWindow, behaviorFlags};
  lossEpoch_ = control().lossEpoch;
}

Device::~Device() {
  backBuffer_.reset();
  depthBuffer_.reset();
  direct3d_->Release();
  objectDestroyed();
}

HRESULT Device::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDirect3DDevice9) {
    AddRef();
    *object = static_cast<IDirect3DDevice9*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

uint32_t Device::Release() {
  if (refs_ == 0) return 0;  // over-release: ignored rather than a double free
  if (--refs_ != 0) return refs_;
  // The last outside reference: let go of the bound textures. The internal
  // reference keeps this object alive while they go.
  internalAddRef();
  for (auto& texture : textures_) {
    if (texture != nullptr) {
      IDirect3DBaseTexture9* t = texture;
      texture = nullptr;
      t->Release();
    }
  }
  internalRelease();
  return 0;
}

void Device::internalAddRef(D3DPOOL pool) {
  ++internalRefs_;
  if (pool == D3DPOOL_DEFAULT) ++defaultPoolResources_;
}

void Device::internalRelease(D3DPOOL pool) {
  if (pool == D3DPOOL_DEFAULT && defaultPoolResources_ > 0) --defaultPoolResources_;
  if (internalRefs_ > 0) --internalRefs_;
  destroyIfUnused();
}

void Device::destroyIfUnused() {
  if (refs_ == 0 && internalRefs_ == 0) delete this;
}

HRESULT Device::buildSwapChain(const D3DPRESENT_PARAMETERS& pp, D3DFORMAT backFormat) {
  ResourceInfo back;
  back.type = D3DRTYPE_SURFACE;
  back.usage = D3DUSAGE_RENDERTARGET;
  back.pool = D3DPOOL_DEFAULT;
  back.lockable = (pp.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) != 0;
  back.renderTarget = true;
  auto newBack = std::make_unique<Surface>(this, Surface::Owner::Device, nullptr, back);
  if (!newBack->image.allocate(backFormat, pp.BackBufferWidth, pp.BackBufferHeight, 1, profile().pitchAlignment))
    return E_OUTOFMEMORY;
  std::unique_ptr<Surface> newDepth;
  if (pp.EnableAutoDepthStencil) {
    ResourceInfo depth;
    depth.usage = D3DUSAGE_DEPTHSTENCIL;
    depth.pool = D3DPOOL_DEFAULT;
    depth.depthStencil = true;
    newDepth = std::make_unique<Surface>(this, Surface::Owner::Device, nullptr, depth);
    if (!newDepth->image.allocate(pp.AutoDepthStencilFormat, pp.BackBufferWidth, pp.BackBufferHeight, 1,
                                  profile().pitchAlignment))
      return E_OUTOFMEMORY;
  }
  backBuffer_ = std::move(newBack);
  depthBuffer_ = std::move(newDepth);
  present_ = pp;
  present_.BackBufferFormat = backFormat;
  if (present_.BackBufferCount == 0) present_.BackBufferCount = 1;
  resetStates();
  return S_OK;
}

void Device::resetStates() {
  std::memset(renderStates_, 0, sizeof renderStates_);
  for (const auto& d : kRenderStateDefaults) renderStates_[d.state] = d.value;
  renderStates_[D3DRS_ZENABLE] = depthBuffer_ ? D3DZB_TRUE : D3DZB_FALSE;

  for (uint32_t stage = 0; stage < D3D_MAX_TEXTURE_STAGES; ++stage) {
    for (const auto& d : kStageStateDefaults) stageStates_[stage][d.state] = d.value;
    stageStates_[stage][D3DTSS_TEXCOORDINDEX] = stage;
  }
  stageStates_[0][D3DTSS_COLOROP] = D3DTOP_MODULATE;
  stageStates_[0][D3DTSS_ALPHAOP] = D3DTOP_SELECTARG1;

  for (auto& sampler : samplerStates_)
    for (const auto& d : kSamplerStateDefaults) sampler[d.state] = d.value;

  for (auto& texture : textures_) {
    if (texture != nullptr) {
      IDirect3DBaseTexture9* t = texture;
      texture = nullptr;
      t->Release();
    }
  }
  for (uint32_t i = 0; i < kTransformSlots; ++i) transforms_[i] = identityMatrix();
  fvf_ = 0;
  viewport_ = D3DVIEWPORT9{0, 0, backBuffer_ ? backBuffer_->image.width : 0,
                           backBuffer_ ? backBuffer_->image.height : 0, 0.0f, 1.0f};
  inScene_ = false;

  raster_ = raster::RasterState();
  raster::setRenderState(raster_, D3DRS_ZENABLE, renderStates_[D3DRS_ZENABLE]);
  raster_.viewport = viewport_;
}

// ---- Loss and reset ------------------------------------------------------------
bool Device::isLost() {
  const auto& c = control();
  if (lossEpoch_ != c.lossEpoch) {
    lossEpoch_ = c.lossEpoch;
    lost_ = true;
    lostPolls_ = c.lostPolls;
  }
  return lost_;
}

HRESULT Device::TestCooperativeLevel() {
  if (!isLost()) return S_OK;
  if (lostPolls_ > 0) {
    --lostPolls_;
    return D3DERR_DEVICELOST;
  }
  return D3DERR_DEVICENOTRESET;
}

HRESULT Device::Reset(D3DPRESENT_PARAMETERS* pp) {
  ++control().calls.reset;
  if (isLost() && lostPolls_ > 0) return D3DERR_DEVICELOST;
  HRESULT hr = S_OK;
  D3DFORMAT backFormat = D3DFMT_UNKNOWN;
  if (pp == nullptr) {
    hr = D3DERR_INVALIDCALL;
  } else if (defaultPoolResources_ > 0 || (backBuffer_ && backBuffer_->externalRefs > 0) ||
             (depthBuffer_ && depthBuffer_->externalRefs > 0)) {
    hr = D3DERR_INVALIDCALL;  // D3DPOOL_DEFAULT resources must be released first
  } else if (faultFires(FaultPoint::Reset)) {
    hr = D3DERR_DEVICELOST;
  } else if (SUCCEEDED(hr = direct3d_->checkPresentParameters(*pp, creation_.hFocusWindow, &backFormat))) {
    hr = buildSwapChain(*pp, backFormat);
  }
  if (FAILED(hr)) {
    // A failed reset leaves the device lost until a reset succeeds.
    lost_ = true;
    lostPolls_ = 0;
    return hr;
  }
  lost_ = false;
  lostPolls_ = 0;
  return S_OK;
}

HRESULT Device::Present(const RECT*, const RECT*, HWND, const void*) {
  if (isLost()) return D3DERR_DEVICELOST;
  return inScene_ ? D3DERR_INVALIDCALL : S_OK;
}

// ---- Queries ---------------------------------------------------------------------
HRESULT Device::GetDirect3D(IDirect3D9** out) {
  if (out == nullptr) return D3DERR_INVALIDCALL;
  direct3d_->AddRef();
  *out = direct3d_;
  return S_OK;
}

HRESULT Device::GetDeviceCaps(D3DCAPS9* caps) {
  if (caps == nullptr) return D3DERR_INVALIDCALL;
  direct3d_->fillCaps(creation_.DeviceType, caps);
  return S_OK;
}

HRESULT Device::GetDisplayMode(uint32_t swapChain, D3DDISPLAYMODE* mode) {
  if (swapChain != 0 || mode == nullptr) return D3DERR_INVALIDCALL;
  *mode = profile().displayMode;
  return S_OK;
}

HRESULT Device::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) {
  if (parameters == nullptr) return D3DERR_INVALIDCALL;
  *parameters = creation_;
  return S_OK;
}

HRESULT Device::GetBackBuffer(uint32_t swapChain, uint32_t index, D3DBACKBUFFER_TYPE type,
                              IDirect3DSurface9** surface) {
  if (surface == nullptr) return D3DERR_INVALIDCALL;
  if (swapChain != 0 || index != 0 || type != D3DBACKBUFFER_TYPE_MONO || !backBuffer_) return D3DERR_INVALIDCALL;
  if (faultFires(FaultPoint::GetBackBuffer)) return D3DERR_INVALIDCALL;
  backBuffer_->AddRef();
  *surface = backBuffer_.get();
  return S_OK;
}

HRESULT Device::GetRenderTarget(uint32_t index, IDirect3DSurface9** surface) {
  if (surface == nullptr || index != 0 || !backBuffer_) return D3DERR_INVALIDCALL;
  backBuffer_->AddRef();
  *surface = backBuffer_.get();
  return S_OK;
}

HRESULT Device::GetDepthStencilSurface(IDirect3DSurface9** surface) {
  if (surface == nullptr) return D3DERR_INVALIDCALL;
  if (!depthBuffer_) {
    *surface = nullptr;
    return D3DERR_NOTFOUND;
  }
  depthBuffer_->AddRef();
  *surface = depthBuffer_.get();
  return S_OK;
}

// ---- Scene and state --------------------------------------------------------------
HRESULT Device::BeginScene() {
  if (inScene_) return D3DERR_INVALIDCALL;
  inScene_ = true;
  return S_OK;
}

HRESULT Device::EndScene() {
  if (!inScene_) return D3DERR_INVALIDCALL;
  inScene_ = false;
  return S_OK;
}

HRESULT Device::SetViewport(const D3DVIEWPORT9* v) {
  if (v == nullptr || !backBuffer_) return D3DERR_INVALIDCALL;
  const uint64_t right = uint64_t{v->X} + v->Width;
  const uint64_t bottom = uint64_t{v->Y} + v->Height;
  if (v->Width == 0 || v->Height == 0 || right > backBuffer_->image.width || bottom > backBuffer_->image.height ||
      !(v->MinZ >= 0.0f && v->MinZ <= 1.0f) || !(v->MaxZ >= 0.0f && v->MaxZ <= 1.0f))
    return D3DERR_INVALIDCALL;
  viewport_ = *v;
  raster_.viewport = *v;
  return S_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT9* v) {
  if (v == nullptr) return D3DERR_INVALIDCALL;
  if (faultFires(FaultPoint::GetViewport)) return D3DERR_INVALIDCALL;
  *v = viewport_;
  return S_OK;
}

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
  if (matrix == nullptr || !validTransform(state)) return D3DERR_INVALIDCALL;
  transforms_[state] = *matrix;
  raster::setTransform(raster_, state, *matrix);
  return S_OK;
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
  if (matrix == nullptr || !validTransform(state)) return D3DERR_INVALIDCALL;
  *matrix = transforms_[state];
  return S_OK;
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, uint32_t value) {
  if (state >= D3DRS_COUNT || !kKnownRenderState(state)) return D3DERR_INVALIDCALL;
  renderStates_[state] = value;
  raster::setRenderState(raster_, state, value);
  return S_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, uint32_t* value) {
  if (value == nullptr || state >= D3DRS_COUNT || !kKnownRenderState(state)) return D3DERR_INVALIDCALL;
  *value = renderStates_[state];
  return S_OK;
}

int Device::samplerSlot(uint32_t sampler) {
  if (sampler < D3D_MAX_SAMPLERS) return static_cast<int>(sampler);
  // D3DDMAPSAMPLER (256) and the four vertex-texture samplers (257-260).
  if (sampler >= 256 && sampler <= 260) return static_cast<int>(D3D_MAX_SAMPLERS + (sampler - 256));
  return -1;
}

HRESULT Device::SetTexture(uint32_t stage, IDirect3DBaseTexture9* texture) {
  const int slot = samplerSlot(stage);
  if (slot < 0) return D3DERR_INVALIDCALL;
  // Binding what is bound already changes nothing: the binding's reference
  // is the one it holds, and the texture passed the checks when bound.
  if (texture == textures_[slot]) return S_OK;
  if (texture != nullptr && textureInfo(texture) == nullptr) return D3DERR_INVALIDCALL;
  if (texture != nullptr) texture->AddRef();
  IDirect3DBaseTexture9* old = textures_[slot];
  textures_[slot] = texture;
  if (old != nullptr) old->Release();
  return S_OK;
}

HRESULT Device::GetTexture(uint32_t stage, IDirect3DBaseTexture9** texture) {
  const int slot = samplerSlot(stage);
  if (slot < 0 || texture == nullptr) return D3DERR_INVALIDCALL;
  *texture = textures_[slot];
  if (*texture != nullptr) (*texture)->AddRef();
  return S_OK;
}

HRESULT Device::SetTextureStageState(uint32_t stage, D3DTEXTURESTAGESTATETYPE type, uint32_t value) {
  if (stage >= D3D_MAX_TEXTURE_STAGES || type >= D3DTSS_COUNT || !kKnownStageState(type))
    return D3DERR_INVALIDCALL;
  stageStates_[stage][type] = value;
  raster::setTextureStageState(raster_, stage, type, value);
  return S_OK;
}

HRESULT Device::GetTextureStageState(uint32_t stage, D3DTEXTURESTAGESTATETYPE type, uint32_t* value) {
  if (value == nullptr || stage >= D3D_MAX_TEXTURE_STAGES || type >= D3DTSS_COUNT ||
      !kKnownStageState(type))
    return D3DERR_INVALIDCALL;
  *value = stageStates_[stage][type];
  return S_OK;
}

HRESULT Device::SetSamplerState(uint32_t sampler, D3DSAMPLERSTATETYPE type, uint32_t value) {
  const int slot = samplerSlot(sampler);
  if (slot < 0 || type >= D3DSAMP_COUNT || !kKnownSamplerState(type)) return D3DERR_INVALIDCALL;
  samplerStates_[slot][type] = value;
  raster::setSamplerState(raster_, static_cast<uint32_t>(slot), type, value);
  return S_OK;
}

HRESULT Device::GetSamplerState(uint32_t sampler, D3DSAMPLERSTATETYPE type, uint32_t* value) {
  const int slot = samplerSlot(sampler);
  if (value == nullptr || slot < 0 || type >= D3DSAMP_COUNT || !kKnownSamplerState(type))
    return D3DERR_INVALIDCALL;
  *value = samplerStates_[slot][type];
  return S_OK;
}

HRESULT Device::SetFVF(uint32_t fvf) {
  fvf_ = fvf;
  return S_OK;
}

HRESULT Device::GetFVF(uint32_t* fvf) {
  if (fvf == nullptr) return D3DERR_INVALIDCALL;
  *fvf = fvf_;
  return S_OK;
}

}  // namespace nerro::d3d9::detail
