// JPEG through libjpeg: formats and pitches, libjpeg's own output as the
// reference, the memory layer's backing store, truncation, silent errors and
// files written by ImageMagick and Pillow.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "image/jpeg_memory.h"
#include "jpeg_support.h"

namespace {

using namespace imagetest;
using nerro::image::FileJpg;
using nerro::image::ImageInfo;

HRESULT load(DecodedImage& img, const std::vector<uint8_t>& bytes, ImageInfo* info = nullptr, bool want = true) {
  return img.load(bytes.data(), static_cast<uint32_t>(bytes.size()), info, want);
}

HRESULT decodeJpg(DecodedImage& img, const std::vector<uint8_t>& bytes, bool want = true) {
  img.wantPixels = want;
  return img.decodeJpg(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

TEST(Jpeg, ColourAndGreyFormats) {
  auto colour = encodeJpeg(testSamples(3, 2, 3), 3, 2, 3, false);
  DecodedImage c;
  ImageInfo info{};
  ASSERT_EQ(load(c, colour, &info), S_OK);
  EXPECT_EQ(info.fileFormat, FileJpg);
  EXPECT_EQ(c.format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(c.rowPitch, 12u);
  EXPECT_TRUE(c.ownsPixels);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(c.pixels[4 * i + 3], 0) << i;
  EXPECT_TRUE(sameAsReference(c, referenceDecode(colour)));

  auto grey = encodeJpeg(testSamples(13, 5, 1), 13, 5, 1, false);
  DecodedImage g;
  ASSERT_EQ(load(g, grey), S_OK);
  EXPECT_EQ(g.format, D3DFMT_L8);
  EXPECT_EQ(g.rowPitch, 13u);
  EXPECT_TRUE(sameAsReference(g, referenceDecode(grey)));
}

TEST(Jpeg, BaselineAndProgressiveMatchLibjpeg) {
  for (bool progressive : {false, true})
    for (uint32_t size : {17u, 301u}) {
      auto file = encodeJpeg(testSamples(size, size / 2 + 3, 3), size, size / 2 + 3, 3, progressive, 75);
      DecodedImage img;
      ASSERT_EQ(decodeJpg(img, file), S_OK);
      EXPECT_TRUE(sameAsReference(img, referenceDecode(file))) << progressive << " " << size;
    }
}

TEST(Jpeg, LargeProgressiveImageSpillsToTemporaryFiles) {
  // A progressive image keeps every coefficient until the last scan; at
  // 1200 x 1200 that is far beyond the 1,310,720 bytes of working memory.
  const uint32_t w = 1200, h = 1200;
  auto file = encodeJpeg(testSamples(w, h, 3), w, h, 3, true, 80);
  const uint64_t before = nerro::image::detail::jpegBackingStoresOpened();
  DecodedImage img;
  ASSERT_EQ(decodeJpg(img, file), S_OK);
  EXPECT_GT(nerro::image::detail::jpegBackingStoresOpened(), before);
  EXPECT_TRUE(sameAsReference(img, referenceDecode(file)));
}

TEST(Jpeg, HugeDeclaredSizeWithLittleDataFailsBeforeAnyBackingStore) {
  // A small progressive file whose frame header claims 60000 x 60000: the
  // data cannot hold that many blocks, so it fails at once instead of
  // spilling whole-image buffers to temporary files.
  auto file = encodeJpeg(testSamples(16, 16, 3), 16, 16, 3, true, 80);
  bool patched = false;
  for (size_t i = 0; i + 8 < file.size(); ++i)
    if (file[i] == 0xFF && (file[i + 1] == 0xC2 || file[i + 1] == 0xC0)) {
      file[i + 5] = 0xEA;  // height 60000
      file[i + 6] = 0x60;
      file[i + 7] = 0xEA;  // width 60000
      file[i + 8] = 0x60;
      patched = true;
      break;
    }
  ASSERT_TRUE(patched);
  const uint64_t before = nerro::image::detail::jpegBackingStoresOpened();
  for (bool want : {false, true}) {
    DecodedImage img;
    ImageInfo info{};
    EXPECT_NE(load(img, file, &info, want), S_OK);
    EXPECT_EQ(img.pixels, nullptr);
  }
  EXPECT_EQ(nerro::image::detail::jpegBackingStoresOpened(), before);
}

TEST(Jpeg, HeaderOnlyStartsButReadsNoPixels) {
  auto file = encodeJpeg(testSamples(40, 30, 3), 40, 30, 3, false);
  DecodedImage img;
  ImageInfo info{};
  ASSERT_EQ(load(img, file, &info, false), S_OK);
  EXPECT_EQ(info.width, 40u);
  EXPECT_EQ(info.format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(img.pixels, nullptr);
}

// Runs `body` with standard error sent to a file; returns what was written.
template <typename F>
std::string captureStderr(F body) {
  std::fflush(stderr);
  char path[] = "/tmp/nerro-stderr-XXXXXX";
  int fd = mkstemp(path);
  int saved = dup(2);
  dup2(fd, 2);
  body();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  auto text = readFile(path);
  close(fd);
  unlink(path);
  return std::string(text.begin(), text.end());
}

TEST(Jpeg, BrokenDataFailsSilentlyAndNeverLoops) {
  auto file = encodeJpeg(testSamples(64, 48, 3), 64, 48, 3, false);
  auto progressive = encodeJpeg(testSamples(64, 48, 3), 64, 48, 3, true);
  std::vector<std::vector<uint8_t>> cases;
  cases.push_back({'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'});
  cases.emplace_back(file.begin(), file.begin() + file.size() / 2);  // cut inside the scan
  cases.emplace_back(file.begin(), file.begin() + 200);               // cut inside the tables
  cases.emplace_back(progressive.begin(), progressive.begin() + progressive.size() * 2 / 3);
  // An APP1 segment whose length runs far past the end: the skip must stop
  // at the end of the data.
  cases.push_back({0xFF, 0xD8, 0xFF, 0xE1, 0x7F, 0xFF, 1, 2, 3});
  std::string output = captureStderr([&] {
    for (const auto& c : cases) {
      DecodedImage img;
      EXPECT_EQ(decodeJpg(img, c), E_FAIL) << c.size();
    }
  });
  EXPECT_EQ(output, "");
}

TEST(Jpeg, MatchesImageMagickAndPillowFiles) {
  if (!haveCommand("convert")) GTEST_SKIP() << "ImageMagick missing";
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string pam = dir.file("pattern.pam"), src = dir.file("pattern.png"), out = dir.file("out.jpg");
  writePattern(pam, 77, 45);
  ASSERT_TRUE(run("convert " + pam + " -alpha off " + src));
  struct Case {
    const char* name;
    std::string command;
    D3DFORMAT format;  // D3DFMT_UNKNOWN: rejected
  };
  std::vector<Case> cases = {
      {"IM baseline 4:2:0", "convert " + src + " -quality 85 -sampling-factor 2x2 " + out, D3DFMT_X8R8G8B8},
      {"IM progressive 4:4:4", "convert " + src + " -interlace Plane -sampling-factor 1x1 " + out, D3DFMT_X8R8G8B8},
      {"IM grey", "convert " + src + " -colorspace Gray " + out, D3DFMT_L8},
      {"IM restart markers", "convert " + src + " -define jpeg:restart-interval=1 " + out, D3DFMT_X8R8G8B8},
      {"IM CMYK", "convert " + src + " -colorspace CMYK " + out, D3DFMT_UNKNOWN},
  };
  if (havePillow())
    cases.push_back({"Pillow progressive",
                     "/usr/bin/python3 -c \"from PIL import Image; Image.open('" + src + "').save('" + out +
                         "', progressive=True, quality=70)\"",
                     D3DFMT_X8R8G8B8});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(run(c.command)) << c.command;
    auto file = readFile(out);
    DecodedImage img;
    if (c.format == D3DFMT_UNKNOWN) {
      EXPECT_EQ(decodeJpg(img, file), E_FAIL);
      continue;
    }
    ImageInfo info{};
    ASSERT_EQ(load(img, file, &info), S_OK);
    EXPECT_EQ(info.fileFormat, FileJpg);
    EXPECT_EQ(img.format, c.format);
    EXPECT_TRUE(sameAsReference(img, referenceDecode(file)));
  }
}

}  // namespace
