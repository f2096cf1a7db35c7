#include "texture/mip_generation.h"

#include "texture/surface_loading.h"

namespace nerro::texture {

namespace {

bool isPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// One mip level of a face, surface or volume, holding a reference.
struct Level {
  IDirect3DSurface9* surface = nullptr;
  IDirect3DVolume9* volume = nullptr;

  Level() = default;
  Level(const Level&) = delete;
  Level& operator=(const Level&) = delete;
  Level(Level&& other) noexcept : surface(other.surface), volume(other.volume) {
    other.surface = nullptr;
    other.volume = nullptr;
  }
  Level& operator=(Level&& other) noexcept {
    if (this != &other) {
      reset();
      surface = other.surface;
      volume = other.volume;
      other.surface = nullptr;
      other.volume = nullptr;
    }
    return *this;
  }
  ~Level() { reset(); }
  void reset() {
    if (surface) surface->Release();
    if (volume) volume->Release();
    surface = nullptr;
    volume = nullptr;
  }
};

class LevelSource {
 public:
  explicit LevelSource(IDirect3DBaseTexture9* texture) {
    switch (texture->GetType()) {
      case D3DRTYPE_TEXTURE:
        texture_ = static_cast<IDirect3DTexture9*>(texture);
        break;
      case D3DRTYPE_VOLUMETEXTURE:
        volume_ = static_cast<IDirect3DVolumeTexture9*>(texture);
        break;
      case D3DRTYPE_CUBETEXTURE:
        cube_ = static_cast<IDirect3DCubeTexture9*>(texture);
        break;
      default:
        break;
    }
  }
  bool valid() const { return texture_ || volume_ || cube_; }
  bool isCube() const { return cube_ != nullptr; }
  bool isVolume() const { return volume_ != nullptr; }

  // Level 0 has power-of-two sizes in every dimension.
  HRESULT topIsPowerOfTwo(bool& pow2) const {
    HRESULT hr;
    if (volume_) {
      D3DVOLUME_DESC d;
      if (FAILED(hr = volume_->GetLevelDesc(0, &d))) return hr;
      pow2 = isPowerOfTwo(d.Width) && isPowerOfTwo(d.Height) && isPowerOfTwo(d.Depth);
    } else {
      D3DSURFACE_DESC d;
      if (FAILED(hr = texture_ ? texture_->GetLevelDesc(0, &d) : cube_->GetLevelDesc(0, &d))) return hr;
      pow2 = isPowerOfTwo(d.Width) && isPowerOfTwo(d.Height);
    }
    return S_OK;
  }

  HRESULT get(uint32_t face, uint32_t level, Level& out) const {
    out.reset();
    if (texture_) return texture_->GetSurfaceLevel(level, &out.surface);
    if (cube_) return cube_->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(face), level, &out.surface);
    return volume_->GetVolumeLevel(level, &out.volume);
  }

 private:
  IDirect3DTexture9* texture_ = nullptr;
  IDirect3DVolumeTexture9* volume_ = nullptr;
  IDirect3DCubeTexture9* cube_ = nullptr;
};

HRESULT fill(const Level& dest, const Level& source, const PALETTEENTRY* palette, FilterOptions filter) {
  if (dest.volume)
    return FillVolumeFromVolume(dest.volume, palette, nullptr, source.volume, palette, nullptr, filter, 0);
  return FillSurfaceFromSurface(dest.surface, palette, nullptr, source.surface, palette, nullptr, filter, 0);
}

}  // namespace

HRESULT GenerateMipLevels(IDirect3DBaseTexture9* texture, const PALETTEENTRY* palette, uint32_t sourceLevel,
                          FilterOptions mipFilter) {
  if (!texture) return D3DERR_INVALIDCALL;
  const LevelSource levels(texture);
  if (!levels.valid()) return D3DERR_INVALIDCALL;
  FilterOptions filter = mipFilter;
  if (filter == FilterDefault) {
    bool pow2 = false;
    const HRESULT hr = levels.topIsPowerOfTwo(pow2);
    if (FAILED(hr)) return hr;
    filter = pow2 ? FilterBox : (FilterTriangle | FilterDither);
  }
  // No tap may wrap from one edge of a cube face to the other.
  if (levels.isCube()) filter |= FilterMirror;
  // Every level is read and written with the same encoding.
  if (filter & FilterSrgbOut)
    filter |= FilterSrgbIn;
  else
    filter &= ~(FilterSrgbIn | FilterSrgbOut);

  const uint32_t count = texture->GetLevelCount();
  if (sourceLevel == kMipSourceLevelDefault) sourceLevel = 0;
  if (sourceLevel >= count) return D3DERR_INVALIDCALL;
  const bool chain = filterKind(filter) == FilterPoint || filterKind(filter) == FilterBox;
  const uint32_t faces = levels.isCube() ? 6 : 1;
  for (uint32_t face = 0; face < faces; ++face) {
    Level source;
    HRESULT hr = levels.get(face, sourceLevel, source);
    if (FAILED(hr)) return hr;
    for (uint32_t level = sourceLevel + 1; level < count; ++level) {
      Level dest;
      if (FAILED(hr = levels.get(face, level, dest))) return hr;
      if (FAILED(hr = fill(dest, source, palette, filter))) return hr;
      if (chain) source = std::move(dest);
    }
  }
  return S_OK;
}

}  // namespace nerro::texture
