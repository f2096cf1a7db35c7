// Front door of the texture builder's pixel pipeline: every pixel written
// into a Direct3D surface or volume goes through BlitRegion, which wraps
// source and destination in pixel codecs and hands them to the first blit
// strategy that accepts them under the filter word. The fill operations are
// the entry points; SurfaceLock and VolumeLock turn a locked rectangle or box
// into a PixelRegion.
#pragma once

#include <cstdint>

#include "d3d9/d3d9.h"
#include "pixel/pixel_codec.h"
#include "texture/filter_options.h"

namespace nerro::texture {

// Fills the destination rectangle (null: the whole surface) from pixels in
// memory. The source rectangle is required; its coordinates count from
// `sourcePixels`. `colorKey` (0: none) is an ARGB colour that reads as
// transparent black. FilterDefault means FilterTriangle | FilterDither.
HRESULT FillSurfaceFromPixels(IDirect3DSurface9* destination, const PALETTEENTRY* destPalette,
                              const RECT* destRect, const void* sourcePixels, D3DFORMAT sourceFormat,
                              uint32_t sourceRowPitch, const PALETTEENTRY* sourcePalette,
                              const RECT* sourceRect, FilterOptions filter, D3DCOLOR colorKey);

// The same for a box of a volume; the source box is required.
HRESULT FillVolumeFromPixels(IDirect3DVolume9* destination, const PALETTEENTRY* destPalette,
                             const D3DBOX* destBox, const void* sourcePixels, D3DFORMAT sourceFormat,
                             uint32_t sourceRowPitch, uint32_t sourceSlicePitch,
                             const PALETTEENTRY* sourcePalette, const D3DBOX* sourceBox,
                             FilterOptions filter, D3DCOLOR colorKey);

// Surface to surface (null rectangles: whole surfaces); source and
// destination may be the same surface. Equal-sized copies without colour key
// or box filter go through the device (StretchRect / UpdateSurface) when the
// pools allow.
HRESULT FillSurfaceFromSurface(IDirect3DSurface9* destination, const PALETTEENTRY* destPalette,
                               const RECT* destRect, IDirect3DSurface9* source,
                               const PALETTEENTRY* sourcePalette, const RECT* sourceRect,
                               FilterOptions filter, D3DCOLOR colorKey);

HRESULT FillVolumeFromVolume(IDirect3DVolume9* destination, const PALETTEENTRY* destPalette,
                             const D3DBOX* destBox, IDirect3DVolume9* source,
                             const PALETTEENTRY* sourcePalette, const D3DBOX* sourceBox,
                             FilterOptions filter, D3DCOLOR colorKey);

// Writes the destination's box from the source's box. Sets the dither and
// gamma flags of both regions from the filter word. D3DERR_INVALIDCALL for
// an invalid filter word or a source box without pixels (when the
// destination box has some); E_FAIL when a format has no codec or no
// strategy succeeds.
HRESULT BlitRegion(pixel::PixelRegion& destination, pixel::PixelRegion& source, FilterOptions filter);

// Lock flags of SurfaceLock and VolumeLock.
inline constexpr uint32_t LockReadOnly = 1;        // the region is only read
inline constexpr uint32_t LockViaCopy = 0x10000;   // work on a system-memory copy (surfaces only)

// One locked surface rectangle. Destruction unlocks.
class SurfaceLock {
 public:
  SurfaceLock() = default;
  ~SurfaceLock() { unlock(); }
  SurfaceLock(const SurfaceLock&) = delete;
  SurfaceLock& operator=(const SurfaceLock&) = delete;

  // Locks `rect` (null: the whole surface) and describes it in `out`.
  // Block and pixel-pair formats lock the rectangle widened to whole blocks
  // or pairs; `out.box` is then the requested rectangle inside the lock.
  // A surface that cannot be locked itself is reached through a copy that
  // unlock writes back (unless read-only).
  HRESULT lock(pixel::PixelRegion& out, IDirect3DSurface9* surface, const PALETTEENTRY* palette,
               const RECT* rect, D3DCOLOR colorKey, uint32_t flags);
  HRESULT unlock();

  // What the current lock holds, for tests.
  uint32_t flags() const { return flags_; }
  uint32_t lockFlags() const { return lockFlags_; }  // the D3DLOCK_* flags used
  IDirect3DSurface9* copySurface() const { return copySurface_; }
  IDirect3DTexture9* copyTexture() const { return copyTexture_; }

 private:
  void releaseCopy();

  uint32_t flags_ = 0;
  uint32_t lockFlags_ = 0;
  IDirect3DSurface9* surface_ = nullptr;
  IDirect3DSurface9* copySurface_ = nullptr;
  IDirect3DTexture9* copyTexture_ = nullptr;
  IDirect3DDevice9* device_ = nullptr;
};

// One locked volume box. Destruction unlocks. Volumes have no copy path.
class VolumeLock {
 public:
  VolumeLock() = default;
  ~VolumeLock() { unlock(); }
  VolumeLock(const VolumeLock&) = delete;
  VolumeLock& operator=(const VolumeLock&) = delete;

  HRESULT lock(pixel::PixelRegion& out, IDirect3DVolume9* volume, const PALETTEENTRY* palette,
               const D3DBOX* box, D3DCOLOR colorKey, uint32_t flags);
  HRESULT unlock();

 private:
  IDirect3DVolume9* volume_ = nullptr;
};

// Copies the rows of two surfaces of one format and size.
HRESULT CopySurfaceBits(IDirect3DSurface9* source, IDirect3DSurface9* destination);

}  // namespace nerro::texture
