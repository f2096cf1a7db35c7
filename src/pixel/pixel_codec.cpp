#include "pixel/pixel_codec.h"

#include <cmath>
#include <cstring>
#include <new>

#include "pixel/block_codec.h"
#include "pixel/packed_pair_codec.h"
#include "pixel/plain_codec.h"

namespace nerro::pixel {

const DitherTable kPlainDitherTable = {
    {0.5f, 0.5f, 0.5f, 0.5f},
    {0.5f, 0.5f, 0.5f, 0.5f},
    {0.5f, 0.5f, 0.5f, 0.5f},
    {0.5f, 0.5f, 0.5f, 0.5f},
};

const DitherTable kOrderedDitherTable = {
    {31 / 32.0f, 15 / 32.0f, 27 / 32.0f, 11 / 32.0f},
    {7 / 32.0f, 23 / 32.0f, 3 / 32.0f, 19 / 32.0f},
    {25 / 32.0f, 9 / 32.0f, 29 / 32.0f, 13 / 32.0f},
    {1 / 32.0f, 17 / 32.0f, 5 / 32.0f, 21 / 32.0f},
};

namespace {

// Values below lo become lo; values at or above hi, and NaN, become hi.
inline float Clamp(float x, float lo, float hi) { return x < lo ? lo : (x < hi ? x : hi); }
inline float ToSigned(float x) { return x * 2.0f - 1.0f; }
inline float ToUnsigned(float x) { return (x + 1.0f) * 0.5f; }

// Gamma curves. Inside [0, 1] they follow the tables with a square-root or
// square warp. Outside (floating-point data) the curve continues as the
// power it approximates above 1 and mirrors for negative values, so no
// value can index outside the tables; NaN passes through.
inline float GammaEncodeValue(float x, bool both) {
  if (x >= 0.0f && x <= 1.0f) {
    const float root = std::sqrt(x);
    if (both) return root;
    const float t = 254.0f * root;
    const int i = static_cast<int>(t);
    if (i >= 254) return kGammaEncodeTable[254];
    const float lo = kGammaEncodeTable[i];
    return lo + (kGammaEncodeTable[i + 1] - lo) * (t - static_cast<float>(i));
  }
  if (x > 1.0f) return both ? std::sqrt(x) : std::pow(x, 1.0f / 2.2f);
  if (x < 0.0f) return -GammaEncodeValue(-x, both);
  return x;
}

inline float GammaDecodeValue(float x, bool both) {
  if (x >= 0.0f && x <= 1.0f) {
    if (both) return x * x;
    const float t = 254.0f * x * x;
    const int i = static_cast<int>(t);
    if (i >= 254) return kGammaDecodeTable[254];
    const float lo = kGammaDecodeTable[i];
    return lo + (kGammaDecodeTable[i + 1] - lo) * (t - static_cast<float>(i));
  }
  if (x > 1.0f) return both ? x * x : std::pow(x, 2.2f);
  if (x < 0.0f) return -GammaDecodeValue(-x, both);
  return x;
}

}  // namespace

void ConvertRange(NumericRange to, NumericRange from, const D3DCOLORVALUE* src,
                  D3DCOLORVALUE* dst, uint32_t count) {
  if (src != dst && (to == from || to == RangeFloat)) {
    std::memmove(dst, src, count * sizeof(D3DCOLORVALUE));
  }
  if (to == from || to == RangeFloat) return;
  for (uint32_t i = 0; i < count; ++i) {
    D3DCOLORVALUE c = src[i];
    switch (to) {
      case RangeUnsigned:
        if (from == RangeSignedColor) {
          c = {ToUnsigned(c.r), ToUnsigned(c.g), ToUnsigned(c.b), c.a};
        } else if (from == RangeSigned) {
          c = {ToUnsigned(c.r), ToUnsigned(c.g), ToUnsigned(c.b), ToUnsigned(c.a)};
        } else if (from == RangeFloat) {
          c = {Clamp(c.r, 0, 1), Clamp(c.g, 0, 1), Clamp(c.b, 0, 1), Clamp(c.a, 0, 1)};
        }
        break;
      case RangeSignedColor:
        if (from == RangeUnsigned) {
          c = {ToSigned(c.r), ToSigned(c.g), ToSigned(c.b), c.a};
        } else if (from == RangeSigned) {
          c.a = ToUnsigned(c.a);
        } else if (from == RangeFloat) {
          c = {Clamp(c.r, -1, 1), Clamp(c.g, -1, 1), Clamp(c.b, -1, 1), Clamp(c.a, 0, 1)};
        }
        break;
      case RangeSigned:
        if (from == RangeUnsigned) {
          c = {ToSigned(c.r), ToSigned(c.g), ToSigned(c.b), ToSigned(c.a)};
        } else if (from == RangeSignedColor) {
          c.a = ToSigned(c.a);
        } else if (from == RangeFloat) {
          c = {Clamp(c.r, -1, 1), Clamp(c.g, -1, 1), Clamp(c.b, -1, 1), Clamp(c.a, -1, 1)};
        }
        break;
      default:
        break;
    }
    dst[i] = c;
  }
}

PixelCodec::PixelCodec(const PixelRegion& region, uint32_t bitsPerPixel, NumericRange codecRange)
    : format(region.format),
      range(codecRange),
      addressable(bitsPerPixel != 0),
      gamma(region.gamma != 0),
      colorKey(region.colorKey),
      palettized(region.format == D3DFMT_P8 || region.format == D3DFMT_A8P8),
      pixels(static_cast<uint8_t*>(region.pixels)),
      ditherTable(region.orderedDither ? &kOrderedDitherTable : &kPlainDitherTable),
      box(region.box),
      rowPitch(region.rowPitch),
      slicePitch(region.slicePitch),
      bytesPerPixel(bitsPerPixel / 8) {
  if (colorKey != 0) {
    constexpr float k = 1.0f / 255.0f;
    colorKeyValue = {static_cast<float>((colorKey >> 16) & 0xFF) * k,
                     static_cast<float>((colorKey >> 8) & 0xFF) * k,
                     static_cast<float>(colorKey & 0xFF) * k,
                     static_cast<float>(colorKey >> 24) * k};
  }
  // Signed data is never gamma-encoded, except the luminance of L6V5U5,
  // which lives in alpha.
  if (range == RangeSigned || (range == RangeSignedColor && format != D3DFMT_L6V5U5)) {
    gamma = false;
  }
  // An inverted box is treated as empty rather than wrapping to a huge size.
  width = box.Right > box.Left ? box.Right - box.Left : 0;
  height = box.Bottom > box.Top ? box.Bottom - box.Top : 0;
  depth = box.Back > box.Front ? box.Back - box.Front : 0;
  rowBytes = width * bytesPerPixel;
  if (addressable && pixels != nullptr) {
    pixels += size_t{box.Left} * bytesPerPixel + size_t{box.Top} * rowPitch +
              size_t{box.Front} * slicePitch;
    box = {0, 0, width, height, 0, depth};
  }
  if (region.diffuseErrors) {
    errorRow.reset(new (std::nothrow) D3DCOLORVALUE[size_t{width} + 2]());
  }
}

PixelCodec::~PixelCodec() = default;

HRESULT PixelCodec::LoadPalette(const PixelRegion& region) {
  palette.reset(new (std::nothrow) D3DCOLORVALUE[256]);
  if (!palette) return E_OUTOFMEMORY;
  constexpr float k = 1.0f / 255.0f;
  for (int i = 0; i < 256; ++i) {
    if (region.palette) {
      const PALETTEENTRY& e = region.palette[i];
      palette[i] = {e.peRed * k, e.peGreen * k, e.peBlue * k, e.peFlags * k};
    } else {
      palette[i] = {1.0f, 1.0f, 1.0f, 1.0f};
    }
  }
  return S_OK;
}

HRESULT PixelCodec::LinkToSource(PixelCodec& source) {
  if (source.range != range && range != RangeFloat) sourceRange = source.range;
  if (sourceRange == RangeNone && !gamma) return S_OK;
  conversionRow.reset(new (std::nothrow) D3DCOLORVALUE[width ? width : 1]);
  if (!conversionRow) return E_OUTOFMEMORY;
  if (gamma && source.gamma) {
    bothGamma = true;
    source.bothGamma = true;
  }
  return S_OK;
}

void PixelCodec::QuantizeColorKey() {
  // Round-trip the key through one scratch pixel with every option that
  // would disturb it (gamma, range conversion, dither, diffusion) held off,
  // so the key compares equal to a decoded pixel of that colour.
  alignas(16) uint8_t scratch[16] = {};
  uint8_t* const savedPixels = pixels;
  const uint32_t savedWidth = width, savedRowBytes = rowBytes;
  const D3DCOLOR savedKey = colorKey;
  const DitherTable* const savedDither = ditherTable;
  const bool savedGamma = gamma;
  const NumericRange savedSourceRange = sourceRange;
  std::unique_ptr<D3DCOLORVALUE[]> savedErrors = std::move(errorRow);
  pixels = scratch;
  width = 1;
  rowBytes = bytesPerPixel;
  colorKey = 0;
  ditherTable = &kPlainDitherTable;
  gamma = false;
  sourceRange = RangeNone;
  if (range != RangeUnsigned && range != RangeFloat) {
    ConvertRange(range, RangeUnsigned, &colorKeyValue, &colorKeyValue, 1);
  }
  D3DCOLORVALUE value = colorKeyValue;
  EncodeRow(0, 0, &value);
  DecodeRow(0, 0, &colorKeyValue);
  pixels = savedPixels;
  width = savedWidth;
  rowBytes = savedRowBytes;
  colorKey = savedKey;
  ditherTable = savedDither;
  gamma = savedGamma;
  sourceRange = savedSourceRange;
  errorRow = std::move(savedErrors);
}

D3DCOLORVALUE* PixelCodec::PrepareEncodeRow(D3DCOLORVALUE* in) {
  D3DCOLORVALUE* w = in;
  D3DCOLORVALUE* const scratch = conversionRow ? conversionRow.get() : in;
  if (sourceRange != RangeNone) {
    ConvertRange(range, sourceRange, w, scratch, width);
    w = scratch;
  }
  if (gamma) {
    GammaEncodeRow(w, scratch);
    w = scratch;
  }
  return w;
}

void PixelCodec::FinishDecodeRow(D3DCOLORVALUE* out) const {
  if (colorKey != 0) ApplyColorKey(out);
  if (gamma) GammaDecodeRow(out);
}

void PixelCodec::ApplyColorKey(D3DCOLORVALUE* row) const {
  const D3DCOLORVALUE k = colorKeyValue;
  for (uint32_t x = 0; x < width; ++x) {
    const D3DCOLORVALUE c = row[x];
    if (c.r == k.r && c.g == k.g && c.b == k.b && c.a == k.a) row[x] = {0, 0, 0, 0};
  }
}

void PixelCodec::GammaEncodeRow(const D3DCOLORVALUE* src, D3DCOLORVALUE* dst) const {
  const bool both = bothGamma;
  if (range == RangeUnsigned || range == RangeFloat) {
    for (uint32_t x = 0; x < width; ++x) {
      const D3DCOLORVALUE c = src[x];
      dst[x] = {GammaEncodeValue(c.r, both), GammaEncodeValue(c.g, both),
                GammaEncodeValue(c.b, both), c.a};
    }
  } else {
    for (uint32_t x = 0; x < width; ++x) {
      const D3DCOLORVALUE c = src[x];
      dst[x] = {c.r, c.g, c.b, GammaEncodeValue(c.a, both)};
    }
  }
}

void PixelCodec::GammaDecodeRow(D3DCOLORVALUE* row) const {
  const bool both = bothGamma;
  if (range == RangeUnsigned || range == RangeFloat) {
    for (uint32_t x = 0; x < width; ++x) {
      D3DCOLORVALUE& c = row[x];
      c.r = GammaDecodeValue(c.r, both);
      c.g = GammaDecodeValue(c.g, both);
      c.b = GammaDecodeValue(c.b, both);
    }
  } else {
    for (uint32_t x = 0; x < width; ++x) row[x].a = GammaDecodeValue(row[x].a, both);
  }
}

void PixelCodec::AddDiffusedErrors(D3DCOLORVALUE* row) const {
  if (!errorRow) return;
  D3DCOLORVALUE* const e = errorRow.get();
  for (uint32_t x = 0; x < width; ++x) {
    row[x].r += e[x + 1].r;
    row[x].g += e[x + 1].g;
    row[x].b += e[x + 1].b;
    row[x].a += e[x + 1].a;
  }
  std::memset(static_cast<void*>(e), 0, (size_t{width} + 2) * sizeof(D3DCOLORVALUE));
}

std::unique_ptr<PixelCodec> CreatePixelCodec(const PixelRegion& region) {
  std::unique_ptr<PixelCodec> codec;
  switch (static_cast<uint32_t>(region.format)) {
    case D3DFMT_YUY2:
    case D3DFMT_UYVY:
    case D3DFMT_R8G8_B8G8:
    case D3DFMT_G8R8_G8B8:
      codec = CreatePackedPairCodec(region);
      break;
    case D3DFMT_DXT1:
    case D3DFMT_DXT2:
    case D3DFMT_DXT3:
    case D3DFMT_DXT4:
    case D3DFMT_DXT5:
      codec = CreateBlockCodec(region);
      break;
    default:
      codec = detail::CreatePlainCodec(region);
      break;
  }
  if (!codec) return nullptr;
  if (codec->palettized && FAILED(codec->LoadPalette(region))) return nullptr;
  if (codec->colorKey != 0) codec->QuantizeColorKey();
  return codec;
}

}  // namespace nerro::pixel
