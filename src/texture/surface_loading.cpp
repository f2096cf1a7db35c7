#include "texture/surface_loading.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "d3d9/com_ptr.h"
#include "math/math.h"
#include "texture/blit_strategies.h"

namespace nerro::texture {

using pixel::PixelRegion;

namespace {

// Silences the Direct3D debug output around calls that may fail in normal
// use (probing, locks and copies that have a fallback).
class DebugMute {
 public:
  DebugMute() { math::setDebugMute(1); }
  ~DebugMute() { math::setDebugMute(0); }
  DebugMute(const DebugMute&) = delete;
  DebugMute& operator=(const DebugMute&) = delete;
};

template <typename T>
void releaseAndClear(T*& object) {
  if (object) {
    object->Release();
    object = nullptr;
  }
}

bool isDxt(D3DFORMAT f) {
  return f == D3DFMT_DXT1 || f == D3DFMT_DXT2 || f == D3DFMT_DXT3 || f == D3DFMT_DXT4 || f == D3DFMT_DXT5;
}

bool isPixelPair(D3DFORMAT f) {
  return f == D3DFMT_YUY2 || f == D3DFMT_UYVY || f == D3DFMT_R8G8_B8G8 || f == D3DFMT_G8R8_G8B8;
}

uint32_t roundDown(uint32_t v, uint32_t m) { return v / m * m; }
uint32_t roundUp(uint32_t v, uint32_t m) { return (v + m - 1) / m * m; }

// Widens the horizontal extent (and for blocks the vertical one) to what the
// format can lock: 4 x 4 blocks or two-pixel pairs, capped at the surface.
void widenForFormat(D3DFORMAT format, uint32_t width, uint32_t height, uint32_t& left, uint32_t& top,
                    uint32_t& right, uint32_t& bottom) {
  if (isDxt(format)) {
    left = roundDown(left, 4);
    top = roundDown(top, 4);
    right = std::min(roundUp(right, 4), width);
    bottom = std::min(roundUp(bottom, 4), height);
  } else if (isPixelPair(format)) {
    left = roundDown(left, 2);
    right = std::min(roundUp(right, 2), width);
  }
}

D3DBOX boxFromRect(const RECT& r) {
  return {static_cast<uint32_t>(r.left), static_cast<uint32_t>(r.top), static_cast<uint32_t>(r.right),
          static_cast<uint32_t>(r.bottom), 0, 1};
}

bool palettesMatch(const PALETTEENTRY* a, const PALETTEENTRY* b) {
  if (a == b) return true;
  return a && b && std::memcmp(a, b, 256 * sizeof(PALETTEENTRY)) == 0;
}

}  // namespace

// ---- BlitRegion -----------------------------------------------------------

HRESULT BlitRegion(PixelRegion& destination, PixelRegion& source, FilterOptions filter) {
  if (!isValidFilter(filter)) return D3DERR_INVALIDCALL;
  source.gamma = filter & FilterSrgbIn;
  destination.gamma = filter & FilterSrgbOut;
  destination.orderedDither = filter & FilterDither;
  destination.diffuseErrors = filter & FilterDiffusionDither;
  std::unique_ptr<pixel::PixelCodec> dest = pixel::CreatePixelCodec(destination);
  if (!dest) return E_FAIL;
  std::unique_ptr<pixel::PixelCodec> src = pixel::CreatePixelCodec(source);
  if (!src) return E_FAIL;
  const HRESULT linked = dest->LinkToSource(*src);
  if (FAILED(linked)) return linked;
  return RunBlitStrategies(*src, *dest, filter);
}

// ---- CopySurfaceBits --------------------------------------------------------

HRESULT CopySurfaceBits(IDirect3DSurface9* source, IDirect3DSurface9* destination) {
  if (!source || !destination) return D3DERR_INVALIDCALL;
  D3DSURFACE_DESC desc;
  HRESULT hr = source->GetDesc(&desc);
  if (FAILED(hr)) return hr;
  D3DLOCKED_RECT from, to;
  hr = source->LockRect(&from, nullptr, 0);
  if (FAILED(hr)) return hr;
  hr = destination->LockRect(&to, nullptr, 0);
  if (FAILED(hr)) {
    source->UnlockRect();
    return hr;
  }
  const uint32_t rows = isDxt(desc.Format) ? (desc.Height + 3) / 4 : desc.Height;
  const size_t bytes = static_cast<size_t>(std::min(from.Pitch, to.Pitch));
  const uint8_t* s = static_cast<const uint8_t*>(from.pBits);
  uint8_t* d = static_cast<uint8_t*>(to.pBits);
  for (uint32_t y = 0; y < rows; ++y) {
    std::memmove(d, s, bytes);
    s += from.Pitch;
    d += to.Pitch;
  }
  destination->UnlockRect();
  source->UnlockRect();
  return S_OK;
}

// ---- SurfaceLock ----------------------------------------------------------------

void SurfaceLock::releaseCopy() {
  releaseAndClear(copySurface_);
  releaseAndClear(copyTexture_);
  releaseAndClear(device_);
}

HRESULT SurfaceLock::lock(PixelRegion& out, IDirect3DSurface9* surface, const PALETTEENTRY* palette,
                          const RECT* rect, D3DCOLOR colorKey, uint32_t flags) {
  unlock();
  if (!surface) return D3DERR_INVALIDCALL;
  D3DSURFACE_DESC desc;
  HRESULT hr = surface->GetDesc(&desc);
  if (FAILED(hr)) return hr;
  const uint32_t w = desc.Width, h = desc.Height;

  RECT r = {0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h)};
  bool partial = false;
  if (rect) {
    if (rect->left < 0 || rect->top < 0 || static_cast<uint32_t>(rect->right) > w ||
        static_cast<uint32_t>(rect->bottom) > h || rect->left > rect->right || rect->top > rect->bottom)
      return D3DERR_INVALIDCALL;
    r = *rect;
    partial = r.left != 0 || r.top != 0 || static_cast<uint32_t>(r.right) != w ||
              static_cast<uint32_t>(r.bottom) != h;
  }
  const bool wholeWrite = !(flags & LockReadOnly) && !partial;

  IDirect3DSurface9* target = surface;
  if (flags & LockViaCopy) {
    // Block formats need a copy whose top level is whole blocks: the level
    // standing in for the surface is level s of a texture 2^s times larger.
    uint32_t shift = 0;
    if (isDxt(desc.Format) && ((w | h) & 3u) != 0)
      for (shift = 1; (((w | h) << shift) & 3u) != 0; ++shift) {
      }
    hr = surface->GetDevice(&device_);
    if (FAILED(hr)) return hr;
    hr = device_->CreateTexture(w << shift, h << shift, shift + 1, 0, desc.Format,
                                desc.Pool == D3DPOOL_SCRATCH ? D3DPOOL_SCRATCH : D3DPOOL_SYSTEMMEM,
                                &copyTexture_, nullptr);
    if (SUCCEEDED(hr)) hr = copyTexture_->GetSurfaceLevel(shift, &copySurface_);
    if (FAILED(hr)) {
      releaseCopy();
      return hr;
    }
    if (!wholeWrite) {
      DebugMute mute;
      hr = CopySurfaceBits(surface, copySurface_);
      if (FAILED(hr) && shift == 0) {
        d3d9::ComPtr<IDirect3DSurface9> renderTarget;
        hr = device_->CreateRenderTarget(w, h, desc.Format, D3DMULTISAMPLE_NONE, 0, TRUE, renderTarget.put(),
                                         nullptr);
        if (SUCCEEDED(hr)) hr = device_->StretchRect(surface, nullptr, renderTarget.get(), nullptr, D3DTEXF_NONE);
        if (SUCCEEDED(hr)) hr = CopySurfaceBits(renderTarget.get(), copySurface_);
      }
      if (FAILED(hr)) {
        releaseCopy();
        return hr;
      }
    }
    target = copySurface_;
  }

  uint32_t lockFlags = D3DLOCK_NOSYSLOCK;
  if (flags & LockReadOnly) lockFlags |= D3DLOCK_READONLY;
  if (wholeWrite && !(flags & LockViaCopy) && (desc.Usage & D3DUSAGE_DYNAMIC)) {
    // A whole write to a single-level dynamic texture need not keep the
    // old contents.
    DebugMute mute;
    IDirect3DTexture9* container = nullptr;
    if (SUCCEEDED(surface->GetContainer(IID_IDirect3DTexture9, reinterpret_cast<void**>(&container))) &&
        container) {
      if (container->GetLevelCount() == 1) lockFlags |= D3DLOCK_DISCARD;
      container->Release();
    }
  }

  RECT lockRect = {0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h)};
  if (partial) {
    uint32_t left = r.left, top = r.top, right = r.right, bottom = r.bottom;
    widenForFormat(desc.Format, w, h, left, top, right, bottom);
    lockRect = {static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right),
                static_cast<int32_t>(bottom)};
    if (left == 0 && top == 0 && right == w && bottom == h) partial = false;
  }
  if (!partial) lockRect = {0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h)};

  D3DLOCKED_RECT locked;
  if (target == surface) {
    {
      DebugMute mute;
      hr = surface->LockRect(&locked, partial ? &lockRect : nullptr, lockFlags);
    }
    if (FAILED(hr)) return lock(out, surface, palette, rect, colorKey, flags | LockViaCopy);
  } else {
    hr = target->LockRect(&locked, partial ? &lockRect : nullptr, lockFlags);
    if (FAILED(hr)) {
      releaseCopy();
      return hr;
    }
  }

  if (partial) {
    r.left -= lockRect.left;
    r.right -= lockRect.left;
    r.top -= lockRect.top;
    r.bottom -= lockRect.top;
  }
  out.pixels = locked.pBits;
  out.format = desc.Format;
  out.rowPitch = static_cast<uint32_t>(locked.Pitch);
  out.slicePitch = 0;
  // The surface's extent as seen from the locked bits: a partial lock
  // starts at the lock rectangle, so the right and bottom edges are counted
  // from there, and the codecs never reach past the surface's last pixel.
  out.bounds = {0, 0, w - static_cast<uint32_t>(lockRect.left), h - static_cast<uint32_t>(lockRect.top), 0, 1};
  out.box = boxFromRect(r);
  out.orderedDither = 1;
  out.diffuseErrors = 0;
  out.gamma = 0;
  out.colorKey = colorKey;
  out.palette = palette;

  flags_ = flags;
  lockFlags_ = lockFlags;
  surface_ = surface;
  surface_->AddRef();
  return S_OK;
}

HRESULT SurfaceLock::unlock() {
  if (copySurface_)
    copySurface_->UnlockRect();
  else if (surface_)
    surface_->UnlockRect();
  if (copySurface_ && surface_ && !(flags_ & LockReadOnly)) {
    DebugMute mute;
    if (FAILED(device_->UpdateSurface(copySurface_, nullptr, surface_, nullptr)))
      CopySurfaceBits(copySurface_, surface_);
  }
  releaseCopy();
  releaseAndClear(surface_);
  flags_ = 0;
  lockFlags_ = 0;
  return S_OK;
}

// ---- VolumeLock ------------------------------------------------------------------

HRESULT VolumeLock::lock(PixelRegion& out, IDirect3DVolume9* volume, const PALETTEENTRY* palette,
                         const D3DBOX* box, D3DCOLOR colorKey, uint32_t flags) {
  unlock();
  if (!volume) return D3DERR_INVALIDCALL;
  D3DVOLUME_DESC desc;
  HRESULT hr = volume->GetDesc(&desc);
  if (FAILED(hr)) return hr;
  const uint32_t w = desc.Width, h = desc.Height, d = desc.Depth;
  D3DBOX b = {0, 0, w, h, 0, d};
  bool partial = false;
  if (box) {
    if (box->Right > w || box->Left > box->Right || box->Bottom > h || box->Top > box->Bottom ||
        box->Back > d || box->Front > box->Back)
      return D3DERR_INVALIDCALL;
    b = *box;
    partial = b.Left != 0 || b.Top != 0 || b.Right != w || b.Bottom != h || b.Front != 0 || b.Back != d;
  }
  if (desc.Pool == D3DPOOL_DEFAULT && !(desc.Usage & D3DUSAGE_DYNAMIC)) return D3DERR_INVALIDCALL;

  uint32_t lockFlags = D3DLOCK_NOSYSLOCK;
  if (flags & LockReadOnly) lockFlags |= D3DLOCK_READONLY;
  if (!(flags & LockReadOnly) && !partial && (desc.Usage & D3DUSAGE_DYNAMIC)) {
    DebugMute mute;
    IDirect3DVolumeTexture9* container = nullptr;
    if (SUCCEEDED(volume->GetContainer(IID_IDirect3DVolumeTexture9, reinterpret_cast<void**>(&container))) &&
        container) {
      if (container->GetLevelCount() == 1) lockFlags |= D3DLOCK_DISCARD;
      container->Release();
    }
  }

  D3DBOX lockBox = b;
  if (partial) {
    widenForFormat(desc.Format, w, h, lockBox.Left, lockBox.Top, lockBox.Right, lockBox.Bottom);
    if (lockBox.Left == 0 && lockBox.Top == 0 && lockBox.Right == w && lockBox.Bottom == h &&
        lockBox.Front == 0 && lockBox.Back == d)
      partial = false;
  }
  if (!partial) lockBox = {0, 0, w, h, 0, d};
  D3DLOCKED_BOX locked;
  hr = volume->LockBox(&locked, partial ? &lockBox : nullptr, lockFlags);
  if (FAILED(hr)) return hr;
  if (partial) {
    b.Left -= lockBox.Left;
    b.Right -= lockBox.Left;
    b.Top -= lockBox.Top;
    b.Bottom -= lockBox.Top;
    b.Front -= lockBox.Front;
    b.Back -= lockBox.Front;
  }
  out.pixels = locked.pBits;
  out.format = desc.Format;
  out.rowPitch = static_cast<uint32_t>(locked.RowPitch);
  out.slicePitch = static_cast<uint32_t>(locked.SlicePitch);
  out.bounds = {0, 0, w - lockBox.Left, h - lockBox.Top, 0, d - lockBox.Front};
  out.box = b;
  out.orderedDither = 1;
  out.diffuseErrors = 0;
  out.gamma = 0;
  out.colorKey = colorKey;
  out.palette = palette;
  volume_ = volume;
  volume_->AddRef();
  return S_OK;
}

HRESULT VolumeLock::unlock() {
  if (volume_) {
    volume_->UnlockBox();
    releaseAndClear(volume_);
  }
  return S_OK;
}

// ---- Fill operations -------------------------------------------------------------

namespace {

// A source rectangle in memory must not reach before the pointer it counts
// from, nor be inverted.
bool validSourceRect(const RECT& r) {
  return r.left >= 0 && r.top >= 0 && r.left <= r.right && r.top <= r.bottom;
}

bool validSourceBox(const D3DBOX& b) {
  return b.Left <= b.Right && b.Top <= b.Bottom && b.Front <= b.Back;
}

// The caller's pixels in memory as a source region covering `box`.
PixelRegion memorySource(const void* pixels, D3DFORMAT format, uint32_t rowPitch, uint32_t slicePitch,
                         const D3DBOX& box, const PALETTEENTRY* palette, D3DCOLOR colorKey) {
  PixelRegion source;
  source.pixels = const_cast<void*>(pixels);  // only read
  source.format = format;
  source.rowPitch = rowPitch;
  source.slicePitch = slicePitch;
  source.bounds = source.box = box;
  source.colorKey = colorKey;
  source.palette = palette;
  return source;
}

}  // namespace

HRESULT FillSurfaceFromPixels(IDirect3DSurface9* destination, const PALETTEENTRY* destPalette,
                              const RECT* destRect, const void* sourcePixels, D3DFORMAT sourceFormat,
                              uint32_t sourceRowPitch, const PALETTEENTRY* sourcePalette,
                              const RECT* sourceRect, FilterOptions filter, D3DCOLOR colorKey) {
  if (!destination || !sourcePixels || !sourceRect) return D3DERR_INVALIDCALL;
  if (!validSourceRect(*sourceRect)) return D3DERR_INVALIDCALL;
  if (filter == FilterDefault) filter = kFillFilterDefault;
  SurfaceLock lock;
  PixelRegion dest;
  HRESULT hr = lock.lock(dest, destination, destPalette, destRect, 0, 0);
  if (FAILED(hr)) return hr;
  PixelRegion source =
      memorySource(sourcePixels, sourceFormat, sourceRowPitch, 0, boxFromRect(*sourceRect), sourcePalette, colorKey);
  hr = BlitRegion(dest, source, filter);
  lock.unlock();
  return hr;
}

HRESULT FillVolumeFromPixels(IDirect3DVolume9* destination, const PALETTEENTRY* destPalette,
                             const D3DBOX* destBox, const void* sourcePixels, D3DFORMAT sourceFormat,
                             uint32_t sourceRowPitch, uint32_t sourceSlicePitch,
                             const PALETTEENTRY* sourcePalette, const D3DBOX* sourceBox,
                             FilterOptions filter, D3DCOLOR colorKey) {
  if (!destination || !sourcePixels || !sourceBox) return D3DERR_INVALIDCALL;
  if (!validSourceBox(*sourceBox)) return D3DERR_INVALIDCALL;
  if (filter == FilterDefault) filter = kFillFilterDefault;
  VolumeLock lock;
  PixelRegion dest;
  HRESULT hr = lock.lock(dest, destination, destPalette, destBox, 0, 0);
  if (FAILED(hr)) return hr;
  PixelRegion source =
      memorySource(sourcePixels, sourceFormat, sourceRowPitch, sourceSlicePitch, *sourceBox, sourcePalette, colorKey);
  hr = BlitRegion(dest, source, filter);
  lock.unlock();
  return hr;
}

HRESULT FillSurfaceFromSurface(IDirect3DSurface9* destination, const PALETTEENTRY* destPalette,
                               const RECT* destRect, IDirect3DSurface9* source,
                               const PALETTEENTRY* sourcePalette, const RECT* sourceRect,
                               FilterOptions filter, D3DCOLOR colorKey) {
  if (!destination || !source) return D3DERR_INVALIDCALL;
  D3DSURFACE_DESC destDesc, sourceDesc;
  HRESULT hr = destination->GetDesc(&destDesc);
  if (FAILED(hr)) return hr;
  hr = source->GetDesc(&sourceDesc);
  if (FAILED(hr)) return hr;

  if (filterKind(filter) != FilterBox && colorKey == 0 && palettesMatch(destPalette, sourcePalette)) {
    const RECT d = destRect ? *destRect
                            : RECT{0, 0, static_cast<int32_t>(destDesc.Width), static_cast<int32_t>(destDesc.Height)};
    const RECT s = sourceRect ? *sourceRect
                              : RECT{0, 0, static_cast<int32_t>(sourceDesc.Width),
                                     static_cast<int32_t>(sourceDesc.Height)};
    if (d.right - d.left == s.right - s.left && d.bottom - d.top == s.bottom - s.top) {
      d3d9::ComPtr<IDirect3DDevice9> device;
      if (SUCCEEDED(source->GetDevice(device.put()))) {
        HRESULT copied = E_FAIL;
        {
          DebugMute mute;
          if (destDesc.Pool == D3DPOOL_DEFAULT) {
            if (sourceDesc.Pool == D3DPOOL_DEFAULT) {
              copied = device->StretchRect(source, &s, destination, &d, D3DTEXF_NONE);
            } else if (sourceDesc.Pool == D3DPOOL_SYSTEMMEM) {
              const POINT at = {d.left, d.top};
              copied = device->UpdateSurface(source, &s, destination, &at);
            }
          }
        }
        if (SUCCEEDED(copied)) return S_OK;
      }
    }
  }

  SurfaceLock lock;
  PixelRegion region;
  hr = lock.lock(region, source, sourcePalette, sourceRect, 0,
                 LockReadOnly | (destination == source ? LockViaCopy : 0));
  if (FAILED(hr)) return hr;
  const RECT box = {static_cast<int32_t>(region.box.Left), static_cast<int32_t>(region.box.Top),
                    static_cast<int32_t>(region.box.Right), static_cast<int32_t>(region.box.Bottom)};
  hr = FillSurfaceFromPixels(destination, destPalette, destRect, region.pixels, region.format, region.rowPitch,
                             sourcePalette, &box, filter, colorKey);
  if (SUCCEEDED(hr) && sourceDesc.Pool == D3DPOOL_DEFAULT && destDesc.Pool != D3DPOOL_DEFAULT) {
    // A lost device's surfaces hold no valid content.
    d3d9::ComPtr<IDirect3DDevice9> device;
    if (FAILED(source->GetDevice(device.put())) || device->TestCooperativeLevel() != S_OK)
      hr = D3DERR_DEVICELOST;
  }
  lock.unlock();
  return hr;
}

HRESULT FillVolumeFromVolume(IDirect3DVolume9* destination, const PALETTEENTRY* destPalette,
                             const D3DBOX* destBox, IDirect3DVolume9* source,
                             const PALETTEENTRY* sourcePalette, const D3DBOX* sourceBox,
                             FilterOptions filter, D3DCOLOR colorKey) {
  if (!destination || !source) return D3DERR_INVALIDCALL;
  VolumeLock lock;
  PixelRegion region;
  // Volumes have no copy path: the flag is passed for symmetry with
  // surfaces and has no effect.
  HRESULT hr = lock.lock(region, source, sourcePalette, sourceBox, 0,
                         LockReadOnly | (destination == source ? LockViaCopy : 0));
  if (FAILED(hr)) return hr;
  hr = FillVolumeFromPixels(destination, destPalette, destBox, region.pixels, region.format, region.rowPitch,
                            region.slicePitch, sourcePalette, &region.box, filter, colorKey);
  lock.unlock();
  return hr;
}

}  // namespace nerro::texture
