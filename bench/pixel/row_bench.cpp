// Row codec throughput: rows of 4096 pixels decoded to and encoded from
// float colour through CreatePixelCodec, for the common formats. The
// general per-pixel rule is measured beside the specialised loops of two
// formats, and the dithered and diffused encode paths of A8R8G8B8.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "pixel/format_table.h"
#include "pixel/pixel_codec.h"
#include "pixel/plain_formats.h"

using namespace nerro::pixel;

namespace {

constexpr uint32_t kWidth = 4096;

struct RowFixture {
  RowFixture(D3DFORMAT format, bool ordered = false, bool diffuse = false) {
    const uint32_t bpp = FindFormatDescriptor(format).bitsPerPixel / 8;
    memory.resize(size_t{kWidth} * bpp * 2);  // two rows: even and odd
    std::mt19937 rng(5);
    for (auto& b : memory) b = static_cast<uint8_t>(rng());
    if (format == D3DFMT_A16B16G16R16F) {
      for (size_t i = 1; i < memory.size(); i += 2) memory[i] &= 0x3F;  // modest halves
    }
    if (format == D3DFMT_A32B32G32R32F) {
      auto* f = reinterpret_cast<float*>(memory.data());
      for (uint32_t i = 0; i < 4 * kWidth; ++i) f[i] = static_cast<float>(rng() % 1000) / 999.0f;
    }
    PixelRegion r;
    r.pixels = memory.data();
    r.format = format;
    r.rowPitch = kWidth * bpp;
    r.box = r.bounds = {0, 0, kWidth, 2, 0, 1};
    r.orderedDither = ordered;
    r.diffuseErrors = diffuse;
    codec = CreatePixelCodec(r);
    row.resize(kWidth);
    codec->DecodeRow(0, 0, row.data());
    input = row;
  }
  std::vector<uint8_t> memory;
  std::unique_ptr<PixelCodec> codec;
  std::vector<D3DCOLORVALUE> row, input;
};

// items_per_second is pixels per second.
void Finish(benchmark::State& state) { state.SetItemsProcessed(state.iterations() * kWidth); }

void BM_Decode(benchmark::State& state, D3DFORMAT format) {
  RowFixture f(format);
  for (auto _ : state) {
    f.codec->DecodeRow(0, 0, f.row.data());
    benchmark::DoNotOptimize(f.row.data());
    benchmark::ClobberMemory();
  }
  Finish(state);
}

void BM_Encode(benchmark::State& state, D3DFORMAT format, bool ordered, bool diffuse) {
  RowFixture f(format, ordered, diffuse);
  uint32_t y = 0;
  for (auto _ : state) {
    // The codec may overwrite its input row; refresh it outside the count.
    state.PauseTiming();
    f.row = f.input;
    state.ResumeTiming();
    f.codec->EncodeRow(y++ & 1, 0, f.row.data());
    benchmark::DoNotOptimize(f.memory.data());
    benchmark::ClobberMemory();
  }
  Finish(state);
}

void BM_EncodeNoRefresh(benchmark::State& state, D3DFORMAT format) {
  // Formats whose codec leaves the input row alone (no luminance, no range
  // or gamma conversion): no refresh needed, so no timer pauses.
  RowFixture f(format);
  for (auto _ : state) {
    f.codec->EncodeRow(0, 0, f.row.data());
    benchmark::DoNotOptimize(f.memory.data());
    benchmark::ClobberMemory();
  }
  Finish(state);
}

template <class F>
void BM_GeneralDecode(benchmark::State& state, D3DFORMAT format) {
  RowFixture f(format);
  for (auto _ : state) {
    detail::GenericDecodeRow<F>(f.memory.data(), f.row.data(), kWidth);
    benchmark::DoNotOptimize(f.row.data());
    benchmark::ClobberMemory();
  }
  Finish(state);
}

template <class F>
void BM_GeneralEncode(benchmark::State& state, D3DFORMAT format) {
  RowFixture f(format);
  for (auto _ : state) {
    detail::GenericEncodeRow<F>(f.row.data(), f.memory.data(), kWidth, kPlainDitherTable[0]);
    benchmark::DoNotOptimize(f.memory.data());
    benchmark::ClobberMemory();
  }
  Finish(state);
}

#define ROW_FORMAT(name)                                             \
  BENCHMARK_CAPTURE(BM_Decode, name, D3DFMT_##name);                 \
  BENCHMARK_CAPTURE(BM_EncodeNoRefresh, name, D3DFMT_##name);

ROW_FORMAT(A8R8G8B8)
ROW_FORMAT(X8R8G8B8)
ROW_FORMAT(R5G6B5)
ROW_FORMAT(A1R5G5B5)
ROW_FORMAT(A16B16G16R16F)
ROW_FORMAT(A32B32G32R32F)
ROW_FORMAT(V8U8)
BENCHMARK_CAPTURE(BM_Decode, L8, D3DFMT_L8);
BENCHMARK_CAPTURE(BM_Encode, L8, D3DFMT_L8, false, false);
BENCHMARK_CAPTURE(BM_Decode, A8L8, D3DFMT_A8L8);
BENCHMARK_CAPTURE(BM_Encode, A8L8, D3DFMT_A8L8, false, false);
BENCHMARK_CAPTURE(BM_Encode, A8R8G8B8_ordered, D3DFMT_A8R8G8B8, true, false);
BENCHMARK_CAPTURE(BM_Encode, A8R8G8B8_diffused, D3DFMT_A8R8G8B8, false, true);
void BM_GeneralDecode_A8R8G8B8(benchmark::State& s) { BM_GeneralDecode<detail::fmt::A8R8G8B8>(s, D3DFMT_A8R8G8B8); }
void BM_GeneralEncode_A8R8G8B8(benchmark::State& s) { BM_GeneralEncode<detail::fmt::A8R8G8B8>(s, D3DFMT_A8R8G8B8); }
void BM_GeneralDecode_R5G6B5(benchmark::State& s) { BM_GeneralDecode<detail::fmt::R5G6B5>(s, D3DFMT_R5G6B5); }
void BM_GeneralEncode_R5G6B5(benchmark::State& s) { BM_GeneralEncode<detail::fmt::R5G6B5>(s, D3DFMT_R5G6B5); }
BENCHMARK(BM_GeneralDecode_A8R8G8B8);
BENCHMARK(BM_GeneralEncode_A8R8G8B8);
BENCHMARK(BM_GeneralDecode_R5G6B5);
BENCHMARK(BM_GeneralEncode_R5G6B5);

}  // namespace

BENCHMARK_MAIN();
