// The specialised row loops must give exactly what the general per-pixel
// rule gives, on every input.
#include "pixel/row_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "pixel/plain_formats.h"
#include "platform/platform.h"

using namespace nerro::pixel;
using namespace nerro::pixel::detail;

namespace {

template <class F>
void ExpectDecodeMatches(D3DFORMAT format, KernelTier tier) {
  const RowKernels k = FindRowKernels(format, tier);
  if (tier == KernelTier::kAvx2 && !nerro::platform::cpuFeatures().avx2) return;
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
  for (uint32_t n : {count, count - 1, count - 5, 3u, 1u}) {
    std::vector<D3DCOLORVALUE> fast(n), general(n);
    k.decode(src.data(), fast.data(), n);
    GenericDecodeRow<F>(src.data(), general.data(), n);
    ASSERT_EQ(std::memcmp(fast.data(), general.data(), n * sizeof(D3DCOLORVALUE)), 0)
        << std::hex << format << " n " << std::dec << n;
  }
}

template <class F>
void ExpectEncodeMatches(D3DFORMAT format, KernelTier tier) {
  const RowKernels k = FindRowKernels(format, tier);
  if (tier == KernelTier::kAvx2 && !nerro::platform::cpuFeatures().avx2) return;
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
    for (uint32_t count : {n, n - 3, n - 7, 2u}) {
      std::vector<uint8_t> fast(size_t{count} * F::kBytes + 8, 0xCC), general = fast;
      k.encode(in.data(), fast.data(), count, dither);
      GenericEncodeRow<F>(in.data(), general.data(), count, dither);
      ASSERT_EQ(fast, general) << std::hex << format << " count " << std::dec << count
                               << " dither " << dither[0];
    }
  }
}

// Both the SSE2 and (where the processor has it) the AVX2 loops.
template <class F>
void ExpectMatches(D3DFORMAT format) {
  for (KernelTier tier : {KernelTier::kSse2, KernelTier::kAvx2}) {
    SCOPED_TRACE(testing::Message() << std::hex << format << " tier " << int(tier));
    ExpectDecodeMatches<F>(format, tier);
    ExpectEncodeMatches<F>(format, tier);
  }
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

namespace {

template <class F>
void ExpectDiffusionMatches(const char* name) {
  SCOPED_TRACE(name);
  constexpr uint32_t w = 37, rows = 6;
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> dist(-1.3f, 1.3f);
  std::vector<D3DCOLORVALUE> in(w * rows);
  for (auto& c : in) c = {dist(rng), dist(rng), dist(rng), dist(rng)};
  in[5].g = std::numeric_limits<float>::quiet_NaN();
  in[40].r = std::numeric_limits<float>::infinity();
  for (const DitherTable* table : {&kPlainDitherTable, &kOrderedDitherTable}) {
    for (bool diffuse : {true, false}) {
      std::vector<uint8_t> a(w * F::kBytes * rows, 0xCC), b = a;
      std::vector<D3DCOLORVALUE> ea(w + 2, D3DCOLORVALUE{0, 0, 0, 0}), eb = ea;
      for (uint32_t y = 0; y < rows; ++y) {
        // Each loop gets its own copy of the row with the previous errors
        // added, as the codec does.
        std::vector<D3DCOLORVALUE> ra(in.begin() + y * w, in.begin() + (y + 1) * w), rb = ra;
        for (uint32_t x = 0; x < w; ++x) {
          ra[x].r += ea[x + 1].r; ra[x].g += ea[x + 1].g; ra[x].b += ea[x + 1].b; ra[x].a += ea[x + 1].a;
          rb[x].r += eb[x + 1].r; rb[x].g += eb[x + 1].g; rb[x].b += eb[x + 1].b; rb[x].a += eb[x + 1].a;
        }
        std::fill(ea.begin(), ea.end(), D3DCOLORVALUE{0, 0, 0, 0});
        std::fill(eb.begin(), eb.end(), D3DCOLORVALUE{0, 0, 0, 0});
        EncodeSerpentine<F>(ra.data(), a.data() + y * w * F::kBytes, w, y, y / 2, *table,
                            diffuse ? ea.data() : nullptr);
        EncodeSerpentineSse2<F>(rb.data(), b.data() + y * w * F::kBytes, w, y, y / 2, *table,
                                diffuse ? eb.data() : nullptr);
        ASSERT_EQ(a, b) << "row " << y;
        ASSERT_EQ(std::memcmp(ea.data(), eb.data(), ea.size() * sizeof(D3DCOLORVALUE)), 0)
            << "errors after row " << y;
      }
    }
  }
}

}  // namespace

TEST(RowKernels, VectorDiffusionLoopMatchesTheGeneralRule) {
  ExpectDiffusionMatches<fmt::A8R8G8B8>("A8R8G8B8");
  ExpectDiffusionMatches<fmt::R5G6B5>("R5G6B5");
  ExpectDiffusionMatches<fmt::A1R5G5B5>("A1R5G5B5");
  ExpectDiffusionMatches<fmt::R3G3B2>("R3G3B2");
  ExpectDiffusionMatches<fmt::R8G8B8>("R8G8B8");
  ExpectDiffusionMatches<fmt::L16>("L16");
  ExpectDiffusionMatches<fmt::R16>("R16");
  ExpectDiffusionMatches<fmt::A16B16G16R16>("A16B16G16R16");
  ExpectDiffusionMatches<fmt::V8U8>("V8U8");
  ExpectDiffusionMatches<fmt::L6V5U5>("L6V5U5");
  ExpectDiffusionMatches<fmt::Q8W8V8U8>("Q8W8V8U8");
  ExpectDiffusionMatches<fmt::A2W10V10U10>("A2W10V10U10");
  ExpectDiffusionMatches<fmt::Q16W16V16U16>("Q16W16V16U16");
}
