#include "texture/box_fast_path.h"

#include "math/math_testing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace nerro::texture {
namespace {

struct Field {
  int shift, bits;
};

struct FormatFields {
  D3DFORMAT format;
  int bytes;
  std::vector<Field> fields;  // averaged fields; every other bit is written 0
  int onePixelAlphaBit;       // a 1-bit alpha field (-1: none)
};

// Per-field reference: (sum of the four + 2) >> 2 for each field, computed
// one field at a time.
uint32_t referenceAverage(const FormatFields& f, const uint32_t p[4]) {
  uint32_t out = 0;
  for (const Field& field : f.fields) {
    const uint32_t mask = (1u << field.bits) - 1;
    uint32_t sum = 2;
    for (int i = 0; i < 4; ++i) sum += (p[i] >> field.shift) & mask;
    out |= ((sum >> 2) & mask) << field.shift;
  }
  return out;
}

const std::vector<FormatFields>& formats() {
  static const std::vector<FormatFields> table = {
      {D3DFMT_A8R8G8B8, 4, {{0, 8}, {8, 8}, {16, 8}, {24, 8}}, -1},
      {D3DFMT_A8B8G8R8, 4, {{0, 8}, {8, 8}, {16, 8}, {24, 8}}, -1},
      {D3DFMT_X8R8G8B8, 4, {{0, 8}, {8, 8}, {16, 8}}, -1},
      {D3DFMT_X8B8G8R8, 4, {{0, 8}, {8, 8}, {16, 8}}, -1},
      {D3DFMT_R5G6B5, 2, {{0, 5}, {5, 6}, {11, 5}}, -1},
      {D3DFMT_X1R5G5B5, 2, {{0, 5}, {5, 5}, {10, 5}}, -1},
      {D3DFMT_A1R5G5B5, 2, {{0, 5}, {5, 5}, {10, 5}, {15, 1}}, 15},
      {D3DFMT_A4R4G4B4, 2, {{0, 4}, {4, 4}, {8, 4}, {12, 4}}, -1},
      {D3DFMT_R3G3B2, 1, {{0, 2}, {2, 3}, {5, 3}}, -1},
      {D3DFMT_A8, 1, {{0, 8}}, -1},
      {D3DFMT_L8, 1, {{0, 8}}, -1},
      {D3DFMT_A8R3G3B2, 2, {{0, 2}, {2, 3}, {5, 3}, {8, 8}}, -1},
      {D3DFMT_X4R4G4B4, 2, {{0, 4}, {4, 4}, {8, 4}}, -1},
      {D3DFMT_A8L8, 2, {{0, 8}, {8, 8}}, -1},
      {D3DFMT_A4L4, 1, {{0, 4}, {4, 4}}, -1},
  };
  return table;
}

uint32_t readPixel(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  std::memcpy(&v, p, bytes);
  return v;
}

TEST(BoxFastPath, EveryFormatMatchesPerFieldAverage) {
  std::mt19937 rng(7);
  for (const FormatFields& f : formats()) {
    SCOPED_TRACE(testing::Message() << "format " << f.format);
    const BoxHalveRoutine halve = boxHalveRoutine(f.format);
    ASSERT_NE(halve, nullptr);
    const uint32_t dw = 11, dh = 3, sw = 2 * dw + 1;  // odd source: last column unused
    const uint32_t sp = sw * f.bytes + 3, dp = dw * f.bytes + 5;
    std::vector<uint8_t> src(sp * (2 * dh)), dst(dp * dh, 0xAB);
    for (auto& b : src) b = static_cast<uint8_t>(rng());
    halve(src.data(), sp, dst.data(), dp, dw, dh);
    for (uint32_t y = 0; y < dh; ++y)
      for (uint32_t x = 0; x < dw; ++x) {
        uint32_t p[4];
        for (int i = 0; i < 4; ++i)
          p[i] = readPixel(&src[(2 * y + i / 2) * sp + (2 * x + i % 2) * f.bytes], f.bytes);
        ASSERT_EQ(readPixel(&dst[y * dp + x * f.bytes], f.bytes), referenceAverage(f, p)) << x << "," << y;
      }
    // Padding after each destination row is untouched.
    for (uint32_t y = 0; y < dh; ++y) EXPECT_EQ(dst[y * dp + dw * f.bytes], 0xAB);
  }
}

TEST(BoxFastPath, RoundingExamples) {
  // Bytes 0, 1, 1, 1 average to 1; so do 0, 0, 1, 1.
  const uint32_t src[4] = {0x00000000, 0x01010101, 0x01010101, 0x01010101};
  uint32_t out = 0;
  boxHalveRoutine(D3DFMT_A8R8G8B8)(reinterpret_cast<const uint8_t*>(src), 8, reinterpret_cast<uint8_t*>(&out), 4, 1, 1);
  EXPECT_EQ(out, 0x01010101u);
  const uint32_t src2[4] = {0x00000000, 0x00000000, 0x01010101, 0x01010101};
  boxHalveRoutine(D3DFMT_A8R8G8B8)(reinterpret_cast<const uint8_t*>(src2), 8, reinterpret_cast<uint8_t*>(&out), 4, 1, 1);
  EXPECT_EQ(out, 0x01010101u);
  // One alpha bit: set when at least two of the four are set.
  for (int set = 0; set <= 4; ++set) {
    uint16_t p[4] = {0, 0, 0, 0};
    for (int i = 0; i < set; ++i) p[i] = 0x8000;
    uint16_t a = 0;
    boxHalveRoutine(D3DFMT_A1R5G5B5)(reinterpret_cast<const uint8_t*>(p), 4, reinterpret_cast<uint8_t*>(&a), 2, 1, 1);
    EXPECT_EQ(a, set >= 2 ? 0x8000 : 0) << set;
  }
}

TEST(BoxFastPath, SimdEqualsPlainForEveryWidth) {
  std::mt19937 rng(11);
  for (uint32_t dw = 1; dw <= 27; ++dw) {
    const uint32_t sp = 8 * dw + 4, dp = 4 * dw;
    std::vector<uint8_t> src(sp * 4);
    for (auto& b : src) b = static_cast<uint8_t>(rng());
    using Pair = std::pair<decltype(&boxHalveArgb32Plain), decltype(&boxHalveArgb32Simd)>;
    for (auto [plain, simd] : {Pair{boxHalveArgb32Plain, boxHalveArgb32Simd}, Pair{boxHalveXrgb32Plain, boxHalveXrgb32Simd},
                               Pair{boxHalveArgb32Plain, boxHalveArgb32Avx2}, Pair{boxHalveXrgb32Plain, boxHalveXrgb32Avx2}}) {
      std::vector<uint8_t> a(dp * 2, 1), b(dp * 2, 2);
      plain(src.data(), sp, a.data(), dp, dw, 2);
      simd(src.data(), sp, b.data(), dp, dw, 2);
      EXPECT_EQ(a, b) << "width " << dw;
    }
  }
}

TEST(BoxFastPath, XByteWrittenZeroAndNoRoutineForOtherFormats) {
  const uint32_t src[4] = {0xFF102030, 0xFF102030, 0xFF102030, 0xFF102030};
  uint32_t out = 0xFFFFFFFF;
  boxHalveRoutine(D3DFMT_X8R8G8B8)(reinterpret_cast<const uint8_t*>(src), 8, reinterpret_cast<uint8_t*>(&out), 4, 1, 1);
  EXPECT_EQ(out, 0x00102030u);
  for (D3DFORMAT f : {D3DFMT_R8G8B8, D3DFMT_P8, D3DFMT_A2R10G10B10, D3DFMT_A32B32G32R32F, D3DFMT_DXT1})
    EXPECT_EQ(boxHalveRoutine(f), nullptr) << f;
}

TEST(BoxFastPath, DisableMmxSettingSelectsPlainRoutines) {
  setenv("V3OD_DisableMMX", "1", 1);
  math::testing::resetMathState();
  resetBoxHalveRoutines();
  EXPECT_EQ(chosenArgb32Routine(), &boxHalveArgb32Plain);
  unsetenv("V3OD_DisableMMX");
  math::testing::resetMathState();
  resetBoxHalveRoutines();
  const BoxHalveRoutine chosen = chosenArgb32Routine();
  if (math::isMmxAvailable()) {
    EXPECT_TRUE(chosen == &boxHalveArgb32Simd || chosen == &boxHalveArgb32Avx2);
  } else {
    EXPECT_EQ(chosen, &boxHalveArgb32Plain);
  }
  // Once chosen, the choice stays for the process.
  setenv("V3OD_DisableMMX", "1", 1);
  EXPECT_EQ(chosenArgb32Routine(), chosen);
  unsetenv("V3OD_DisableMMX");
}

}  // namespace
}  // namespace nerro::texture
