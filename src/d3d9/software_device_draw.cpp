// Clearing the back and depth buffers, DrawPrimitiveUP, and the decoded
// A8R8G8B8 texture views the rasteriser reads.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "d3d9/software_objects.h"

namespace nerro::d3d9::detail {
namespace {

// A D3DCOLOR as a pixel of a colour format; false for formats Clear cannot write.
bool packColor(D3DFORMAT format, D3DCOLOR c, uint32_t* pixel, uint32_t* bytes) {
  const uint32_t a = c >> 24, r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
      *pixel = c;
      *bytes = 4;
      return true;
    case D3DFMT_R5G6B5:
      *pixel = ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
      *bytes = 2;
      return true;
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
      *pixel = ((a >> 7) << 15) | ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
      *bytes = 2;
      return true;
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4:
      *pixel = ((a >> 4) << 12) | ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4);
      *bytes = 2;
      return true;
    default:
      return false;
  }
}

void fillRect(Image2D& image, const RECT& r, uint32_t pixel, uint32_t bytes) {
  // A value whose bytes are all alike (black, depth 1.0) is a byte fill:
  // whole rows as one run when the rectangle spans them, else row by row.
  const auto low = static_cast<uint8_t>(pixel);
  if (pixel == low * (bytes == 4 ? 0x01010101u : 0x0101u)) {
    const size_t run = static_cast<size_t>(r.right - r.left) * bytes;
    if (r.left == 0 && image.pitch > 0 && run == static_cast<size_t>(image.pitch)) {
      std::memset(image.row(static_cast<uint32_t>(r.top)), low, run * static_cast<size_t>(r.bottom - r.top));
      return;
    }
    for (int32_t y = r.top; y < r.bottom; ++y)
      std::memset(image.row(static_cast<uint32_t>(y)) + static_cast<size_t>(r.left) * bytes, low, run);
    return;
  }
  for (int32_t y = r.top; y < r.bottom; ++y) {
    uint8_t* row = image.row(static_cast<uint32_t>(y)) + static_cast<size_t>(r.left) * bytes;
    const int32_t n = r.right - r.left;
    if (bytes == 4) {
      auto* p = reinterpret_cast<uint32_t*>(row);
      std::fill(p, p + n, pixel);
    } else {
      auto* p = reinterpret_cast<uint16_t*>(row);
      std::fill(p, p + n, static_cast<uint16_t>(pixel));
    }
  }
}

// A 16-bit colour pixel widened to A8R8G8B8 (bit replication; alpha 255
// where the format has none).
uint32_t widen16(D3DFORMAT format, uint32_t p) {
  auto expand = [](uint32_t v, uint32_t bits) {
    return bits == 4 ? v * 17 : bits == 5 ? (v << 3) | (v >> 2) : (v << 2) | (v >> 4);
  };
  uint32_t a = 255, r, g, b;
  switch (format) {
    case D3DFMT_R5G6B5:
      r = expand((p >> 11) & 31, 5), g = expand((p >> 5) & 63, 6), b = expand(p & 31, 5);
      break;
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
      if (format == D3DFMT_A1R5G5B5) a = (p & 0x8000) ? 255 : 0;
      r = expand((p >> 10) & 31, 5), g = expand((p >> 5) & 31, 5), b = expand(p & 31, 5);
      break;
    default:  // A4R4G4B4, X4R4G4B4
      if (format == D3DFMT_A4R4G4B4) a = expand(p >> 12, 4);
      r = expand((p >> 8) & 15, 4), g = expand((p >> 4) & 15, 4), b = expand(p & 15, 4);
      break;
  }
  return (a << 24) | (r << 16) | (g << 8) | b;
}

RECT intersect(const RECT& a, const RECT& b) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

}  // namespace

HRESULT Device::Clear(uint32_t count, const D3DRECT* rects, uint32_t flags, D3DCOLOR color, float z,
                      uint32_t /*stencil*/) {
  ++control().calls.clear;
  constexpr uint32_t kKnown = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL;
  if (flags == 0 || (flags & ~kKnown) != 0 || !backBuffer_) return D3DERR_INVALIDCALL;
  if ((flags & D3DCLEAR_ZBUFFER) && !depthBuffer_) return D3DERR_INVALIDCALL;
  if (flags & D3DCLEAR_STENCIL) return D3DERR_INVALIDCALL;  // no depth format here has stencil bits
  if ((flags & D3DCLEAR_ZBUFFER) && !(z >= 0.0f && z <= 1.0f)) return D3DERR_INVALIDCALL;
  if (count != 0 && rects == nullptr) return D3DERR_INVALIDCALL;

  uint32_t pixel = 0, bytes = 0;
  const bool canPack = packColor(backBuffer_->image.format, color, &pixel, &bytes);
  const auto depthValue = static_cast<uint16_t>(std::lround(static_cast<double>(z) * 65535.0));
  const RECT view{static_cast<int32_t>(viewport_.X), static_cast<int32_t>(viewport_.Y),
                  static_cast<int32_t>(viewport_.X + viewport_.Width),
                  static_cast<int32_t>(viewport_.Y + viewport_.Height)};

  auto clearOne = [&](const RECT& area) {
    const RECT r = intersect(area, view);
    if (r.right <= r.left || r.bottom <= r.top) return;
    if ((flags & D3DCLEAR_TARGET) && canPack) fillRect(backBuffer_->image, r, pixel, bytes);
    if (flags & D3DCLEAR_ZBUFFER) fillRect(depthBuffer_->image, r, depthValue, 2);
  };
  if (count == 0 || rects == nullptr) {
    clearOne(view);
  } else {
    for (uint32_t i = 0; i < count; ++i) clearOne(RECT{rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2});
  }
  ++backBuffer_->version;
  return S_OK;
}

HRESULT Device::DrawPrimitiveUP(D3DPRIMITIVETYPE primitiveType, uint32_t primitiveCount, const void* vertexData,
                                uint32_t vertexStride) {
  ++control().calls.drawPrimitive;
  if (vertexData == nullptr || primitiveCount == 0 || vertexStride == 0) return D3DERR_INVALIDCALL;
  if (primitiveType < D3DPT_POINTLIST || primitiveType > D3DPT_TRIANGLEFAN) return D3DERR_INVALIDCALL;
  if (!inScene_ || !backBuffer_) return D3DERR_INVALIDCALL;

  Image2D& target = backBuffer_->image;
  const bool wide = target.format == D3DFMT_A8R8G8B8 || target.format == D3DFMT_X8R8G8B8;
  uint32_t probe = 0, bytes = 0;
  if (!wide && !packColor(target.format, 0, &probe, &bytes)) return S_OK;  // a target the pipeline cannot write

  raster::ColorTarget color;
  color.width = target.width;
  color.height = target.height;
  if (wide) {
    color.bits = target.bits.data();
    color.pitch = target.pitch;
  } else {
    // Draw into a 32-bit copy of a 16-bit back buffer and narrow it after.
    wideTarget_.resize(static_cast<size_t>(target.width) * target.height);
    for (uint32_t y = 0; y < target.height; ++y) {
      const auto* row = reinterpret_cast<const uint16_t*>(target.row(y));
      for (uint32_t x = 0; x < target.width; ++x)
        wideTarget_[static_cast<size_t>(y) * target.width + x] = widen16(target.format, row[x]);
    }
    color.bits = reinterpret_cast<uint8_t*>(wideTarget_.data());
    color.pitch = static_cast<int32_t>(target.width * 4);
  }

  raster::DepthTarget depth;
  if (depthBuffer_ && (depthBuffer_->image.format == D3DFMT_D16 || depthBuffer_->image.format == D3DFMT_D16_LOCKABLE)) {
    depth.bits = reinterpret_cast<uint16_t*>(depthBuffer_->image.bits.data());
    depth.pitch = depthBuffer_->image.pitch;
  }

  raster::TextureView views[raster::kStageCount];
  for (uint32_t stage = 0; stage < raster::kStageCount; ++stage) {
    auto* texture = dynamic_cast<Texture*>(textures_[stage]);
    auto& levels = stageLevels_[stage];
    levels.clear();
    if (texture == nullptr) continue;  // nothing bound, or a cube or volume texture: opaque white
    for (uint32_t level = 0; level < texture->GetLevelCount(); ++level) {
      const uint32_t* argb = decodedLevel(texture, level);
      if (argb == nullptr) break;
      const Image2D& im = texture->levels[level]->image;
      levels.push_back(raster::TextureLevel{argb, im.width, im.height, im.width});
    }
    if (!levels.empty()) views[stage] = raster::TextureView{levels.data(), static_cast<uint32_t>(levels.size())};
  }

  const HRESULT hr = raster::drawPrimitive(raster_, color, depth, views, primitiveType, primitiveCount, vertexData,
                                           vertexStride, fvf_);
  if (!wide) {
    for (uint32_t y = 0; y < target.height; ++y) {
      auto* row = reinterpret_cast<uint16_t*>(target.row(y));
      for (uint32_t x = 0; x < target.width; ++x) {
        uint32_t pixel = 0;
        packColor(target.format, wideTarget_[static_cast<size_t>(y) * target.width + x], &pixel, &bytes);
        row[x] = static_cast<uint16_t>(pixel);
      }
    }
  }
  ++backBuffer_->version;
  return hr;
}

const uint32_t* Device::decodedLevel(Texture* texture, uint32_t level) {
  if (texture == nullptr || level >= texture->levels.size()) return nullptr;
  Surface& s = *texture->levels[level];
  DecodedLevel& d = texture->decoded[level];
  if (d.version == s.version) return d.valid ? d.argb.data() : nullptr;
  d.version = s.version;
  d.valid = false;
  const Image2D& im = s.image;
  try {
    d.argb.resize(static_cast<size_t>(im.width) * im.height);
  } catch (const std::bad_alloc&) {
    d.argb.clear();
    return nullptr;
  }
  if (im.format == D3DFMT_A8R8G8B8 || im.format == D3DFMT_X8R8G8B8) {
    const uint32_t alpha = im.format == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0;
    for (uint32_t y = 0; y < im.height; ++y) {
      const uint8_t* row = im.bits.data() + static_cast<size_t>(y) * im.pitch;
      uint32_t* out = d.argb.data() + static_cast<size_t>(y) * im.width;
      std::memcpy(out, row, static_cast<size_t>(im.width) * 4);
      if (alpha != 0)
        for (uint32_t x = 0; x < im.width; ++x) out[x] |= alpha;
    }
    d.valid = true;
  } else if (auto decoder = control().decoder) {
    d.valid = decoder->decodeLevel(im.format, im.bits.data(), im.pitch, im.width, im.height, d.argb.data());
  }
  return d.valid ? d.argb.data() : nullptr;
}

}  // namespace nerro::d3d9::detail

namespace nerro::d3d9 {

const uint32_t* decodedTexels(IDirect3DTexture9* texture, uint32_t level, uint32_t* width, uint32_t* height) {
  auto* t = dynamic_cast<detail::Texture*>(texture);
  if (t == nullptr || level >= t->levels.size()) return nullptr;
  const uint32_t* texels = t->device()->decodedLevel(t, level);
  if (texels != nullptr) {
    if (width != nullptr) *width = t->levels[level]->image.width;
    if (height != nullptr) *height = t->levels[level]->image.height;
  }
  return texels;
}

}  // namespace nerro::d3d9
