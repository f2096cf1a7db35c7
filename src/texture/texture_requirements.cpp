#include "texture/texture_requirements.h"

#include <algorithm>
#include <bit>

#include "d3d9/com_ptr.h"
#include "math/math.h"

namespace nerro::texture {
namespace {

bool isBlockCompressed(D3DFORMAT format) {
  return format == D3DFMT_DXT1 || format == D3DFMT_DXT2 || format == D3DFMT_DXT3 || format == D3DFMT_DXT4 ||
         format == D3DFMT_DXT5;
}

bool isPowerOfTwo(uint64_t value) { return std::has_single_bit(value); }

// Smallest power of two not below value (1 stays 1).
uint64_t raiseToPowerOfTwo(uint64_t value) { return value <= 1 ? 1 : std::bit_ceil(value); }

uint32_t bitLength(uint32_t value) { return static_cast<uint32_t>(std::bit_width(value)); }

struct TypeCaps {
  uint32_t powerOfTwo;
  uint32_t mipmaps;
};

TypeCaps capsOfType(D3DRESOURCETYPE type) {
  switch (type) {
    case D3DRTYPE_VOLUMETEXTURE:
      return {D3DPTEXTURECAPS_VOLUMEMAP_POW2, D3DPTEXTURECAPS_MIPVOLUMEMAP};
    case D3DRTYPE_CUBETEXTURE:
      return {D3DPTEXTURECAPS_CUBEMAP_POW2, D3DPTEXTURECAPS_MIPCUBEMAP};
    default:
      return {D3DPTEXTURECAPS_POW2, D3DPTEXTURECAPS_MIPMAP};
  }
}

// Keeps the search's probing calls out of the debug output.
class DebugMuteScope {
 public:
  DebugMuteScope() { math::setDebugMute(1); }
  ~DebugMuteScope() { math::setDebugMute(0); }
  DebugMuteScope(const DebugMuteScope&) = delete;
  DebugMuteScope& operator=(const DebugMuteScope&) = delete;
};

}  // namespace

D3DFORMAT ChooseSupportedFormat(IDirect3DDevice9* device, uint32_t usage, D3DRESOURCETYPE resourceType,
                                const pixel::FormatDescriptor& wanted) {
  DebugMuteScope mute;

  d3d9::ComPtr<IDirect3D9> direct3d;
  D3DCAPS9 caps{};
  D3DDISPLAYMODE mode{};
  if (device != nullptr) {
    // These queries are used as they come: a failure leaves zeroed records,
    // and the format checks below then refuse.
    device->GetDirect3D(direct3d.put());
    device->GetDeviceCaps(&caps);
    device->GetDisplayMode(0, &mode);
    if (usage & D3DUSAGE_QUERY_VERTEXTEXTURE) {
      D3DDEVICE_CREATION_PARAMETERS parameters{};
      device->GetCreationParameters(&parameters);
      if (parameters.BehaviorFlags & D3DCREATE_SOFTWARE_VERTEXPROCESSING) usage |= D3DUSAGE_SOFTWAREPROCESSING;
    }
  }

  const pixel::FormatDescriptor* best = &pixel::kDefaultFormatDescriptor;
  uint32_t bestScore = pixel::kFormatDistanceNone;
  for (const pixel::FormatDescriptor& entry : pixel::kFormatTable) {
    if (entry.format == D3DFMT_UNKNOWN) continue;
    if (device != nullptr) {
      if (!direct3d) continue;
      if (FAILED(direct3d->CheckDeviceFormat(caps.AdapterOrdinal, caps.DeviceType, mode.Format, usage, resourceType,
                                             static_cast<D3DFORMAT>(entry.format))))
        continue;
    }
    if (entry.format == wanted.format) return static_cast<D3DFORMAT>(entry.format);
    if (!entry.substitutable) continue;
    const uint32_t score = pixel::FormatDistance(wanted, entry);
    if (score == pixel::kFormatDistanceNone) continue;
    if (score < bestScore || (score == bestScore && entry.bitsPerPixel < best->bitsPerPixel)) {
      best = &entry;
      bestScore = score;
    }
  }
  return static_cast<D3DFORMAT>(best->format);
}

HRESULT FitTextureRequest(IDirect3DDevice9* device, uint32_t* width, uint32_t* height, uint32_t* depth,
                          uint32_t* mipLevels, uint32_t usage, D3DFORMAT* format, D3DPOOL pool,
                          D3DRESOURCETYPE resourceType) {
  if (device == nullptr) return D3DERR_INVALIDCALL;
  if (usage == kRequestOpen) usage = 0;
  if (usage & kRequestUsageRefused) return D3DERR_INVALIDCALL;
  if (pool != D3DPOOL_DEFAULT && pool != D3DPOOL_MANAGED && pool != D3DPOOL_SYSTEMMEM && pool != D3DPOOL_SCRATCH)
    return D3DERR_INVALIDCALL;
  const bool scratch = pool == D3DPOOL_SCRATCH;

  D3DFORMAT fitFormat = format != nullptr ? *format : D3DFMT_UNKNOWN;
  if (!scratch) {
    fitFormat = ChooseSupportedFormat(device, usage, resourceType, pixel::FindFormatDescriptor(fitFormat));
    if (fitFormat == D3DFMT_UNKNOWN) return D3DERR_NOTAVAILABLE;
  } else if (fitFormat == D3DFMT_UNKNOWN) {
    fitFormat = D3DFMT_A8R8G8B8;
  }

  // Sizes are carried in 64 bits so that rounding cannot wrap; a result
  // that no longer fits 32 bits is refused at the end.
  const uint32_t requestedLevels = mipLevels != nullptr ? *mipLevels : kRequestOpen;
  uint64_t w = width != nullptr ? *width : kRequestOpen;
  uint64_t h = height != nullptr ? *height : kRequestOpen;
  if (w == kRequestOpen && h == kRequestOpen) {
    w = h = 256;
  } else {
    if (w == kRequestOpen) w = h;
    if (h == kRequestOpen) h = w;
    w = std::max<uint64_t>(w, 1);
    h = std::max<uint64_t>(h, 1);
  }
  if (resourceType == D3DRTYPE_CUBETEXTURE) w = h = std::max(w, h);
  uint64_t d = depth != nullptr ? *depth : kRequestOpen;
  if (d == kRequestOpen || d == 0) d = 1;

  const TypeCaps typeCaps = capsOfType(resourceType);
  D3DCAPS9 caps{};
  if (!scratch) {
    device->GetDeviceCaps(&caps);
    if (resourceType == D3DRTYPE_VOLUMETEXTURE) {
      d = std::min<uint64_t>(d, caps.MaxVolumeExtent);
      w = std::min<uint64_t>(w, caps.MaxVolumeExtent);
      h = std::min<uint64_t>(h, caps.MaxVolumeExtent);
    } else {
      w = std::min<uint64_t>(w, caps.MaxTextureWidth);
      h = std::min<uint64_t>(h, caps.MaxTextureHeight);
      if (resourceType == D3DRTYPE_TEXTURE) {
        const uint64_t aspect =
            (caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) ? 1 : caps.MaxTextureAspectRatio;
        if (aspect != 0) {
          w = std::min(w, aspect * h);
          h = std::min(h, aspect * w);
        }
      }
    }
    const bool powerOfTwoWaived = requestedLevels == 1 && (caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) &&
                                  !isBlockCompressed(fitFormat);
    if ((caps.TextureCaps & typeCaps.powerOfTwo) && !powerOfTwoWaived) {
      w = raiseToPowerOfTwo(w);
      h = raiseToPowerOfTwo(h);
      d = raiseToPowerOfTwo(d);
    }
  }
  if (isBlockCompressed(fitFormat)) {
    w = (w + 3) & ~uint64_t{3};
    h = (h + 3) & ~uint64_t{3};
  }
  if (w > 0xFFFFFFFFu || h > 0xFFFFFFFFu || d > 0xFFFFFFFFu) return D3DERR_INVALIDCALL;

  uint32_t levels;
  const bool anyNonPowerOfTwo = !isPowerOfTwo(w) || !isPowerOfTwo(h) || !isPowerOfTwo(d);
  if (!scratch && (!(caps.TextureCaps & typeCaps.mipmaps) ||
                   ((caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) && anyNonPowerOfTwo))) {
    levels = 1;
  } else {
    uint32_t full = std::max(bitLength(static_cast<uint32_t>(w)), bitLength(static_cast<uint32_t>(h)));
    if (resourceType == D3DRTYPE_VOLUMETEXTURE) full = std::max(full, bitLength(static_cast<uint32_t>(d)));
    levels = (requestedLevels == 0 || requestedLevels > full) ? full : requestedLevels;
    if (levels != 1 && (usage & D3DUSAGE_AUTOGENMIPMAP)) levels = 0;
  }

  if (width != nullptr) *width = static_cast<uint32_t>(w);
  if (height != nullptr) *height = static_cast<uint32_t>(h);
  if (depth != nullptr) *depth = static_cast<uint32_t>(d);
  if (mipLevels != nullptr) *mipLevels = levels;
  if (format != nullptr) *format = fitFormat;
  return S_OK;
}

}  // namespace nerro::texture
