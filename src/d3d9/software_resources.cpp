// Surfaces, volumes and the three texture kinds of the software adapter:
// descriptions, containers, reference counts and the lock rules of the
// pools.
#include "d3d9/software_objects.h"

namespace nerro::d3d9::detail {
namespace {

// May a resource of this kind be locked at all?
bool lockAllowed(const ResourceInfo& info, D3DFORMAT format) {
  if (info.depthStencil) return format == D3DFMT_D16_LOCKABLE || format == D3DFMT_D32F_LOCKABLE;
  if (info.lockable) return true;
  if (info.pool == D3DPOOL_DEFAULT) return (info.usage & D3DUSAGE_DYNAMIC) != 0;
  return true;
}

// For block formats an edge must lie on a block edge or on the level's edge.
bool blockAligned(uint32_t value, uint32_t limit) { return value % 4 == 0 || value == limit; }

// Checks a lock rectangle against the image; fills the byte offset of its
// first pixel.
bool lockOffset(const Image2D& image, const RECT* rect, size_t* offset) {
  if (rect == nullptr) {
    *offset = 0;
    return true;
  }
  if (rect->left < 0 || rect->top < 0 || rect->left > rect->right || rect->top > rect->bottom ||
      static_cast<uint32_t>(rect->right) > image.width || static_cast<uint32_t>(rect->bottom) > image.height)
    return false;
  const auto left = static_cast<uint32_t>(rect->left);
  const auto top = static_cast<uint32_t>(rect->top);
  if (isBlockFormat(image.format)) {
    if (left % 4 != 0 || top % 4 != 0 || !blockAligned(static_cast<uint32_t>(rect->right), image.width) ||
        !blockAligned(static_cast<uint32_t>(rect->bottom), image.height))
      return false;
    *offset = static_cast<size_t>(top / 4) * image.pitch + formatRowBytes(image.format, left);
    return true;
  }
  if (isPairFormat(image.format) && left % 2 != 0) return false;
  *offset = static_cast<size_t>(top) * image.pitch + formatRowBytes(image.format, left);
  return true;
}

template <class T>
HRESULT answerInterface(T* self, REFIID riid, void** object, std::initializer_list<const GUID*> ids) {
  if (object == nullptr) return E_POINTER;
  for (const GUID* id : ids) {
    if (*id == riid) {
      self->AddRef();
      *object = self;
      return S_OK;
    }
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT handOutDevice(Device* device, IDirect3DDevice9** out) {
  if (out == nullptr) return D3DERR_INVALIDCALL;
  device->AddRef();
  *out = device;
  return S_OK;
}

}  // namespace

// ---- Surface ----------------------------------------------------------------------
Surface::Surface(Device* dev, Owner owner, IDirect3DBaseTexture9* container, const ResourceInfo& resource)
    : info(resource), device(dev), owner_(owner), container_(container) {
  if (owner_ != Owner::Container) objectMade();
  if (owner_ == Owner::Standalone) device->internalAddRef(info.pool);
  if (owner_ == Owner::Device) refs_ = 0;
}

Surface::~Surface() {
  if (owner_ != Owner::Container) objectDestroyed();
  if (owner_ == Owner::Standalone) device->internalRelease(info.pool);
}

HRESULT Surface::QueryInterface(REFIID riid, void** object) {
  return answerInterface(this, riid, object, {&IID_IUnknown, &IID_IDirect3DResource9, &IID_IDirect3DSurface9});
}

uint32_t Surface::AddRef() {
  switch (owner_) {
    case Owner::Container:
      return container_->AddRef();
    case Owner::Device:
      ++externalRefs;
      return device->AddRef();
    case Owner::Standalone:
      break;
  }
  return ++refs_;
}

uint32_t Surface::Release() {
  switch (owner_) {
    case Owner::Container:
      return container_->Release();
    case Owner::Device:
      if (externalRefs == 0) return 0;
      --externalRefs;
      return device->Release();
    case Owner::Standalone:
      break;
  }
  if (refs_ == 0) return 0;
  const uint32_t left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT Surface::GetDevice(IDirect3DDevice9** out) { return handOutDevice(device, out); }

HRESULT Surface::GetContainer(REFIID riid, void** container) {
  if (container == nullptr) return D3DERR_INVALIDCALL;
  if (owner_ == Owner::Container) return container_->QueryInterface(riid, container);
  if (riid == IID_IDirect3DDevice9) {
    device->AddRef();
    *container = static_cast<IDirect3DDevice9*>(device);
    return S_OK;
  }
  *container = nullptr;
  return E_NOINTERFACE;
}

HRESULT Surface::GetDesc(D3DSURFACE_DESC* desc) {
  if (desc == nullptr) return D3DERR_INVALIDCALL;
  *desc = D3DSURFACE_DESC{image.format, D3DRTYPE_SURFACE, info.usage, info.pool, D3DMULTISAMPLE_NONE, 0,
                          image.width, image.height};
  return S_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* out, const RECT* rect, uint32_t /*flags*/) {
  if (out == nullptr || locked) return D3DERR_INVALIDCALL;
  if (!lockAllowed(info, image.format)) return D3DERR_INVALIDCALL;
  size_t offset = 0;
  if (!lockOffset(image, rect, &offset)) return D3DERR_INVALIDCALL;
  if (faultFires(FaultPoint::Lock)) return D3DERR_INVALIDCALL;
  locked = true;
  ++version;
  out->Pitch = image.pitch;
  out->pBits = image.bits.data() + offset;
  return S_OK;
}

HRESULT Surface::UnlockRect() {
  if (!locked) return D3DERR_INVALIDCALL;
  locked = false;
  return S_OK;
}

// ---- Volume -------------------------------------------------------------------------
Volume::Volume(Device* dev, IDirect3DVolumeTexture9* container, const ResourceInfo& resource)
    : info(resource), device(dev), container_(container) {}

HRESULT Volume::QueryInterface(REFIID riid, void** object) {
  return answerInterface(this, riid, object, {&IID_IUnknown, &IID_IDirect3DVolume9});
}
uint32_t Volume::AddRef() { return container_->AddRef(); }
uint32_t Volume::Release() { return container_->Release(); }
HRESULT Volume::GetDevice(IDirect3DDevice9** out) { return handOutDevice(device, out); }

HRESULT Volume::GetContainer(REFIID riid, void** container) {
  if (container == nullptr) return D3DERR_INVALIDCALL;
  return container_->QueryInterface(riid, container);
}

HRESULT Volume::GetDesc(D3DVOLUME_DESC* desc) {
  if (desc == nullptr) return D3DERR_INVALIDCALL;
  *desc = D3DVOLUME_DESC{image.format, D3DRTYPE_VOLUME, info.usage, info.pool, image.width, image.height,
                         image.depth};
  return S_OK;
}

HRESULT Volume::LockBox(D3DLOCKED_BOX* out, const D3DBOX* box, uint32_t /*flags*/) {
  if (out == nullptr || locked) return D3DERR_INVALIDCALL;
  if (!lockAllowed(info, image.format)) return D3DERR_INVALIDCALL;
  size_t offset = 0;
  if (box != nullptr) {
    if (box->Left > box->Right || box->Top > box->Bottom || box->Front > box->Back || box->Right > image.width ||
        box->Bottom > image.height || box->Back > image.depth)
      return D3DERR_INVALIDCALL;
    RECT rect{static_cast<int32_t>(box->Left), static_cast<int32_t>(box->Top), static_cast<int32_t>(box->Right),
              static_cast<int32_t>(box->Bottom)};
    if (!lockOffset(image, &rect, &offset)) return D3DERR_INVALIDCALL;
    offset += static_cast<size_t>(box->Front) * image.slicePitch;
  }
  if (faultFires(FaultPoint::Lock)) return D3DERR_INVALIDCALL;
  locked = true;
  out->RowPitch = image.pitch;
  out->SlicePitch = image.slicePitch;
  out->pBits = image.bits.data() + offset;
  return S_OK;
}

HRESULT Volume::UnlockBox() {
  if (!locked) return D3DERR_INVALIDCALL;
  locked = false;
  return S_OK;
}

// ---- Textures -------------------------------------------------------------------------
ResourceBase::ResourceBase(Device* device, D3DPOOL pool) : device_(device), pool_(pool) {
  device_->internalAddRef(pool_);
}
ResourceBase::~ResourceBase() { device_->internalRelease(pool_); }

Texture::Texture(Device* dev, const ResourceInfo& resource) : ResourceBase(dev, resource.pool), info(resource) {}

HRESULT Texture::QueryInterface(REFIID riid, void** object) {
  return answerInterface(this, riid, object,
                         {&IID_IUnknown, &IID_IDirect3DResource9, &IID_IDirect3DBaseTexture9, &IID_IDirect3DTexture9});
}
HRESULT Texture::GetDevice(IDirect3DDevice9** out) { return handOutDevice(device(), out); }

HRESULT Texture::GetLevelDesc(uint32_t level, D3DSURFACE_DESC* desc) {
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  return levels[level]->GetDesc(desc);
}

HRESULT Texture::GetSurfaceLevel(uint32_t level, IDirect3DSurface9** surface) {
  if (surface == nullptr || level >= levels.size()) return D3DERR_INVALIDCALL;
  levels[level]->AddRef();
  *surface = levels[level].get();
  return S_OK;
}

HRESULT Texture::LockRect(uint32_t level, D3DLOCKED_RECT* locked, const RECT* rect, uint32_t flags) {
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  return levels[level]->LockRect(locked, rect, flags);
}

HRESULT Texture::UnlockRect(uint32_t level) {
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  return levels[level]->UnlockRect();
}

CubeTexture::CubeTexture(Device* dev, const ResourceInfo& resource) : ResourceBase(dev, resource.pool), info(resource) {}

HRESULT CubeTexture::QueryInterface(REFIID riid, void** object) {
  return answerInterface(
      this, riid, object,
      {&IID_IUnknown, &IID_IDirect3DResource9, &IID_IDirect3DBaseTexture9, &IID_IDirect3DCubeTexture9});
}
HRESULT CubeTexture::GetDevice(IDirect3DDevice9** out) { return handOutDevice(device(), out); }

HRESULT CubeTexture::GetLevelDesc(uint32_t level, D3DSURFACE_DESC* desc) {
  Surface* s = surface(0, level);
  return s == nullptr ? D3DERR_INVALIDCALL : s->GetDesc(desc);
}

HRESULT CubeTexture::GetCubeMapSurface(D3DCUBEMAP_FACES face, uint32_t level, IDirect3DSurface9** out) {
  Surface* s = surface(face, level);
  if (s == nullptr || out == nullptr) return D3DERR_INVALIDCALL;
  s->AddRef();
  *out = s;
  return S_OK;
}

HRESULT CubeTexture::LockRect(D3DCUBEMAP_FACES face, uint32_t level, D3DLOCKED_RECT* locked, const RECT* rect,
                              uint32_t flags) {
  Surface* s = surface(face, level);
  return s == nullptr ? D3DERR_INVALIDCALL : s->LockRect(locked, rect, flags);
}

HRESULT CubeTexture::UnlockRect(D3DCUBEMAP_FACES face, uint32_t level) {
  Surface* s = surface(face, level);
  return s == nullptr ? D3DERR_INVALIDCALL : s->UnlockRect();
}

VolumeTexture::VolumeTexture(Device* dev, const ResourceInfo& resource) : ResourceBase(dev, resource.pool), info(resource) {}

HRESULT VolumeTexture::QueryInterface(REFIID riid, void** object) {
  return answerInterface(
      this, riid, object,
      {&IID_IUnknown, &IID_IDirect3DResource9, &IID_IDirect3DBaseTexture9, &IID_IDirect3DVolumeTexture9});
}
HRESULT VolumeTexture::GetDevice(IDirect3DDevice9** out) { return handOutDevice(device(), out); }

HRESULT VolumeTexture::GetLevelDesc(uint32_t level, D3DVOLUME_DESC* desc) {
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  return levels[level]->GetDesc(desc);
}

HRESULT VolumeTexture::GetVolumeLevel(uint32_t level, IDirect3DVolume9** volume) {
  if (volume == nullptr || level >= levels.size()) return D3DERR_INVALIDCALL;
  levels[level]->AddRef();
  *volume = levels[level].get();
  return S_OK;
}

HRESULT VolumeTexture::LockBox(uint32_t level, D3DLOCKED_BOX* locked, const D3DBOX* box, uint32_t flags) {
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  return levels[level]->LockBox(locked, box, flags);
}

HRESULT VolumeTexture::UnlockBox(uint32_t level) {
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  return levels[level]->UnlockBox();
}

// ---- Identification of our own objects ---------------------------------------------------
Surface* asSurface(IDirect3DSurface9* surface) { return dynamic_cast<Surface*>(surface); }

ResourceInfo* textureInfo(IDirect3DBaseTexture9* texture) {
  if (auto* t = dynamic_cast<Texture*>(texture)) return &t->info;
  if (auto* t = dynamic_cast<CubeTexture*>(texture)) return &t->info;
  if (auto* t = dynamic_cast<VolumeTexture*>(texture)) return &t->info;
  return nullptr;
}

}  // namespace nerro::d3d9::detail
