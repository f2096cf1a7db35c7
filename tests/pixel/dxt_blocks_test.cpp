#include "pixel/dxt_blocks.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>

namespace nerro::pixel {
namespace {

using Block16 = std::array<D3DCOLORVALUE, 16>;

Block16 uniform(float r, float g, float b, float a) {
  Block16 t;
  t.fill({r, g, b, a});
  return t;
}

uint16_t color0(const uint8_t* c) { return static_cast<uint16_t>(c[0] | (c[1] << 8)); }
uint16_t color1(const uint8_t* c) { return static_cast<uint16_t>(c[2] | (c[3] << 8)); }
uint32_t colorCode(const uint8_t* c, int i) {
  const uint32_t w = c[4] | (c[5] << 8) | (c[6] << 16) | (static_cast<uint32_t>(c[7]) << 24);
  return (w >> (2 * i)) & 3;
}
uint32_t alphaCode(const uint8_t* p, int i) {
  const uint8_t* g = p + 2 + 3 * (i / 8);
  const uint32_t w = g[0] | (g[1] << 8) | (g[2] << 16);
  return (w >> (3 * (i % 8))) & 7;
}

// A smooth, slightly noisy block like those of photographs.
Block16 randomBlock(std::mt19937& rng, bool randomAlpha) {
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  const float r0 = u(rng), g0 = u(rng), b0 = u(rng);
  const float dr = u(rng) - 0.5f, dg = u(rng) - 0.5f, db = u(rng) - 0.5f;
  Block16 t;
  for (int i = 0; i < 16; ++i) {
    const float s = static_cast<float>(i % 4 + i / 4) / 6.0f;
    auto ch = [&](float base, float d) {
      return std::fmin(1.0f, std::fmax(0.0f, base + d * s + (u(rng) - 0.5f) * 0.05f));
    };
    t[i] = {ch(r0, dr), ch(g0, dg), ch(b0, db), randomAlpha ? u(rng) : 1.0f};
  }
  return t;
}

TEST(DxtDecode, FourColourAndThreeColourPalettes) {
  // 0xF800 > 0x001F: four colours; pixel i carries code i % 4.
  const uint8_t four[8] = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0xE4, 0xE4, 0xE4};
  Block16 out;
  ASSERT_EQ(DecodeDxt1Block(out.data(), four), S_OK);
  const float third = 1.0f / 3.0f;
  const D3DCOLORVALUE want[4] = {{1, 0, 0, 1}, {0, 0, 1, 1}, {1 - third, 0, third, 1},
                                 {1 + (0.0f - 1.0f) * (2.0f / 3.0f), 0, (2.0f / 3.0f), 1}};
  for (int i = 0; i < 16; ++i) {
    EXPECT_FLOAT_EQ(out[i].r, want[i % 4].r) << i;
    EXPECT_FLOAT_EQ(out[i].g, want[i % 4].g) << i;
    EXPECT_FLOAT_EQ(out[i].b, want[i % 4].b) << i;
    EXPECT_EQ(out[i].a, 1.0f) << i;
  }
  EXPECT_NEAR(out[2].r, 2.0f / 3.0f, 1e-6f);
  EXPECT_NEAR(out[3].r, 1.0f / 3.0f, 1e-6f);

  // Equal colours: three-colour mode, code 2 the midpoint, code 3 transparent black.
  const uint8_t equal[8] = {0xE0, 0x07, 0xE0, 0x07, 0xE4, 0, 0, 0};
  ASSERT_EQ(DecodeDxt1Block(out.data(), equal), S_OK);
  EXPECT_EQ(out[0].g, 1.0f);
  EXPECT_EQ(out[1].g, 1.0f);
  EXPECT_EQ(out[2].g, 1.0f);
  EXPECT_EQ(out[3].r, 0.0f);
  EXPECT_EQ(out[3].g, 0.0f);
  EXPECT_EQ(out[3].b, 0.0f);
  EXPECT_EQ(out[3].a, 0.0f);
}

TEST(DxtDecode, ExplicitAndInterpolatedAlpha) {
  uint8_t b3[16] = {};
  b3[0] = 0xF0;  // pixel 0 -> 0, pixel 1 -> 15
  b3[7] = 0x85;  // pixel 14 -> 5, pixel 15 -> 8
  Block16 out;
  DecodeDxt3Block(out.data(), b3);
  EXPECT_EQ(out[0].a, 0.0f);
  EXPECT_EQ(out[1].a, 1.0f);
  EXPECT_EQ(out[14].a, 5.0f * (1.0f / 15.0f));
  EXPECT_EQ(out[15].a, 8.0f * (1.0f / 15.0f));

  // Eight-step ramp: byte 0 > byte 1; pixel i takes code i % 8.
  uint8_t b5[16] = {};
  b5[0] = 210;
  b5[1] = 70;
  const uint32_t packed = 0 | 1 << 3 | 2 << 6 | 3 << 9 | 4 << 12 | 5 << 15 | 6 << 18 | 7 << 21;
  for (int h = 0; h < 2; ++h)
    for (int k = 0; k < 3; ++k) b5[2 + 3 * h + k] = static_cast<uint8_t>(packed >> (8 * k));
  DecodeDxt5Block(out.data(), b5);
  const float a0 = 210 * (1.0f / 255.0f), a1 = 70 * (1.0f / 255.0f);
  EXPECT_EQ(out[0].a, a0);
  EXPECT_EQ(out[1].a, a1);
  for (int k = 1; k <= 6; ++k) {
    EXPECT_FLOAT_EQ(out[k + 1].a, ((7 - k) * a0 + k * a1) / 7.0f) << k;
    EXPECT_EQ(out[k + 9].a, out[k + 1].a) << k;
  }
  // Six-step ramp with fixed 0 and 1.
  b5[0] = 70;
  b5[1] = 210;
  DecodeDxt5Block(out.data(), b5);
  EXPECT_FLOAT_EQ(out[2].a, (4 * a1 + a0) / 5.0f);
  EXPECT_EQ(out[6].a, 0.0f);
  EXPECT_EQ(out[7].a, 1.0f);
}

TEST(DxtPremultiply, UnpremultiplyRules) {
  Block16 t = uniform(0.1f, 0.3f, 0.6f, 0.5f);
  t[1] = {0.2f, 0.2f, 0.2f, 0.0f};
  t[2] = {0.5f, 0.5f, 0.5f, 1.0f};
  UnpremultiplyBlock(t.data());
  EXPECT_FLOAT_EQ(t[0].r, 0.2f);
  EXPECT_EQ(t[0].g, 0.3f / 0.5f);
  EXPECT_EQ(t[0].b, 1.0f);  // not below alpha
  EXPECT_EQ(t[1].r, 0.0f);
  EXPECT_EQ(t[2].r, 0.5f);
  PremultiplyBlock(t.data());
  EXPECT_EQ(t[2].g, 0.5f);
  EXPECT_FLOAT_EQ(t[0].r, 0.1f);
}

TEST(DxtHelpers, Pack565ClampsAndRounds) {
  EXPECT_EQ(Pack565({1, 1, 1, 1}), 0xFFFF);
  EXPECT_EQ(Pack565({2, -1, 0.5f, 1}), 0xF810);  // 0.5 * 31 + 0.5 = 16
  EXPECT_EQ(Pack565({0, 0.5f, 0, 1}), 32 << 5);
  for (uint32_t w = 0; w < 65536; w += 97) EXPECT_EQ(Pack565(Expand565(static_cast<uint16_t>(w))), w);
}

TEST(DxtEncode, UniformOpaqueBlocksUseOneColour) {
  const D3DCOLORVALUE colours[] = {{0, 0, 0, 1}, {1, 1, 1, 1}, {0.3f, 0.6f, 0.9f, 1}, {0.5f, 0.5f, 0.5f, 1}};
  for (const auto& c : colours) {
    const Block16 t = uniform(c.r, c.g, c.b, c.a);
    uint8_t b1[8];
    EncodeDxt1Block(b1, t.data(), false);
    EXPECT_EQ(color0(b1), color1(b1));
    EXPECT_EQ(color0(b1), Pack565(c));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(colorCode(b1, i), 0u);
    uint8_t b5[16];
    EncodeDxt5Block(b5, t.data(), false);
    EXPECT_EQ(color0(b5 + 8), Pack565(c));
    EXPECT_EQ(color1(b5 + 8), Pack565(c));
    EXPECT_EQ(b5[0], 255);  // alpha 1 everywhere: 255, 255 and zero codes
    EXPECT_EQ(b5[1], 255);
    for (int k = 2; k < 8; ++k) EXPECT_EQ(b5[k], 0);
  }
}

TEST(DxtEncode, Dxt1Transparency) {
  // Every pixel transparent: the fixed block.
  const Block16 clear = uniform(0.7f, 0.2f, 0.4f, 0.2f);
  uint8_t fixed[8];
  EncodeDxt1Block(fixed, clear.data(), false);
  const uint8_t want[8] = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(std::memcmp(fixed, want, 8), 0);

  // One pixel below 0.5: three-colour mode, code 3 for it alone.
  std::mt19937 rng(7);
  Block16 blocks[2] = {uniform(0.3f, 0.5f, 0.7f, 1.0f), randomBlock(rng, false)};
  for (Block16& t : blocks) {
    t[5].a = 0.4f;
    uint8_t b[8];
    EncodeDxt1Block(b, t.data(), false);
    EXPECT_LE(color0(b), color1(b));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(colorCode(b, i) == 3, i == 5) << i;
    Block16 out;
    DecodeDxt1Block(out.data(), b);
    EXPECT_EQ(out[5].a, 0.0f);
    for (int i = 0; i < 16; ++i) {
      if (i != 5) {
        EXPECT_NEAR(out[i].g, t[i].g, 0.1f) << i;
      }
    }
  }
}

TEST(DxtEncode, Dxt5AlphaModes) {
  // 0 and 0.5 mixed: six steps, zeros take the fixed code 6.
  Block16 t = uniform(0.2f, 0.4f, 0.6f, 0.5f);
  for (int i = 0; i < 16; i += 3) t[i].a = 0.0f;
  uint8_t b[16];
  EncodeDxt5Block(b, t.data(), false);
  EXPECT_LE(b[0], b[1]);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(alphaCode(b, i) == 6u, i % 3 == 0) << i;
  }
  Block16 out;
  DecodeDxt5Block(out.data(), b);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(out[i].a, t[i].a, 1.0f / 255.0f) << i;

  // A spread of alphas strictly inside (0, 1): eight steps, alpha 0 > alpha 1.
  for (int i = 0; i < 16; ++i) t[i].a = 0.2f + 0.04f * static_cast<float>(i);
  EncodeDxt5Block(b, t.data(), false);
  EXPECT_GT(b[0], b[1]);
  DecodeDxt5Block(out.data(), b);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(out[i].a, t[i].a, 0.05f) << i;
}

TEST(DxtEncode, Dxt3AlphaQuantisesAndClamps) {
  // alpha -> expected 4-bit value; out-of-range alphas clamp instead of wrapping.
  const std::pair<float, unsigned> cases[] = {{0.5f, 8}, {0.0f, 0}, {1.0f, 15}, {1.2f, 15},
                                              {-0.3f, 0}, {0.4f, 6}};
  for (auto [alpha, want] : cases) {
    // At the ends of the range no error is left to diffuse, so dithering
    // changes nothing there.
    const bool atEnd = want == 0 || want == 15;
    for (bool dither : {false, true}) {
      if (dither && !atEnd) continue;
      const Block16 t = uniform(0.5f, 0.5f, 0.5f, alpha);
      uint8_t b[16];
      EncodeDxt3Block(b, t.data(), dither);
      for (int i = 0; i < 16; ++i)
        EXPECT_EQ((b[i / 2] >> (4 * (i % 2))) & 15, want) << alpha << " " << dither << " " << i;
    }
  }
  // Slightly over 1 (as float sources give): each pixel alone rounds to 15,
  // and with dithering the carried excess must not push a neighbour to 16,
  // which a 4-bit field would store as 0.
  const Block16 t = uniform(0.5f, 0.5f, 0.5f, 1.03f);
  uint8_t b[16];
  EncodeDxt3Block(b, t.data(), true);
  for (int i = 0; i < 16; ++i) EXPECT_EQ((b[i / 2] >> (4 * (i % 2))) & 15, 15u) << i;
}

TEST(DxtEncode, PremultipliedRoundTrips) {
  Block16 t = uniform(0.25f, 0.25f, 0.25f, 0.5f);
  t[3] = {0.8f, 0.1f, 0.3f, 0.0f};
  struct Pair {
    BlockEncodeFn enc;
    BlockDecodeFn dec;
  };
  for (Pair f : {Pair{EncodeDxt2Block, DecodeDxt2Block}, Pair{EncodeDxt4Block, DecodeDxt4Block}}) {
    uint8_t b[16];
    f.enc(b, t.data(), false);
    // Stored colour is the premultiplied 0.125 (4/31 red and blue, 8/63 green).
    Block16 raw;
    DecodeDxt3Block(raw.data(), b);  // colour half is shared by both layouts
    EXPECT_NEAR(raw[0].r, 0.125f, 1.0f / 62.0f);
    EXPECT_NEAR(raw[0].g, 0.125f, 1.0f / 126.0f);
    Block16 out;
    f.dec(out.data(), b);
    EXPECT_NEAR(out[0].r, 0.25f, 0.04f);
    EXPECT_NEAR(out[0].g, 0.25f, 0.04f);
    EXPECT_NEAR(out[0].a, 0.5f, 0.04f);
    EXPECT_EQ(out[3].r, 0.0f);
    EXPECT_EQ(out[3].g, 0.0f);
    EXPECT_EQ(out[3].b, 0.0f);
    EXPECT_EQ(out[3].a, 0.0f);
  }
}

TEST(DxtEncode, DitherAlternatesOnSmoothGradient) {
  // A gentle horizontal ramp in green between two ramp entries.
  Block16 t;
  for (int i = 0; i < 16; ++i) {
    const float g = 0.40f + 0.01f * static_cast<float>(i % 4);
    t[i] = {0.0f, g, 0.0f, 1.0f};
  }
  t[0].g = 0.30f;  // widen the endpoints so the ramp has real steps
  t[15].g = 0.55f;
  uint8_t plain[8], dithered[8];
  EncodeDxt1Block(plain, t.data(), false);
  EncodeDxt1Block(dithered, t.data(), true);
  // Without dither the inner pixels of a row land in runs; with dither some
  // neighbouring pixels of the same row take different codes.
  int plainChanges = 0, ditherChanges = 0;
  for (int row = 1; row < 3; ++row)
    for (int x = 0; x < 3; ++x) {
      plainChanges += colorCode(plain, 4 * row + x) != colorCode(plain, 4 * row + x + 1);
      ditherChanges += colorCode(dithered, 4 * row + x) != colorCode(dithered, 4 * row + x + 1);
    }
  EXPECT_GT(ditherChanges, plainChanges);
  // The dithered block's mean green stays close to the source's.
  Block16 a, b;
  DecodeDxt1Block(a.data(), dithered);
  DecodeDxt1Block(b.data(), plain);
  float src = 0, dit = 0;
  for (int i = 0; i < 16; ++i) {
    src += t[i].g;
    dit += a[i].g;
  }
  EXPECT_NEAR(dit / 16, src / 16, 0.01f);
}

TEST(DxtEncode, RandomBlocksDecodeClose) {
  std::mt19937 rng(1234);
  struct Fmt {
    BlockEncodeFn enc;
    BlockDecodeFn dec;
    bool alpha;
  };
  const Fmt fmts[] = {{EncodeDxt1Block, DecodeDxt1Block, false},
                      {EncodeDxt3Block, DecodeDxt3Block, true},
                      {EncodeDxt5Block, DecodeDxt5Block, true}};
  for (const Fmt& f : fmts) {
    double se = 0, seA = 0;
    for (int n = 0; n < 500; ++n) {
      for (bool dither : {false, true}) {
        const Block16 t = randomBlock(rng, f.alpha);
        uint8_t b[16];
        f.enc(b, t.data(), dither);
        Block16 out;
        f.dec(out.data(), b);
        for (int i = 0; i < 16; ++i) {
          se += (out[i].r - t[i].r) * (out[i].r - t[i].r) + (out[i].g - t[i].g) * (out[i].g - t[i].g) +
                (out[i].b - t[i].b) * (out[i].b - t[i].b);
          seA += (out[i].a - t[i].a) * (out[i].a - t[i].a);
        }
      }
    }
    const double rmse = std::sqrt(se / (1000.0 * 16 * 3)) * 255.0;
    const double rmseA = std::sqrt(seA / (1000.0 * 16)) * 255.0;
    // Gradients of up to half the range across a block: four colour levels
    // leave about 7 of 255; alphas are uniform noise (8 or 16 levels).
    EXPECT_LT(rmse, 8.5);
    const double alphaLimit = f.enc == EncodeDxt3Block ? 5.5 : f.alpha ? 11.0 : 0.01;
    EXPECT_LT(rmseA, alphaLimit);
  }
}

TEST(DxtEncode, SseEncoderMatchesPlainFloatBitForBit) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<float> wide(-0.5f, 1.5f), unit(0.0f, 1.0f);
  for (int n = 0; n < 4000; ++n) {
    Block16 t;
    switch (n % 4) {
      case 0: t = randomBlock(rng, true); break;  // smooth, photographic
      case 1:                                      // unrelated noise
        for (auto& c : t) c = {unit(rng), unit(rng), unit(rng), unit(rng)};
        break;
      case 2: {  // two colours only, some texels repeated
        const D3DCOLORVALUE a{unit(rng), unit(rng), unit(rng), 1}, b{unit(rng), unit(rng), unit(rng), 0.2f};
        for (int i = 0; i < 16; ++i) t[i] = (rng() & 1) ? a : b;
        break;
      }
      default:  // out of range, as float sources give
        for (auto& c : t) c = {wide(rng), wide(rng), wide(rng), wide(rng)};
    }
    for (bool alphaMode : {false, true})
      for (bool dither : {false, true}) {
        uint8_t fast[8], plain[8];
        EncodeColorBlock(fast, t.data(), alphaMode, dither);
        detail::EncodeColorBlockScalar(plain, t.data(), alphaMode, dither);
        ASSERT_EQ(std::memcmp(fast, plain, 8), 0) << n << " " << alphaMode << " " << dither;
      }
    WeightedColor pts[16];
    for (int i = 0; i < 16; ++i) pts[i] = {t[i].r * kLuminanceWeights.r, t[i].g, t[i].b * kLuminanceWeights.b};
    for (unsigned steps : {3u, 4u}) {
      WeightedColor a1, b1, a2, b2;
      OptimizeColorEndpoints(pts, steps, &a1, &b1);
      detail::OptimizeColorEndpointsScalar(pts, steps, &a2, &b2);
      ASSERT_EQ(std::memcmp(&a1, &a2, sizeof(a1)), 0) << n;
      ASSERT_EQ(std::memcmp(&b1, &b2, sizeof(b1)), 0) << n;
    }
  }
}

TEST(DxtEncode, NonFiniteInputsGiveDefinedBlocks) {
  const float nan = std::nanf(""), inf = INFINITY;
  const BlockEncodeFn encoders[] = {EncodeDxt1Block, EncodeDxt2Block, EncodeDxt3Block, EncodeDxt4Block,
                                    EncodeDxt5Block};
  const BlockDecodeFn decoders[] = {DecodeDxt1Block, DecodeDxt2Block, DecodeDxt3Block, DecodeDxt4Block,
                                    DecodeDxt5Block};
  for (int f = 0; f < 5; ++f)
    for (bool dither : {false, true})
      for (float bad : {nan, inf, -inf}) {
        Block16 t = uniform(0.3f, 0.6f, 0.2f, 0.7f);
        t[1] = {bad, 0.5f, 0.5f, 1.0f};
        t[6] = {0.1f, bad, 0.9f, bad};
        t[11].a = bad;
        uint8_t b[16];
        encoders[f](b, t.data(), dither);
        Block16 out;
        decoders[f](out.data(), b);
        for (int i = 0; i < 16; ++i) {
          EXPECT_TRUE(std::isfinite(out[i].r) && std::isfinite(out[i].g) && std::isfinite(out[i].b) &&
                      std::isfinite(out[i].a))
              << f << " " << i;
        }
        EXPECT_NEAR(out[0].g, 0.6f, 0.35f) << f;  // the finite texels still shape the block
      }
}

TEST(DxtEncode, FindRoutinesByFormat) {
  BlockFormatRoutines r{};
  ASSERT_TRUE(FindBlockFormatRoutines(D3DFMT_DXT1, &r));
  EXPECT_EQ(r.bytesPerBlock, 8u);
  EXPECT_EQ(r.encode, &EncodeDxt1Block);
  ASSERT_TRUE(FindBlockFormatRoutines(D3DFMT_DXT4, &r));
  EXPECT_EQ(r.bytesPerBlock, 16u);
  EXPECT_EQ(r.decode, &DecodeDxt4Block);
  EXPECT_FALSE(FindBlockFormatRoutines(D3DFMT_A8R8G8B8, &r));
}

}  // namespace
}  // namespace nerro::pixel
