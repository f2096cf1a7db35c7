#include "pixel/block_codec.h"

#include <emmintrin.h>

#include <cstring>
#include <new>

namespace nerro::pixel {
namespace {

inline float roundTo(float x, float scale, float step) {
  return static_cast<float>(_mm_cvtt_ss2si(_mm_set_ss(x * scale + 0.5f))) * step;
}

// Colour rounded to what a block can hold: 5:6:5 colour, alpha at `alphaScale`.
inline D3DCOLORVALUE roundToBlock(const D3DCOLORVALUE& c, float alphaScale, float alphaStep) {
  return {roundTo(c.r, 31.0f, 1.0f / 31.0f), roundTo(c.g, 63.0f, 1.0f / 63.0f),
          roundTo(c.b, 31.0f, 1.0f / 31.0f), roundTo(c.a, alphaScale, alphaStep)};
}

// Replication sources of the columns (rows) of a block that lie outside the
// surface: a block cut to 1, 2 or 3 texels repeats them as 0000, 0101, 0121.
constexpr int kReplicate[4] = {0, 0, 0, 1};

}  // namespace

BlockCodec::BlockCodec(const PixelRegion& region)
    : PixelCodec(region, 0, RangeUnsigned), bounds(region.bounds), ditherFlag(region.orderedDither != 0) {
  BlockFormatRoutines routines{};
  if (!FindBlockFormatRoutines(format, &routines)) routines = {DecodeDxt1Block, EncodeDxt1Block, 8};
  bytesPerBlock = routines.bytesPerBlock;
  decodeBlock = routines.decode;
  encodeBlock = routines.encode;
  alphaScale = format == D3DFMT_DXT2 || format == D3DFMT_DXT3 ? 15.0f : 255.0f;
  alphaStep = 1.0f / alphaScale;
  alignedLeft = box.Left & ~3u;
  alignedTop = box.Top & ~3u;
  alignedRight = (box.Right + 3) & ~3u;
  alignedBottom = (box.Bottom + 3) & ~3u;
  alignedFront = box.Front;
  alignedBack = box.Back;
  blocksAcross = width ? (alignedRight - alignedLeft) / 4 : 0;
  blockRows = height ? (alignedBottom - alignedTop) / 4 : 0;
  slices = depth;
}

BlockCodec::~BlockCodec() = default;

const uint8_t* BlockCodec::BlockAddress(uint32_t x, uint32_t y, uint32_t z) const {
  return pixels + size_t{y / 4} * rowPitch + size_t{x / 4} * bytesPerBlock + size_t{z} * slicePitch;
}

void BlockCodec::DecodeBlockRow(uint32_t top, uint32_t z, D3DCOLORVALUE* dst) const {
  const uint8_t* p = BlockAddress(alignedLeft, top, z);
  for (uint32_t j = 0; j < blocksAcross; ++j, p += bytesPerBlock) decodeBlock(dst + 16 * j, p);
}

HRESULT BlockCodec::DecodeRow(uint32_t y, uint32_t z, D3DCOLORVALUE* out) {
  if (y >= height || z >= depth) return D3DERR_INVALIDCALL;
  const uint32_t Y = y + box.Top, Z = z + box.Front;
  if (!decodeCache) {
    decodeCache.reset(new (std::nothrow) D3DCOLORVALUE[size_t{blocksAcross} * 16]);
    if (!decodeCache) return S_OK;
  }
  const uint32_t top = Y & ~3u;
  if (top != cachedBlockRow || Z != cachedSlice) {
    cachedBlockRow = top;
    cachedSlice = Z;
    DecodeBlockRow(top, Z, decodeCache.get());
  }
  const D3DCOLORVALUE* row = decodeCache.get() + 4 * (Y & 3);
  uint32_t i = box.Left - alignedLeft;
  for (uint32_t n = 0; n < width; ++n, ++i) out[n] = row[16 * (i / 4) + (i & 3)];

  if (colorKey != 0) {
    // Texels are compared with the key at the block's own precision.
    for (uint32_t n = 0; n < width; ++n) {
      const D3DCOLORVALUE q = roundToBlock(out[n], alphaScale, alphaStep);
      if (q.r == colorKeyValue.r && q.g == colorKeyValue.g && q.b == colorKeyValue.b &&
          q.a == colorKeyValue.a)
        out[n] = {0.0f, 0.0f, 0.0f, 0.0f};
    }
  }
  if (gamma) GammaDecodeRow(out);
  return S_OK;
}

void BlockCodec::QuantizeColorKey() {
  alphaScale = format == D3DFMT_DXT2 || format == D3DFMT_DXT3 ? 15.0f : 255.0f;
  alphaStep = 1.0f / alphaScale;
  colorKeyValue = roundToBlock(colorKeyValue, alphaScale, alphaStep);
}

void BlockCodec::EncodeBlockRow(uint32_t top, uint32_t z, D3DCOLORVALUE* texels) {
  const bool dither = ditherFlag || errorRow != nullptr;
  const int64_t rows = int64_t{bounds.Bottom} - top;
  uint8_t* p = pixels + size_t{top / 4} * rowPitch + size_t{alignedLeft / 4} * bytesPerBlock +
               size_t{z} * slicePitch;
  for (uint32_t j = 0; j < blocksAcross; ++j, p += bytesPerBlock) {
    D3DCOLORVALUE t[16];
    std::memcpy(static_cast<void*>(t), texels + 16 * j, sizeof(t));
    const int64_t cols = int64_t{bounds.Right} - (alignedLeft + 4 * j);
    if (cols < 4) {
      for (int r = 0; r < (rows < 4 ? static_cast<int>(rows) : 4); ++r)
        for (int c = cols > 0 ? static_cast<int>(cols) : 1; c < 4; ++c) t[4 * r + c] = t[4 * r + kReplicate[c]];
    }
    if (rows < 4) {
      for (int r = rows > 0 ? static_cast<int>(rows) : 1; r < 4; ++r)
        for (int c = 0; c < 4; ++c) t[4 * r + c] = t[4 * kReplicate[r] + c];
    }
    encodeBlock(p, t, dither);
  }
}

HRESULT BlockCodec::EncodeRow(uint32_t y, uint32_t z, D3DCOLORVALUE* in) {
  if (y >= height || z >= depth) return D3DERR_INVALIDCALL;
  const uint32_t Y = y + box.Top, Z = z + box.Front;
  const size_t entries = size_t{blockRows} * slices;
  if (!encodeTable) {
    encodeTable.reset(new (std::nothrow) EncodeEntry[entries]);
    if (!encodeTable) return S_OK;
  }
  const size_t index = (Y - alignedTop) / 4 + size_t{Z - box.Front} * blockRows;
  EncodeEntry& entry = encodeTable[index];
  if (!entry.texels) {
    // Zeroed so that texels nothing covers are still defined.
    entry.texels.reset(new (std::nothrow) D3DCOLORVALUE[size_t{blocksAcross} * 16]());
    if (!entry.texels) return S_OK;
    entry.rowMask = 0;
    ++pendingBuffers;
  }
  const uint32_t top = Y & ~3u;
  D3DCOLORVALUE* texels = entry.texels.get();
  if (entry.rowMask == 0) {
    // Keep what the box does not cover but the surface does.
    const bool partialRows = (top < box.Top && box.Top > bounds.Top) ||
                             (top + 4 > box.Bottom && box.Bottom < bounds.Bottom);
    if (partialRows) {
      DecodeBlockRow(top, Z, texels);
    } else {
      if (alignedLeft < box.Left && box.Left > bounds.Left)
        decodeBlock(texels, BlockAddress(alignedLeft, top, Z));
      if (alignedRight > box.Right && box.Right < bounds.Right)
        decodeBlock(texels + 16 * (size_t{blocksAcross} - 1), BlockAddress(alignedRight - 4, top, Z));
    }
    for (uint32_t r = 0; r < 4; ++r)
      if (top + r < box.Top || top + r >= box.Bottom) entry.rowMask |= 1u << r;
  }

  const D3DCOLORVALUE* w = PrepareEncodeRow(in);
  D3DCOLORVALUE* row = texels + 4 * (Y & 3);
  uint32_t i = box.Left - alignedLeft;
  for (uint32_t n = 0; n < width; ++n, ++i) row[16 * (i / 4) + (i & 3)] = w[n];

  entry.rowMask |= 1u << (Y & 3);
  if (entry.rowMask != 15) return S_OK;
  EncodeBlockRow(top, Z, texels);

  // Hand the buffer to the next row of blocks when it has not started yet.
  if (index + 1 < entries && encodeTable[index + 1].rowMask == 0 && !encodeTable[index + 1].texels) {
    encodeTable[index + 1].texels = std::move(entry.texels);
  } else {
    entry.texels.reset();
    --pendingBuffers;
  }
  return S_OK;
}

std::unique_ptr<PixelCodec> CreateBlockCodec(const PixelRegion& region) {
  BlockFormatRoutines routines{};
  if (!FindBlockFormatRoutines(region.format, &routines)) return nullptr;
  return std::unique_ptr<PixelCodec>(new (std::nothrow) BlockCodec(region));
}

}  // namespace nerro::pixel
