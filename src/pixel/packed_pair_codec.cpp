#include "pixel/packed_pair_codec.h"

#include <emmintrin.h>

#include <cstring>
#include <new>

namespace nerro::pixel {
namespace {

constexpr float k1Over255 = 1.0f / 255.0f;

inline uint16_t loadWord(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline void storeWord(uint8_t* p, uint32_t w) {
  p[0] = static_cast<uint8_t>(w);
  p[1] = static_cast<uint8_t>(w >> 8);
}

// Truncation toward zero, then a clamp to a byte. Out-of-range and NaN inputs
// are bounded first so the conversion is always defined.
inline uint32_t toByte(float v, int32_t offset) {
  if (!(v > -1024.0f)) v = -1024.0f;
  if (v > 1024.0f) v = 1024.0f;
  const int32_t q = _mm_cvtt_ss2si(_mm_set_ss(v)) + offset;
  return static_cast<uint32_t>(q < 0 ? 0 : q > 255 ? 255 : q);
}

inline float clamp01(float x) { return x > 0.0f ? (x < 1.0f ? x : 1.0f) : 0.0f; }

}  // namespace

PackedPairCodec::PackedPairCodec(const PixelRegion& region) : PixelCodec(region, 0, RangeUnsigned) {
  alignedLeft = box.Left & ~1u;
  alignedRight = (box.Right + 1) & ~1u;
  alignedWidth = alignedRight > alignedLeft ? alignedRight - alignedLeft : 0;
  cachedRowColors.reset(new (std::nothrow) D3DCOLORVALUE[alignedWidth ? alignedWidth : 1]());
  valid = cachedRowColors != nullptr;
  const bool lumaLow = format == D3DFMT_YUY2 || format == D3DFMT_R8G8_B8G8;
  lumaShift = lumaLow ? 0 : 8;
  chromaShift = lumaLow ? 8 : 0;
  yuv = format == D3DFMT_YUY2 || format == D3DFMT_UYVY;
  // Regions that leave bounds unset (or smaller than the box) are trusted
  // only up to the box's own right edge.
  surfaceRight = region.bounds.Right >= box.Right ? region.bounds.Right : box.Right;
}

PackedPairCodec::~PackedPairCodec() { FlushRow(); }

HRESULT PackedPairCodec::SelectRow(uint32_t row, uint32_t slice, bool load) {
  if (!valid) return E_OUTOFMEMORY;
  if (row == cachedRow && slice == cachedSlice) return S_OK;
  FlushRow();
  cachedRow = row;
  cachedSlice = slice;
  if (!load || alignedWidth == 0) return S_OK;

  const uint8_t* base = pixels + size_t{row} * rowPitch + size_t{slice} * slicePitch;
  // Words past the surface's right edge (the second word of the last pair of
  // an odd-width surface) are never read: they repeat their partner word.
  const uint32_t lastWord = surfaceRight > alignedLeft ? surfaceRight - 1 - alignedLeft : 0;
  auto word = [&](uint32_t x) -> uint32_t {
    const uint32_t w = x <= lastWord ? x : (x & ~1u);
    return loadWord(base + 2 * (size_t{alignedLeft} + w));
  };
  auto luma = [&](uint32_t x) { return static_cast<int32_t>((word(x) >> lumaShift) & 0xFF); };
  auto chroma = [&](uint32_t x) { return static_cast<int32_t>((word(x) >> chromaShift) & 0xFF); };
  D3DCOLORVALUE* out = cachedRowColors.get();
  const uint32_t L = alignedWidth;

  if (!yuv) {
    for (uint32_t x = 0; x < L; x += 2) {
      const float r = static_cast<float>(chroma(x)) * k1Over255;
      const float b = static_cast<float>(chroma(x + 1)) * k1Over255;
      out[x] = {r, static_cast<float>(luma(x)) * k1Over255, b, 1.0f};
      out[x + 1] = {r, static_cast<float>(luma(x + 1)) * k1Over255, b, 1.0f};
    }
    return S_OK;
  }

  // Chroma of pair k: U from word 2k, V from word 2k + 1. Odd pixels sit
  // between two pairs and take a 4-tap interpolation; the span's ends are
  // treated as the row's edges. Sums are shifted arithmetically, so a
  // negative sum gives a negative chroma value (clamped after conversion).
  for (uint32_t x = 0; x < L; ++x) {
    int32_t S[2];
    for (int c = 0; c < 2; ++c) {
      auto s = [&](uint32_t k) { return chroma(2 * k + c); };
      const uint32_t k = x / 2;
      int32_t v;
      if ((x & 1) == 0) {
        v = s(k);
      } else if (x == 1 && L == 2) {
        v = s(0);
      } else if (x == 1 && L == 4) {
        v = (8 * s(0) + 8 * s(1) + 8) >> 4;
      } else if (x == L - 1) {
        v = (17 * s(k) - s(k - 1) + 8) >> 4;
      } else if (x == 1) {
        v = (9 * (s(0) + s(1)) - s(2) - s(0) + 8) >> 4;
      } else if (x == L - 3) {
        v = (9 * (s(k) + s(k + 1)) - s(k - 1) - s(k + 1) + 8) >> 4;
      } else {
        v = (9 * (s(k) + s(k + 1)) - s(k - 1) - s(k + 2) + 8) >> 4;
      }
      S[c] = v;
    }
    const float Y = static_cast<float>(luma(x) - 16) * 0.00456621f;
    const float U = static_cast<float>(S[0] - 128);
    const float V = static_cast<float>(S[1] - 128);
    out[x] = {clamp01(Y + 0.00625893f * V), clamp01(Y - 0.00153632f * U - 0.00318811f * V),
              clamp01(Y + 0.00791071f * U), 1.0f};
  }
  return S_OK;
}

HRESULT PackedPairCodec::FlushRow() {
  if (!dirty || !valid) return S_OK;
  dirty = false;
  uint8_t* base = pixels + size_t{cachedRow} * rowPitch + size_t{cachedSlice} * slicePitch;
  const D3DCOLORVALUE* in = cachedRowColors.get();
  for (uint32_t x = 0; x < alignedWidth; x += 2) {
    const D3DCOLORVALUE& p0 = in[x];
    const D3DCOLORVALUE& p1 = in[x + 1];
    uint32_t l0, l1, c0, c1;
    if (yuv) {
      l0 = toByte(65.481f * p0.r + 128.553f * p0.g + 24.966f * p0.b + 0.5f, 16);
      l1 = toByte(65.481f * p1.r + 128.553f * p1.g + 24.966f * p1.b + 0.5f, 16);
      c0 = toByte(112.0f * p0.b - 74.203f * p0.g - 37.797f * p0.r + 0.5f, 128);
      c1 = toByte(112.0f * p0.r - (93.786f * p0.g + 18.214f * p0.b) + 0.5f, 128);
    } else {
      // Inputs outside [0, 1] are clamped so a field never spills into its
      // neighbour.
      l0 = toByte(255.0f * p0.g + 0.5f, 0);
      c0 = toByte(255.0f * p0.r + 0.5f, 0);
      l1 = toByte(255.0f * p1.g + 0.5f, 0);
      c1 = toByte(255.0f * p0.b + 0.5f, 0);
    }
    const uint32_t wx = alignedLeft + x;
    if (wx < surfaceRight) storeWord(base + 2 * size_t{wx}, (l0 << lumaShift) | (c0 << chromaShift));
    if (wx + 1 < surfaceRight)
      storeWord(base + 2 * (size_t{wx} + 1), (l1 << lumaShift) | (c1 << chromaShift));
  }
  return S_OK;
}

HRESULT PackedPairCodec::DecodeRow(uint32_t y, uint32_t z, D3DCOLORVALUE* out) {
  if (y >= height || z >= depth) return D3DERR_INVALIDCALL;
  const HRESULT hr = SelectRow(y + box.Top, z + box.Front, true);
  if (FAILED(hr)) return hr;
  std::memcpy(static_cast<void*>(out), cachedRowColors.get() + (box.Left - alignedLeft),
              size_t{width} * sizeof(D3DCOLORVALUE));
  FinishDecodeRow(out);
  return S_OK;
}

HRESULT PackedPairCodec::EncodeRow(uint32_t y, uint32_t z, D3DCOLORVALUE* in) {
  if (y >= height || z >= depth) return D3DERR_INVALIDCALL;
  const D3DCOLORVALUE* w = PrepareEncodeRow(in);
  const HRESULT hr = SelectRow(y + box.Top, z + box.Front, alignedWidth != width);
  if (FAILED(hr)) return hr;
  std::memcpy(static_cast<void*>(cachedRowColors.get() + (box.Left - alignedLeft)), w,
              size_t{width} * sizeof(D3DCOLORVALUE));
  dirty = true;
  return S_OK;
}

std::unique_ptr<PixelCodec> CreatePackedPairCodec(const PixelRegion& region) {
  switch (static_cast<uint32_t>(region.format)) {
    case D3DFMT_YUY2:
    case D3DFMT_UYVY:
    case D3DFMT_R8G8_B8G8:
    case D3DFMT_G8R8_G8B8:
      return std::unique_ptr<PixelCodec>(new (std::nothrow) PackedPairCodec(region));
    default:
      return nullptr;
  }
}

}  // namespace nerro::pixel
