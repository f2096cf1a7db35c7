#include "texture/texture_from_image.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "d3d9/com_ptr.h"
#include "pixel/format_table.h"
#include "texture/mip_generation.h"
#include "texture/surface_loading.h"
#include "texture/texture_requirements.h"

namespace nerro::texture {
namespace {

using d3d9::ComPtr;

constexpr uint32_t kPaletteSize = 256;

// Smallest power of two not below the image size; sizes of 2^31 and more
// are used as they are.
uint32_t raisedImageSize(uint32_t size) {
  if (size >= 0x80000000u) return size;
  return size <= 1 ? 1 : std::bit_ceil(size);
}

uint32_t requestedSize(uint32_t requested, uint32_t imageSize) {
  switch (requested) {
    case 0:
    case UseDefault:
      return raisedImageSize(imageSize);
    case UseImageSize:
    case UseImageValue:
      return imageSize;
    default:
      return requested;
  }
}

uint32_t paletteEntryValue(const PALETTEENTRY& e) {
  return uint32_t{e.peRed} | uint32_t{e.peGreen} << 8 | uint32_t{e.peBlue} << 16 | uint32_t{e.peFlags} << 24;
}

// A palette entry holds red, green, blue, alpha in byte order, a D3DCOLOR
// blue, green, red, alpha: compare with red and blue exchanged.
uint32_t keyAsPaletteEntry(D3DCOLOR key) {
  return (key & 0xFF00FF00u) | ((key >> 16) & 0xFFu) | ((key & 0xFFu) << 16);
}

bool isGreyRamp(const PALETTEENTRY* p) {
  for (uint32_t i = 0; i < kPaletteSize; ++i)
    if (p[i].peRed != i || p[i].peGreen != i || p[i].peBlue != i || p[i].peFlags != 255) return false;
  return true;
}

bool isRgb332Ramp(const PALETTEENTRY* p) {
  static constexpr uint8_t kLevels3[8] = {0, 36, 73, 109, 146, 182, 219, 255};
  static constexpr uint8_t kLevels2[4] = {0, 85, 170, 255};
  for (uint32_t i = 0; i < kPaletteSize; ++i)
    if (p[i].peRed != kLevels3[i >> 5] || p[i].peGreen != kLevels3[(i >> 2) & 7] || p[i].peBlue != kLevels2[i & 3] ||
        p[i].peFlags != 255)
      return false;
  return true;
}

uint32_t levelChainLength(const image::DecodedImage& top) {
  uint32_t count = 1;
  for (const image::DecodedImage* r = top.nextLevel.get(); r != nullptr; r = r->nextLevel.get()) ++count;
  return count;
}

uint32_t faceChainLength(const image::DecodedImage& top) {
  uint32_t count = 1;
  for (const image::DecodedImage* r = top.nextFace.get(); r != nullptr; r = r->nextFace.get()) ++count;
  return count;
}

bool isValidResourceType(uint32_t type) {
  return type == D3DRTYPE_TEXTURE || type == D3DRTYPE_VOLUMETEXTURE || type == D3DRTYPE_CUBETEXTURE;
}

HRESULT createTexture(IDirect3DDevice9* device, D3DRESOURCETYPE type, uint32_t width, uint32_t height,
                      uint32_t depth, uint32_t levels, uint32_t usage, D3DFORMAT format, D3DPOOL pool,
                      ComPtr<IDirect3DBaseTexture9>& out) {
  HRESULT hr;
  switch (type) {
    case D3DRTYPE_VOLUMETEXTURE: {
      ComPtr<IDirect3DVolumeTexture9> t;
      hr = device->CreateVolumeTexture(width, height, depth, levels, usage, format, pool, t.put(), nullptr);
      if (SUCCEEDED(hr)) out = ComPtr<IDirect3DBaseTexture9>(t.detach());
      return hr;
    }
    case D3DRTYPE_CUBETEXTURE: {
      ComPtr<IDirect3DCubeTexture9> t;
      hr = device->CreateCubeTexture(width, levels, usage, format, pool, t.put(), nullptr);
      if (SUCCEEDED(hr)) out = ComPtr<IDirect3DBaseTexture9>(t.detach());
      return hr;
    }
    default: {
      ComPtr<IDirect3DTexture9> t;
      hr = device->CreateTexture(width, height, levels, usage, format, pool, t.put(), nullptr);
      if (SUCCEEDED(hr)) out = ComPtr<IDirect3DBaseTexture9>(t.detach());
      return hr;
    }
  }
}

// What every level fill of one build shares.
struct LevelFill {
  IDirect3DBaseTexture9* target;
  D3DRESOURCETYPE type;
  const PALETTEENTRY* destPalette;     // the caller's palette, or null
  const PALETTEENTRY* sourcePalette;   // the working palette
  D3DFORMAT paletteFormatOverride;     // L8 or R3G3B2 for a ramp palette, else 0
  FilterOptions filter;
  D3DCOLOR colorKey;

  D3DFORMAT sourceFormat(const image::DecodedImage& record) const {
    if (record.format == D3DFMT_P8 && paletteFormatOverride != D3DFMT_UNKNOWN) return paletteFormatOverride;
    return record.format;
  }

  // Fills level `level` of face `face` entirely from `record`.
  HRESULT fill(uint32_t face, uint32_t level, const image::DecodedImage& record) const {
    const D3DFORMAT format = sourceFormat(record);
    if (type == D3DRTYPE_VOLUMETEXTURE) {
      ComPtr<IDirect3DVolume9> volume;
      HRESULT hr = static_cast<IDirect3DVolumeTexture9*>(target)->GetVolumeLevel(level, volume.put());
      if (FAILED(hr)) return hr;
      return FillVolumeFromPixels(volume.get(), destPalette, nullptr, record.pixels, format, record.rowPitch,
                                  record.slicePitch, sourcePalette, &record.region, filter, colorKey);
    }
    ComPtr<IDirect3DSurface9> surface;
    HRESULT hr = type == D3DRTYPE_CUBETEXTURE
                     ? static_cast<IDirect3DCubeTexture9*>(target)->GetCubeMapSurface(
                           static_cast<D3DCUBEMAP_FACES>(face), level, surface.put())
                     : static_cast<IDirect3DTexture9*>(target)->GetSurfaceLevel(level, surface.put());
    if (FAILED(hr)) return hr;
    const RECT sourceRect = {static_cast<int32_t>(record.region.Left), static_cast<int32_t>(record.region.Top),
                             static_cast<int32_t>(record.region.Right), static_cast<int32_t>(record.region.Bottom)};
    return FillSurfaceFromPixels(surface.get(), destPalette, nullptr, record.pixels, format, record.rowPitch,
                                 sourcePalette, &sourceRect, filter, colorKey);
  }
};

}  // namespace

HRESULT BuildTextureFromImage(IDirect3DDevice9* device, const void* data, uint32_t size, uint32_t width,
                              uint32_t height, uint32_t depth, uint32_t mipLevels, uint32_t usage, D3DFORMAT format,
                              D3DPOOL pool, FilterOptions filter, FilterOptions mipFilter, D3DCOLOR colorKey,
                              image::ImageInfo* imageInfo, PALETTEENTRY* palette, uint32_t resourceType,
                              IDirect3DBaseTexture9** texture) {
  image::DecodedImage image;
  if (device == nullptr || data == nullptr || size == 0 || texture == nullptr) return D3DERR_INVALIDCALL;
  if (resourceType != kResourceTypeFromImage && !isValidResourceType(resourceType)) return D3DERR_INVALIDCALL;
  if (usage == UseDefault) usage = 0;

  const bool keepWidth = width == UseImageValue;
  const bool keepHeight = height == UseImageValue;
  const bool keepDepth = depth == UseImageValue;
  const bool keepLevels = mipLevels == UseImageValue;
  const bool keepFormat = static_cast<uint32_t>(format) == UseImageValue;

  image::ImageInfo localInfo{};
  image::ImageInfo* info = imageInfo;
  if (info == nullptr && resourceType == kResourceTypeFromImage) info = &localInfo;
  HRESULT hr = image.load(data, size, info, true);
  if (FAILED(hr)) return hr;

  const D3DRESOURCETYPE type =
      static_cast<D3DRESOURCETYPE>(resourceType == kResourceTypeFromImage ? image.resourceType : resourceType);
  if (!isValidResourceType(type)) return D3DERR_INVALIDCALL;

  const uint32_t imageLevels = levelChainLength(image);
  uint32_t faces = 1;
  if (type == D3DRTYPE_CUBETEXTURE) {
    faces = faceChainLength(image);
    if (faces != 6) return E_FAIL;
  }

  if (keepLevels) mipLevels = imageLevels;
  width = requestedSize(width, image.width);
  height = requestedSize(height, image.height);
  depth = requestedSize(depth, std::max<uint32_t>(image.depth, 1));

  if (filter == FilterDefault) filter = FilterTriangle | FilterDither;
  if (mipFilter == FilterDefault) mipFilter = FilterBox;
  if (type == D3DRTYPE_CUBETEXTURE) {
    filter |= FilterMirror;
    mipFilter |= FilterMirror;
  }
  const bool generateMips = (filter & 0xFF) == FilterNone || (mipFilter & 0xFF) == FilterPoint ||
                            (mipFilter & 0xFF) == FilterBox;

  // The working palette.
  PALETTEENTRY work[kPaletteSize];
  D3DFORMAT imageFormat = image.format;
  D3DFORMAT paletteFormatOverride = D3DFMT_UNKNOWN;
  if (image.palette != nullptr) {
    std::memcpy(work, image.palette, sizeof work);
    const uint32_t key = keyAsPaletteEntry(colorKey);
    for (PALETTEENTRY& e : work)
      if (paletteEntryValue(e) == key) e = PALETTEENTRY{0, 0, 0, 0};
    colorKey = 0;  // the palette carries it now
    if (format != D3DFMT_P8 && image.format == D3DFMT_P8) {
      if (isGreyRamp(work)) paletteFormatOverride = D3DFMT_L8;
      else if (isRgb332Ramp(work)) paletteFormatOverride = D3DFMT_R3G3B2;
      if (paletteFormatOverride != D3DFMT_UNKNOWN) imageFormat = paletteFormatOverride;
    }
  } else {
    std::memset(work, 0xFF, sizeof work);
  }

  if (format == D3DFMT_UNKNOWN || keepFormat) {
    format = imageFormat;
    const pixel::FormatDescriptor& desc = pixel::FindFormatDescriptor(format);
    if (colorKey != 0 && desc.alphaBits == 0 &&
        (desc.kind == pixel::FormatKindRgb || desc.kind == pixel::FormatKindPalette ||
         desc.kind == pixel::FormatKindLuminance)) {
      pixel::FormatDescriptor withAlpha = desc;
      withAlpha.format = D3DFMT_UNKNOWN;
      withAlpha.alphaBits = 1;
      const D3DFORMAT keyed = ChooseSupportedFormat(nullptr, usage, type, withAlpha);
      if (keyed != D3DFMT_UNKNOWN) format = keyed;
    }
    format = pixel::ResolveInternalFormat(format);
    if (pool != D3DPOOL_SCRATCH && format == D3DFMT_R8G8B8) format = D3DFMT_X8R8G8B8;
  }

  if (palette != nullptr) std::memcpy(palette, work, sizeof work);

  if (!(palette != nullptr && image.palette != nullptr) && (format == D3DFMT_A8P8 || format == D3DFMT_P8)) {
    if (keepFormat) return D3DERR_INVALIDCALL;
    if (format == D3DFMT_A8P8) {
      format = D3DFMT_A8R8G8B8;
    } else {
      const bool translucent = std::any_of(std::begin(work), std::end(work),
                                           [](const PALETTEENTRY& e) { return e.peFlags != 255; });
      format = translucent ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
    }
  }

  const bool staging = pool == D3DPOOL_DEFAULT && !(usage & D3DUSAGE_DYNAMIC);

  const uint32_t askedWidth = width, askedHeight = height, askedDepth = depth, askedLevels = mipLevels;
  const D3DFORMAT askedFormat = format;
  hr = FitTextureRequest(device, &width, &height, &depth, &mipLevels, usage, &format, pool, type);
  if (FAILED(hr)) return hr;
  if ((keepWidth && width != askedWidth) || (keepHeight && height != askedHeight) ||
      (keepDepth && depth != askedDepth) || (keepLevels && mipLevels != askedLevels) ||
      (keepFormat && format != askedFormat))
    return D3DERR_NOTAVAILABLE;

  ComPtr<IDirect3DBaseTexture9> result;
  hr = createTexture(device, type, width, height, depth, mipLevels, usage & kCreationUsageMask, format, pool, result);
  if (FAILED(hr)) return hr;
  ComPtr<IDirect3DBaseTexture9> stagingTexture;
  if (staging) {
    hr = createTexture(device, type, width, height, depth, mipLevels, 0, format, D3DPOOL_SYSTEMMEM, stagingTexture);
    if (FAILED(hr)) return hr;
  }
  IDirect3DBaseTexture9* target = staging ? stagingTexture.get() : result.get();
  const uint32_t textureLevels = target->GetLevelCount();

  const LevelFill fill{target, type, palette, work, paletteFormatOverride, filter, colorKey};
  const image::DecodedImage* faceRecord = &image;
  for (uint32_t face = 0; face < faces && faceRecord != nullptr; ++face, faceRecord = faceRecord->nextFace.get()) {
    const image::DecodedImage* record = faceRecord;
    const image::DecodedImage* last = record;
    uint32_t level = 0;
    for (; level < imageLevels && level < textureLevels && record != nullptr; ++level) {
      hr = fill.fill(face, level, *record);
      if (FAILED(hr)) return hr;
      last = record;
      record = record->nextLevel.get();
    }
    if (!generateMips) {
      for (; level < textureLevels; ++level) {
        hr = fill.fill(face, level, *last);
        if (FAILED(hr)) return hr;
      }
    }
  }

  if (generateMips && textureLevels > imageLevels) {
    hr = GenerateMipLevels(target, work, imageLevels - 1, mipFilter);
    if (FAILED(hr)) return hr;
  }
  if (staging) {
    hr = device->UpdateTexture(stagingTexture.get(), result.get());
    if (FAILED(hr)) return hr;
  }
  *texture = result.detach();
  return S_OK;
}

HRESULT MakeTextureFromImage(IDirect3DDevice9* device, const void* data, uint32_t size, uint32_t width,
                             uint32_t height, uint32_t mipLevels, uint32_t usage, D3DFORMAT format, D3DPOOL pool,
                             FilterOptions filter, FilterOptions mipFilter, D3DCOLOR colorKey,
                             image::ImageInfo* imageInfo, PALETTEENTRY* palette, IDirect3DTexture9** texture) {
  if (texture == nullptr) return D3DERR_INVALIDCALL;
  IDirect3DBaseTexture9* made = nullptr;
  const HRESULT hr = BuildTextureFromImage(device, data, size, width, height, 1, mipLevels, usage, format, pool,
                                           filter, mipFilter, colorKey, imageInfo, palette, D3DRTYPE_TEXTURE, &made);
  if (SUCCEEDED(hr)) *texture = static_cast<IDirect3DTexture9*>(made);
  return hr;
}

}  // namespace nerro::texture
