// DXT1 and DXT5 encoding and decoding of a 1024 x 1024 photograph-like image,
// beside libsquish (range fit, cluster fit) and stb_dxt on the same pixels.
// Each benchmark reports Mpixel/s (items_per_second) and the RMSE of the
// decoded image against the source in 0..255 units (rgb_rmse, alpha_rmse).
#include <benchmark/benchmark.h>
#include <squish.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "pixel/block_codec.h"
#include "pixel/dxt_blocks.h"
#include "pixel/pixel_codec.h"

#define STB_DXT_IMPLEMENTATION
#include <stb/stb_dxt.h>

namespace {

using nerro::pixel::BlockDecodeFn;
using nerro::pixel::BlockEncodeFn;

constexpr int kSize = 1024;
constexpr int kBlocks = (kSize / 4) * (kSize / 4);

// Smooth value noise: a random lattice with cosine-eased bilinear lookup.
struct ValueNoise {
  explicit ValueNoise(uint32_t seed, int cells) : n(cells), v(size_t(cells + 1) * (cells + 1)) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (float& x : v) x = u(rng);
  }
  float at(float x, float y) const {  // x, y in [0, 1]
    const float fx = x * n, fy = y * n;
    const int ix = std::min(int(fx), n - 1), iy = std::min(int(fy), n - 1);
    auto ease = [](float t) { return 0.5f - 0.5f * std::cos(t * 3.14159265f); };
    const float tx = ease(fx - ix), ty = ease(fy - iy);
    auto g = [&](int a, int b) { return v[size_t(b) * (n + 1) + a]; };
    const float top = g(ix, iy) + (g(ix + 1, iy) - g(ix, iy)) * tx;
    const float bot = g(ix, iy + 1) + (g(ix + 1, iy + 1) - g(ix, iy + 1)) * tx;
    return top + (bot - top) * ty;
  }
  int n;
  std::vector<float> v;
};

// RGBA8 pixels of a deterministic photograph-like scene: a sky-to-ground
// gradient, octaves of correlated noise for texture, a few hard-edged
// objects, and fine grain. Alpha is a soft vignette with noisy edges.
const std::vector<uint8_t>& sourceImage() {
  static const std::vector<uint8_t> image = [] {
    std::vector<uint8_t> px(size_t(kSize) * kSize * 4);
    const ValueNoise lum[4] = {ValueNoise(1, 4), ValueNoise(2, 16), ValueNoise(3, 64), ValueNoise(4, 256)};
    const ValueNoise hue(5, 8), sat(6, 12), alpha(7, 32);
    std::mt19937 grain(8);
    std::normal_distribution<float> g(0.0f, 0.012f);
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x) {
        const float u = (x + 0.5f) / kSize, v = (y + 0.5f) / kSize;
        float L = 0.65f - 0.35f * v + 0.22f * lum[0].at(u, v) + 0.1f * lum[1].at(u, v) +
                  0.05f * lum[2].at(u, v) + 0.025f * lum[3].at(u, v);
        float cr = 0.12f * hue.at(u, v), cb = 0.12f * sat.at(u, v) - 0.08f * (1.0f - v);
        // Hard-edged objects: a dark disc, a bright bar.
        const float dx = u - 0.3f, dy = v - 0.6f;
        if (dx * dx + dy * dy < 0.015f) {
          L *= 0.35f;
          cr += 0.1f;
        }
        if (u > 0.62f && u < 0.7f && v > 0.15f && v < 0.8f) {
          L = 0.85f + 0.05f * lum[2].at(u, v);
          cb -= 0.05f;
        }
        const float rgb[3] = {L + 1.4f * cr, L - 0.34f * cb - 0.71f * cr, L + 1.77f * cb};
        uint8_t* p = &px[(size_t(y) * kSize + x) * 4];
        for (int c = 0; c < 3; ++c) {
          const float f = std::fmin(1.0f, std::fmax(0.0f, rgb[c] + g(grain)));
          p[c] = uint8_t(f * 255.0f + 0.5f);
        }
        const float r = std::sqrt((u - 0.5f) * (u - 0.5f) + (v - 0.5f) * (v - 0.5f));
        const float a = 1.0f - std::fmax(0.0f, (r - 0.3f) * 4.0f) + 0.15f * alpha.at(u, v);
        p[3] = uint8_t(std::fmin(1.0f, std::fmax(0.0f, a)) * 255.0f + 0.5f);
      }
    }
    return px;
  }();
  return image;
}

// The image as 4 x 4 tiles of RGBA8 (the peers' input) and of float colour
// (ours), block after block in row order. DXT1 runs on the opaque version
// (its one-bit alpha would turn the vignette into black corners).
struct Tiles {
  std::vector<uint8_t> rgba;          // kBlocks * 64
  std::vector<D3DCOLORVALUE> colors;  // kBlocks * 16
};
Tiles makeTiles(bool opaque) {
  Tiles t;
  const auto& img = sourceImage();
  t.rgba.resize(size_t(kBlocks) * 64);
  t.colors.resize(size_t(kBlocks) * 16);
  int b = 0;
  for (int by = 0; by < kSize / 4; ++by)
    for (int bx = 0; bx < kSize / 4; ++bx, ++b)
      for (int i = 0; i < 16; ++i) {
        const uint8_t* p = &img[((size_t(by) * 4 + i / 4) * kSize + bx * 4 + i % 4) * 4];
        uint8_t* q = &t.rgba[size_t(b) * 64 + i * 4];
        std::memcpy(q, p, 4);
        if (opaque) q[3] = 255;
        t.colors[size_t(b) * 16 + i] = {q[0] / 255.0f, q[1] / 255.0f, q[2] / 255.0f, q[3] / 255.0f};
      }
  return t;
}
const Tiles& tiles(bool opaque) {
  static const Tiles withAlpha = makeTiles(false), solid = makeTiles(true);
  return opaque ? solid : withAlpha;
}

struct Rmse {
  double rgb, alpha;
};
Rmse rmseOfBytes(const std::vector<uint8_t>& decodedTiles, bool opaque) {
  const auto& src = tiles(opaque).rgba;
  double se = 0, seA = 0;
  for (size_t i = 0; i < src.size(); i += 4) {
    for (int c = 0; c < 3; ++c) se += std::pow(double(decodedTiles[i + c]) - src[i + c], 2);
    seA += std::pow(double(decodedTiles[i + 3]) - src[i + 3], 2);
  }
  const double n = double(src.size() / 4);
  return {std::sqrt(se / (3 * n)), std::sqrt(seA / n)};
}
Rmse rmseOfColors(const std::vector<D3DCOLORVALUE>& decoded, bool opaque) {
  const auto& src = tiles(opaque).rgba;
  double se = 0, seA = 0;
  for (size_t i = 0; i < decoded.size(); ++i) {
    const D3DCOLORVALUE& d = decoded[i];
    se += std::pow(d.r * 255.0 - src[4 * i], 2) + std::pow(d.g * 255.0 - src[4 * i + 1], 2) +
          std::pow(d.b * 255.0 - src[4 * i + 2], 2);
    seA += std::pow(d.a * 255.0 - src[4 * i + 3], 2);
  }
  const double n = double(decoded.size());
  return {std::sqrt(se / (3 * n)), std::sqrt(seA / n)};
}

void report(benchmark::State& state, Rmse r, bool alpha) {
  state.SetItemsProcessed(int64_t(state.iterations()) * kSize * kSize);
  state.counters["rgb_rmse"] = r.rgb;
  if (alpha) state.counters["alpha_rmse"] = r.alpha;
}

// ---- Ours: block routines ----------------------------------------------------

void NerroEncode(benchmark::State& state, BlockEncodeFn enc, BlockDecodeFn dec, unsigned bytes) {
  const auto& t = tiles(bytes == 8);
  std::vector<uint8_t> out(size_t(kBlocks) * bytes);
  for (auto _ : state) {
    for (int b = 0; b < kBlocks; ++b) enc(&out[size_t(b) * bytes], &t.colors[size_t(b) * 16], false);
    benchmark::DoNotOptimize(out.data());
  }
  std::vector<D3DCOLORVALUE> decoded(t.colors.size());
  for (int b = 0; b < kBlocks; ++b) dec(&decoded[size_t(b) * 16], &out[size_t(b) * bytes]);
  report(state, rmseOfColors(decoded, bytes == 8), bytes == 16);
}

void NerroDecode(benchmark::State& state, BlockEncodeFn enc, BlockDecodeFn dec, unsigned bytes) {
  const auto& t = tiles(bytes == 8);
  std::vector<uint8_t> blocks(size_t(kBlocks) * bytes);
  for (int b = 0; b < kBlocks; ++b) enc(&blocks[size_t(b) * bytes], &t.colors[size_t(b) * 16], false);
  std::vector<D3DCOLORVALUE> decoded(t.colors.size());
  for (auto _ : state) {
    for (int b = 0; b < kBlocks; ++b) dec(&decoded[size_t(b) * 16], &blocks[size_t(b) * bytes]);
    benchmark::DoNotOptimize(decoded.data());
  }
  report(state, rmseOfColors(decoded, bytes == 8), bytes == 16);
}

BENCHMARK_CAPTURE(NerroEncode, Dxt1, nerro::pixel::EncodeDxt1Block, nerro::pixel::DecodeDxt1Block, 8)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(NerroEncode, Dxt5, nerro::pixel::EncodeDxt5Block, nerro::pixel::DecodeDxt5Block, 16)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(NerroDecode, Dxt1, nerro::pixel::EncodeDxt1Block, nerro::pixel::DecodeDxt1Block, 8)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(NerroDecode, Dxt5, nerro::pixel::EncodeDxt5Block, nerro::pixel::DecodeDxt5Block, 16)
    ->Unit(benchmark::kMillisecond);

// ---- Ours: the block codec's row interface ----------------------------------

nerro::pixel::PixelRegion surfaceRegion(D3DFORMAT f, std::vector<uint8_t>& mem) {
  const unsigned bytes = f == D3DFMT_DXT1 ? 8 : 16;
  mem.assign(size_t(kBlocks) * bytes, 0);
  nerro::pixel::PixelRegion r;
  r.pixels = mem.data();
  r.format = f;
  r.rowPitch = (kSize / 4) * bytes;
  r.bounds = r.box = {0, 0, kSize, kSize, 0, 1};
  return r;
}

std::vector<D3DCOLORVALUE> imageRows(bool opaque) {
  const auto& img = sourceImage();
  std::vector<D3DCOLORVALUE> rows(size_t(kSize) * kSize);
  for (size_t i = 0; i < rows.size(); ++i)
    rows[i] = {img[4 * i] / 255.0f, img[4 * i + 1] / 255.0f, img[4 * i + 2] / 255.0f,
               opaque ? 1.0f : img[4 * i + 3] / 255.0f};
  return rows;
}

void CodecEncodeRows(benchmark::State& state, D3DFORMAT f) {
  std::vector<uint8_t> mem;
  const auto region = surfaceRegion(f, mem);
  const auto rows = imageRows(f == D3DFMT_DXT1);
  std::vector<D3DCOLORVALUE> row(kSize);
  for (auto _ : state) {
    auto codec = nerro::pixel::CreatePixelCodec(region);
    for (int y = 0; y < kSize; ++y) {
      std::memcpy(row.data(), &rows[size_t(y) * kSize], kSize * sizeof(D3DCOLORVALUE));
      codec->EncodeRow(y, 0, row.data());
    }
    benchmark::DoNotOptimize(mem.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kSize * kSize);
}

void CodecDecodeRows(benchmark::State& state, D3DFORMAT f) {
  std::vector<uint8_t> mem;
  const auto region = surfaceRegion(f, mem);
  {
    auto rows = imageRows(f == D3DFMT_DXT1);
    auto codec = nerro::pixel::CreatePixelCodec(region);
    for (int y = 0; y < kSize; ++y) codec->EncodeRow(y, 0, &rows[size_t(y) * kSize]);
  }
  std::vector<D3DCOLORVALUE> row(kSize);
  for (auto _ : state) {
    auto codec = nerro::pixel::CreatePixelCodec(region);
    for (int y = 0; y < kSize; ++y) codec->DecodeRow(y, 0, row.data());
    benchmark::DoNotOptimize(row.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kSize * kSize);
}

BENCHMARK_CAPTURE(CodecEncodeRows, Dxt1, D3DFMT_DXT1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CodecEncodeRows, Dxt5, D3DFMT_DXT5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CodecDecodeRows, Dxt1, D3DFMT_DXT1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CodecDecodeRows, Dxt5, D3DFMT_DXT5)->Unit(benchmark::kMillisecond);

// ---- Peers ---------------------------------------------------------------------

void Squish(benchmark::State& state, int flags) {
  const unsigned bytes = (flags & squish::kDxt1) ? 8 : 16;
  const auto& t = tiles(bytes == 8);
  std::vector<uint8_t> out(size_t(kBlocks) * bytes);
  for (auto _ : state) {
    for (int b = 0; b < kBlocks; ++b) squish::Compress(&t.rgba[size_t(b) * 64], &out[size_t(b) * bytes], flags);
    benchmark::DoNotOptimize(out.data());
  }
  std::vector<uint8_t> decoded(t.rgba.size());
  for (int b = 0; b < kBlocks; ++b) squish::Decompress(&decoded[size_t(b) * 64], &out[size_t(b) * bytes], flags);
  report(state, rmseOfBytes(decoded, bytes == 8), bytes == 16);
}

void SquishDecode(benchmark::State& state, int flags) {
  const unsigned bytes = (flags & squish::kDxt1) ? 8 : 16;
  const auto& t = tiles(bytes == 8);
  std::vector<uint8_t> blocks(size_t(kBlocks) * bytes);
  for (int b = 0; b < kBlocks; ++b)
    squish::Compress(&t.rgba[size_t(b) * 64], &blocks[size_t(b) * bytes], flags | squish::kColourRangeFit);
  std::vector<uint8_t> decoded(t.rgba.size());
  for (auto _ : state) {
    for (int b = 0; b < kBlocks; ++b) squish::Decompress(&decoded[size_t(b) * 64], &blocks[size_t(b) * bytes], flags);
    benchmark::DoNotOptimize(decoded.data());
  }
  report(state, rmseOfBytes(decoded, bytes == 8), bytes == 16);
}

void Stb(benchmark::State& state, int alpha) {
  const unsigned bytes = alpha ? 16 : 8;
  const auto& t = tiles(!alpha);
  std::vector<uint8_t> out(size_t(kBlocks) * bytes);
  for (auto _ : state) {
    for (int b = 0; b < kBlocks; ++b)
      stb_compress_dxt_block(&out[size_t(b) * bytes], &t.rgba[size_t(b) * 64], alpha, STB_DXT_NORMAL);
    benchmark::DoNotOptimize(out.data());
  }
  std::vector<uint8_t> decoded(t.rgba.size());
  const int flags = alpha ? squish::kDxt5 : squish::kDxt1;
  for (int b = 0; b < kBlocks; ++b) squish::Decompress(&decoded[size_t(b) * 64], &out[size_t(b) * bytes], flags);
  report(state, rmseOfBytes(decoded, !alpha), alpha != 0);
}

BENCHMARK_CAPTURE(Squish, Dxt1RangeFit, squish::kDxt1 | squish::kColourRangeFit)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Squish, Dxt5RangeFit, squish::kDxt5 | squish::kColourRangeFit)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Squish, Dxt1ClusterFit, squish::kDxt1 | squish::kColourClusterFit)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(Squish, Dxt5ClusterFit, squish::kDxt5 | squish::kColourClusterFit)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(SquishDecode, Dxt1, squish::kDxt1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SquishDecode, Dxt5, squish::kDxt5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Stb, Dxt1, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Stb, Dxt5, 1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
