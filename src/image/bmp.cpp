// BMP files and bare DIBs: core and info headers, palettes of 1, 4 and 8
// bits, 16/24/32-bit pixels, bitfields and the two run-length encodings.
#include <bit>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "image/bytes.h"
#include "image/image.h"

namespace nerro::image {
namespace {

using detail::readLe16;
using detail::readLe24;
using detail::readLe32;

constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionRle8 = 1;
constexpr uint32_t kCompressionRle4 = 2;
constexpr uint32_t kCompressionBitfields = 3;

struct BitfieldFormat {
  uint16_t bits;
  uint32_t red, green, blue, alpha;
  D3DFORMAT format;
  uint32_t skip;  // bytes to skip at the start of the pixel data
};

constexpr BitfieldFormat kBitfieldFormats[] = {
    {16, 0xE0, 0x1C, 0x3, 0xFF00, D3DFMT_A8R3G3B2, 0},
    {16, 0xF00, 0xF0, 0xF, 0xF000, D3DFMT_A4R4G4B4, 0},
    {16, 0xF00, 0xF0, 0xF, 0, D3DFMT_X4R4G4B4, 0},
    {16, 0xF800, 0x7E0, 0x1F, 0, D3DFMT_R5G6B5, 0},
    {16, 0x7C00, 0x3E0, 0x1F, 0, D3DFMT_X1R5G5B5, 0},
    {16, 0x7C00, 0x3E0, 0x1F, 0x8000, D3DFMT_A1R5G5B5, 0},
    {16, 0xFF, 0xFF, 0xFF, 0xFF00, D3DFMT_A8L8, 0},
    {16, 0xFFFF, 0xFFFF, 0xFFFF, 0, D3DFMT_L16, 0},
    {24, 0xFF0000, 0xFF00, 0xFF, 0, D3DFMT_R8G8B8, 0},
    {32, 0xFF0000, 0xFF00, 0xFF, 0, D3DFMT_X8R8G8B8, 0},
    {32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, D3DFMT_A8R8G8B8, 0},
    // Colour in the top three bytes: the same pixels one byte further on.
    {32, 0xFF000000, 0xFF0000, 0xFF00, 0, D3DFMT_X8R8G8B8, 1},
    {32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000, D3DFMT_A2B10G10R10, 0},
    {32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000, D3DFMT_A8B8G8R8, 0},
    {32, 0xFF, 0xFF00, 0xFF0000, 0, D3DFMT_X8B8G8R8, 0},
    {32, 0xFFFF, 0xFFFF0000, 0, 0, D3DFMT_G16R16, 0},
    {32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000, D3DFMT_A2R10G10B10, 0},
};

// Any bit in a 32-bit pixel's fourth byte set?
bool anyAlpha(const uint8_t* rows, uint32_t width, uint32_t height, uint64_t stride) {
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = rows + y * stride;
    uint32_t acc = 0;
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t v;
      std::memcpy(&v, row + 4 * static_cast<size_t>(x), 4);
      acc |= v;
    }
    if (acc & 0xFF000000u) return true;
  }
  return false;
}

// Copies one row of `width` 32-bit pixels and returns the OR of all of them,
// so the alpha test rides along with the copy instead of reading the image
// a second time.
uint32_t copyRowCollect(uint8_t* dst, const uint8_t* src, uint32_t width) {
  uint32_t x = 0;
  uint32_t acc = 0;
#if defined(__SSE2__)
  __m128i vacc = _mm_setzero_si128();
  for (; x + 4 <= width; x += 4) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * static_cast<size_t>(x)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * static_cast<size_t>(x)), v);
    vacc = _mm_or_si128(vacc, v);
  }
  vacc = _mm_or_si128(vacc, _mm_srli_si128(vacc, 8));
  vacc = _mm_or_si128(vacc, _mm_srli_si128(vacc, 4));
  acc = static_cast<uint32_t>(_mm_cvtsi128_si32(vacc));
#endif
  for (; x < width; ++x) {
    uint32_t v;
    std::memcpy(&v, src + 4 * static_cast<size_t>(x), 4);
    std::memcpy(dst + 4 * static_cast<size_t>(x), &v, 4);
    acc |= v;
  }
  return acc;
}

struct ChannelField {
  uint32_t shift = 0;
  uint32_t reduced = 0;
  float scale = 0.0f;
  bool one = false;  // no mask: the channel reads as 1.0
};

ChannelField makeField(uint32_t mask) {
  ChannelField f;
  if (mask == 0) {
    f.one = true;
    return f;
  }
  f.shift = static_cast<uint32_t>(std::countr_zero(mask));
  f.reduced = mask >> f.shift;
  f.scale = 1.0f / static_cast<float>(f.reduced);
  return f;
}

inline float fieldValue(const ChannelField& f, uint32_t v) {
  return f.one ? 1.0f : static_cast<float>((v >> f.shift) & f.reduced) * f.scale;
}

// Writes `count` bytes of pixel data to run-length position `pos` (counted
// in file order, rows of `pitch` bytes), mapping file rows to buffer rows.
class RunWriter {
 public:
  RunWriter(uint8_t* buffer, uint32_t pitch, uint32_t height, bool bottomUp)
      : buffer_(buffer), pitch_(pitch), height_(height), bottomUp_(bottomUp) {}
  uint64_t total() const { return static_cast<uint64_t>(pitch_) * height_; }
  uint8_t* at(uint64_t pos) const {
    uint64_t row = pos / pitch_;
    uint64_t col = pos % pitch_;
    uint64_t bufferRow = bottomUp_ ? height_ - 1 - row : row;
    return buffer_ + bufferRow * pitch_ + col;
  }

 private:
  uint8_t* buffer_;
  uint32_t pitch_;
  uint32_t height_;
  bool bottomUp_;
};

// Decodes RLE8 (`four` false) or RLE4 data. Runs that cross the end of a
// row go on at the start of the next row in file order; nothing is written
// outside the buffer.
HRESULT decodeRle(const uint8_t* in, uint64_t inSize, RunWriter& out, uint32_t height, uint32_t pitch, bool four) {
  uint64_t cursor = 0;
  uint64_t pos = 0;
  uint64_t row = 0;
  const uint64_t total = out.total();
  for (;;) {
    if (row >= height) return S_OK;
    if (inSize - cursor < 2) return E_FAIL;
    uint32_t n = in[cursor];
    uint32_t v = in[cursor + 1];
    if (n > 0) {
      if (pos >= total || total - pos < n) return E_FAIL;
      for (uint32_t i = 0; i < n; ++i) {
        uint8_t value = four ? static_cast<uint8_t>((i & 1) ? (v & 0xF) : (v >> 4)) : static_cast<uint8_t>(v);
        *out.at(pos + i) = value;
      }
      pos += n;
      cursor += 2;
    } else if (v == 0) {
      // End of line: the row after the last one written in.
      uint64_t last = pos > row * pitch ? (pos - 1) / pitch : row;
      row = last + 1;
      pos = row * pitch;
      cursor += 2;
    } else if (v == 1) {
      return S_OK;
    } else if (v == 2) {
      if (inSize - cursor < 4) return E_FAIL;
      uint64_t dx = in[cursor + 2];
      uint64_t dy = in[cursor + 3];
      pos += dx + dy * pitch;
      row = pos / pitch;
      cursor += 4;
    } else {
      uint64_t bytes = four ? (v + 1) / 2 : v;
      if (inSize - cursor - 2 < bytes) return E_FAIL;
      if (pos >= total || total - pos < v) return E_FAIL;
      const uint8_t* src = in + cursor + 2;
      for (uint32_t i = 0; i < v; ++i) {
        uint8_t value = four ? static_cast<uint8_t>((i & 1) ? (src[i / 2] & 0xF) : (src[i / 2] >> 4)) : src[i];
        *out.at(pos + i) = value;
      }
      pos += v;
      uint64_t advance = 2 + ((bytes + 1) & ~uint64_t{1});
      if (inSize - cursor < advance) return E_FAIL;
      cursor += advance;
    }
  }
}

}  // namespace

HRESULT DecodedImage::decodeBmp(const uint8_t* data, uint32_t size) {
  if (size < 14 || data[0] != 'B' || data[1] != 'M') return E_FAIL;
  if (readLe32(data + 2) > size) return E_FAIL;
  return decodeDib(data + 14, size - 14);
}

HRESULT DecodedImage::decodeDib(const uint8_t* data, uint32_t size) {
  if (size < 4) return E_FAIL;
  const uint32_t headerSize = readLe32(data);
  if (headerSize > size) return E_FAIL;

  int64_t signedWidth, signedHeight;
  uint32_t planes, bits, compression, colours;
  uint32_t masks[4] = {0, 0, 0, 0};
  uint32_t entrySize;
  if (headerSize == 12) {
    signedWidth = static_cast<int16_t>(readLe16(data + 4));
    signedHeight = static_cast<int16_t>(readLe16(data + 6));
    planes = readLe16(data + 8);
    bits = readLe16(data + 10);
    compression = kCompressionNone;
    colours = 0;
    entrySize = 3;
  } else if (headerSize >= 40) {
    signedWidth = static_cast<int32_t>(readLe32(data + 4));
    signedHeight = static_cast<int32_t>(readLe32(data + 8));
    planes = readLe16(data + 12);
    bits = readLe16(data + 14);
    compression = readLe32(data + 16);
    colours = readLe32(data + 32);
    entrySize = 4;
    if (compression == kCompressionBitfields) {
      // The three colour masks follow the 40-byte header; the alpha mask
      // only exists in the larger headers.
      if (headerSize < 52) return E_FAIL;
      masks[0] = readLe32(data + 40);
      masks[1] = readLe32(data + 44);
      masks[2] = readLe32(data + 48);
      if (headerSize >= 56) masks[3] = readLe32(data + 52);
    }
  } else {
    return E_FAIL;
  }
  // A bitmap without pixels has nothing to decode.
  if (signedWidth <= 0 || signedHeight == 0) return E_FAIL;
  const bool topDown = signedHeight < 0;
  const uint64_t w = static_cast<uint64_t>(signedWidth);
  const uint64_t h = static_cast<uint64_t>(topDown ? -signedHeight : signedHeight);

  uint64_t entries = colours;
  if (entries == 0 && bits <= 8) entries = uint64_t{1} << bits;
  uint64_t dataOffset = headerSize + entries * entrySize;
  if (dataOffset > size || planes != 1) return E_FAIL;

  D3DFORMAT fmt;
  bool toFloat = false;
  uint32_t skip = 0;
  if (compression <= kCompressionRle4) {
    switch (bits) {
      case 1: case 4: case 8: fmt = D3DFMT_P8; break;
      case 16: fmt = D3DFMT_X1R5G5B5; break;
      case 24: fmt = D3DFMT_R8G8B8; break;
      case 32: fmt = D3DFMT_X8R8G8B8; break;
      default: return E_FAIL;
    }
  } else if (compression == kCompressionBitfields) {
    if (bits != 16 && bits != 24 && bits != 32) return E_FAIL;
    fmt = D3DFMT_A32B32G32R32F;
    toFloat = true;
    for (const BitfieldFormat& b : kBitfieldFormats) {
      if (b.bits == bits && b.red == masks[0] && b.green == masks[1] && b.blue == masks[2] && b.alpha == masks[3]) {
        fmt = b.format;
        toFloat = false;
        skip = b.skip;
        break;
      }
    }
  } else {
    return E_FAIL;
  }

  uint64_t srcRowBytes = bits == 1 ? (w + 7) / 8 : bits == 4 ? (w + 1) / 2 : bits / 8 * w;
  uint64_t srcStride = (srcRowBytes + 3) & ~uint64_t{3};
  uint64_t dstRowBytes = (bits == 1 || bits == 4) ? w : toFloat ? w * 16 : srcRowBytes;
  uint64_t pitch = (dstRowBytes + 3) & ~uint64_t{3};
  if (pitch > 0xFFFFFFFFu || w > 0xFFFFFFFFu) return E_FAIL;

  if (wantPixels && fmt == D3DFMT_P8) {
    PALETTEENTRY* pal = allocatePalette();
    if (pal == nullptr) return E_OUTOFMEMORY;
    const uint8_t* table = data + headerSize;
    uint64_t used = entries < 256 ? entries : 256;
    for (uint64_t i = 0; i < used; ++i) {
      const uint8_t* e = table + i * entrySize;
      pal[i] = PALETTEENTRY{e[2], e[1], e[0], 255};
    }
    for (uint64_t i = used; i < 256; ++i) pal[i] = PALETTEENTRY{255, 255, 255, 255};
  }

  const bool rle = compression == kCompressionRle8 || compression == kCompressionRle4;
  const uint8_t* src = data + dataOffset + skip;
  // 32-bit pixels without compression may carry alpha: any nonzero fourth
  // byte makes the image D3DFMT_A8R8G8B8. When the rows are copied anyway
  // (bottom-up images) the test is made during the copy.
  const bool alphaTest = compression == kCompressionNone && fmt == D3DFMT_X8R8G8B8;
  const bool fusedAlphaTest = alphaTest && wantPixels && !topDown;
  if (!rle) {
    if (srcRowBytes + (h - 1) * srcStride + dataOffset + skip > size) return E_FAIL;
    if (alphaTest && !fusedAlphaTest &&
        anyAlpha(src, static_cast<uint32_t>(w), static_cast<uint32_t>(h), srcStride))
      fmt = D3DFMT_A8R8G8B8;
  }

  format = fmt;
  rowPitch = static_cast<uint32_t>(pitch);
  width = static_cast<uint32_t>(w);
  height = static_cast<uint32_t>(h);
  depth = 1;
  slicePitch = 0;
  if (!wantPixels) return S_OK;

  if (topDown && !rle && bits >= 8 && !toFloat) {
    pixels = src;
    ownsPixels = false;
    return S_OK;
  }

  uint8_t* buffer = allocatePixels(pitch * h, rle || bits < 8);
  if (buffer == nullptr) return E_OUTOFMEMORY;
  auto dstRow = [&](uint64_t fileRow) { return buffer + (topDown ? fileRow : h - 1 - fileRow) * pitch; };

  if (rle) {
    RunWriter writer(buffer, static_cast<uint32_t>(pitch), static_cast<uint32_t>(h), !topDown);
    return decodeRle(src, size - dataOffset, writer, static_cast<uint32_t>(h), static_cast<uint32_t>(pitch),
                     compression == kCompressionRle4);
  }

  if (fusedAlphaTest) {
    uint32_t acc = 0;
    for (uint64_t r = 0; r < h; ++r)
      acc |= copyRowCollect(dstRow(r), src + r * srcStride, static_cast<uint32_t>(w));
    if (acc & 0xFF000000u) format = D3DFMT_A8R8G8B8;
    return S_OK;
  }

  for (uint64_t r = 0; r < h; ++r) {
    const uint8_t* in = src + r * srcStride;
    uint8_t* out = dstRow(r);
    if (bits == 1) {
      for (uint64_t x = 0; x < w; ++x) out[x] = (in[x >> 3] >> (7 - (x & 7))) & 1;
    } else if (bits == 4) {
      for (uint64_t x = 0; x < w; ++x) out[x] = (x & 1) ? (in[x >> 1] & 0xF) : (in[x >> 1] >> 4);
    } else if (toFloat) {
      ChannelField f[4] = {makeField(masks[0]), makeField(masks[1]), makeField(masks[2]), makeField(masks[3])};
      if ((masks[0] | masks[1] | masks[2]) == 0)
        for (int c = 0; c < 3; ++c) f[c] = ChannelField{0, 1, 0.0f, false};
      const uint32_t bytesPerPixel = bits / 8;
      float* o = reinterpret_cast<float*>(out);
      for (uint64_t x = 0; x < w; ++x) {
        const uint8_t* p = in + x * bytesPerPixel;
        uint32_t v = bits == 16 ? readLe16(p) : bits == 24 ? readLe24(p) : readLe32(p);
        o[4 * x + 0] = fieldValue(f[0], v);
        o[4 * x + 1] = fieldValue(f[1], v);
        o[4 * x + 2] = fieldValue(f[2], v);
        o[4 * x + 3] = fieldValue(f[3], v);
      }
    } else {
      std::memcpy(out, in, srcRowBytes);
      if (pitch > srcRowBytes) std::memset(out + srcRowBytes, 0, pitch - srcRowBytes);
    }
  }
  return S_OK;
}

}  // namespace nerro::image
