// Codec of the formats that store two horizontally adjacent pixels in two
// 16-bit words sharing part of their colour: YUY2 and UYVY (luma per pixel,
// one chroma pair per two pixels) and R8G8_B8G8 and G8R8_G8B8 (green per
// pixel, one red and one blue per two pixels).
//
// A pixel cannot be read or written alone, so the codec holds one row of the
// box, widened to whole pairs, as float colours: decoding fills it from
// memory, encoding changes it and marks it dirty, and a dirty row is written
// back when another row is selected or the codec is destroyed.
#pragma once

#include <memory>

#include "pixel/pixel_codec.h"

namespace nerro::pixel {

class PackedPairCodec final : public PixelCodec {
 public:
  explicit PackedPairCodec(const PixelRegion& region);
  ~PackedPairCodec() override;

  HRESULT DecodeRow(uint32_t y, uint32_t z, D3DCOLORVALUE* out) override;
  HRESULT EncodeRow(uint32_t y, uint32_t z, D3DCOLORVALUE* in) override;
  // The key keeps its construction value (R, G, B, A) / 255.
  void QuantizeColorKey() override {}

  // Makes surface row `row` of slice `slice` the cached one, writing back a
  // dirty row first; `load` decodes the new row from memory.
  HRESULT SelectRow(uint32_t row, uint32_t slice, bool load);
  // Writes a dirty cached row back to memory.
  HRESULT FlushRow();

  static constexpr uint32_t kNoRow = 0xFFFFFFFFu;

  std::unique_ptr<D3DCOLORVALUE[]> cachedRowColors;  // alignedWidth entries
  uint32_t alignedLeft;   // box.Left rounded down to even
  uint32_t cachedRow = kNoRow;
  uint32_t alignedRight;  // box.Right rounded up to even
  uint32_t cachedSlice = kNoRow;
  uint32_t alignedWidth;
  bool dirty = false;
  bool valid;
  uint32_t lumaShift;    // bit position of the luma (or green) byte in a word
  uint32_t chromaShift;  // bit position of the chroma (or red/blue) byte
  // Words at x >= surfaceRight lie outside the surface (odd-width surfaces):
  // never read nor written.
  uint32_t surfaceRight;
  bool yuv;  // YUY2 / UYVY rather than the RGB pair formats
};

// The codec for a packed-pair region; null for other formats or when the
// codec itself cannot be allocated.
std::unique_ptr<PixelCodec> CreatePackedPairCodec(const PixelRegion& region);

}  // namespace nerro::pixel
