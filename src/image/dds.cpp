// DirectDraw surface files: a chain of records pointing into the caller's
// bytes, one per face and mip level, in any Direct3D format the file names.
#include <memory>
#include <new>

#include "image/bytes.h"
#include "image/image.h"
#include "pixel/format_table.h"

namespace nerro::image {
namespace {

using detail::readLe32;

constexpr uint32_t kDdsdDepth = 0x00800000;
constexpr uint32_t kDdpfFourCC = 0x4;

struct DdsPixelFormat {
  D3DFORMAT format;
  uint32_t flags;
  uint32_t fourCC;
  uint32_t bits;
  uint32_t red, green, blue, alpha;
};

// Searched in this order; the first match wins.
constexpr DdsPixelFormat kDdsFormats[] = {
    {D3DFMT_R8G8B8, 0x40, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0},
    {D3DFMT_A8R8G8B8, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000},
    {D3DFMT_X8R8G8B8, 0x40, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0},
    {D3DFMT_R5G6B5, 0x40, 0, 16, 0xF800, 0x7E0, 0x1F, 0},
    {D3DFMT_X1R5G5B5, 0x40, 0, 16, 0x7C00, 0x3E0, 0x1F, 0},
    {D3DFMT_A1R5G5B5, 0x41, 0, 16, 0x7C00, 0x3E0, 0x1F, 0x8000},
    {D3DFMT_A4R4G4B4, 0x41, 0, 16, 0xF00, 0xF0, 0xF, 0xF000},
    {D3DFMT_R3G3B2, 0x40, 0, 8, 0xE0, 0x1C, 0x3, 0},
    {D3DFMT_A8, 0x2, 0, 8, 0, 0, 0, 0xFF},
    {D3DFMT_A8R3G3B2, 0x41, 0, 16, 0xE0, 0x1C, 0x3, 0xFF00},
    {D3DFMT_X4R4G4B4, 0x40, 0, 16, 0xF00, 0xF0, 0xF, 0},
    {D3DFMT_A2B10G10R10, 0x41, 0, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000},
    {D3DFMT_A8B8G8R8, 0x41, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000},
    {D3DFMT_X8B8G8R8, 0x40, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0},
    {D3DFMT_G16R16, 0x40, 0, 32, 0xFFFF, 0xFFFF0000, 0, 0},
    {D3DFMT_A2R10G10B10, 0x41, 0, 32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000},
    {D3DFMT_A8P8, 0x21, 0, 16, 0, 0, 0, 0xFF00},
    {D3DFMT_P8, 0x20, 0, 8, 0, 0, 0, 0},
    {D3DFMT_L8, 0x20000, 0, 8, 0xFF, 0, 0, 0},
    {D3DFMT_A8L8, 0x20001, 0, 16, 0xFF, 0, 0, 0xFF00},
    {D3DFMT_A4L4, 0x20001, 0, 8, 0xF, 0, 0, 0xF0},
    {D3DFMT_L16, 0x20000, 0, 16, 0xFFFF, 0, 0, 0},
    {D3DFMT_V8U8, 0x80000, 0, 16, 0xFF, 0xFF00, 0, 0},
    {D3DFMT_L6V5U5, 0x40000, 0, 16, 0x1F, 0x3E0, 0xFC00, 0},
    {D3DFMT_X8L8V8U8, 0x40000, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0},
    {D3DFMT_Q8W8V8U8, 0x80000, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000},
    {D3DFMT_V16U16, 0x80000, 0, 32, 0xFFFF, 0xFFFF0000, 0, 0},
    {D3DFMT_A2W10V10U10, 0x80001, 0, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000},
    {D3DFMT_UYVY, 0x4, D3DFMT_UYVY, 0, 0, 0, 0, 0},
    {D3DFMT_R8G8_B8G8, 0x4, D3DFMT_R8G8_B8G8, 0, 0, 0, 0, 0},
    {D3DFMT_YUY2, 0x4, D3DFMT_YUY2, 0, 0, 0, 0, 0},
    {D3DFMT_G8R8_G8B8, 0x4, D3DFMT_G8R8_G8B8, 0, 0, 0, 0, 0},
    {D3DFMT_DXT1, 0x4, D3DFMT_DXT1, 0, 0, 0, 0, 0},
    {D3DFMT_DXT2, 0x4, D3DFMT_DXT2, 0, 0, 0, 0, 0},
    {D3DFMT_DXT3, 0x4, D3DFMT_DXT3, 0, 0, 0, 0, 0},
    {D3DFMT_DXT4, 0x4, D3DFMT_DXT4, 0, 0, 0, 0, 0},
    {D3DFMT_DXT5, 0x4, D3DFMT_DXT5, 0, 0, 0, 0, 0},
    {D3DFMT_D16_LOCKABLE, 0x400, 0, 16, 0, 0xFFFF, 0, 0},
    {D3DFMT_D32F_LOCKABLE, 0x4, D3DFMT_D32F_LOCKABLE, 0, 0, 0, 0, 0},
    {D3DFMT_A16B16G16R16, 0x4, D3DFMT_A16B16G16R16, 0, 0, 0, 0, 0},
    {D3DFMT_Q16W16V16U16, 0x4, D3DFMT_Q16W16V16U16, 0, 0, 0, 0, 0},
    {D3DFMT_R16F, 0x4, D3DFMT_R16F, 0, 0, 0, 0, 0},
    {D3DFMT_G16R16F, 0x4, D3DFMT_G16R16F, 0, 0, 0, 0, 0},
    {D3DFMT_A16B16G16R16F, 0x4, D3DFMT_A16B16G16R16F, 0, 0, 0, 0, 0},
    {D3DFMT_R32F, 0x4, D3DFMT_R32F, 0, 0, 0, 0, 0},
    {D3DFMT_G32R32F, 0x4, D3DFMT_G32R32F, 0, 0, 0, 0, 0},
    {D3DFMT_A32B32G32R32F, 0x4, D3DFMT_A32B32G32R32F, 0, 0, 0, 0, 0},
    {D3DFMT_CxV8U8, 0x4, D3DFMT_CxV8U8, 0, 0, 0, 0, 0},
};
static_assert(sizeof(kDdsFormats) / sizeof(kDdsFormats[0]) == 48);

bool findDdsFormat(const uint8_t* pf, D3DFORMAT& out) {
  if (readLe32(pf) != 32) return false;
  uint32_t flags = readLe32(pf + 4);
  if (flags & kDdpfFourCC) flags = kDdpfFourCC;
  const uint32_t fourCC = readLe32(pf + 8), bits = readLe32(pf + 12);
  const uint32_t red = readLe32(pf + 16), green = readLe32(pf + 20), blue = readLe32(pf + 24),
                 alpha = readLe32(pf + 28);
  for (const DdsPixelFormat& row : kDdsFormats) {
    if (row.flags != flags) continue;
    if ((flags & 0x4) && row.fourCC != fourCC) continue;
    if ((flags & 0xC4462) && row.bits != bits) continue;
    if ((flags & 0xE4040) && row.red != red) continue;
    if ((flags & 0xC4440) && row.green != green) continue;
    if ((flags & 0xC4040) && row.blue != blue) continue;
    if ((flags & 0x80003) && row.alpha != alpha) continue;
    out = row.format;
    return true;
  }
  return false;
}

// Row and slice pitch of one level; false when they do not fit 32 bits.
bool levelPitches(D3DFORMAT fmt, uint64_t w, uint64_t h, uint32_t& row, uint32_t& slice) {
  uint64_t r, s;
  if (fmt == D3DFMT_DXT1 || fmt == D3DFMT_DXT2 || fmt == D3DFMT_DXT3 || fmt == D3DFMT_DXT4 || fmt == D3DFMT_DXT5) {
    r = (w + 3) / 4 * (fmt == D3DFMT_DXT1 ? 8 : 16);
    s = r * ((h + 3) / 4);
  } else {
    if (fmt == D3DFMT_YUY2 || fmt == D3DFMT_UYVY || fmt == D3DFMT_R8G8_B8G8 || fmt == D3DFMT_G8R8_G8B8)
      r = (w + 1) / 2 * 4;
    else
      r = w * (pixel::FindFormatDescriptor(fmt).bitsPerPixel / 8);
    s = h * r;
  }
  if (r > 0xFFFFFFFFu || s > 0xFFFFFFFFu) return false;
  row = static_cast<uint32_t>(r);
  slice = static_cast<uint32_t>(s);
  return true;
}

}  // namespace

HRESULT DecodedImage::decodeDds(const uint8_t* data, uint32_t size) {
  if (size < 128 || readLe32(data) != MAKEFOURCC('D', 'D', 'S', ' ')) return E_FAIL;
  const uint8_t* desc = data + 4;
  uint64_t remaining = size - 128;
  const uint8_t* cursor = data + 128;

  const uint32_t flags = readLe32(desc + 4);
  const uint32_t topHeight = readLe32(desc + 8);
  const uint32_t topWidth = readLe32(desc + 12);
  // A surface without pixels is not an image (and a zero width with a huge
  // height would hand callers billions of empty rows).
  if (topWidth == 0 || topHeight == 0) return E_FAIL;
  uint32_t topDepth = (flags & kDdsdDepth) ? readLe32(desc + 20) : 1;
  if (topDepth == 0) topDepth = 1;
  const uint32_t caps2Faces = readLe32(desc + 108) & 0xFC00;
  uint32_t faces;
  if (caps2Faces == 0xFC00) faces = 6;
  else if (caps2Faces == 0) faces = 1;
  else return E_FAIL;
  uint32_t levels = readLe32(desc + 24);
  if (levels == 0) levels = 1;
  // A chain longer than halving down to 1 x 1 x 1 (plus the top) cannot be
  // a mip chain; refusing it bounds the number of records made.
  uint32_t largest = topWidth > topHeight ? topWidth : topHeight;
  if (topDepth > largest) largest = topDepth;
  uint32_t fullChain = 1;
  while (largest > 1) {
    largest >>= 1;
    ++fullChain;
  }
  if (levels > fullChain) return E_FAIL;

  D3DFORMAT fmt;
  if (!findDdsFormat(desc + 72, fmt)) return E_FAIL;
  resourceType = (flags & kDdsdDepth) ? D3DRTYPE_VOLUMETEXTURE : faces == 6 ? D3DRTYPE_CUBETEXTURE : D3DRTYPE_TEXTURE;

  const PALETTEENTRY* pal = nullptr;
  if (pixel::FindFormatDescriptor(fmt).kind == pixel::FormatKindPalette) {
    if (remaining < 1024) return E_FAIL;
    pal = reinterpret_cast<const PALETTEENTRY*>(cursor);
    cursor += 1024;
    remaining -= 1024;
  }

  DecodedImage* faceTop = this;
  for (uint32_t face = 0; face < faces; ++face) {
    if (face > 0) {
      faceTop->nextFace.reset(new (std::nothrow) DecodedImage);
      if (!faceTop->nextFace) return E_OUTOFMEMORY;
      faceTop = faceTop->nextFace.get();
    }
    uint32_t w = topWidth, h = topHeight, d = topDepth;
    DecodedImage* level = faceTop;
    for (uint32_t i = 0; i < levels; ++i) {
      if (i > 0) {
        level->nextLevel.reset(new (std::nothrow) DecodedImage);
        if (!level->nextLevel) return E_OUTOFMEMORY;
        level = level->nextLevel.get();
      }
      uint32_t row, slice;
      if (!levelPitches(fmt, w, h, row, slice)) return E_FAIL;
      level->format = fmt;
      level->rowPitch = row;
      level->pixels = cursor;
      level->depth = d;
      level->slicePitch = slice;
      level->width = w;
      level->height = h;
      level->palette = pal;
      level->ownsPixels = false;
      level->ownsPalette = false;
      level->resourceType = resourceType;
      level->fileFormat = fileFormat;
      const uint64_t bytes = static_cast<uint64_t>(slice) * d;
      if (remaining < bytes) return E_FAIL;
      cursor += bytes;
      remaining -= bytes;
      if (w > 1) w /= 2;
      if (h > 1) h /= 2;
      if (d > 1) d /= 2;
    }
  }
  return S_OK;
}

}  // namespace nerro::image
