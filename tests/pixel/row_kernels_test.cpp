// The specialised row loops must give exactly what the general per-pixel
// rule gives, on every input.
#include "pixel/row_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "pixel/plain_formats.h"

using namespace nerro::pixel;
using namespace nerro::pixel::detail;

namespace {

template <class F>
void ExpectDecodeMatches(D3DFORMAT format) {
  const RowKernels k = FindRowKernels(format);
  ASSERT_NE(k.decode, nullptr) << format;
  // Every 8- and 16-bit code; a random sample of 32-bit codes plus extremes.
  const uint32_t count = F::kBytes == 4 ? 1u << 18 : 1u << (8 * F::kBytes);
  std::vector<uint8_t> src(size_t{count} * F::kBytes);
  std::mt19937 rng(77);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t v = F::kBytes == 4 ? static_cast<uint32_t>(rng()) : i;
    if (F::kBytes == 4 && i < 16) v = i & 1 ? 0xFFFFFFFFu : 0x80008000u * (i >> 1 & 1);
    std::memcpy(&src[size_t{i} * F::kBytes], &v, F::kBytes);
  }
  // Odd counts exercise the tail.
  for (uint32_t n : {count, count - 1, 3u, 1u}) {
    std::vector<D3DCOLORVALUE> fast(n), general(n);
    k.decode(src.data(), fast.data(), n);
    GenericDecodeRow<F>(src.data(), general.data(), n);
    ASSERT_EQ(std::memcmp(fast.data(), general.data(), n * sizeof(D3DCOLORVALUE)), 0)
        << std::hex << format << " n " << std::dec << n;
  }
}

template <class F>
void ExpectEncodeMatches(D3DFORMAT format) {
  const RowKernels k = FindRowKernels(format);
  ASSERT_NE(k.encode, nullptr) << format;
  const uint32_t n = 1u << 16;
  std::vector<D3DCOLORVALUE> in(n);
  std::mt19937 rng(99);
  std::uniform_real_distribution<float> wide(-1.5f, 1.5f);
  const float specials[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, -0.5f,
                            std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(), 1e30f, -1e30f};
  for (uint32_t i = 0; i < n; ++i) {
    float c[4];
    for (float& v : c) {
      const uint32_t pick = rng() % 8;
      if (pick == 0) {
        v = specials[rng() % std::size(specials)];
      } else if (pick == 1) {
        // Exactly on a rounding boundary of some field: (m + 0.5) / scale.
        const float scales[] = {1, 3, 7, 15, 31, 63, 127, 255, 1023, 32767, 65535};
        const float s = scales[rng() % std::size(scales)];
        v = (std::floor(wide(rng) * s) + 0.5f) / s;
      } else {
        v = wide(rng);
      }
    }
    in[i] = {c[0], c[1], c[2], c[3]};
  }
  const float dithers[][4] = {{0.5f, 0.5f, 0.5f, 0.5f},
                              {31 / 32.0f, 15 / 32.0f, 27 / 32.0f, 11 / 32.0f},
                              {17 / 32.0f, 5 / 32.0f, 21 / 32.0f, 1 / 32.0f}};
  for (const auto& dither : dithers) {
    for (uint32_t count : {n, n - 3, 2u}) {
      std::vector<uint8_t> fast(size_t{count} * F::kBytes + 8, 0xCC), general = fast;
      k.encode(in.data(), fast.data(), count, dither);
      GenericEncodeRow<F>(in.data(), general.data(), count, dither);
      ASSERT_EQ(fast, general) << std::hex << format << " count " << std::dec << count
                               << " dither " << dither[0];
    }
  }
}

template <class F>
void ExpectMatches(D3DFORMAT format) {
  SCOPED_TRACE(testing::Message() << std::hex << format);
  ExpectDecodeMatches<F>(format);
  ExpectEncodeMatches<F>(format);
}

}  // namespace

TEST(RowKernels, ThirtyTwoBitFormatsMatchTheGeneralRule) {
  ExpectMatches<fmt::A8R8G8B8>(D3DFMT_A8R8G8B8);
  ExpectMatches<fmt::X8R8G8B8>(D3DFMT_X8R8G8B8);
  ExpectMatches<fmt::A8B8G8R8>(D3DFMT_A8B8G8R8);
  ExpectMatches<fmt::X8B8G8R8>(D3DFMT_X8B8G8R8);
  ExpectMatches<fmt::A2R10G10B10>(D3DFMT_A2R10G10B10);
  ExpectMatches<fmt::A2B10G10R10>(D3DFMT_A2B10G10R10);
  ExpectMatches<fmt::G16R16>(D3DFMT_G16R16);
  ExpectMatches<fmt::AL16>(D3DFMT_INTERNAL_AL16);
  ExpectMatches<fmt::X8L8V8U8>(D3DFMT_X8L8V8U8);
  ExpectMatches<fmt::Q8W8V8U8>(D3DFMT_Q8W8V8U8);
  ExpectMatches<fmt::V16U16>(D3DFMT_V16U16);
  ExpectMatches<fmt::A2W10V10U10>(D3DFMT_A2W10V10U10);
}

TEST(RowKernels, SixteenAndEightBitFormatsMatchTheGeneralRuleExhaustively) {
  ExpectMatches<fmt::R5G6B5>(D3DFMT_R5G6B5);
  ExpectMatches<fmt::X1R5G5B5>(D3DFMT_X1R5G5B5);
  ExpectMatches<fmt::A1R5G5B5>(D3DFMT_A1R5G5B5);
  ExpectMatches<fmt::A4R4G4B4>(D3DFMT_A4R4G4B4);
  ExpectMatches<fmt::X4R4G4B4>(D3DFMT_X4R4G4B4);
  ExpectMatches<fmt::A8R3G3B2>(D3DFMT_A8R3G3B2);
  ExpectMatches<fmt::A8L8>(D3DFMT_A8L8);
  ExpectMatches<fmt::L16>(D3DFMT_L16);
  ExpectMatches<fmt::L16>(D3DFMT_D16_LOCKABLE);
  ExpectMatches<fmt::V8U8>(D3DFMT_V8U8);
  ExpectMatches<fmt::L6V5U5>(D3DFMT_L6V5U5);
  ExpectMatches<fmt::R3G3B2>(D3DFMT_R3G3B2);
  ExpectMatches<fmt::A8>(D3DFMT_A8);
  ExpectMatches<fmt::L8>(D3DFMT_L8);
  ExpectMatches<fmt::A4L4>(D3DFMT_A4L4);
}
