// Storage sizes of the formats the software adapter keeps in memory.
#include "d3d9/software_objects.h"

namespace nerro::d3d9 {
namespace {

// Bytes of one pixel; 0 for block, pair and unstorable formats.
uint32_t bytesPerPixel(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_R3G3B2:
    case D3DFMT_A8:
    case D3DFMT_P8:
    case D3DFMT_L8:
    case D3DFMT_A4L4:
      return 1;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_A8R3G3B2:
    case D3DFMT_X4R4G4B4:
    case D3DFMT_A8P8:
    case D3DFMT_A8L8:
    case D3DFMT_V8U8:
    case D3DFMT_L6V5U5:
    case D3DFMT_D16_LOCKABLE:
    case D3DFMT_D15S1:
    case D3DFMT_D16:
    case D3DFMT_L16:
    case D3DFMT_R16F:
    case D3DFMT_CxV8U8:
      return 2;
    case D3DFMT_R8G8B8:
      return 3;
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A2B10G10R10:
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8:
    case D3DFMT_G16R16:
    case D3DFMT_A2R10G10B10:
    case D3DFMT_X8L8V8U8:
    case D3DFMT_Q8W8V8U8:
    case D3DFMT_V16U16:
    case D3DFMT_A2W10V10U10:
    case D3DFMT_D32:
    case D3DFMT_D24S8:
    case D3DFMT_D24X8:
    case D3DFMT_D24X4S4:
    case D3DFMT_D32F_LOCKABLE:
    case D3DFMT_D24FS8:
    case D3DFMT_G16R16F:
    case D3DFMT_R32F:
      return 4;
    case D3DFMT_A16B16G16R16:
    case D3DFMT_Q16W16V16U16:
    case D3DFMT_A16B16G16R16F:
    case D3DFMT_G32R32F:
      return 8;
    case D3DFMT_A32B32G32R32F:
      return 16;
    default:
      return 0;
  }
}

}  // namespace

uint32_t formatRowBytes(D3DFORMAT format, uint32_t width) {
  if (format == D3DFMT_DXT1) return ((width + 3) / 4) * 8;
  if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3 || format == D3DFMT_DXT4 || format == D3DFMT_DXT5)
    return ((width + 3) / 4) * 16;
  if (detail::isPairFormat(format)) return ((width + 1) / 2) * 4;
  return bytesPerPixel(format) * width;
}

uint32_t formatRowHeight(D3DFORMAT format) { return detail::isBlockFormat(format) ? 4 : 1; }

namespace detail {

bool isBlockFormat(D3DFORMAT format) {
  return format == D3DFMT_DXT1 || format == D3DFMT_DXT2 || format == D3DFMT_DXT3 || format == D3DFMT_DXT4 ||
         format == D3DFMT_DXT5;
}

bool isPairFormat(D3DFORMAT format) {
  return format == D3DFMT_YUY2 || format == D3DFMT_UYVY || format == D3DFMT_R8G8_B8G8 ||
         format == D3DFMT_G8R8_G8B8;
}

bool isDepthFormat(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_D16_LOCKABLE:
    case D3DFMT_D32:
    case D3DFMT_D15S1:
    case D3DFMT_D24S8:
    case D3DFMT_D24X8:
    case D3DFMT_D24X4S4:
    case D3DFMT_D16:
    case D3DFMT_D32F_LOCKABLE:
    case D3DFMT_D24FS8:
      return true;
    default:
      return false;
  }
}

uint32_t fullChainLength(uint32_t width, uint32_t height, uint32_t depth) {
  uint32_t largest = width > height ? width : height;
  if (depth > largest) largest = depth;
  uint32_t n = 0;
  while (largest != 0) {
    ++n;
    largest >>= 1;
  }
  return n;
}

bool Image2D::allocate(D3DFORMAT fmt, uint32_t w, uint32_t h, uint32_t d, uint32_t alignment) {
  const uint64_t rowBytes = formatRowBytes(fmt, w);
  if (rowBytes == 0 || w == 0 || h == 0 || d == 0) return false;
  if (alignment == 0 || (alignment & (alignment - 1)) != 0) alignment = 4;
  const uint64_t alignedPitch = (rowBytes + alignment - 1) & ~uint64_t{alignment - 1};
  const uint32_t rowHeight = formatRowHeight(fmt);
  const uint64_t rows = (h + rowHeight - 1) / rowHeight;
  const uint64_t slice = alignedPitch * rows;
  const uint64_t total = slice * d;
  // Resources larger than this are refused as out of memory rather than
  // risking pitch arithmetic beyond 32 bits.
  constexpr uint64_t kLargest = uint64_t{1} << 30;
  if (alignedPitch > 0x7FFFFFFF || slice > 0x7FFFFFFF || total > kLargest) return false;
  try {
    bits.assign(static_cast<size_t>(total), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  format = fmt;
  width = w;
  height = h;
  depth = d;
  pitch = static_cast<int32_t>(alignedPitch);
  slicePitch = static_cast<int32_t>(slice);
  storedRows = static_cast<uint32_t>(rows);
  return true;
}

}  // namespace detail
}  // namespace nerro::d3d9
