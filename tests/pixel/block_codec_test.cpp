#include "pixel/block_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "pixel/dxt_blocks.h"
#include "test_surfaces.h"

namespace nerro::pixel {
namespace {

// A DXT surface of whole blocks with guard bytes on both sides.
struct BlockSurface {
  static constexpr size_t kGuard = 32;
  BlockSurface(uint32_t w, uint32_t h, uint32_t bytesPerBlock)
      : width(w), height(h), blockBytes(bytesPerBlock), blocksX((w + 3) / 4), blocksY((h + 3) / 4),
        pitch(blocksX * bytesPerBlock), bytes(2 * kGuard + size_t{pitch} * blocksY, 0xA5) {}
  uint8_t* data() { return bytes.data() + kGuard; }
  uint8_t* block(uint32_t bx, uint32_t by) { return data() + size_t{by} * pitch + size_t{bx} * blockBytes; }
  bool guardsIntact() const { return testsurface::guardsIntact(bytes, kGuard); }
  // The 4-bit alpha of texel (x, y) of a DXT2/DXT3 surface.
  unsigned alphaNibble(uint32_t x, uint32_t y) {
    const uint8_t* b = block(x / 4, y / 4);
    const unsigned i = 4 * (y % 4) + x % 4;
    return (b[i / 2] >> (4 * (i % 2))) & 15;
  }
  void setAlphaNibble(uint32_t x, uint32_t y, unsigned v) {
    uint8_t* b = block(x / 4, y / 4);
    const unsigned i = 4 * (y % 4) + x % 4;
    b[i / 2] = static_cast<uint8_t>((b[i / 2] & ~(15u << (4 * (i % 2)))) | (v << (4 * (i % 2))));
  }
  PixelRegion region(D3DFORMAT f, D3DBOX box) { return testsurface::regionOver(data(), f, pitch, width, height, box); }
  uint32_t width, height, blockBytes, blocksX, blocksY, pitch;
  std::vector<uint8_t> bytes;
};

std::unique_ptr<PixelCodec> make(BlockSurface& s, D3DFORMAT f, D3DBOX box, D3DCOLOR key = 0) {
  PixelRegion r = s.region(f, box);
  r.colorKey = key;
  auto c = CreatePixelCodec(r);
  EXPECT_NE(c, nullptr);
  return c;
}

// Writes the box row by row with texel (x, y) of alpha f(x, y) / 15.
template <typename F>
void encodeAlpha(PixelCodec& c, F f) {
  std::vector<D3DCOLORVALUE> row(c.width);
  for (uint32_t y = 0; y < c.height; ++y) {
    for (uint32_t x = 0; x < c.width; ++x)
      row[x] = {0.5f, 0.5f, 0.5f, static_cast<float>(f(x, y)) * (1.0f / 15.0f)};
    c.EncodeRow(y, 0, row.data());
  }
}

TEST(BlockCodec, FactoryAndGeometry) {
  BlockSurface s(16, 12, 16);
  EXPECT_EQ(CreateBlockCodec(s.region(D3DFMT_A8R8G8B8, {0, 0, 4, 4, 0, 1})), nullptr);
  auto c = CreateBlockCodec(s.region(D3DFMT_DXT5, {5, 3, 11, 9, 0, 1}));
  ASSERT_NE(c, nullptr);
  auto& b = static_cast<BlockCodec&>(*c);
  EXPECT_FALSE(b.addressable);
  EXPECT_EQ(b.pixels, s.data());
  EXPECT_EQ(b.width, 6u);
  EXPECT_EQ(b.alignedLeft, 4u);
  EXPECT_EQ(b.alignedRight, 12u);
  EXPECT_EQ(b.alignedTop, 0u);
  EXPECT_EQ(b.alignedBottom, 12u);
  EXPECT_EQ(b.blocksAcross, 2u);
  EXPECT_EQ(b.blockRows, 3u);
  EXPECT_EQ(b.bytesPerBlock, 16u);
  BlockSurface s1(4, 4, 8);
  auto c1 = CreateBlockCodec(s1.region(D3DFMT_DXT1, {0, 0, 4, 4, 0, 1}));
  EXPECT_EQ(static_cast<BlockCodec&>(*c1).bytesPerBlock, 8u);
}

TEST(BlockCodec, DecodesRowsOfOddBoxesFromTheRightBlocks) {
  BlockSurface s(16, 12, 16);
  std::mt19937 rng(11);
  for (auto& b : s.bytes) b = static_cast<uint8_t>(rng());
  std::fill(s.bytes.begin(), s.bytes.begin() + BlockSurface::kGuard, 0xA5);
  std::fill(s.bytes.end() - BlockSurface::kGuard, s.bytes.end(), 0xA5);
  for (D3DFORMAT f : {D3DFMT_DXT3, D3DFMT_DXT5}) {
    auto c = make(s, f, {5, 3, 11, 9, 0, 1});
    BlockFormatRoutines r{};
    FindBlockFormatRoutines(f, &r);
    D3DCOLORVALUE row[6], block[16];
    // Rows in a scrambled order so the cache is replaced and reused.
    for (uint32_t y : {2u, 0u, 5u, 1u, 3u, 4u}) {
      c->DecodeRow(y, 0, row);
      for (uint32_t n = 0; n < 6; ++n) {
        const uint32_t X = 5 + n, Y = 3 + y;
        r.decode(block, s.block(X / 4, Y / 4));
        const D3DCOLORVALUE& want = block[4 * (Y % 4) + X % 4];
        EXPECT_EQ(std::memcmp(&row[n], &want, sizeof(want)), 0) << y << " " << n;
      }
    }
  }
}

TEST(BlockCodec, SmallSurfacesReplicateEdgeTexels) {
  // Alpha n / 15 stores exactly n, so the nibbles show which texel went where.
  struct Case {
    uint32_t w, h;
    int col[4], row[4];  // source column / row of each block texel
  };
  const Case cases[] = {{1, 1, {0, 0, 0, 0}, {0, 0, 0, 0}},
                        {2, 2, {0, 1, 0, 1}, {0, 1, 0, 1}},
                        {3, 3, {0, 1, 2, 1}, {0, 1, 2, 1}},
                        {3, 2, {0, 1, 2, 1}, {0, 1, 0, 1}}};
  for (const Case& k : cases) {
    BlockSurface s(k.w, k.h, 16);
    auto c = make(s, D3DFMT_DXT3, {0, 0, k.w, k.h, 0, 1});
    encodeAlpha(*c, [](uint32_t x, uint32_t y) { return 1 + x + 3 * y; });
    c.reset();
    for (uint32_t y = 0; y < 4; ++y)
      for (uint32_t x = 0; x < 4; ++x)
        EXPECT_EQ(s.alphaNibble(x, y), 1u + k.col[x] + 3 * k.row[y]) << k.w << "x" << k.h << " " << x << "," << y;
    EXPECT_TRUE(s.guardsIntact());
  }
}

TEST(BlockCodec, PartialBoxesKeepExistingTexels) {
  struct Case {
    uint32_t w, h;
    D3DBOX box;
  };
  const Case cases[] = {
      {4, 8, {0, 2, 4, 6, 0, 1}},    // rows 2..5: rows 0, 1, 6, 7 kept
      {16, 4, {2, 0, 14, 4, 0, 1}},  // columns 2..13: first and last block partly kept
      {12, 12, {5, 3, 7, 10, 0, 1}}, // odd start, inside
  };
  for (const Case& k : cases) {
    BlockSurface s(k.w, k.h, 16);
    for (uint32_t y = 0; y < k.h; ++y)
      for (uint32_t x = 0; x < k.w; ++x) s.setAlphaNibble(x, y, (x + 2 * y) % 16);
    auto c = make(s, D3DFMT_DXT3, k.box);
    encodeAlpha(*c, [](uint32_t, uint32_t) { return 15; });
    c.reset();
    for (uint32_t y = 0; y < k.h; ++y)
      for (uint32_t x = 0; x < k.w; ++x) {
        const bool inBox = x >= k.box.Left && x < k.box.Right && y >= k.box.Top && y < k.box.Bottom;
        EXPECT_EQ(s.alphaNibble(x, y), inBox ? 15u : (x + 2 * y) % 16) << x << "," << y;
      }
  }
}

TEST(BlockCodec, BlockRowIsWrittenWhenItsLastRowArrives) {
  BlockSurface s(8, 8, 16);
  const std::vector<uint8_t> blank = s.bytes;
  auto c = make(s, D3DFMT_DXT3, {0, 0, 8, 8, 0, 1});
  auto& b = static_cast<BlockCodec&>(*c);
  std::vector<D3DCOLORVALUE> row(8, D3DCOLORVALUE{1, 0, 0, 1});
  for (uint32_t y = 0; y < 3; ++y) c->EncodeRow(y, 0, row.data());
  EXPECT_EQ(s.bytes, blank);
  EXPECT_EQ(b.pendingBuffers, 1u);
  c->EncodeRow(3, 0, row.data());
  EXPECT_NE(s.bytes, blank);
  EXPECT_EQ(s.alphaNibble(7, 3), 15u);
  EXPECT_EQ(s.alphaNibble(0, 4), blank[s.block(0, 1) - s.bytes.data()] & 15u);
  // The buffer went on to the second block row, not back to the heap.
  EXPECT_EQ(b.pendingBuffers, 1u);
  EXPECT_TRUE(b.encodeTable[1].texels != nullptr);
  for (uint32_t y = 4; y < 8; ++y) c->EncodeRow(y, 0, row.data());
  EXPECT_EQ(b.pendingBuffers, 0u);
  // A block row started but not completed is dropped at destruction.
  auto d = make(s, D3DFMT_DXT3, {0, 0, 8, 8, 0, 1});
  row.assign(8, D3DCOLORVALUE{0, 0, 1, 0});
  const std::vector<uint8_t> written = s.bytes;
  d->EncodeRow(0, 0, row.data());
  d.reset();
  EXPECT_EQ(s.bytes, written);
}

TEST(BlockCodec, ColourKeyComparesAtBlockPrecision) {
  BlockSurface s(4, 4, 8);
  // Colour 0 = black, colour 1 = 0x0801 (red 1/31, blue 1/31); codes: texel 0
  // black, texel 1 the other endpoint, the rest black.
  uint8_t* b = s.block(0, 0);
  const uint8_t blk[8] = {0x00, 0x00, 0x01, 0x08, 0x04, 0x00, 0x00, 0x00};
  std::memcpy(b, blk, 8);
  auto keyed = make(s, D3DFMT_DXT1, {0, 0, 4, 4, 0, 1}, 0xFF000000);
  EXPECT_EQ(keyed->colorKeyValue.a, 1.0f);
  D3DCOLORVALUE row[4];
  keyed->DecodeRow(0, 0, row);
  EXPECT_EQ(row[0].a, 0.0f);
  EXPECT_EQ(row[2].a, 0.0f);
  EXPECT_EQ(row[1].a, 1.0f);
  EXPECT_EQ(row[1].r, 1.0f / 31.0f);
  // An unkeyed codec leaves black alone.
  make(s, D3DFMT_DXT1, {0, 0, 4, 4, 0, 1})->DecodeRow(0, 0, row);
  EXPECT_EQ(row[0].a, 1.0f);

  // Alpha takes part at the format's precision: half-transparent black is
  // not the opaque-black key, and a key of alpha 0x80 matches nibble 8.
  BlockSurface s3(4, 4, 16);
  std::memset(s3.block(0, 0), 0, 16);
  s3.setAlphaNibble(0, 0, 8);
  s3.setAlphaNibble(1, 0, 15);
  make(s3, D3DFMT_DXT3, {0, 0, 4, 4, 0, 1}, 0xFF000000)->DecodeRow(0, 0, row);
  EXPECT_EQ(row[0].a, 8.0f / 15.0f);
  EXPECT_EQ(row[1].a, 0.0f);
  make(s3, D3DFMT_DXT3, {0, 0, 4, 4, 0, 1}, 0x80000000)->DecodeRow(0, 0, row);
  EXPECT_EQ(row[0].a, 0.0f);
  EXPECT_EQ(row[1].a, 1.0f);
}

TEST(BlockCodec, EveryBoxStaysInsideItsSurface) {
  // All boxes of a 6 x 6 surface (2 x 2 blocks, the outer ones cut): nothing
  // outside the block memory is touched and every texel outside the box
  // keeps its alpha.
  const uint32_t W = 6, H = 6;
  for (uint32_t l = 0; l < W; ++l)
    for (uint32_t r = l + 1; r <= W; ++r)
      for (uint32_t t = 0; t < H; ++t)
        for (uint32_t bt = t + 1; bt <= H; ++bt) {
          BlockSurface s(W, H, 16);
          for (uint32_t y = 0; y < 8; ++y)
            for (uint32_t x = 0; x < 8; ++x) s.setAlphaNibble(x, y, (3 * x + y) % 15);
          const D3DBOX box{l, t, r, bt, 0, 1};
          auto c = make(s, D3DFMT_DXT3, box);
          std::vector<D3DCOLORVALUE> row(r - l);
          for (uint32_t y = 0; y < bt - t; ++y) c->DecodeRow(y, 0, row.data());
          encodeAlpha(*c, [](uint32_t, uint32_t) { return 15; });
          c.reset();
          ASSERT_TRUE(s.guardsIntact()) << l << " " << t << " " << r << " " << bt;
          for (uint32_t y = 0; y < H; ++y)
            for (uint32_t x = 0; x < W; ++x) {
              const bool inBox = x >= l && x < r && y >= t && y < bt;
              ASSERT_EQ(s.alphaNibble(x, y), inBox ? 15u : (3 * x + y) % 15)
                  << "box " << l << "," << t << "-" << r << "," << bt << " texel " << x << "," << y;
            }
        }
}

TEST(BlockCodec, VolumesAddressEachSliceAndHandBuffersAcross) {
  // Two slices of 4 x 8 texels (one block across, two block rows each).
  const uint32_t slicePitch = 2 * 16;
  std::vector<uint8_t> mem(2 * slicePitch, 0);
  PixelRegion r;
  r.pixels = mem.data();
  r.format = D3DFMT_DXT3;
  r.rowPitch = 16;
  r.slicePitch = slicePitch;
  r.bounds = r.box = {0, 0, 4, 8, 0, 2};
  auto c = CreatePixelCodec(r);
  ASSERT_NE(c, nullptr);
  auto& b = static_cast<BlockCodec&>(*c);
  D3DCOLORVALUE row[4];
  for (uint32_t z = 0; z < 2; ++z)
    for (uint32_t y = 0; y < 8; ++y) {
      for (auto& t : row) t = {0, 0, 0, static_cast<float>(1 + y + 8 * z) * (1.0f / 15.0f)};
      c->EncodeRow(y, z, row);
      EXPECT_LE(b.pendingBuffers, 1u);
    }
  EXPECT_EQ(b.pendingBuffers, 0u);
  for (uint32_t z = 0; z < 2; ++z)
    for (uint32_t y = 0; y < 8; ++y) {
      const uint8_t* blk = &mem[z * slicePitch + (y / 4) * 16];
      // Alpha (1 + y + 8z) / 15, clamped at 1 for the last row.
      EXPECT_EQ(blk[2 * (y % 4)] & 15u, std::min(1u + y + 8 * z, 15u)) << z << " " << y;
      c->DecodeRow(y, z, row);
      EXPECT_EQ(row[3].a, static_cast<float>(blk[2 * (y % 4) + 1] >> 4) * (1.0f / 15.0f));
    }
}

TEST(BlockCodec, RoundTripKeepsExactAlpha) {
  // Decoding a DXT3 surface and encoding it back reproduces its explicit
  // alpha bit for bit (the colour half is re-fitted, so it may move).
  BlockSurface s(12, 8, 16);
  std::mt19937 rng(5);
  for (auto& b : s.bytes) b = static_cast<uint8_t>(rng());
  std::fill(s.bytes.begin(), s.bytes.begin() + BlockSurface::kGuard, 0xA5);
  std::fill(s.bytes.end() - BlockSurface::kGuard, s.bytes.end(), 0xA5);
  const std::vector<uint8_t> before = s.bytes;
  {
    auto src = make(s, D3DFMT_DXT3, {0, 0, 12, 8, 0, 1});
    std::vector<std::vector<D3DCOLORVALUE>> rows(8, std::vector<D3DCOLORVALUE>(12));
    for (uint32_t y = 0; y < 8; ++y) src->DecodeRow(y, 0, rows[y].data());
    auto dst = make(s, D3DFMT_DXT3, {0, 0, 12, 8, 0, 1});
    for (uint32_t y = 0; y < 8; ++y) dst->EncodeRow(y, 0, rows[y].data());
  }
  for (uint32_t by = 0; by < 2; ++by)
    for (uint32_t bx = 0; bx < 3; ++bx) {
      const size_t at = s.block(bx, by) - s.bytes.data();
      EXPECT_EQ(std::memcmp(&s.bytes[at], &before[at], 8), 0) << bx << "," << by;
    }
}

}  // namespace
}  // namespace nerro::pixel
