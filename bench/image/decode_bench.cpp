// Decode time per container for a 2048 x 2048 picture, beside stb_image on
// the same bytes where it reads the container, and libjpeg-turbo and libpng
// called directly. The pictures are made once with ImageMagick (a seeded
// plasma, so compressed sizes are those of a natural image).
#include <benchmark/benchmark.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "image/image.h"

#include <jpeglib.h>
#include <png.h>

// The peer's single-file implementation, compiled here with our flags; its
// own warnings are not ours to fix.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace {

using nerro::image::DecodedImage;

constexpr uint32_t kSize = 2048;

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) { std::memcpy(v.data() + at, &x, 4); }

// The renderer's own image: 54-byte header, 32 bits, zero alpha bytes.
std::vector<uint8_t> hostBitmap(const std::vector<uint8_t>& rgb, bool topDown) {
  std::vector<uint8_t> v(54 + static_cast<size_t>(kSize) * kSize * 4, 0);
  v[0] = 'B', v[1] = 'M';
  put32(v, 2, static_cast<uint32_t>(v.size()));
  put32(v, 10, 54);
  put32(v, 14, 40);
  put32(v, 18, kSize);
  put32(v, 22, topDown ? static_cast<uint32_t>(-static_cast<int32_t>(kSize)) : kSize);
  v[26] = 1, v[28] = 32;
  for (size_t i = 0; i < static_cast<size_t>(kSize) * kSize; ++i) {
    v[54 + 4 * i] = rgb[3 * i + 2];
    v[54 + 4 * i + 1] = rgb[3 * i + 1];
    v[54 + 4 * i + 2] = rgb[3 * i];
  }
  return v;
}

std::vector<uint8_t> dxt5Dds() {
  std::vector<uint8_t> v(128 + static_cast<size_t>(kSize) * kSize, 0);
  std::memcpy(v.data(), "DDS ", 4);
  put32(v, 4, 124);
  put32(v, 8, 0x1007);
  put32(v, 12, kSize);
  put32(v, 16, kSize);
  put32(v, 76, 32);
  put32(v, 80, 4);
  std::memcpy(v.data() + 84, "DXT5", 4);
  for (size_t i = 128; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
  return v;
}

// Container name -> file bytes; empty when ImageMagick is missing.
const std::map<std::string, std::vector<uint8_t>>& fixtures() {
  static const std::map<std::string, std::vector<uint8_t>> files = [] {
    std::map<std::string, std::vector<uint8_t>> out;
    char dirTemplate[] = "/tmp/nerro-bench-XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr) return out;
    const std::string dir = dirTemplate;
    const std::string base = dir + "/base.png";
    const std::string size = std::to_string(kSize) + "x" + std::to_string(kSize);
    if (std::system(("convert -seed 7 -size " + size + " plasma:fractal -blur 0x1 " + base).c_str()) != 0) return out;
    struct Job {
      const char* name;
      std::string options;
      const char* file;
    };
    const Job jobs[] = {
        {"bmp24", "-alpha off -type TrueColor BMP3:", "a.bmp"},
        {"tga_rle", "-alpha off -compress RLE ", "a.tga"},
        {"png_rgba", "-alpha set -channel A -fx '0.5+0.5*sin(i/40)' +channel PNG32:", "a.png"},
        {"jpeg", "-quality 90 -sampling-factor 2x2 ", "a.jpg"},
        {"hdr", "-alpha off ", "a.hdr"},
        {"pfm", "-alpha off ", "a.pfm"},
        {"ppm", "-alpha off -depth 8 ", "a.ppm"},
        {"rgb", "-alpha off -depth 8 rgb:", "a.rgb"},
    };
    for (const Job& j : jobs) {
      std::string path = dir + "/" + j.file;
      std::string opts = j.options;
      std::string prefix;
      if (size_t colon = opts.find(':'); colon != std::string::npos) {
        size_t space = opts.rfind(' ', colon);
        prefix = opts.substr(space + 1);
        opts = opts.substr(0, space + 1);
      }
      if (std::system(("convert " + base + " " + opts + prefix + path).c_str()) == 0) out[j.name] = readFile(path);
    }
    std::system(("rm -rf " + dir).c_str());
    if (out.count("rgb")) {
      out["bmp32"] = hostBitmap(out["rgb"], false);
      out["bmp32_topdown"] = hostBitmap(out["rgb"], true);
    }
    out["dds_dxt5"] = dxt5Dds();
    return out;
  }();
  return files;
}

const std::vector<uint8_t>* fixture(benchmark::State& state, const char* name) {
  auto it = fixtures().find(name);
  if (it == fixtures().end() || it->second.empty()) {
    state.SkipWithError("fixture not available (ImageMagick missing?)");
    return nullptr;
  }
  return &it->second;
}

void BM_Nerro(benchmark::State& state, const char* name) {
  const auto* file = fixture(state, name);
  if (file == nullptr) return;
  for (auto _ : state) {
    DecodedImage img;
    HRESULT hr = img.load(file->data(), static_cast<uint32_t>(file->size()), nullptr, true);
    if (hr != S_OK) {
      state.SkipWithError("decode failed");
      return;
    }
    benchmark::DoNotOptimize(img.pixels);
  }
}

void BM_Stb(benchmark::State& state, const char* name) {
  const auto* file = fixture(state, name);
  if (file == nullptr) return;
  for (auto _ : state) {
    int w, h, n;
    stbi_uc* px = stbi_load_from_memory(file->data(), static_cast<int>(file->size()), &w, &h, &n, 0);
    if (px == nullptr) {
      state.SkipWithError("stb_image failed");
      return;
    }
    benchmark::DoNotOptimize(px);
    stbi_image_free(px);
  }
}

struct JpegJump {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};

// libjpeg-turbo on its own: default settings, RGB rows into one buffer.
void BM_LibjpegDirect(benchmark::State& state) {
  const auto* file = fixture(state, "jpeg");
  if (file == nullptr) return;
  std::vector<uint8_t> out(static_cast<size_t>(kSize) * kSize * 3);
  for (auto _ : state) {
    jpeg_decompress_struct cinfo;
    JpegJump err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JpegJump*>(c->err)->jump, 1); };
    if (setjmp(err.jump)) {
      jpeg_destroy_decompress(&cinfo);
      state.SkipWithError("libjpeg failed");
      return;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file->data(), static_cast<unsigned long>(file->size()));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = out.data() + static_cast<size_t>(cinfo.output_scanline) * cinfo.output_width * 3;
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    benchmark::DoNotOptimize(out.data());
  }
}

struct PngCursor {
  const uint8_t* p;
  size_t left;
};

// libpng on its own: 8-bit RGBA rows, no transformations.
void BM_LibpngDirect(benchmark::State& state) {
  const auto* file = fixture(state, "png_rgba");
  if (file == nullptr) return;
  std::vector<uint8_t> out(static_cast<size_t>(kSize) * kSize * 4);
  std::vector<png_bytep> rows(kSize);
  for (uint32_t y = 0; y < kSize; ++y) rows[y] = out.data() + static_cast<size_t>(y) * kSize * 4;
  for (auto _ : state) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
      png_destroy_read_struct(&png, &info, nullptr);
      state.SkipWithError("libpng failed");
      return;
    }
    PngCursor cursor{file->data(), file->size()};
    png_set_read_fn(png, &cursor, [](png_structp p, png_bytep dst, size_t n) {
      auto* c = static_cast<PngCursor*>(png_get_io_ptr(p));
      if (n > c->left) png_error(p, "read error");
      std::memcpy(dst, c->p, n);
      c->p += n;
      c->left -= n;
    });
    png_read_info(png, info);
    png_read_update_info(png, info);
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_Memcpy16MiB(benchmark::State& state) {
  std::vector<uint8_t> a(16u << 20, 1), b(16u << 20);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::DoNotOptimize(b.data());
  }
}

}  // namespace

BENCHMARK_CAPTURE(BM_Nerro, bmp24, "bmp24")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stb, bmp24, "bmp24")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Nerro, bmp32, "bmp32")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stb, bmp32, "bmp32")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Nerro, bmp32_topdown, "bmp32_topdown")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Stb, bmp32_topdown, "bmp32_topdown")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Nerro, tga_rle, "tga_rle")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stb, tga_rle, "tga_rle")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Nerro, png_rgba, "png_rgba")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stb, png_rgba, "png_rgba")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibpngDirect)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Nerro, jpeg, "jpeg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stb, jpeg, "jpeg")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibjpegDirect)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Nerro, hdr, "hdr")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stb, hdr, "hdr")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Nerro, ppm, "ppm")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stb, ppm, "ppm")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Nerro, pfm, "pfm")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Nerro, dds_dxt5, "dds_dxt5")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Memcpy16MiB)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
