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
  if (!inScene_) return D3DERR_INVALIDCALL;
  return S_OK;
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
