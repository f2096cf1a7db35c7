// Resource creation of the software device and the copies between pools
// (UpdateSurface, UpdateTexture, StretchRect, GetRenderTargetData).
#include <algorithm>
#include <cstring>

#include "d3d9/software_objects.h"

namespace nerro::d3d9::detail {
namespace {

constexpr uint32_t kTextureUsage = D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_SOFTWAREPROCESSING |
                                   D3DUSAGE_DYNAMIC | D3DUSAGE_AUTOGENMIPMAP | D3DUSAGE_DMAP;

bool isPow2(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

ResourceInfo resourceInfo(D3DRESOURCETYPE type, uint32_t usage, D3DPOOL pool) {
  ResourceInfo info;
  info.type = type;
  info.usage = usage;
  info.pool = pool;
  info.renderTarget = (usage & D3DUSAGE_RENDERTARGET) != 0;
  info.depthStencil = (usage & D3DUSAGE_DEPTHSTENCIL) != 0;
  return info;
}

// A rectangle inside an image, on block edges for block formats and on
// pixel-pair edges for the pair formats.
bool rectInside(const Image2D& image, const RECT& r) {
  if (r.left < 0 || r.top < 0 || r.left >= r.right || r.top >= r.bottom ||
      static_cast<uint32_t>(r.right) > image.width || static_cast<uint32_t>(r.bottom) > image.height)
    return false;
  if (isBlockFormat(image.format)) {
    auto edge = [](int32_t v, uint32_t limit) { return v % 4 == 0 || static_cast<uint32_t>(v) == limit; };
    return r.left % 4 == 0 && r.top % 4 == 0 && edge(r.right, image.width) && edge(r.bottom, image.height);
  }
  if (isPairFormat(image.format)) return r.left % 2 == 0 && (r.right % 2 == 0 || static_cast<uint32_t>(r.right) == image.width);
  return true;
}

RECT wholeRect(const Image2D& image) {
  return RECT{0, 0, static_cast<int32_t>(image.width), static_cast<int32_t>(image.height)};
}

// Copies a rectangle of equal format between images (rows of blocks for
// block formats).
void copyRect(const Image2D& src, const RECT& r, Image2D& dst, int32_t dx, int32_t dy, uint32_t slice = 0) {
  const uint32_t rowHeight = formatRowHeight(src.format);
  const uint32_t firstRow = static_cast<uint32_t>(r.top) / rowHeight;
  const uint32_t rows = (static_cast<uint32_t>(r.bottom - r.top) + rowHeight - 1) / rowHeight;
  const uint32_t dstRow = static_cast<uint32_t>(dy) / rowHeight;
  const size_t srcX = formatRowBytes(src.format, static_cast<uint32_t>(r.left));
  const size_t dstX = formatRowBytes(dst.format, static_cast<uint32_t>(dx));
  const size_t bytes = formatRowBytes(src.format, static_cast<uint32_t>(r.right)) - srcX;
  for (uint32_t i = 0; i < rows; ++i) {
    const uint8_t* from = src.bits.data() + static_cast<size_t>(slice) * src.slicePitch +
                          static_cast<size_t>(firstRow + i) * src.pitch + srcX;
    uint8_t* to = dst.bits.data() + static_cast<size_t>(slice) * dst.slicePitch +
                  static_cast<size_t>(dstRow + i) * dst.pitch + dstX;
    std::memcpy(to, from, bytes);
  }
}

void copyWhole(const Image2D& src, Image2D& dst) {
  for (uint32_t z = 0; z < src.depth; ++z) copyRect(src, wholeRect(src), dst, 0, 0, z);
}

bool sameShape(const Image2D& a, const Image2D& b) {
  return a.format == b.format && a.width == b.width && a.height == b.height && a.depth == b.depth;
}

}  // namespace

// ---- Creation -----------------------------------------------------------------------
HRESULT Device::checkResourceRequest(D3DRESOURCETYPE type, uint32_t width, uint32_t height, uint32_t depth,
                                     uint32_t* levels, uint32_t usage, D3DFORMAT format, D3DPOOL pool) {
  const AdapterProfile& p = profile();
  if (pool > D3DPOOL_SCRATCH || width == 0 || height == 0 || depth == 0) return D3DERR_INVALIDCALL;
  if ((usage & ~kTextureUsage) != 0) return D3DERR_INVALIDCALL;
  if ((usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) != 0 && pool != D3DPOOL_DEFAULT)
    return D3DERR_INVALIDCALL;
  if ((usage & D3DUSAGE_DYNAMIC) != 0 && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
  if (formatRowBytes(format, 1) == 0) return D3DERR_INVALIDCALL;
  // Block formats are made in whole blocks at the top level.
  if (isBlockFormat(format) && (width % 4 != 0 || height % 4 != 0)) return D3DERR_INVALIDCALL;

  const uint32_t full = fullChainLength(width, height, type == D3DRTYPE_VOLUMETEXTURE ? depth : 1);
  if (usage & D3DUSAGE_AUTOGENMIPMAP) {
    if (*levels > 1) return D3DERR_INVALIDCALL;
    *levels = 1;
  } else if (*levels == 0) {
    *levels = full;
  } else if (*levels > full) {
    return D3DERR_INVALIDCALL;
  }
  if (pool == D3DPOOL_SCRATCH) return S_OK;

  if (FAILED(direct3d_->formatSupport(creation_.DeviceType,
                                      usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_DMAP),
                                      type, format)))
    return D3DERR_INVALIDCALL;
  const uint32_t caps = p.textureCaps;
  switch (type) {
    case D3DRTYPE_TEXTURE: {
      if (width > p.maxTextureWidth || height > p.maxTextureHeight) return D3DERR_INVALIDCALL;
      if ((caps & D3DPTEXTURECAPS_SQUAREONLY) && width != height) return D3DERR_INVALIDCALL;
      const uint32_t a = p.maxTextureAspectRatio;
      if (a != 0 && (uint64_t{width} > uint64_t{a} * height || uint64_t{height} > uint64_t{a} * width))
        return D3DERR_INVALIDCALL;
      if ((caps & D3DPTEXTURECAPS_POW2) && !(isPow2(width) && isPow2(height))) {
        const bool excused = (caps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) && *levels == 1 && !isBlockFormat(format);
        if (!excused) return D3DERR_INVALIDCALL;
      }
      if (*levels > 1 && !(caps & D3DPTEXTURECAPS_MIPMAP)) return D3DERR_INVALIDCALL;
      break;
    }
    case D3DRTYPE_CUBETEXTURE:
      if (!(caps & D3DPTEXTURECAPS_CUBEMAP) || width > p.maxTextureWidth) return D3DERR_INVALIDCALL;
      if ((caps & D3DPTEXTURECAPS_CUBEMAP_POW2) && !isPow2(width)) return D3DERR_INVALIDCALL;
      if (*levels > 1 && !(caps & D3DPTEXTURECAPS_MIPCUBEMAP)) return D3DERR_INVALIDCALL;
      break;
    case D3DRTYPE_VOLUMETEXTURE:
      if (!(caps & D3DPTEXTURECAPS_VOLUMEMAP)) return D3DERR_INVALIDCALL;
      if (width > p.maxVolumeExtent || height > p.maxVolumeExtent || depth > p.maxVolumeExtent)
        return D3DERR_INVALIDCALL;
      if ((caps & D3DPTEXTURECAPS_VOLUMEMAP_POW2) && !(isPow2(width) && isPow2(height) && isPow2(depth)))
        return D3DERR_INVALIDCALL;
      if (*levels > 1 && !(caps & D3DPTEXTURECAPS_MIPVOLUMEMAP)) return D3DERR_INVALIDCALL;
      break;
    default:
      return D3DERR_INVALIDCALL;
  }
  return S_OK;
}

HRESULT Device::CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, D3DFORMAT format,
                              D3DPOOL pool, IDirect3DTexture9** out, HANDLE* sharedHandle) {
  if (out == nullptr || sharedHandle != nullptr) return D3DERR_INVALIDCALL;
  HRESULT hr = checkResourceRequest(D3DRTYPE_TEXTURE, width, height, 1, &levels, usage, format, pool);
  if (FAILED(hr)) return hr;
  if (faultFires(FaultPoint::CreateResource)) return D3DERR_OUTOFVIDEOMEMORY;
  const ResourceInfo info = resourceInfo(D3DRTYPE_TEXTURE, usage, pool);
  auto* texture = new Texture(this, info);
  for (uint32_t i = 0; i < levels; ++i) {
    auto level = std::make_unique<Surface>(this, Surface::Owner::Container, texture, info);
    if (!level->image.allocate(format, std::max(1u, width >> i), std::max(1u, height >> i), 1,
                               profile().pitchAlignment)) {
      texture->Release();
      return E_OUTOFMEMORY;
    }
    texture->levels.push_back(std::move(level));
  }
  texture->decoded.resize(levels);
  *out = texture;
  return S_OK;
}

HRESULT Device::CreateCubeTexture(uint32_t edge, uint32_t levels, uint32_t usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DCubeTexture9** out, HANDLE* sharedHandle) {
  if (out == nullptr || sharedHandle != nullptr) return D3DERR_INVALIDCALL;
  HRESULT hr = checkResourceRequest(D3DRTYPE_CUBETEXTURE, edge, edge, 1, &levels, usage, format, pool);
  if (FAILED(hr)) return hr;
  if (faultFires(FaultPoint::CreateResource)) return D3DERR_OUTOFVIDEOMEMORY;
  const ResourceInfo info = resourceInfo(D3DRTYPE_CUBETEXTURE, usage, pool);
  auto* texture = new CubeTexture(this, info);
  texture->levelCount = levels;
  for (uint32_t face = 0; face < 6; ++face) {
    for (uint32_t i = 0; i < levels; ++i) {
      auto level = std::make_unique<Surface>(this, Surface::Owner::Container, texture, info);
      const uint32_t size = std::max(1u, edge >> i);
      if (!level->image.allocate(format, size, size, 1, profile().pitchAlignment)) {
        texture->Release();
        return E_OUTOFMEMORY;
      }
      texture->faces.push_back(std::move(level));
    }
  }
  *out = texture;
  return S_OK;
}

HRESULT Device::CreateVolumeTexture(uint32_t width, uint32_t height, uint32_t depth, uint32_t levels,
                                    uint32_t usage, D3DFORMAT format, D3DPOOL pool, IDirect3DVolumeTexture9** out,
                                    HANDLE* sharedHandle) {
  if (out == nullptr || sharedHandle != nullptr) return D3DERR_INVALIDCALL;
  if (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) return D3DERR_INVALIDCALL;
  HRESULT hr = checkResourceRequest(D3DRTYPE_VOLUMETEXTURE, width, height, depth, &levels, usage, format, pool);
  if (FAILED(hr)) return hr;
  if (faultFires(FaultPoint::CreateResource)) return D3DERR_OUTOFVIDEOMEMORY;
  ResourceInfo info = resourceInfo(D3DRTYPE_VOLUMETEXTURE, usage, pool);
  auto* texture = new VolumeTexture(this, info);
  info.type = D3DRTYPE_VOLUME;
  for (uint32_t i = 0; i < levels; ++i) {
    auto level = std::make_unique<Volume>(this, texture, info);
    if (!level->image.allocate(format, std::max(1u, width >> i), std::max(1u, height >> i),
                               std::max(1u, depth >> i), profile().pitchAlignment)) {
      texture->Release();
      return E_OUTOFMEMORY;
    }
    texture->levels.push_back(std::move(level));
  }
  *out = texture;
  return S_OK;
}

HRESULT Device::CreateRenderTarget(uint32_t width, uint32_t height, D3DFORMAT format,
                                   D3DMULTISAMPLE_TYPE multiSample, uint32_t /*multisampleQuality*/,
                                   BOOL lockable, IDirect3DSurface9** out, HANDLE* sharedHandle) {
  if (out == nullptr || sharedHandle != nullptr) return D3DERR_INVALIDCALL;
  if (multiSample != D3DMULTISAMPLE_NONE) return D3DERR_NOTAVAILABLE;
  if (width == 0 || height == 0 || width > profile().maxBackBufferSize || height > profile().maxBackBufferSize)
    return D3DERR_INVALIDCALL;
  if (!profile().acceptsRenderTarget(format)) return D3DERR_INVALIDCALL;
  if (faultFires(FaultPoint::CreateResource)) return D3DERR_OUTOFVIDEOMEMORY;
  ResourceInfo info = resourceInfo(D3DRTYPE_SURFACE, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT);
  info.lockable = lockable != FALSE;
  auto* surface = new Surface(this, Surface::Owner::Standalone, nullptr, info);
  if (!surface->image.allocate(format, width, height, 1, profile().pitchAlignment)) {
    surface->Release();
    return E_OUTOFMEMORY;
  }
  *out = surface;
  return S_OK;
}

HRESULT Device::CreateOffscreenPlainSurface(uint32_t width, uint32_t height, D3DFORMAT format, D3DPOOL pool,
                                            IDirect3DSurface9** out, HANDLE* sharedHandle) {
  if (out == nullptr || sharedHandle != nullptr) return D3DERR_INVALIDCALL;
  if (pool == D3DPOOL_MANAGED || pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
  if (width == 0 || height == 0 || width > profile().maxBackBufferSize || height > profile().maxBackBufferSize)
    return D3DERR_INVALIDCALL;
  if (formatRowBytes(format, 1) == 0) return D3DERR_INVALIDCALL;
  if (isBlockFormat(format) && (width % 4 != 0 || height % 4 != 0)) return D3DERR_INVALIDCALL;
  if (pool != D3DPOOL_SCRATCH) {
    // A plain surface may take any texture format, and the render-target
    // formats (so the back buffer can be copied into one).
    if (FAILED(direct3d_->formatSupport(creation_.DeviceType, 0, D3DRTYPE_SURFACE, format)) &&
        !profile().acceptsRenderTarget(format))
      return D3DERR_INVALIDCALL;
  }
  if (faultFires(FaultPoint::CreateResource)) return D3DERR_OUTOFVIDEOMEMORY;
  auto* surface = new Surface(this, Surface::Owner::Standalone, nullptr, resourceInfo(D3DRTYPE_SURFACE, 0, pool));
  if (!surface->image.allocate(format, width, height, 1, profile().pitchAlignment)) {
    surface->Release();
    return E_OUTOFMEMORY;
  }
  *out = surface;
  return S_OK;
}

// ---- Copies -----------------------------------------------------------------------------
HRESULT Device::UpdateSurface(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* destination,
                              const POINT* destPoint) {
  Surface* s = asSurface(source);
  Surface* d = asSurface(destination);
  if (s == nullptr || d == nullptr || s == d) return D3DERR_INVALIDCALL;
  if (s->info.pool != D3DPOOL_SYSTEMMEM || d->info.pool != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
  if (s->image.format != d->image.format || d->info.depthStencil || s->locked || d->locked)
    return D3DERR_INVALIDCALL;
  const RECT r = sourceRect != nullptr ? *sourceRect : wholeRect(s->image);
  if (!rectInside(s->image, r)) return D3DERR_INVALIDCALL;
  const int32_t x = destPoint != nullptr ? destPoint->x : 0;
  const int32_t y = destPoint != nullptr ? destPoint->y : 0;
  const RECT target{x, y, x + (r.right - r.left), y + (r.bottom - r.top)};
  if (x < 0 || y < 0 || !rectInside(d->image, target)) return D3DERR_INVALIDCALL;
  if (faultFires(FaultPoint::Copy)) return D3DERR_INVALIDCALL;
  copyRect(s->image, r, d->image, x, y);
  ++d->version;
  return S_OK;
}

HRESULT Device::UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* destination) {
  ResourceInfo* si = textureInfo(source);
  ResourceInfo* di = textureInfo(destination);
  if (si == nullptr || di == nullptr || source == destination || si->type != di->type) return D3DERR_INVALIDCALL;
  if (si->pool != D3DPOOL_SYSTEMMEM || di->pool != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;

  // Level i of the destination comes from the source level of the same size.
  auto matchLevels = [](auto sizeOf, uint32_t srcCount, uint32_t dstCount, uint32_t* first) {
    for (uint32_t k = 0; k < srcCount; ++k) {
      if (sizeOf(true, k) == sizeOf(false, 0)) {
        *first = k;
        return srcCount - k >= dstCount;
      }
    }
    return false;
  };

  uint32_t first = 0;
  if (si->type == D3DRTYPE_TEXTURE) {
    auto* s = static_cast<Texture*>(source);
    auto* d = static_cast<Texture*>(destination);
    auto size = [&](bool src, uint32_t k) {
      const Image2D& im = (src ? s->levels[k] : d->levels[k])->image;
      return std::make_pair(im.width, im.height);
    };
    if (s->levels[0]->image.format != d->levels[0]->image.format ||
        !matchLevels(size, s->GetLevelCount(), d->GetLevelCount(), &first))
      return D3DERR_INVALIDCALL;
    if (faultFires(FaultPoint::Copy)) return D3DERR_INVALIDCALL;
    for (uint32_t i = 0; i < d->GetLevelCount(); ++i) {
      copyWhole(s->levels[first + i]->image, d->levels[i]->image);
      ++d->levels[i]->version;
    }
    return S_OK;
  }
  if (si->type == D3DRTYPE_CUBETEXTURE) {
    auto* s = static_cast<CubeTexture*>(source);
    auto* d = static_cast<CubeTexture*>(destination);
    auto size = [&](bool src, uint32_t k) { return (src ? s->surface(0, k) : d->surface(0, k))->image.width; };
    if (s->surface(0, 0)->image.format != d->surface(0, 0)->image.format ||
        !matchLevels(size, s->levelCount, d->levelCount, &first))
      return D3DERR_INVALIDCALL;
    if (faultFires(FaultPoint::Copy)) return D3DERR_INVALIDCALL;
    for (uint32_t face = 0; face < 6; ++face)
      for (uint32_t i = 0; i < d->levelCount; ++i) copyWhole(s->surface(face, first + i)->image, d->surface(face, i)->image);
    return S_OK;
  }
  auto* s = static_cast<VolumeTexture*>(source);
  auto* d = static_cast<VolumeTexture*>(destination);
  auto size = [&](bool src, uint32_t k) {
    const Image2D& im = (src ? s->levels[k] : d->levels[k])->image;
    return std::make_tuple(im.width, im.height, im.depth);
  };
  if (s->levels[0]->image.format != d->levels[0]->image.format ||
      !matchLevels(size, s->GetLevelCount(), d->GetLevelCount(), &first))
    return D3DERR_INVALIDCALL;
  if (faultFires(FaultPoint::Copy)) return D3DERR_INVALIDCALL;
  for (uint32_t i = 0; i < d->GetLevelCount(); ++i) copyWhole(s->levels[first + i]->image, d->levels[i]->image);
  return S_OK;
}

HRESULT Device::StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* destination,
                            const RECT* destRect, D3DTEXTUREFILTERTYPE filter) {
  Surface* s = asSurface(source);
  Surface* d = asSurface(destination);
  if (s == nullptr || d == nullptr || s == d) return D3DERR_INVALIDCALL;
  if (s->info.pool != D3DPOOL_DEFAULT || d->info.pool != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
  if (s->info.depthStencil || d->info.depthStencil || s->locked || d->locked) return D3DERR_INVALIDCALL;
  // Texture levels take part only when they are render targets.
  if ((s->isTextureLevel() && !s->info.renderTarget) || (d->isTextureLevel() && !d->info.renderTarget))
    return D3DERR_INVALIDCALL;
  if (filter != D3DTEXF_NONE && filter != D3DTEXF_POINT && filter != D3DTEXF_LINEAR) return D3DERR_INVALIDCALL;
  if (s->image.format != d->image.format) return D3DERR_INVALIDCALL;
  const RECT sr = sourceRect != nullptr ? *sourceRect : wholeRect(s->image);
  const RECT dr = destRect != nullptr ? *destRect : wholeRect(d->image);
  if (!rectInside(s->image, sr) || !rectInside(d->image, dr)) return D3DERR_INVALIDCALL;
  const int32_t sw = sr.right - sr.left, sh = sr.bottom - sr.top;
  const int32_t dw = dr.right - dr.left, dh = dr.bottom - dr.top;
  const bool sameSize = sw == dw && sh == dh;
  if (!sameSize && (isBlockFormat(s->image.format) || isPairFormat(s->image.format))) return D3DERR_INVALIDCALL;
  if (faultFires(FaultPoint::Copy)) return D3DERR_INVALIDCALL;
  if (sameSize) {
    copyRect(s->image, sr, d->image, dr.left, dr.top);
  } else {
    // Stretching samples the nearest source pixel (for every filter).
    const uint32_t bpp = formatRowBytes(s->image.format, 1);
    for (int32_t y = 0; y < dh; ++y) {
      const int32_t sy = sr.top + static_cast<int32_t>((int64_t{2 * y + 1} * sh) / (2 * dh));
      const uint8_t* srcRow = s->image.row(static_cast<uint32_t>(sy));
      uint8_t* dstRow = d->image.row(static_cast<uint32_t>(dr.top + y));
      for (int32_t x = 0; x < dw; ++x) {
        const int32_t sx = sr.left + static_cast<int32_t>((int64_t{2 * x + 1} * sw) / (2 * dw));
        std::memcpy(dstRow + static_cast<size_t>(dr.left + x) * bpp, srcRow + static_cast<size_t>(sx) * bpp, bpp);
      }
    }
  }
  ++d->version;
  return S_OK;
}

HRESULT Device::GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* destination) {
  Surface* s = asSurface(renderTarget);
  Surface* d = asSurface(destination);
  if (s == nullptr || d == nullptr) return D3DERR_INVALIDCALL;
  if (!s->info.renderTarget || s->info.pool != D3DPOOL_DEFAULT || d->info.pool != D3DPOOL_SYSTEMMEM)
    return D3DERR_INVALIDCALL;
  if (!sameShape(s->image, d->image) || d->locked) return D3DERR_INVALIDCALL;
  if (isLost()) return D3DERR_DEVICELOST;
  if (faultFires(FaultPoint::GetRenderTargetData)) return D3DERR_DEVICELOST;
  copyWhole(s->image, d->image);
  ++d->version;
  return S_OK;
}

}  // namespace nerro::d3d9::detail
