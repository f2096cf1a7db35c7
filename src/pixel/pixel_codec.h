// Row codecs: read and write one box of pixels in memory, a row at a time,
// converting between the box's pixel format and float colour. A copy between
// two surfaces uses two codecs: rows are decoded through the source codec and
// encoded through the destination codec, which also carries the conversion
// options of the copy (value ranges, gamma, colour key, palette, ordered
// dither, error diffusion).
//
// Use: create the destination codec, then the source codec, call
// LinkToSource on the destination, move rows, destroy both.
#pragma once

#include <cstdint>
#include <memory>

#include "d3d9/d3d9types.h"

namespace nerro::pixel {

// The value range a codec's float colours live in. 0 means "none" where a
// range may be absent (PixelCodec::sourceRange).
enum NumericRange : uint32_t {
  RangeNone = 0,
  RangeUnsigned = 1,     // r, g, b, a in [0, 1]
  RangeSignedColor = 2,  // r, g, b in [-1, 1], a in [0, 1]
  RangeSigned = 3,       // r, g, b, a in [-1, 1]
  RangeFloat = 4,        // unbounded
};

// A box of pixels in memory with the conversion options of a copy. Filled by
// the caller, read by CreatePixelCodec. Flags are tested for non-zero.
struct PixelRegion {
  void* pixels = nullptr;  // first byte of the surface (not of the box)
  D3DFORMAT format = D3DFMT_UNKNOWN;
  uint32_t rowPitch = 0;    // bytes per row (per row of blocks for DXT)
  uint32_t slicePitch = 0;  // bytes per slice; 0 for a single slice
  D3DBOX bounds = {};       // the whole surface
  D3DBOX box = {};          // the pixels to read or write, inside bounds
  uint32_t orderedDither = 0;
  uint32_t diffuseErrors = 0;
  uint32_t gamma = 0;  // memory holds gamma-encoded values
  D3DCOLOR colorKey = 0;  // ARGB that decodes as transparent black; 0 = none
  const PALETTEENTRY* palette = nullptr;  // 256 entries for palette formats, or null
};

using DitherTable = float[4][4];

// All 0.5: plain rounding.
extern const DitherTable kPlainDitherTable;
// (2k + 1) / 32 in a 4 x 4 Bayer arrangement.
extern const DitherTable kOrderedDitherTable;
// (i / 254)^(1/1.1) and (i / 254)^1.1 for i <= 254, entry 255 = 1.
extern const float kGammaEncodeTable[256];
extern const float kGammaDecodeTable[256];

inline constexpr float kLuminanceRed = 0.2125f;
inline constexpr float kLuminanceGreen = 0.7154f;
inline constexpr float kLuminanceBlue = 0.0721f;

// Maps `count` colours from range `from` into range `to` (dst may equal src).
// Unsigned <-> signed maps (x + 1) / 2 and 2x - 1 on the channels the ranges
// disagree on; from Float clamps. Clamps send NaN to the upper bound.
void ConvertRange(NumericRange to, NumericRange from, const D3DCOLORVALUE* src,
                  D3DCOLORVALUE* dst, uint32_t count);

// The per-format row codec. Subclasses exist per format family (the plain
// codecs here, the packed-pair and block codecs beside them). The data
// members are public for the filters and copy paths that read them; only the
// codec itself writes them.
class PixelCodec {
 public:
  virtual ~PixelCodec();
  PixelCodec(const PixelCodec&) = delete;
  PixelCodec& operator=(const PixelCodec&) = delete;

  // Decodes row y of slice z of the box (counted from the box's top and
  // front) into `width` colours.
  virtual HRESULT DecodeRow(uint32_t y, uint32_t z, D3DCOLORVALUE* out) = 0;
  // Encodes `width` colours into row y of slice z. May overwrite `in`.
  virtual HRESULT EncodeRow(uint32_t y, uint32_t z, D3DCOLORVALUE* in) = 0;
  // Rounds colorKeyValue to exactly what a decoded pixel of that colour is.
  // Called by the factory only.
  virtual void QuantizeColorKey();

  // Called once on the destination codec before any row moves. Sets up range
  // and gamma conversion; S_OK or E_OUTOFMEMORY.
  HRESULT LinkToSource(PixelCodec& source);
  // Fills `palette` from the region (or all (1, 1, 1, 1) without one).
  HRESULT LoadPalette(const PixelRegion& region);

  D3DFORMAT format;
  NumericRange range;
  bool addressable;  // single pixels can be addressed, raw rows copied
  bool gamma;
  bool bothGamma = false;  // source and destination both gamma-encoded
  D3DCOLOR colorKey;
  bool palettized;
  // First byte of the box for addressable codecs, the surface otherwise.
  uint8_t* pixels;
  D3DCOLORVALUE colorKeyValue = {};
  const DitherTable* ditherTable;
  std::unique_ptr<D3DCOLORVALUE[]> palette;  // 256 entries when palettized
  // Rebased to start at 0 for addressable codecs; surface coordinates otherwise.
  D3DBOX box;
  NumericRange sourceRange = RangeNone;
  std::unique_ptr<D3DCOLORVALUE[]> conversionRow;  // width entries
  std::unique_ptr<D3DCOLORVALUE[]> errorRow;       // width + 2 entries
  uint32_t rowPitch, slicePitch;
  uint32_t width, height, depth;
  uint32_t rowBytes;
  uint32_t bytesPerPixel;

 protected:
  PixelCodec(const PixelRegion& region, uint32_t bitsPerPixel, NumericRange range);

  // Steps shared by every codec.
  // Encode side: range conversion then gamma encoding; returns the working
  // row (`in` itself, or conversionRow).
  D3DCOLORVALUE* PrepareEncodeRow(D3DCOLORVALUE* in);
  // Decode side: colour key then gamma decoding, in place.
  void FinishDecodeRow(D3DCOLORVALUE* out) const;
  void ApplyColorKey(D3DCOLORVALUE* row) const;
  void GammaEncodeRow(const D3DCOLORVALUE* src, D3DCOLORVALUE* dst) const;
  void GammaDecodeRow(D3DCOLORVALUE* row) const;
  // Adds the previous row's diffused errors to `row` and clears errorRow.
  void AddDiffusedErrors(D3DCOLORVALUE* row) const;
};

// A new codec for the region's format, owned by the caller; null when the
// format has no codec or an allocation fails. The packed-pair formats (YUY2,
// UYVY, RGBG, GRGB) and DXT1 to DXT5 are served by CreatePackedPairCodec
// (packed_pair_codec.h) and CreateBlockCodec (block_codec.h). Palette loading and colour-key rounding are done here for every codec.
std::unique_ptr<PixelCodec> CreatePixelCodec(const PixelRegion& region);

}  // namespace nerro::pixel
