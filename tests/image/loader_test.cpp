// The loader's contract: argument checks, the order of trial, the summary,
// regions on every record, cleanup after rejections and the numeric locale.
#include <atomic>
#include <clocale>
#include <cstring>
#include <random>
#include <thread>

#include "support.h"

namespace {

using namespace imagetest;
using nerro::image::FileBmp;
using nerro::image::FileDds;
using nerro::image::FilePfm;
using nerro::image::ImageInfo;

std::vector<uint8_t> rendererBmp(uint32_t w, uint32_t h) {
  Bytes b;
  b.str("BM").u32(54 + w * h * 4).u32(0).u32(54);
  b.u32(40).u32(w).u32(h).u16(1).u16(32).u32(0).u32(w * h * 4).u32(0).u32(0).u32(0).u32(0);
  for (uint32_t i = 0; i < w * h; ++i) b.u32(0x00102030 + i);
  return b.v;
}

void expectOwnsNothing(const DecodedImage& img) {
  EXPECT_EQ(img.pixels, nullptr);
  EXPECT_EQ(img.palette, nullptr);
  EXPECT_FALSE(img.ownsPixels);
  EXPECT_FALSE(img.ownsPalette);
  EXPECT_EQ(img.nextLevel, nullptr);
  EXPECT_EQ(img.nextFace, nullptr);
}

TEST(Loader, RejectsMissingDataAndZeroSize) {
  auto bmp = rendererBmp(2, 2);
  ImageInfo info{};
  DecodedImage a, b;
  EXPECT_EQ(a.load(bmp.data(), 0, &info, true), D3DERR_INVALIDCALL);
  EXPECT_EQ(b.load(nullptr, 100, &info, true), D3DERR_INVALIDCALL);
  expectOwnsNothing(a);
}

TEST(Loader, NothingWantedReadsNothing) {
  // The bytes are garbage; with neither a summary nor pixels wanted the
  // loader answers at once.
  std::vector<uint8_t> garbage(64, 0xAB);
  DecodedImage img;
  EXPECT_EQ(img.load(garbage.data(), static_cast<uint32_t>(garbage.size()), nullptr, false), S_OK);
  EXPECT_EQ(img.format, D3DFMT_UNKNOWN);
  expectOwnsNothing(img);
}

TEST(Loader, RendererBitmapIsTakenAsBmp) {
  auto bmp = rendererBmp(3, 2);
  ImageInfo info{};
  DecodedImage img;
  ASSERT_EQ(img.load(bmp.data(), static_cast<uint32_t>(bmp.size()), &info, true), S_OK);
  EXPECT_EQ(info.fileFormat, FileBmp);
  EXPECT_EQ(info.mipLevels, 1u);
  EXPECT_EQ(info.resourceType, D3DRTYPE_TEXTURE);
  EXPECT_EQ(info.width, 3u);
  EXPECT_EQ(info.height, 2u);
  EXPECT_EQ(info.depth, 1u);
  EXPECT_EQ(info.format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(img.region.Right, 3u);
  EXPECT_EQ(img.region.Bottom, 2u);
  EXPECT_EQ(img.region.Back, 1u);
  EXPECT_EQ(img.region.Left + img.region.Top + img.region.Front, 0u);
}

TEST(Loader, HeaderOnlyLoadSummarisesWithoutPixels) {
  auto bmp = rendererBmp(4, 4);
  ImageInfo info{};
  DecodedImage img;
  ASSERT_EQ(img.load(bmp.data(), static_cast<uint32_t>(bmp.size()), &info, false), S_OK);
  EXPECT_EQ(info.width, 4u);
  EXPECT_EQ(img.pixels, nullptr);
}

TEST(Loader, RandomBytesAreInvalidDataAndLeaveNothingOwned) {
  std::mt19937 rng(1234);
  for (uint32_t size : {1u, 13u, 18u, 54u, 129u, 1000u, 5000u}) {
    for (int round = 0; round < 20; ++round) {
      std::vector<uint8_t> bytes(size);
      for (auto& b : bytes) b = static_cast<uint8_t>(rng());
      DecodedImage img;
      ImageInfo info{};
      HRESULT hr = img.load(bytes.data(), size, &info, true);
      if (hr == S_OK) continue;  // random bytes may form a tiny valid TGA or DIB
      EXPECT_EQ(hr, ERR_INVALIDDATA);
      expectOwnsNothing(img);
    }
  }
}

TEST(Loader, RejectedAttemptsFreeWhatTheyAllocated) {
  // P6 allocates its buffer once the size is known and then runs out of
  // data; every later decoder rejects too. ASan checks the buffer is freed.
  std::string ppm = "P6 2 2 255\n";
  std::vector<uint8_t> bytes(ppm.begin(), ppm.end());
  bytes.insert(bytes.end(), 11, 7);
  DecodedImage img;
  ImageInfo info{};
  EXPECT_EQ(img.load(bytes.data(), static_cast<uint32_t>(bytes.size()), &info, true), ERR_INVALIDDATA);
  expectOwnsNothing(img);
}

std::vector<uint8_t> cubeDds(uint32_t size, uint32_t levels) {
  Bytes b;
  b.str("DDS ").u32(124).u32(0x1007 | 0x20000).u32(size).u32(size).u32(0).u32(0).u32(levels);
  b.fill(44, 0);
  b.u32(32).u32(0x41).u32(0).u32(32).u32(0xFF0000).u32(0xFF00).u32(0xFF).u32(0xFF000000);
  b.u32(0x401008).u32(0xFE00).u32(0).u32(0).u32(0);
  for (int face = 0; face < 6; ++face)
    for (uint32_t l = 0, s = size; l < levels; ++l, s = s > 1 ? s / 2 : 1) b.fill(s * s * 4, static_cast<uint8_t>(face));
  return b.v;
}

TEST(Loader, CubeMapReportsLevelsAndSetsEveryRegion) {
  auto dds = cubeDds(8, 4);
  ImageInfo info{};
  DecodedImage img;
  ASSERT_EQ(img.load(dds.data(), static_cast<uint32_t>(dds.size()), &info, true), S_OK);
  EXPECT_EQ(info.fileFormat, FileDds);
  EXPECT_EQ(info.mipLevels, 4u);
  EXPECT_EQ(info.resourceType, D3DRTYPE_CUBETEXTURE);
  int records = 0, faces = 0;
  for (const DecodedImage* face = &img; face != nullptr; face = face->nextFace.get(), ++faces) {
    EXPECT_EQ(face->pixels[0], faces);
    for (const DecodedImage* level = face; level != nullptr; level = level->nextLevel.get()) {
      ++records;
      EXPECT_EQ(level->region.Right, level->width);
      EXPECT_EQ(level->region.Bottom, level->height);
      EXPECT_EQ(level->region.Back, level->depth);
    }
  }
  EXPECT_EQ(faces, 6);
  EXPECT_EQ(records, 24);
}

std::vector<uint8_t> greyPfm() {
  Bytes b;
  b.str("Pf\n1 2\n-1.0\n");
  float v[2] = {0.25f, 0.75f};
  uint8_t raw[8];
  std::memcpy(raw, v, 8);
  b.v.insert(b.v.end(), raw, raw + 8);
  return b.v;
}

// Compiles a locale with a decimal comma into `dir`; false when the system
// cannot.
bool makeCommaLocale(const TempDir& dir) {
  return run("localedef -i de_DE -f UTF-8 '" + dir.file("de_DE.UTF-8") + "'");
}

TEST(Loader, DecimalCommaLocaleNeitherBreaksParsingNorChanges) {
  TempDir dir;
  if (!dir.ok() || !makeCommaLocale(dir)) GTEST_SKIP() << "no way to build a decimal-comma locale";
  setenv("LOCPATH", dir.file("").c_str(), 1);
  const char* set = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  unsetenv("LOCPATH");
  if (set == nullptr) GTEST_SKIP() << "locale not loadable";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);

  auto pfm = greyPfm();
  // Other threads keep seeing the comma while loads run.
  std::atomic<bool> stop{false}, sawChange{false};
  std::thread watcher([&] {
    while (!stop.load()) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.1f", 1.5);
      if (std::strcmp(buf, "1,5") != 0) sawChange = true;
    }
  });
  for (int i = 0; i < 200; ++i) {
    DecodedImage img;
    ImageInfo info{};
    ASSERT_EQ(img.load(pfm.data(), static_cast<uint32_t>(pfm.size()), &info, true), S_OK);
    ASSERT_EQ(info.fileFormat, FilePfm);
    ASSERT_EQ(reinterpret_cast<const float*>(img.pixels)[0], 0.75f);
  }
  stop = true;
  watcher.join();
  EXPECT_FALSE(sawChange.load());
  EXPECT_EQ(before, std::setlocale(LC_NUMERIC, nullptr));
  EXPECT_STREQ(std::localeconv()->decimal_point, ",");
  std::setlocale(LC_NUMERIC, "C");
}

}  // namespace
