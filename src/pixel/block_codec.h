// Codec of the DXT1 to DXT5 formats, whose memory holds 4 x 4 blocks of
// texels. Decoding keeps one decoded row of blocks and serves rows from it.
// Encoding collects the rows of each row of blocks until all four are present
// (or known not to be needed), fills texels outside the surface by
// replication and texels outside the box but inside the surface from the
// existing blocks, and then compresses each block.
#pragma once

#include <memory>

#include "pixel/dxt_blocks.h"
#include "pixel/pixel_codec.h"

namespace nerro::pixel {

class BlockCodec final : public PixelCodec {
 public:
  explicit BlockCodec(const PixelRegion& region);
  ~BlockCodec() override;

  HRESULT DecodeRow(uint32_t y, uint32_t z, D3DCOLORVALUE* out) override;
  HRESULT EncodeRow(uint32_t y, uint32_t z, D3DCOLORVALUE* in) override;
  // Rounds the key to 5:6:5 colour and the format's alpha precision.
  void QuantizeColorKey() override;

  // One row of blocks being encoded: which of its four texel rows are present
  // or not needed (bits 0..3), and the texels gathered so far.
  struct EncodeEntry {
    uint32_t rowMask = 0;
    std::unique_ptr<D3DCOLORVALUE[]> texels;  // blocksAcross * 16, or null
  };

  static constexpr uint32_t kNoRow = 0xFFFFFFFFu;

  float alphaScale;  // 15 for DXT2/DXT3, 255 otherwise
  float alphaStep;   // 1 / alphaScale
  uint32_t bytesPerBlock;
  BlockDecodeFn decodeBlock;
  BlockEncodeFn encodeBlock;
  D3DBOX bounds;  // the whole surface
  // Box rounded out to whole blocks (Front and Back as in the box).
  uint32_t alignedLeft, alignedTop, alignedRight, alignedBottom, alignedFront, alignedBack;
  uint32_t blocksAcross;
  uint32_t blockRows;
  uint32_t slices;
  uint32_t cachedBlockRow = kNoRow;
  uint32_t cachedSlice = kNoRow;
  std::unique_ptr<D3DCOLORVALUE[]> decodeCache;  // blocksAcross * 16
  uint32_t pendingBuffers = 0;
  std::unique_ptr<EncodeEntry[]> encodeTable;  // blockRows * slices
  bool ditherFlag;

 private:
  const uint8_t* BlockAddress(uint32_t x, uint32_t y, uint32_t z) const;
  void DecodeBlockRow(uint32_t top, uint32_t z, D3DCOLORVALUE* dst) const;
  void EncodeBlockRow(uint32_t top, uint32_t z, D3DCOLORVALUE* texels);
};

// The codec for a DXT region; null for other formats or when the codec
// itself cannot be allocated.
std::unique_ptr<PixelCodec> CreateBlockCodec(const PixelRegion& region);

}  // namespace nerro::pixel
