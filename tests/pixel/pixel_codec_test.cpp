#include "pixel/pixel_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "pixel/format_table.h"
#include "test_surfaces.h"

using namespace nerro::pixel;

namespace {

constexpr float k255 = 1.0f / 255.0f;

// A surface of w x h pixels of `format` with guard bytes around it.
struct Surface {
  Surface(D3DFORMAT f, uint32_t w, uint32_t h, uint32_t bpp)
      : format(f), width(w), height(h), pitch(w * bpp + 3), bytes(pitch * h + 64, 0xA5) {}
  uint8_t* data() { return bytes.data() + 32; }
  PixelRegion Region(D3DBOX box) { return testsurface::regionOver(data(), format, pitch, width, height, box); }
  PixelRegion Region() { return Region({0, 0, width, height, 0, 1}); }
  D3DFORMAT format;
  uint32_t width, height, pitch;
  std::vector<uint8_t> bytes;
};

uint32_t BytesOf(D3DFORMAT f) { return FindFormatDescriptor(f).bitsPerPixel / 8; }

// Decodes one pixel stored as `raw` (little-endian, up to 16 bytes).
D3DCOLORVALUE DecodeOne(D3DFORMAT f, uint64_t lo, uint64_t hi = 0) {
  uint8_t mem[16];
  std::memcpy(mem, &lo, 8);
  std::memcpy(mem + 8, &hi, 8);
  auto codec = CreatePixelCodec(testsurface::regionOver(mem, f, 16, 1, 1, {0, 0, 1, 1, 0, 1}));
  EXPECT_NE(codec, nullptr);
  D3DCOLORVALUE c = {-9, -9, -9, -9};
  if (codec) codec->DecodeRow(0, 0, &c);
  return c;
}

uint64_t EncodeOne(D3DFORMAT f, D3DCOLORVALUE c) {
  uint8_t mem[16] = {};
  auto codec = CreatePixelCodec(testsurface::regionOver(mem, f, 16, 1, 1, {0, 0, 1, 1, 0, 1}));
  EXPECT_NE(codec, nullptr);
  if (codec) codec->EncodeRow(0, 0, &c);
  uint64_t v;
  std::memcpy(&v, mem, 8);
  return v;
}

#define EXPECT_COLOR(c, R, G, B, A) \
  do {                              \
    EXPECT_EQ((c).r, (R));          \
    EXPECT_EQ((c).g, (G));          \
    EXPECT_EQ((c).b, (B));          \
    EXPECT_EQ((c).a, (A));          \
  } while (0)

}  // namespace

TEST(PixelCodecDecode, FieldExtremesDecodeExactly) {
  struct Case {
    D3DFORMAT format;
    uint64_t raw;
    D3DCOLORVALUE expected;
  };
  const float s5 = 1.0f / 31, s6 = 1.0f / 63, s3 = 1.0f / 7, s10 = 1.0f / 1023;
  const Case cases[] = {
      {D3DFMT_A8R8G8B8, 0xFF804001, {128 * k255, 64 * k255, 1 * k255, 1.0f}},
      {D3DFMT_X8R8G8B8, 0x00FFFFFF, {1, 1, 1, 1}},
      {D3DFMT_A8B8G8R8, 0x01020304, {4 * k255, 3 * k255, 2 * k255, 1 * k255}},
      {D3DFMT_X8B8G8R8, 0xFF000000, {0, 0, 0, 1}},
      {D3DFMT_R8G8B8, 0xFF0080, {1, 0, 128 * k255, 1}},
      {D3DFMT_R5G6B5, 0xF800, {1, 0, 0, 1}},
      {D3DFMT_R5G6B5, 0x07E1, {0, 1, s5, 1}},
      {D3DFMT_X1R5G5B5, 0xFFFF, {1, 1, 1, 1}},
      {D3DFMT_A1R5G5B5, 0x8000, {0, 0, 0, 1}},
      {D3DFMT_A1R5G5B5, 0x7C00, {1, 0, 0, 0}},
      {D3DFMT_A4R4G4B4, 0xF00F, {0, 0, 1, 1}},
      {D3DFMT_X4R4G4B4, 0xF100, {1 / 15.0f, 0, 0, 1}},
      {D3DFMT_R3G3B2, 0xE3, {1, 0, 1, 1}},
      {D3DFMT_R3G3B2, 0x24, {s3, s3, 0, 1}},
      {D3DFMT_A8, 0x80, {0, 0, 0, 128 * k255}},
      {D3DFMT_A8R3G3B2, 0x401C, {0, 1, 0, 64 * k255}},
      {D3DFMT_A2R10G10B10, 0xC00003FF, {0, 0, 1, 1}},
      {D3DFMT_A2B10G10R10, 0x40000001, {s10, 0, 0, 1 / 3.0f}},
      {D3DFMT_G16R16, 0x0000FFFF, {1, 0, 1, 1}},
      {D3DFMT_A16B16G16R16, 0xFFFF000000010000ull, {0, 1.0f / 65535, 0, 1}},
      {D3DFMT_L8, 0x40, {64 * k255, 64 * k255, 64 * k255, 1}},
      {D3DFMT_A8L8, 0x80FF, {1, 1, 1, 128 * k255}},
      {D3DFMT_A4L4, 0xF0, {0, 0, 0, 1}},
      {D3DFMT_L16, 0xFFFF, {1, 1, 1, 1}},
      {D3DFMT_D16_LOCKABLE, 0x0001, {1.0f / 65535, 1.0f / 65535, 1.0f / 65535, 1}},
      {D3DFMT_INTERNAL_AL16, 0xFFFF0000, {0, 0, 0, 1}},
      {D3DFMT_INTERNAL_R16, 0xFFFF00000000ull, {1, 0, 0, 1}},
      // Signed fields: the most negative code reads like its negation.
      {D3DFMT_V8U8, 0x8081, {-1, -1, 1, 1}},
      {D3DFMT_V8U8, 0x7F01, {1.0f / 127, 1, 1, 1}},
      {D3DFMT_Q8W8V8U8, 0x807F8180, {-1, -1, 1, -1}},
      {D3DFMT_X8L8V8U8, 0xFFFF0000, {0, 0, 1, 1}},
      {D3DFMT_L6V5U5, 0xFDF0, {-1, 1, 1, 1}},
      {D3DFMT_L6V5U5, 0x0011, {-1, 0, 1, 0}},
      {D3DFMT_V16U16, 0x80007FFF, {1, -1, 1, 1}},
      {D3DFMT_V16U16, 0x80010001, {1.0f / 32767, -1, 1, 1}},
      {D3DFMT_A2W10V10U10, 0xE00001FF, {1, 0, -1, 1}},
      {D3DFMT_Q16W16V16U16, 0x8000800180007FFFull, {1, -1, -1, -1}},
      // C = sqrt(1 - U^2 - V^2), or 0 when that is not positive.
      {D3DFMT_CxV8U8, 0x7F7F, {1, 1, 0, 1}},
      {D3DFMT_CxV8U8, 0x0000, {0, 0, 1, 1}},
      {D3DFMT_CxV8U8, 0x007F, {1, 0, 0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.format << " raw " << c.raw);
    const D3DCOLORVALUE d = DecodeOne(c.format, c.raw);
    EXPECT_COLOR(d, c.expected.r, c.expected.g, c.expected.b, c.expected.a);
  }
  EXPECT_EQ(s5 * 31, 1.0f);
  EXPECT_EQ(s6 * 63, 1.0f);
}

TEST(PixelCodecEncode, RoundsAndClamps) {
  struct Case {
    D3DFORMAT format;
    D3DCOLORVALUE in;
    uint64_t expected;
  };
  const Case cases[] = {
      {D3DFMT_A8R8G8B8, {0.5f, 1.0f, -0.2f, 1.7f}, 0xFF80FF00},
      {D3DFMT_A8R8G8B8, {1.0f / 255 * 0.49f, 0.0f, 0.0f, 0.0f}, 0x00000000},
      {D3DFMT_X8R8G8B8, {0.0f, 0.0f, 1.0f, 1.0f}, 0x000000FF},  // X bits are 0
      {D3DFMT_R8G8B8, {1.0f, 0.0f, 0.5f, 0.0f}, 0xFF0080},
      {D3DFMT_R5G6B5, {1.0f, 0.5f, 0.0f, 0.0f}, 0xFC00},  // g: 31.5 + 0.5 -> 32
      {D3DFMT_A1R5G5B5, {0, 0, 0, 0.49f}, 0x0000},
      {D3DFMT_A1R5G5B5, {0, 0, 0, 0.5f}, 0x8000},
      {D3DFMT_A2B10G10R10, {1, 0, 0, 0.5f}, 0x800003FF},
      {D3DFMT_A16B16G16R16, {0, 0, 0, 1}, 0xFFFF000000000000ull},
      {D3DFMT_G16R16, {0.5f, 2.0f, 1, 1}, 0xFFFF8000},
      // Luminance from 0.2125 r + 0.7154 g + 0.0721 b.
      {D3DFMT_L8, {1, 0, 0, 0}, 54},
      {D3DFMT_L8, {0, 1, 0, 0}, 182},
      {D3DFMT_A8L8, {0, 0, 1, 1}, 0xFF12},
      {D3DFMT_A4L4, {1, 1, 1, 0.5f}, 0x8F},
      // Signed: scale 127, clamp [-127, 127], rounding half up.
      {D3DFMT_V8U8, {-1.0f, 1.0f, 0, 0}, 0x7F81},
      {D3DFMT_V8U8, {-3.0f, 0.5f, 0, 0}, 0x4081},
      {D3DFMT_V8U8, {-0.5f, 0.0f, 0, 0}, 0x00C1},  // -63.5 + 0.5 = -63
      {D3DFMT_V8U8, {-0.99f, -0.004f, 0, 0}, 0xFF82},  // -125.73 -> -126, -0.508 -> -1
      {D3DFMT_V8U8, {-0.996f, 0.004f, 0, 0}, 0x0182},  // -126.49 -> -126, 0.508 -> 1
      {D3DFMT_Q8W8V8U8, {0, 0, 0, -1}, 0x81000000},
      // Unsigned extras of signed formats use their own scale, never negative.
      {D3DFMT_X8L8V8U8, {0, 0, 0, 1}, 0x00FF0000},
      {D3DFMT_X8L8V8U8, {0, 0, 0, -1}, 0x00000000},
      {D3DFMT_L6V5U5, {1, -1, 0, 1}, 0xFC0F | (0x11 << 5)},
      {D3DFMT_A2W10V10U10, {0, 0, -1, 1}, 0xC0000000 | (0x201u << 20)},
      {D3DFMT_V16U16, {1, -1, 0, 0}, 0x80017FFF},
      // CxV8U8 normalises (r, g, b) first: (3, 4, 0) -> (0.6, 0.8).
      {D3DFMT_CxV8U8, {3, 4, 0, 0}, (102u << 8) | 76u},
      {D3DFMT_CxV8U8, {0, 0, 0, 0}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.format << " expected " << c.expected);
    const uint64_t mask = (BytesOf(c.format) >= 8) ? ~0ull : (1ull << (8 * BytesOf(c.format))) - 1;
    EXPECT_EQ(EncodeOne(c.format, c.in) & mask, c.expected);
  }
}

TEST(PixelCodecFloat, StoresValuesUnclamped) {
  const float values[4] = {3.5f, -2.0f, 0.25f, 65504.0f};
  D3DCOLORVALUE c = {values[0], values[1], values[2], values[3]};
  uint8_t mem[16] = {};
  PixelRegion r;
  r.pixels = mem;
  r.rowPitch = 16;
  r.box = r.bounds = {0, 0, 1, 1, 0, 1};
  for (D3DFORMAT f : {D3DFMT_A32B32G32R32F, D3DFMT_A16B16G16R16F}) {
    r.format = f;
    auto codec = CreatePixelCodec(r);
    ASSERT_NE(codec, nullptr);
    D3DCOLORVALUE in = c, out = {};
    codec->EncodeRow(0, 0, &in);
    codec->DecodeRow(0, 0, &out);
    EXPECT_COLOR(out, c.r, c.g, c.b, c.a);
  }
  // Single and two-channel float formats fill the rest with 1.
  EXPECT_EQ(EncodeOne(D3DFMT_R16F, {-2.0f, 9, 9, 9}) & 0xFFFF, 0xC000u);
  EXPECT_EQ(EncodeOne(D3DFMT_G16R16F, {1.0f, 0.5f, 9, 9}) & 0xFFFFFFFF, 0x38003C00u);
  D3DCOLORVALUE d = DecodeOne(D3DFMT_G16R16F, 0x3800BC00);
  EXPECT_COLOR(d, -1.0f, 0.5f, 1.0f, 1.0f);
  d = DecodeOne(D3DFMT_R16F, 0x7C00);  // halves have no infinity
  EXPECT_COLOR(d, 65536.0f, 1.0f, 1.0f, 1.0f);
  uint32_t bits;
  const float f = -7.25f;
  std::memcpy(&bits, &f, 4);
  d = DecodeOne(D3DFMT_R32F, bits);
  EXPECT_COLOR(d, -7.25f, 1.0f, 1.0f, 1.0f);
  d = DecodeOne(D3DFMT_D32F_LOCKABLE, bits);
  EXPECT_EQ(d.r, -7.25f);
  std::memcpy(&bits, &values[2], 4);
  d = DecodeOne(D3DFMT_G32R32F, uint64_t{bits} << 32 | bits);
  EXPECT_COLOR(d, 0.25f, 0.25f, 1.0f, 1.0f);
}

// Decoding a random surface and encoding it back gives the same bytes for
// every format whose codes all decode to distinct values.
TEST(PixelCodecRoundTrip, DecodeThenEncodeKeepsBytes) {
  const D3DFORMAT formats[] = {
      D3DFMT_R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_X1R5G5B5,
      D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4, D3DFMT_R3G3B2, D3DFMT_A8, D3DFMT_A8R3G3B2,
      D3DFMT_X4R4G4B4, D3DFMT_A2B10G10R10, D3DFMT_A8B8G8R8, D3DFMT_X8B8G8R8, D3DFMT_G16R16,
      D3DFMT_A2R10G10B10, D3DFMT_A16B16G16R16, D3DFMT_L8, D3DFMT_A8L8, D3DFMT_A4L4, D3DFMT_L16,
      D3DFMT_D16_LOCKABLE, D3DFMT_INTERNAL_AL16, D3DFMT_INTERNAL_R16, D3DFMT_V8U8,
      D3DFMT_L6V5U5, D3DFMT_X8L8V8U8, D3DFMT_Q8W8V8U8, D3DFMT_V16U16, D3DFMT_A2W10V10U10,
      D3DFMT_Q16W16V16U16, D3DFMT_R16F, D3DFMT_G16R16F, D3DFMT_A16B16G16R16F, D3DFMT_R32F,
      D3DFMT_G32R32F, D3DFMT_A32B32G32R32F, D3DFMT_D32F_LOCKABLE, D3DFMT_P8, D3DFMT_A8P8};
  std::mt19937 rng(1234);
  PALETTEENTRY palette[256];
  for (int i = 0; i < 256; ++i) {
    palette[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), uint8_t(i ^ 0x5A)};
  }
  for (D3DFORMAT f : formats) {
    SCOPED_TRACE(testing::Message() << std::hex << f);
    const uint32_t bpp = BytesOf(f);
    Surface s(f, 37, 5, bpp);
    for (uint32_t y = 0; y < s.height; ++y) {
      for (uint32_t x = 0; x < s.width * bpp; ++x) s.data()[y * s.pitch + x] = uint8_t(rng());
    }
    // Canonicalise what cannot survive: X bits, the most negative signed
    // codes, and half/single NaNs and infinities.
    for (uint32_t y = 0; y < s.height; ++y) {
      for (uint32_t x = 0; x < s.width; ++x) {
        uint8_t* p = s.data() + y * s.pitch + x * bpp;
        switch (static_cast<uint32_t>(f)) {
          case D3DFMT_X8R8G8B8: case D3DFMT_X8B8G8R8: p[3] = 0; break;
          case D3DFMT_X1R5G5B5: p[1] &= 0x7F; break;
          case D3DFMT_X4R4G4B4: p[1] &= 0x0F; break;
          case D3DFMT_X8L8V8U8: p[3] = 0; [[fallthrough]];
          case D3DFMT_V8U8: case D3DFMT_Q8W8V8U8:
            for (int i = 0; i < (f == D3DFMT_V8U8 || f == D3DFMT_X8L8V8U8 ? 2 : 4); ++i) {
              if (p[i] == 0x80) p[i] = 0x81;
            }
            break;
          case D3DFMT_V16U16: case D3DFMT_Q16W16V16U16:
            for (uint32_t i = 0; i < bpp / 2; ++i) {
              if (p[2 * i] == 0 && p[2 * i + 1] == 0x80) p[2 * i] = 1;
            }
            break;
          case D3DFMT_L6V5U5: {
            uint16_t w = uint16_t(p[0] | p[1] << 8);
            if ((w & 0x1F) == 0x10) w |= 1;
            if (((w >> 5) & 0x1F) == 0x10) w |= 1 << 5;
            p[0] = uint8_t(w);
            p[1] = uint8_t(w >> 8);
            break;
          }
          case D3DFMT_A2W10V10U10: {
            uint32_t w;
            std::memcpy(&w, p, 4);
            for (int i = 0; i < 3; ++i) {
              if (((w >> (10 * i)) & 0x3FF) == 0x200) w |= 1u << (10 * i);
            }
            std::memcpy(p, &w, 4);
            break;
          }
          case D3DFMT_R16F: case D3DFMT_G16R16F: case D3DFMT_A16B16G16R16F:
            for (uint32_t i = 0; i < bpp / 2; ++i) p[2 * i + 1] &= 0xBB;  // exponent < 31
            break;
          case D3DFMT_R32F: case D3DFMT_G32R32F: case D3DFMT_A32B32G32R32F:
          case D3DFMT_D32F_LOCKABLE:
            for (uint32_t i = 0; i < bpp / 4; ++i) p[4 * i + 3] &= 0xBF;  // finite
            break;
          default: break;
        }
      }
    }
    // Luminance formats store one value for r, g and b; the round trip is
    // exact because the weights sum to one.
    const std::vector<uint8_t> before = s.bytes;
    PixelRegion region = s.Region();
    region.palette = palette;
    auto src = CreatePixelCodec(region);
    auto dst = CreatePixelCodec(region);
    ASSERT_NE(src, nullptr);
    ASSERT_NE(dst, nullptr);
    ASSERT_EQ(dst->LinkToSource(*src), S_OK);
    std::vector<D3DCOLORVALUE> row(s.width);
    for (uint32_t y = 0; y < s.height; ++y) {
      src->DecodeRow(y, 0, row.data());
      std::memset(s.data() + y * s.pitch, 0, s.width * bpp);
      dst->EncodeRow(y, 0, row.data());
    }
    EXPECT_EQ(s.bytes, before);
  }
}

TEST(PixelCodecBox, WritesOnlyInsideTheBoxAtAnyOffset) {
  const D3DFORMAT formats[] = {D3DFMT_A8R8G8B8, D3DFMT_R5G6B5, D3DFMT_L8, D3DFMT_R8G8B8,
                               D3DFMT_A16B16G16R16F, D3DFMT_P8, D3DFMT_INTERNAL_R16,
                               D3DFMT_A32B32G32R32F};
  const D3DBOX boxes[] = {{0, 0, 1, 1, 0, 1}, {3, 2, 4, 3, 0, 1}, {1, 1, 6, 4, 0, 1},
                          {5, 0, 7, 5, 0, 1}};
  for (D3DFORMAT f : formats) {
    for (const D3DBOX& b : boxes) {
      for (int flags = 0; flags < 4; ++flags) {
        SCOPED_TRACE(testing::Message() << std::hex << f << std::dec << " box " << b.Left << ","
                                        << b.Top << " flags " << flags);
        const uint32_t bpp = BytesOf(f);
        Surface s(f, 7, 5, bpp);
        PixelRegion region = s.Region(b);
        region.orderedDither = flags & 1;
        region.diffuseErrors = flags & 2;
        auto codec = CreatePixelCodec(region);
        ASSERT_NE(codec, nullptr);
        EXPECT_EQ(codec->width, b.Right - b.Left);
        EXPECT_EQ(codec->height, b.Bottom - b.Top);
        EXPECT_EQ(codec->rowBytes, codec->width * bpp);
        std::vector<D3DCOLORVALUE> row(codec->width, D3DCOLORVALUE{0.3f, 0.6f, 0.9f, 0.5f});
        std::vector<uint8_t> expected = s.bytes;
        for (uint32_t y = 0; y < codec->height; ++y) {
          std::vector<D3DCOLORVALUE> in = row;
          codec->EncodeRow(y, 0, in.data());
          for (uint32_t x = b.Left; x < b.Right; ++x) {
            for (uint32_t i = 0; i < bpp; ++i) expected[32 + (b.Top + y) * s.pitch + x * bpp + i] = 0;
          }
        }
        // Every byte outside the box still holds the fill pattern.
        for (size_t i = 0; i < s.bytes.size(); ++i) {
          if (expected[i] == 0xA5) {
            ASSERT_EQ(s.bytes[i], 0xA5) << "byte " << i;
          }
        }
        // Decoding reads the box's own pixels back.
        std::vector<D3DCOLORVALUE> out(codec->width);
        codec->DecodeRow(codec->height - 1, 0, out.data());
        if (f != D3DFMT_P8 && f != D3DFMT_L8 && !(flags & 3)) {
          EXPECT_NEAR(out[0].g, 0.6f, 0.01f);
          EXPECT_NEAR(out[codec->width - 1].b, 0.9f, 0.02f);
        }
      }
    }
  }
}

TEST(PixelCodecFactory, FormatsWithoutCodecGiveNull) {
  uint8_t mem[64] = {};
  PixelRegion r;
  r.pixels = mem;
  r.rowPitch = 16;
  r.box = r.bounds = {0, 0, 2, 2, 0, 1};
  for (D3DFORMAT f : {D3DFMT_D24S8, D3DFMT_D32, D3DFMT_D15S1, D3DFMT_D16, D3DFMT_D24X8,
                      D3DFMT_D24X4S4, D3DFMT_D24FS8, D3DFMT_UNKNOWN,
                      static_cast<D3DFORMAT>(37u)}) {
    r.format = f;
    EXPECT_EQ(CreatePixelCodec(r), nullptr) << f;
  }
  r.format = D3DFMT_D16_LOCKABLE;
  auto codec = CreatePixelCodec(r);
  ASSERT_NE(codec, nullptr);
  EXPECT_TRUE(codec->addressable);
  EXPECT_EQ(codec->bytesPerPixel, 2u);
  EXPECT_EQ(codec->range, RangeUnsigned);
  r.format = D3DFMT_V8U8;
  EXPECT_EQ(CreatePixelCodec(r)->range, RangeSignedColor);
  r.format = D3DFMT_Q16W16V16U16;
  EXPECT_EQ(CreatePixelCodec(r)->range, RangeSigned);
  r.format = D3DFMT_R16F;
  EXPECT_EQ(CreatePixelCodec(r)->range, RangeFloat);
  // Pairs and blocks: not addressable, memory pointer and box left as given.
  r.box = {2, 0, 4, 2, 0, 1};
  r.bounds = {0, 0, 4, 4, 0, 1};
  for (D3DFORMAT f : {D3DFMT_YUY2, D3DFMT_UYVY, D3DFMT_R8G8_B8G8, D3DFMT_G8R8_G8B8, D3DFMT_DXT1,
                      D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5}) {
    r.format = f;
    auto c = CreatePixelCodec(r);
    ASSERT_NE(c, nullptr) << f;
    EXPECT_FALSE(c->addressable);
    EXPECT_EQ(c->bytesPerPixel, 0u);
    EXPECT_EQ(c->pixels, mem);
    EXPECT_EQ(c->box.Left, 2u);
    EXPECT_EQ(c->width, 2u);
    EXPECT_EQ(c->range, RangeUnsigned);
  }
}

TEST(PixelCodecDither, OrderedTableFollowsSerpentineVisits) {
  // Red 0.5 in R5G6B5 is 15.5; the ordered value decides 15 or 16.
  struct Case {
    uint32_t y, z;
    uint16_t reds[4];  // memory order x = 0..3
  };
  const Case cases[] = {
      {0, 0, {16, 15, 16, 15}},  // row 0: 31, 15, 27, 11 (/32)
      {0, 1, {15, 16, 15, 16}},  // slice 1 starts at column 1
      {1, 0, {16, 15, 16, 15}},  // row 1 visited from x = 3: 7, 23, 3, 19 -> 15, 16, 15, 16
      {3, 2, {16, 15, 16, 15}},  // row 3 from x = 3, columns 2, 3, 0, 1: 5, 21, 1, 17
      {1, 1, {15, 16, 15, 16}},  // row 1 from x = 3, columns 1, 2, 3, 0: 23, 3, 19, 7
  };
  // The same codes come out with diffusion on (each row here is the first
  // one encoded, and the errors carried along it are too small to flip a
  // code), which runs the dither through the diffusing loop as well.
  for (int diffuse = 0; diffuse < 2; ++diffuse)
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "y " << c.y << " z " << c.z << " diffuse " << diffuse);
    std::vector<uint8_t> mem(4 * 2 * 4 * 3);
    PixelRegion r;
    r.pixels = mem.data();
    r.format = D3DFMT_R5G6B5;
    r.rowPitch = 8;
    r.slicePitch = 32;
    r.box = r.bounds = {0, 0, 4, 4, 0, 3};
    r.orderedDither = 1;
    r.diffuseErrors = diffuse;
    auto codec = CreatePixelCodec(r);
    ASSERT_NE(codec, nullptr);
    ASSERT_EQ(codec->errorRow != nullptr, diffuse == 1);
    D3DCOLORVALUE row[4];
    for (auto& p : row) p = {0.5f, 0, 0, 0};
    codec->EncodeRow(c.y, c.z, row);
    for (int x = 0; x < 4; ++x) {
      uint16_t w;
      std::memcpy(&w, &mem[c.z * 32 + c.y * 8 + 2 * x], 2);
      EXPECT_EQ(w >> 11, c.reds[x]) << "x " << x;
    }
  }
}

TEST(PixelCodecDiffusion, SpreadsErrorsAlongAndDownRows) {
  // A row of 0.5 in 1-bit alpha alternates 1 and 0.
  const uint32_t w = 16, h = 8;
  std::vector<uint16_t> mem(w * h);
  PixelRegion r;
  r.pixels = mem.data();
  r.format = D3DFMT_A1R5G5B5;
  r.rowPitch = w * 2;
  r.box = r.bounds = {0, 0, w, h, 0, 1};
  r.diffuseErrors = 1;
  auto codec = CreatePixelCodec(r);
  ASSERT_NE(codec, nullptr);
  ASSERT_NE(codec->errorRow, nullptr);
  std::vector<D3DCOLORVALUE> row(w, D3DCOLORVALUE{0, 0, 0, 0.5f});
  codec->EncodeRow(0, 0, row.data());
  for (uint32_t x = 0; x < w; ++x) EXPECT_EQ(mem[x] >> 15, (x + 1) % 2) << x;
  // Over a block of 0.25 the error carried down and along keeps the mean.
  for (uint32_t y = 0; y < h; ++y) {
    std::vector<D3DCOLORVALUE> in(w, D3DCOLORVALUE{0, 0, 0, 0.25f});
    codec->EncodeRow(y, 0, in.data());
  }
  int ones = 0;
  for (uint16_t p : mem) ones += p >> 15;
  EXPECT_NEAR(ones, int(w * h / 4), 2);
  // Without diffusion the same block rounds every pixel down.
  r.diffuseErrors = 0;
  auto plain = CreatePixelCodec(r);
  for (uint32_t y = 0; y < h; ++y) {
    std::vector<D3DCOLORVALUE> in(w, D3DCOLORVALUE{0, 0, 0, 0.25f});
    plain->EncodeRow(y, 0, in.data());
  }
  ones = 0;
  for (uint16_t p : mem) ones += p >> 15;
  EXPECT_EQ(ones, 0);
}

TEST(PixelCodecColorKey, MatchesAtTheFormatsPrecision) {
  struct Case {
    D3DFORMAT format;
    D3DCOLOR key;
    uint64_t keyed, near;  // a pixel equal to the rounded key, one a step away
  };
  const Case cases[] = {
      {D3DFMT_R5G6B5, 0xFF00FF00, 0x07E0, 0x07C0},
      {D3DFMT_R5G6B5, 0xFF08FC08, (1u << 11) | (62u << 5) | 1u, (1u << 11) | (63u << 5) | 1u},
      {D3DFMT_A8R8G8B8, 0x80112233, 0x80112233, 0x80112234},
      {D3DFMT_X8R8G8B8, 0xFF112233, 0x00112233, 0x00112333},
      {D3DFMT_A1R5G5B5, 0x40FF0000, 0x7C00, 0xFC00},  // alpha 0x40 rounds to 0
      {D3DFMT_L8, 0xFF808080, 0x80, 0x7F},
      {D3DFMT_V8U8, 0xFFFF0080, 0x817F, 0x827F},  // r 1 -> U 127, g 0 -> V -127
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.format << " key " << c.key);
    uint8_t mem[32] = {};
    const uint32_t bpp = BytesOf(c.format);
    std::memcpy(mem, &c.keyed, bpp);
    std::memcpy(mem + bpp, &c.near, bpp);
    PixelRegion r;
    r.pixels = mem;
    r.format = c.format;
    r.rowPitch = 32;
    r.box = r.bounds = {0, 0, 2, 1, 0, 1};
    r.colorKey = c.key;
    auto codec = CreatePixelCodec(r);
    ASSERT_NE(codec, nullptr);
    D3DCOLORVALUE out[2];
    codec->DecodeRow(0, 0, out);
    EXPECT_COLOR(out[0], 0.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_FALSE(out[1].r == 0 && out[1].g == 0 && out[1].b == 0 && out[1].a == 0);
  }
}

TEST(PixelCodecColorKey, QuantisingLeavesOtherStateAlone) {
  // With gamma on and error diffusion asked for, the key is still rounded
  // (no conversion row needed) and the first encoded row gets no errors.
  std::vector<uint8_t> keyed(8), plain(8);
  for (int withKey = 0; withKey < 2; ++withKey) {
    PixelRegion r;
    r.pixels = withKey ? keyed.data() : plain.data();
    r.format = D3DFMT_A8R8G8B8;
    r.rowPitch = 8;
    r.box = r.bounds = {0, 0, 2, 1, 0, 1};
    r.diffuseErrors = 1;
    r.gamma = 1;
    r.colorKey = withKey ? 0xFF7F7F7F : 0;
    auto codec = CreatePixelCodec(r);
    ASSERT_NE(codec, nullptr);
    if (withKey) {
      EXPECT_EQ(codec->colorKeyValue.r, 127 * k255);
      EXPECT_EQ(codec->colorKeyValue.a, 1.0f);
      EXPECT_EQ(codec->width, 2u);
    }
    D3DCOLORVALUE row[2] = {{0.1f, 0.2f, 0.3f, 0.4f}, {0.1f, 0.2f, 0.3f, 0.4f}};
    codec->EncodeRow(0, 0, row);
  }
  EXPECT_EQ(keyed, plain);
}

TEST(PixelCodecPalette, NearestEntryWithTiesToLowestIndex) {
  PALETTEENTRY pal[256];
  for (auto& e : pal) e = {255, 255, 255, 255};
  pal[3] = {0, 0, 0, 255};
  pal[7] = {200, 0, 0, 255};
  pal[9] = {0, 0, 0, 255};  // same as entry 3: never chosen
  pal[12] = {0, 0, 0, 0};
  uint8_t mem[8] = {};
  PixelRegion r;
  r.pixels = mem;
  r.format = D3DFMT_P8;
  r.rowPitch = 8;
  r.box = r.bounds = {0, 0, 4, 1, 0, 1};
  r.palette = pal;
  auto codec = CreatePixelCodec(r);
  ASSERT_NE(codec, nullptr);
  D3DCOLORVALUE row[4] = {{0.0f, 0.0f, 0.0f, 1.0f},
                          {0.6f, 0.0f, 0.0f, 1.0f},
                          {0.0f, 0.0f, 0.0f, 0.1f},
                          {0.9f, 0.9f, 0.9f, 0.9f}};
  codec->EncodeRow(0, 0, row);
  EXPECT_EQ(mem[0], 3);
  EXPECT_EQ(mem[1], 7);
  EXPECT_EQ(mem[2], 12);  // alpha counts for P8
  EXPECT_EQ(mem[3], 0);   // white ties across many entries: lowest wins
  D3DCOLORVALUE out[4];
  codec->DecodeRow(0, 0, out);
  EXPECT_COLOR(out[1], 200 * k255, 0.0f, 0.0f, 1.0f);

  // A8P8: index from colour only, alpha quantised separately.
  uint8_t mem2[8] = {};
  r.pixels = mem2;
  r.format = D3DFMT_A8P8;
  auto a8p8 = CreatePixelCodec(r);
  ASSERT_NE(a8p8, nullptr);
  D3DCOLORVALUE row2[4] = {{0, 0, 0, 0.5f}, {0.6f, 0, 0, 0}, {1, 1, 1, 1}, {0, 0, 0, 0.2f}};
  a8p8->EncodeRow(0, 0, row2);
  const uint8_t expected[8] = {3, 128, 7, 0, 0, 255, 3, 51};
  EXPECT_EQ(std::memcmp(mem2, expected, 8), 0);
  a8p8->DecodeRow(0, 0, out);
  EXPECT_COLOR(out[0], 0.0f, 0.0f, 0.0f, 128 * k255);

  // No palette: every index is white; encoding picks index 0.
  r.palette = nullptr;
  r.format = D3DFMT_P8;
  std::memset(mem, 0x33, sizeof mem);
  r.pixels = mem;
  auto bare = CreatePixelCodec(r);
  ASSERT_NE(bare, nullptr);
  bare->DecodeRow(0, 0, out);
  EXPECT_COLOR(out[2], 1.0f, 1.0f, 1.0f, 1.0f);
  bare->EncodeRow(0, 0, row);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(mem[x], 0);
}

TEST(PixelCodecRange, LinkedSourcesConvertIntoTheDestinationRange) {
  struct Case {
    D3DFORMAT source;
    uint64_t sourcePixel;
    D3DFORMAT dest;
    uint64_t expected;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  uint32_t nanBits, twoBits = 0x40000000, negBits = 0xBF800000;
  std::memcpy(&nanBits, &nan, 4);
  const Case cases[] = {
      // V8U8 -1 -> 0, +1 -> 255; b and a are 1.
      {D3DFMT_V8U8, 0x7F81, D3DFMT_A8R8G8B8, 0xFF00FFFF},
      // Float clamps to [0, 1]; NaN goes to the upper bound.
      {D3DFMT_R32F, twoBits, D3DFMT_A8R8G8B8, 0xFFFFFFFF},
      {D3DFMT_R32F, negBits, D3DFMT_A8R8G8B8, 0xFF00FFFF},
      {D3DFMT_R32F, nanBits, D3DFMT_A8R8G8B8, 0xFFFFFFFF},
      // Unsigned into signed: 2x - 1 on all channels for Signed.
      {D3DFMT_A8R8G8B8, 0x00FF8000, D3DFMT_Q8W8V8U8, 0x8181007F},
      // Unsigned into SignedColor: alpha copied (L of X8L8V8U8).
      {D3DFMT_A8R8G8B8, 0x80FF0000, D3DFMT_X8L8V8U8, 0x0080817F},
      // Float into signed colour: r clamped to [-1, 1], a to [0, 1].
      {D3DFMT_R32F, negBits, D3DFMT_V8U8, 0x7F81},
      // A float destination never converts.
      {D3DFMT_V8U8, 0x0081, D3DFMT_R16F, 0xBC00},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.source << " -> " << c.dest);
    uint8_t srcMem[16] = {}, dstMem[16] = {};
    std::memcpy(srcMem, &c.sourcePixel, 8);
    PixelRegion rs, rd;
    rs.pixels = srcMem;
    rs.format = c.source;
    rs.rowPitch = 16;
    rs.box = rs.bounds = {0, 0, 1, 1, 0, 1};
    rd = rs;
    rd.pixels = dstMem;
    rd.format = c.dest;
    auto dst = CreatePixelCodec(rd);
    auto src = CreatePixelCodec(rs);
    ASSERT_NE(dst, nullptr);
    ASSERT_NE(src, nullptr);
    ASSERT_EQ(dst->LinkToSource(*src), S_OK);
    D3DCOLORVALUE row;
    src->DecodeRow(0, 0, &row);
    dst->EncodeRow(0, 0, &row);
    uint64_t got;
    std::memcpy(&got, dstMem, 8);
    const uint32_t bytes = BytesOf(c.dest);
    EXPECT_EQ(got & ((1ull << (8 * bytes)) - 1), c.expected);
  }
}

TEST(PixelCodecRange, ConvertRangeTable) {
  const D3DCOLORVALUE in = {-1.0f, 0.0f, 1.0f, 0.5f};
  struct Case {
    NumericRange to, from;
    D3DCOLORVALUE expected;
  };
  const Case cases[] = {
      {RangeUnsigned, RangeSignedColor, {0.0f, 0.5f, 1.0f, 0.5f}},
      {RangeUnsigned, RangeSigned, {0.0f, 0.5f, 1.0f, 0.75f}},
      {RangeUnsigned, RangeFloat, {0.0f, 0.0f, 1.0f, 0.5f}},
      {RangeSignedColor, RangeUnsigned, {-3.0f, -1.0f, 1.0f, 0.5f}},
      {RangeSignedColor, RangeSigned, {-1.0f, 0.0f, 1.0f, 0.75f}},
      {RangeSignedColor, RangeFloat, {-1.0f, 0.0f, 1.0f, 0.5f}},
      {RangeSigned, RangeUnsigned, {-3.0f, -1.0f, 1.0f, 0.0f}},
      {RangeSigned, RangeSignedColor, {-1.0f, 0.0f, 1.0f, 0.0f}},
      {RangeSigned, RangeFloat, {-1.0f, 0.0f, 1.0f, 0.5f}},
      {RangeFloat, RangeUnsigned, in},
  };
  for (const Case& c : cases) {
    D3DCOLORVALUE out;
    ConvertRange(c.to, c.from, &in, &out, 1);
    SCOPED_TRACE(testing::Message() << c.to << " <- " << c.from);
    EXPECT_COLOR(out, c.expected.r, c.expected.g, c.expected.b, c.expected.a);
  }
  const D3DCOLORVALUE wild = {-5.0f, 5.0f, std::numeric_limits<float>::quiet_NaN(), 1.0f};
  D3DCOLORVALUE out;
  ConvertRange(RangeSignedColor, RangeFloat, &wild, &out, 1);
  EXPECT_COLOR(out, -1.0f, 1.0f, 1.0f, 1.0f);
}

TEST(PixelCodecGamma, TablesAndCurves) {
  EXPECT_EQ(kGammaEncodeTable[0], 0.0f);
  EXPECT_EQ(kGammaEncodeTable[254], 1.0f);
  EXPECT_EQ(kGammaEncodeTable[255], 1.0f);
  EXPECT_NEAR(kGammaEncodeTable[127], std::pow(0.5, 1 / 1.1), 1e-6);
  EXPECT_NEAR(kGammaDecodeTable[127], std::pow(0.5, 1.1), 1e-6);
  EXPECT_EQ(kOrderedDitherTable[3][1], 17 / 32.0f);
  EXPECT_EQ(kPlainDitherTable[2][2], 0.5f);

  // A gamma-encoded 8-bit source decodes near x^2.2; a gamma destination
  // fed by a linear source encodes near x^(1/2.2).
  std::vector<uint8_t> mem(256);
  for (int i = 0; i < 256; ++i) mem[i] = uint8_t(i);
  PixelRegion r;
  r.pixels = mem.data();
  r.format = D3DFMT_L8;
  r.rowPitch = 256;
  r.box = r.bounds = {0, 0, 256, 1, 0, 1};
  r.gamma = 1;
  auto src = CreatePixelCodec(r);
  std::vector<D3DCOLORVALUE> row(256);
  src->DecodeRow(0, 0, row.data());
  for (int i = 0; i < 256; ++i) {
    EXPECT_NEAR(row[i].r, std::pow(i / 255.0, 2.2), 0.004) << i;
    EXPECT_EQ(row[i].a, 1.0f);  // alpha is never gamma-converted here
    if (i) {
      EXPECT_GE(row[i].r, row[i - 1].r);
    }
  }
  EXPECT_EQ(row[0].r, 0.0f);
  EXPECT_EQ(row[255].r, 1.0f);

  std::vector<float> linear(256);
  for (int i = 0; i < 256; ++i) linear[i] = i / 255.0f;
  std::vector<uint8_t> out(256 * 4);
  PixelRegion rd = r;
  rd.pixels = out.data();
  rd.format = D3DFMT_A8R8G8B8;
  rd.rowPitch = 1024;
  auto dst = CreatePixelCodec(rd);
  r.gamma = 0;
  r.pixels = mem.data();
  auto linearSrc = CreatePixelCodec(r);
  ASSERT_EQ(dst->LinkToSource(*linearSrc), S_OK);
  EXPECT_FALSE(dst->bothGamma);
  for (int i = 0; i < 256; ++i) row[i] = {linear[i], linear[i], linear[i], linear[i]};
  dst->EncodeRow(0, 0, row.data());
  for (int i = 0; i < 256; ++i) {
    EXPECT_NEAR(out[4 * i + 2], 255 * std::pow(i / 255.0, 1 / 2.2), 1.5) << i;
    EXPECT_EQ(out[4 * i + 3], i);  // alpha is stored linear
  }

  // Both sides gamma-encoded: square and square root, so bytes survive.
  r.gamma = 1;
  auto src2 = CreatePixelCodec(r);
  ASSERT_EQ(dst->LinkToSource(*src2), S_OK);
  EXPECT_TRUE(dst->bothGamma);
  EXPECT_TRUE(src2->bothGamma);
  src2->DecodeRow(0, 0, row.data());
  dst->EncodeRow(0, 0, row.data());
  for (int i = 0; i < 256; ++i) EXPECT_EQ(out[4 * i + 2], i);

  // Signed codecs never convert gamma; L6V5U5 converts its alpha only.
  rd.format = D3DFMT_V8U8;
  EXPECT_FALSE(CreatePixelCodec(rd)->gamma);
  rd.format = D3DFMT_L6V5U5;
  EXPECT_TRUE(CreatePixelCodec(rd)->gamma);
}

TEST(PixelCodecGamma, FloatValuesOutsideTheTablesStayFinite) {
  float mem[4] = {};
  PixelRegion r;
  r.pixels = mem;
  r.format = D3DFMT_A32B32G32R32F;
  r.rowPitch = 16;
  r.box = r.bounds = {0, 0, 1, 1, 0, 1};
  r.gamma = 1;
  auto dst = CreatePixelCodec(r);
  r.gamma = 0;
  auto src = CreatePixelCodec(r);
  ASSERT_EQ(dst->LinkToSource(*src), S_OK);
  D3DCOLORVALUE c = {4.0f, -1.0f, 1000.0f, 7.0f};
  dst->EncodeRow(0, 0, &c);
  EXPECT_NEAR(mem[0], std::pow(4.0, 1 / 2.2), 1e-4);
  EXPECT_NEAR(mem[1], -1.0f, 1e-6);
  EXPECT_NEAR(mem[2], std::pow(1000.0, 1 / 2.2), 1e-2);
  EXPECT_EQ(mem[3], 7.0f);
}
