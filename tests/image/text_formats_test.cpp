// PPM (P3, P6), PFM and Radiance RGBE: header parsing, scaling, row order,
// run-length scanlines, rejections, and files written by netpbm and
// ImageMagick.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "support.h"

namespace {

using namespace imagetest;
using nerro::image::FileHdr;
using nerro::image::FilePfm;
using nerro::image::FilePpm;
using nerro::image::ImageInfo;

std::vector<uint8_t> bytesOf(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

HRESULT load(DecodedImage& img, const std::vector<uint8_t>& bytes, ImageInfo* info = nullptr) {
  return img.load(bytes.data(), static_cast<uint32_t>(bytes.size()), info, true);
}

uint32_t pixel32(const DecodedImage& img, size_t i) {
  uint32_t v;
  std::memcpy(&v, img.pixels + 4 * i, 4);
  return v;
}

const float* floats(const DecodedImage& img) { return reinterpret_cast<const float*>(img.pixels); }

TEST(Ppm, TextAndBinarySamples) {
  struct Case {
    std::string data;
    std::vector<uint32_t> pixels;
  };
  const Case cases[] = {
      {"P3\n2 1\n255\n255 0 0\n0 0 255\n", {0xFFFF0000, 0xFF0000FF}},
      {"P3 1 1 65535 65535 0 32768", {0xFFFF007F}},
      {"P3 2 # comment\n 1 # another one\n255 1 2 3 4 5 6 7 8 9", {0xFF010203, 0xFF040506}},
      {std::string("P6 2 1 15\n") + char(15) + char(7) + char(0) + char(1) + char(2) + char(3),
       {0xFFFF7700, 0xFF112233}},
      {std::string("P6 1 1 255\r\n") + char(9) + char(8) + char(7), {0xFF090807}},
  };
  for (const Case& c : cases) {
    DecodedImage img;
    ImageInfo info{};
    ASSERT_EQ(load(img, bytesOf(c.data), &info), S_OK) << c.data;
    EXPECT_EQ(info.fileFormat, FilePpm);
    EXPECT_EQ(img.format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(img.rowPitch, img.width * 4);
    for (size_t i = 0; i < c.pixels.size(); ++i) EXPECT_EQ(pixel32(img, i), c.pixels[i]) << c.data << " " << i;
  }
}

TEST(Ppm, Rejections) {
  const std::string cases[] = {
      "P6 1 1 256\n\x01\x02\x03",  // binary samples wider than a byte
      "P3 2 1 255 1 2 3 4 5",      // data ends before the last pixel
      "P3 1 1 255 # comment to the end",
      "P3 1 x 255 1 2 3",
      "P3 0 1 255 1 2 3",
      "P3 1 1 0 1 2 3",
      "P6 2 2 255\n\x01\x02\x03",
      "P3",
  };
  for (const std::string& c : cases) {
    DecodedImage img;
    img.wantPixels = true;
    EXPECT_EQ(img.decodePpm(reinterpret_cast<const uint8_t*>(c.data()), static_cast<uint32_t>(c.size())), E_FAIL)
        << c;
  }
}

std::vector<uint8_t> floatBytes(std::initializer_list<float> values, bool bigEndian) {
  std::vector<uint8_t> out;
  for (float f : values) {
    uint8_t b[4];
    std::memcpy(b, &f, 4);
    if (bigEndian) std::swap(b[0], b[3]), std::swap(b[1], b[2]);
    out.insert(out.end(), b, b + 4);
  }
  return out;
}

TEST(Pfm, GreyAndColourRowsBottomUp) {
  auto grey = Bytes().str("Pf\n1 2\n-1.0\n").append(floatBytes({0.25f, 0.75f}, false)).v;
  DecodedImage g;
  ImageInfo info{};
  ASSERT_EQ(load(g, grey, &info), S_OK);
  EXPECT_EQ(info.fileFormat, FilePfm);
  EXPECT_EQ(g.format, D3DFMT_A32B32G32R32F);
  EXPECT_EQ(g.rowPitch, 16u);
  const float expected[8] = {0.75f, 0.75f, 0.75f, 1.0f, 0.25f, 0.25f, 0.25f, 1.0f};
  EXPECT_EQ(0, std::memcmp(g.pixels, expected, sizeof expected));

  // Positive scale: big-endian floats; the scale's size is not applied.
  auto colour = Bytes().str("PF\n2 1\n4.5\n").append(floatBytes({1, 2, 3, 4, 5, 6}, true)).v;
  DecodedImage c;
  ASSERT_EQ(load(c, colour), S_OK);
  const float expectedColour[8] = {1, 2, 3, 1, 4, 5, 6, 1};
  EXPECT_EQ(0, std::memcmp(c.pixels, expectedColour, sizeof expectedColour));
}

TEST(Pfm, Rejections) {
  const std::string cases[] = {
      "Pf\n1 2 3\n-1.0\n",  // a third word on the size line
      "Pf\n\n-1.0\n",       // empty size line
      "Pf\n1 1\n-1.0 x\n",  // a second word on the scale line
      "Pf\n1 1\n-1.0\n\x01\x02",
      "PF 1 1\n-1.0\n",
      "Pf\n1 1",
      "Pf\n0 -1\n1.0\n@",  // empty: width 0 (with a height of 2^32 - 1)
      "Pf\n4 0\n1.0\n@",
  };
  for (const std::string& c : cases) {
    std::vector<uint8_t> bytes = bytesOf(c);
    DecodedImage img;
    img.wantPixels = true;
    EXPECT_EQ(img.decodePfm(bytes.data(), static_cast<uint32_t>(bytes.size())), E_FAIL) << c;
  }
  auto truncated = Bytes().str("PF\n2 1\n-1\n").append(floatBytes({1, 2, 3, 4, 5}, false)).v;
  DecodedImage t;
  EXPECT_EQ(t.decodePfm(truncated.data(), static_cast<uint32_t>(truncated.size())), E_FAIL);
}

std::vector<uint8_t> hdr(const std::string& header, const std::vector<uint8_t>& body) {
  return Bytes().str(header).append(body).v;
}

TEST(Hdr, HeaderExposureAndConversion) {
  const std::string base = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n";
  auto one = hdr(base + "\n-Y 1 +X 1\n", {128, 64, 32, 129});
  DecodedImage img;
  ImageInfo info{};
  ASSERT_EQ(load(img, one, &info), S_OK);
  EXPECT_EQ(info.fileFormat, FileHdr);
  EXPECT_EQ(img.format, D3DFMT_A32B32G32R32F);
  const float expected[4] = {1.00390625f, 0.50390625f, 0.25390625f, 1.0f};
  EXPECT_EQ(0, std::memcmp(img.pixels, expected, sizeof expected));

  auto exposed = hdr(base + "EXPOSURE=2\nEXPOSURE= 4\n\n-Y 1 +X 1\n", {128, 64, 32, 129});
  DecodedImage e;
  ASSERT_EQ(load(e, exposed), S_OK);
  EXPECT_FLOAT_EQ(floats(e)[0], 1.00390625f / 8);

  // An exponent of 0 is not special.
  auto zero = hdr(base + "\n-Y 1 +X 1\n", {0, 0, 0, 0});
  DecodedImage z;
  ASSERT_EQ(load(z, zero), S_OK);
  EXPECT_EQ(floats(z)[0], static_cast<float>(std::ldexp(0.5, -136)));

  auto xyze = hdr("#?RADIANCE\nFORMAT=32-bit_rle_xyze\n\n-Y 1 +X 1\n", {1, 2, 3, 130});
  DecodedImage x;
  EXPECT_EQ(load(x, xyze), S_OK);
}

TEST(Hdr, Rejections) {
  const std::vector<uint8_t> px = {1, 2, 3, 128};
  const std::string cases[] = {
      "#?RADIANCE\n\n-Y 1 +X 1\n",                               // no FORMAT line
      "#?RADIANCE\nFORMAT=32-bit_rle_abcd\n\n-Y 1 +X 1\n",       // unknown format
      "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1 -Y 1\n",       // one axis twice
      "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Z 1 +X 1\n",       // no such axis
      "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 0 +X 1\n",       // empty picture
      "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=x\n\n-Y 1 +X 1\n",
      "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 2 +X 1\n",       // second scanline missing
  };
  for (const std::string& c : cases) {
    auto bytes = hdr(c, px);
    DecodedImage img;
    img.wantPixels = true;
    EXPECT_EQ(img.decodeHdr(bytes.data(), static_cast<uint32_t>(bytes.size())), E_FAIL) << c;
    EXPECT_EQ(img.pixels, nullptr);
  }
}

// The red channel of every pixel, scaled back to the byte it was written as.
std::vector<int> reds(const DecodedImage& img) {
  std::vector<int> out;
  for (uint32_t i = 0; i < img.width * img.height; ++i)
    out.push_back(static_cast<int>(std::lround(floats(img)[4 * i] * 256.0f - 0.5f)));
  return out;
}

TEST(Hdr, ScanlinesAndOrientation) {
  const std::string base = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n";
  struct Case {
    const char* what;
    std::string resolution;
    std::vector<uint8_t> body;
    std::vector<int> reds;  // buffer order, row by row
  };
  const Case cases[] = {
      {"flat scanline", "-Y 1 +X 3\n", {1, 0, 0, 128, 2, 0, 0, 128, 3, 0, 0, 128}, {1, 2, 3}},
      {"old-style repeat", "-Y 1 +X 4\n", {5, 0, 0, 128, 1, 1, 1, 2, 6, 0, 0, 128}, {5, 5, 5, 6}},
      {"bottom-up", "+Y 2 +X 3\n", {1, 0, 0, 128, 2, 0, 0, 128, 3, 0, 0, 128, 4, 0, 0, 128, 5, 0, 0, 128, 6, 0, 0, 128},
       {4, 5, 6, 1, 2, 3}},
      {"right to left", "-Y 1 -X 2\n", {1, 0, 0, 128, 2, 0, 0, 128}, {2, 1}},
      {"columns", "+X 2 -Y 2\n", {1, 0, 0, 128, 2, 0, 0, 128, 3, 0, 0, 128, 4, 0, 0, 128}, {1, 3, 2, 4}},
      // New-style: marker 2 2 0 3, then runs per component: red literal
      // 3 values, green run of 3, blue run of 3, exponent run of 3.
      {"run-length scanline", "-Y 1 +X 3\n", {2, 2, 0, 3, 3, 7, 8, 9, 131, 0, 131, 0, 131, 128}, {7, 8, 9}},
  };
  for (const Case& c : cases) {
    auto bytes = hdr(base + c.resolution, c.body);
    DecodedImage img;
    ASSERT_EQ(load(img, bytes), S_OK) << c.what;
    EXPECT_EQ(reds(img), c.reds) << c.what;
  }

  // Two repeat markers in a row: 1 + 256 further copies.
  std::vector<uint8_t> body = {7, 0, 0, 128, 1, 1, 1, 1, 1, 1, 1, 1};
  auto bytes = hdr(base + "-Y 1 +X 258\n", body);
  DecodedImage img;
  ASSERT_EQ(load(img, bytes), S_OK);
  auto r = reds(img);
  EXPECT_EQ(std::count(r.begin(), r.end(), 7), 258);

  // A run-length marker whose length disagrees with the scanline fails.
  auto wrong = hdr(base + "-Y 1 +X 4\n", {2, 2, 0, 3, 3, 7, 8, 9, 131, 0, 131, 0, 131, 128});
  DecodedImage w;
  w.wantPixels = true;
  EXPECT_EQ(w.decodeHdr(wrong.data(), static_cast<uint32_t>(wrong.size())), E_FAIL);
}

// ---- Files made by independent tools -----------------------------------

TEST(TextFormats, MatchNetpbmAndImageMagick) {
  if (!haveCommand("convert") || !haveCommand("pamtopnm")) GTEST_SKIP() << "ImageMagick or netpbm missing";
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string pam = dir.file("pattern.pam"), png = dir.file("pattern.png");
  writePattern(pam);
  ASSERT_TRUE(run("convert " + pam + " " + png));
  auto reference = magickRgba(png, dir.file("ref.raw"));
  ASSERT_FALSE(reference.empty());
  const uint32_t w = 37;

  struct PpmCase {
    const char* name;
    std::string command;
  };
  const PpmCase ppms[] = {
      {"P6", "pamchannel -infile " + pam + " -tupletype RGB 0 1 2 | pamtopnm > " + dir.file("out.ppm")},
      {"P3", "pamchannel -infile " + pam + " -tupletype RGB 0 1 2 | pamtopnm -plain > " + dir.file("out.ppm")},
      {"P3 16-bit", "pamchannel -infile " + pam + " -tupletype RGB 0 1 2 | pamdepth 65535 | pamtopnm -plain > " + dir.file("out.ppm")},
  };
  for (const PpmCase& c : ppms) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(run(c.command)) << c.command;
    DecodedImage img;
    ASSERT_EQ(load(img, readFile(dir.file("out.ppm"))), S_OK);
    EXPECT_TRUE(samePixels(rgba8(img), reference, w, 0, false));
  }

  // Float containers: every sample is the pattern's byte / 255; RGBE keeps
  // about 8 significant bits of the largest channel.
  struct FloatCase {
    const char* name;
    std::string file;
    double tolerance;
  };
  const FloatCase floatsCases[] = {{"PFM", "out.pfm", 1e-6}, {"Radiance", "out.hdr", 1.0 / 128}};
  for (const FloatCase& c : floatsCases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(run("convert " + png + " -alpha off " + dir.file(c.file)));
    DecodedImage img;
    ImageInfo info{};
    ASSERT_EQ(load(img, readFile(dir.file(c.file)), &info), S_OK);
    ASSERT_EQ(img.width * img.height * 4, reference.size());
    int bad = 0;
    for (size_t i = 0; i < reference.size(); ++i) {
      if (i % 4 == 3) {
        bad += floats(img)[i] != 1.0f;
        continue;
      }
      bad += std::fabs(floats(img)[i] - reference[i] / 255.0) > c.tolerance;
    }
    EXPECT_EQ(bad, 0);
  }
}

}  // namespace
