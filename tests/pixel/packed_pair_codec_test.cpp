#include "pixel/packed_pair_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "test_surfaces.h"

namespace nerro::pixel {
namespace {

// A surface of 16-bit words with guard bytes on both sides.
struct Surface {
  static constexpr size_t kGuard = 16;
  Surface(uint32_t w, uint32_t h, uint32_t pitchWords = 0)
      : width(w), height(h), pitch(2 * (pitchWords ? pitchWords : w)),
        bytes(kGuard * 2 + size_t{pitch} * h, 0xA5) {}
  uint8_t* data() { return bytes.data() + kGuard; }
  uint16_t word(uint32_t x, uint32_t y) const {
    const uint8_t* p = bytes.data() + kGuard + size_t{y} * pitch + 2 * x;
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
  }
  void setWord(uint32_t x, uint32_t y, uint16_t v) {
    uint8_t* p = data() + size_t{y} * pitch + 2 * x;
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
  }
  bool guardsIntact() const { return testsurface::guardsIntact(bytes, kGuard); }
  PixelRegion region(D3DFORMAT f, D3DBOX box) { return testsurface::regionOver(data(), f, pitch, width, height, box); }
  uint32_t width, height, pitch;
  std::vector<uint8_t> bytes;
};

std::unique_ptr<PixelCodec> make(Surface& s, D3DFORMAT f, D3DBOX box) {
  auto c = CreatePackedPairCodec(s.region(f, box));
  EXPECT_NE(c, nullptr);
  return c;
}

uint16_t yuy2(uint8_t y, uint8_t c) { return static_cast<uint16_t>(y | (c << 8)); }

TEST(PackedPairCodec, FactoryAcceptsOnlyPairFormats) {
  Surface s(2, 1);
  EXPECT_EQ(CreatePackedPairCodec(s.region(D3DFMT_A8R8G8B8, {0, 0, 2, 1, 0, 1})), nullptr);
  for (D3DFORMAT f : {D3DFMT_YUY2, D3DFMT_UYVY, D3DFMT_R8G8_B8G8, D3DFMT_G8R8_G8B8}) {
    auto c = CreatePackedPairCodec(s.region(f, {0, 0, 2, 1, 0, 1}));
    ASSERT_NE(c, nullptr);
    EXPECT_FALSE(c->addressable);
    EXPECT_EQ(c->range, RangeUnsigned);
    EXPECT_EQ(c->width, 2u);
    // The general factory hands these formats to this codec.
    EXPECT_NE(dynamic_cast<PackedPairCodec*>(CreatePixelCodec(s.region(f, {0, 0, 2, 1, 0, 1})).get()), nullptr);
  }
}

TEST(PackedPairCodec, YuvBlackAndWhite) {
  Surface s(4, 1);
  s.setWord(0, 0, yuy2(16, 128));
  s.setWord(1, 0, yuy2(16, 128));
  s.setWord(2, 0, yuy2(235, 128));
  s.setWord(3, 0, yuy2(235, 128));
  auto c = make(s, D3DFMT_YUY2, {0, 0, 4, 1, 0, 1});
  D3DCOLORVALUE out[4];
  c->DecodeRow(0, 0, out);
  const float white = 219.0f * 0.00456621f;
  EXPECT_EQ(white, 0.99999994f);
  for (int x = 0; x < 2; ++x) {
    EXPECT_EQ(out[x].r, 0.0f);
    EXPECT_EQ(out[x].g, 0.0f);
    EXPECT_EQ(out[x].b, 0.0f);
    EXPECT_EQ(out[x].a, 1.0f);
    EXPECT_EQ(out[x + 2].r, white);
    EXPECT_EQ(out[x + 2].g, white);
    EXPECT_EQ(out[x + 2].b, white);
  }

  // Encoding white and black, in both YUV byte orders.
  D3DCOLORVALUE in[4] = {{1, 1, 1, 1}, {1, 1, 1, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}};
  for (D3DFORMAT f : {D3DFMT_YUY2, D3DFMT_UYVY}) {
    Surface t(4, 1);
    make(t, f, {0, 0, 4, 1, 0, 1})->EncodeRow(0, 0, in);
    const bool lumaLow = f == D3DFMT_YUY2;
    auto pack = [&](uint8_t y, uint8_t ch) { return static_cast<uint16_t>(lumaLow ? y | ch << 8 : ch | y << 8); };
    EXPECT_EQ(t.word(0, 0), pack(235, 128));
    EXPECT_EQ(t.word(1, 0), pack(235, 128));
    EXPECT_EQ(t.word(2, 0), pack(16, 128));
    EXPECT_EQ(t.word(3, 0), pack(16, 128));
  }
}

TEST(PackedPairCodec, ChromaFilterAtEdgesAndInside) {
  // One row of 8 pixels: U_k = 96, 150, 110, 190 and V = 128 everywhere, so
  // blue - red carries U. Expected U per pixel (edge rules included):
  //   x=1: (9(96+150) - 110 - 96 + 8) >> 4 = 126
  //   x=3: (9(150+110) - 96 - 190 + 8) >> 4 = 128
  //   x=5: (9(110+190) - 150 - 190 + 8) >> 4 = 148
  //   x=7: (17*190 - 110 + 8) >> 4 = 195
  const int U[4] = {96, 150, 110, 190};
  const int expectU[8] = {96, 126, 150, 128, 110, 148, 190, 195};
  Surface s(8, 1);
  for (int k = 0; k < 4; ++k) {
    s.setWord(2 * k, 0, yuy2(80, static_cast<uint8_t>(U[k])));
    s.setWord(2 * k + 1, 0, yuy2(80, 128));
  }
  D3DCOLORVALUE out[8];
  make(s, D3DFMT_YUY2, {0, 0, 8, 1, 0, 1})->DecodeRow(0, 0, out);
  const float Y = 64.0f * 0.00456621f;
  for (int x = 0; x < 8; ++x) {
    EXPECT_EQ(out[x].r, Y) << x;
    EXPECT_EQ(out[x].b, Y + 0.00791071f * static_cast<float>(expectU[x] - 128)) << x;
    EXPECT_EQ(out[x].g, Y - 0.00153632f * static_cast<float>(expectU[x] - 128) - 0.0f) << x;
  }

  // Narrow rows: L = 2 copies, L = 4 averages and extrapolates.
  struct Narrow {
    uint32_t w;
    int u0, u1;
    int odd[2];
  };
  const Narrow narrow[] = {{2, 100, 0, {100, 0}}, {4, 100, 141, {(800 + 1128 + 8) >> 4, (17 * 141 - 100 + 8) >> 4}}};
  for (const Narrow& n : narrow) {
    Surface t(n.w, 1);
    t.setWord(0, 0, yuy2(80, static_cast<uint8_t>(n.u0)));
    t.setWord(1, 0, yuy2(80, 128));
    if (n.w == 4) {
      t.setWord(2, 0, yuy2(80, static_cast<uint8_t>(n.u1)));
      t.setWord(3, 0, yuy2(80, 128));
    }
    D3DCOLORVALUE o[4];
    make(t, D3DFMT_YUY2, {0, 0, n.w, 1, 0, 1})->DecodeRow(0, 0, o);
    for (uint32_t x = 1; x < n.w; x += 2)
      EXPECT_EQ(o[x].b, Y + 0.00791071f * static_cast<float>(n.odd[x / 2] - 128)) << n.w << " " << x;
  }
}

TEST(PackedPairCodec, NegativeChromaSumIsAnArithmeticShift) {
  // U = 0, 0, 255: pixel 1 sums 9(0 + 0) - 255 - 0 + 8 = -247, which shifts to
  // -16 (floor), a strongly negative U rather than a wrapped huge one.
  Surface s(6, 1);
  const uint8_t U[3] = {0, 0, 255};
  for (int k = 0; k < 3; ++k) {
    s.setWord(2 * k, 0, yuy2(126, U[k]));
    s.setWord(2 * k + 1, 0, yuy2(126, 128));
  }
  D3DCOLORVALUE out[6];
  make(s, D3DFMT_YUY2, {0, 0, 6, 1, 0, 1})->DecodeRow(0, 0, out);
  const float Y = 110.0f * 0.00456621f;
  EXPECT_EQ(out[1].b, 0.0f);
  EXPECT_EQ(out[1].g, Y - 0.00153632f * -144.0f - 0.0f);
}

TEST(PackedPairCodec, RgbPairLayoutsRoundTrip) {
  std::mt19937 rng(3);
  for (D3DFORMAT f : {D3DFMT_R8G8_B8G8, D3DFMT_G8R8_G8B8}) {
    Surface s(10, 3);
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t x = 0; x < 10; ++x) s.setWord(x, y, static_cast<uint16_t>(rng()));
    const Surface original = s;
    {
      auto c = make(s, f, {0, 0, 10, 3, 0, 1});
      D3DCOLORVALUE row[10];
      c->DecodeRow(1, 0, row);
      const uint32_t lumaShift = f == D3DFMT_R8G8_B8G8 ? 0 : 8, chromaShift = 8 - lumaShift;
      for (uint32_t x = 0; x < 10; ++x) {
        const uint16_t w = s.word(x, 1), first = s.word(x & ~1u, 1), second = s.word(x | 1u, 1);
        EXPECT_EQ(row[x].g, static_cast<float>((w >> lumaShift) & 0xFF) * (1.0f / 255.0f));
        EXPECT_EQ(row[x].r, static_cast<float>((first >> chromaShift) & 0xFF) * (1.0f / 255.0f));
        EXPECT_EQ(row[x].b, static_cast<float>((second >> chromaShift) & 0xFF) * (1.0f / 255.0f));
        EXPECT_EQ(row[x].a, 1.0f);
      }
      for (uint32_t y = 0; y < 3; ++y) {
        c->DecodeRow(y, 0, row);
        c->EncodeRow(y, 0, row);
      }
    }
    EXPECT_EQ(s.bytes, original.bytes);
  }
}

TEST(PackedPairCodec, WritesBackOnlyOnRowChangeOrDestruction) {
  Surface s(4, 2);
  const Surface blank = s;
  auto c = make(s, D3DFMT_R8G8_B8G8, {0, 0, 4, 2, 0, 1});
  D3DCOLORVALUE in[4] = {{0.123f, 0.456f, 0.789f, 1}, {0.5f, 0.25f, 0.5f, 1}, {0, 1, 0, 1}, {1, 0, 1, 1}};
  D3DCOLORVALUE copy[4];
  std::memcpy(copy, in, sizeof(in));
  c->EncodeRow(0, 0, copy);
  EXPECT_EQ(s.bytes, blank.bytes);
  // Reading the row just written gives back the floats, not quantised bytes.
  D3DCOLORVALUE out[4];
  c->DecodeRow(0, 0, out);
  EXPECT_EQ(out[0].r, 0.123f);
  EXPECT_EQ(out[0].g, 0.456f);
  EXPECT_EQ(out[1].r, 0.5f);
  EXPECT_EQ(s.bytes, blank.bytes);
  // Selecting row 1 writes row 0 back.
  std::memcpy(copy, in, sizeof(in));
  c->EncodeRow(1, 0, copy);
  EXPECT_EQ(s.word(0, 0), (static_cast<int>(0.456f * 255 + 0.5f)) | (static_cast<int>(0.123f * 255 + 0.5f) << 8));
  EXPECT_EQ(s.word(1, 0), 64 | (static_cast<int>(0.789f * 255 + 0.5f) << 8));  // B from the pair's first pixel
  EXPECT_EQ(s.word(0, 1), blank.word(0, 1));
  c.reset();
  EXPECT_EQ(s.word(0, 1), s.word(0, 0));
  // Pair 1 takes red and blue from pixel 2 (0, 1, 0); pixel 3's own red and
  // blue are dropped.
  EXPECT_EQ(s.word(2, 1), 0x00FF);
  EXPECT_EQ(s.word(3, 1), 0x0000);
}

TEST(PackedPairCodec, PartialBoxesKeepTheirPairPartners) {
  // Width 1 at even x: the partner pixel keeps its green, the pair takes the
  // encoded pixel's red and blue.
  Surface s(4, 1);
  for (uint32_t x = 0; x < 4; ++x) s.setWord(x, 0, static_cast<uint16_t>(0x1010 * (x + 1)));
  {
    auto c = make(s, D3DFMT_R8G8_B8G8, {2, 0, 3, 1, 0, 1});
    EXPECT_EQ(c->width, 1u);
    D3DCOLORVALUE px = {1.0f, 0.0f, 0.2f, 1.0f};
    c->EncodeRow(0, 0, &px);
  }
  EXPECT_EQ(s.word(0, 0), 0x1010);
  EXPECT_EQ(s.word(1, 0), 0x2020);
  EXPECT_EQ(s.word(2, 0), 0xFF00);                  // G 0, R 255
  EXPECT_EQ(s.word(3, 0), (51 << 8) | 0x40);        // G kept, B 51

  // A box at an odd x starts at entry 1 of the cached pair.
  auto c = make(s, D3DFMT_R8G8_B8G8, {1, 0, 3, 1, 0, 1});
  D3DCOLORVALUE out[2];
  c->DecodeRow(0, 0, out);
  EXPECT_EQ(out[0].g, 0x20 * (1.0f / 255.0f));
  EXPECT_EQ(out[0].r, 0x10 * (1.0f / 255.0f));
  EXPECT_EQ(out[1].g, 0.0f);
  EXPECT_EQ(out[1].r, 1.0f);
}

TEST(PackedPairCodec, EveryBoxStaysInsideItsSurface) {
  // Odd widths included: the last pair of a 5-wide row has no second word.
  for (uint32_t w : {1u, 2u, 3u, 5u}) {
    for (uint32_t left = 0; left < w; ++left) {
      for (uint32_t right = left + 1; right <= w; ++right) {
        Surface s(w, 2);
        std::mt19937 rng(w * 100 + left * 10 + right);
        for (uint32_t y = 0; y < 2; ++y)
          for (uint32_t x = 0; x < w; ++x) s.setWord(x, y, static_cast<uint16_t>(rng()));
        const Surface before = s;
        {
          auto c = make(s, D3DFMT_G8R8_G8B8, {left, 1, right, 2, 0, 1});
          std::vector<D3DCOLORVALUE> row(right - left, D3DCOLORVALUE{0.2f, 0.4f, 0.6f, 1.0f});
          c->DecodeRow(0, 0, row.data());
          for (auto& p : row) p = {0.2f, 0.4f, 0.6f, 1.0f};
          c->EncodeRow(0, 0, row.data());
        }
        ASSERT_TRUE(s.guardsIntact()) << w << " " << left << " " << right;
        for (uint32_t x = 0; x < w; ++x) {
          EXPECT_EQ(s.word(x, 0), before.word(x, 0));
          const bool inBox = x >= left && x < right;
          const bool partnerInBox = (x ^ 1u) >= left && (x ^ 1u) < right;
          const uint16_t now = s.word(x, 1), old = before.word(x, 1);
          if (inBox) {
            EXPECT_EQ(now >> 8, 102) << x;  // green 0.4
          } else if (partnerInBox) {
            EXPECT_EQ(now >> 8, old >> 8) << x;  // own green kept, shared red/blue replaced
          } else {
            EXPECT_EQ(now, old) << w << " " << left << " " << right << " " << x;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace nerro::pixel
