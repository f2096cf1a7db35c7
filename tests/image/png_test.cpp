// PNG: formats by colour type and depth, transparency, palettes with gamma,
// truncation and trailing chunks; files written here through libpng and by
// Pillow and ImageMagick.
#include <png.h>

#include <cmath>
#include <cstring>

#include "support.h"

namespace {

using namespace imagetest;
using nerro::image::FilePng;
using nerro::image::ImageInfo;

struct PngSpec {
  uint32_t width = 3, height = 2;
  int colourType = PNG_COLOR_TYPE_RGB;
  int bitDepth = 8;
  std::vector<png_color> palette;
  std::vector<uint8_t> trans;           // palette alphas
  png_color_16 transColour{};           // grey or RGB transparent colour
  bool hasTransColour = false;
  double gamma = 0;                     // written as gAMA when nonzero
  bool srgb = false;
  std::vector<uint8_t> rows;            // packed rows as libpng takes them
};

void appendToVector(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

std::vector<uint8_t> writePng(const PngSpec& s) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    ADD_FAILURE() << "libpng could not write the fixture";
    return {};
  }
  png_set_write_fn(png, &out, appendToVector, nullptr);
  png_set_IHDR(png, info, s.width, s.height, s.bitDepth, s.colourType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
  if (!s.trans.empty()) png_set_tRNS(png, info, s.trans.data(), static_cast<int>(s.trans.size()), nullptr);
  if (s.hasTransColour) png_set_tRNS(png, info, nullptr, 0, &s.transColour);
  if (s.gamma != 0) png_set_gAMA(png, info, s.gamma);
  if (s.srgb) png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
  png_write_info(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  for (uint32_t y = 0; y < s.height; ++y) png_write_row(png, s.rows.data() + y * rowBytes);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

HRESULT load(DecodedImage& img, const std::vector<uint8_t>& bytes, ImageInfo* info = nullptr) {
  return img.load(bytes.data(), static_cast<uint32_t>(bytes.size()), info, true);
}

TEST(Png, RgbBecomesBgrxOrBgraWithTransparentColour) {
  PngSpec s;
  s.rows = {10, 20, 30, 1, 2, 3, 10, 20, 30, 4, 5, 6, 7, 8, 9, 10, 20, 30};
  auto file = writePng(s);
  DecodedImage img;
  ImageInfo info{};
  ASSERT_EQ(load(img, file, &info), S_OK);
  EXPECT_EQ(info.fileFormat, FilePng);
  EXPECT_EQ(img.format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(img.rowPitch, 12u);
  EXPECT_TRUE(img.ownsPixels);
  const uint8_t first[8] = {30, 20, 10, 255, 3, 2, 1, 255};
  EXPECT_EQ(0, std::memcmp(img.pixels, first, 8));

  s.hasTransColour = true;
  s.transColour.red = 10, s.transColour.green = 20, s.transColour.blue = 30;
  auto keyed = writePng(s);
  DecodedImage k;
  ASSERT_EQ(load(k, keyed), S_OK);
  EXPECT_EQ(k.format, D3DFMT_A8R8G8B8);
  const uint8_t alphas[6] = {0, 255, 0, 255, 255, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(k.pixels[4 * i + 3], alphas[i]) << i;
  EXPECT_EQ(k.pixels[4], 3);
}

TEST(Png, GreyDepths) {
  PngSpec one;
  one.colourType = PNG_COLOR_TYPE_GRAY;
  one.bitDepth = 1;
  one.width = 8;
  one.height = 1;
  one.rows = {0xA5};
  DecodedImage a;
  ASSERT_EQ(load(a, writePng(one)), S_OK);
  EXPECT_EQ(a.format, D3DFMT_L8);
  EXPECT_EQ(a.rowPitch, 8u);
  const uint8_t expected[8] = {255, 0, 255, 0, 0, 255, 0, 255};
  EXPECT_EQ(0, std::memcmp(a.pixels, expected, 8));

  PngSpec sixteen;
  sixteen.colourType = PNG_COLOR_TYPE_GRAY;
  sixteen.bitDepth = 16;
  sixteen.width = 2;
  sixteen.height = 1;
  sixteen.rows = {0x12, 0x34, 0xAB, 0xCD};  // big-endian in the file
  DecodedImage b;
  ASSERT_EQ(load(b, writePng(sixteen)), S_OK);
  EXPECT_EQ(b.format, D3DFMT_L16);
  const uint8_t le[4] = {0x34, 0x12, 0xCD, 0xAB};
  EXPECT_EQ(0, std::memcmp(b.pixels, le, 4));

  sixteen.hasTransColour = true;
  sixteen.transColour.gray = 0xABCD;
  DecodedImage c;
  ImageInfo info{};
  ASSERT_EQ(load(c, writePng(sixteen), &info), S_OK);
  EXPECT_EQ(c.format, D3DFMT_INTERNAL_AL16);
  EXPECT_EQ(info.format, D3DFMT_A8L8);
  const uint8_t al[8] = {0x34, 0x12, 0xFF, 0xFF, 0xCD, 0xAB, 0, 0};
  EXPECT_EQ(0, std::memcmp(c.pixels, al, 8));

  PngSpec greyAlpha16 = sixteen;
  greyAlpha16.hasTransColour = false;
  greyAlpha16.colourType = PNG_COLOR_TYPE_GRAY_ALPHA;
  greyAlpha16.width = 1;
  DecodedImage d;
  ASSERT_EQ(load(d, writePng(greyAlpha16), &info), S_OK);
  EXPECT_EQ(d.format, D3DFMT_INTERNAL_AL16);
  EXPECT_EQ(info.format, D3DFMT_A8L8);
}

TEST(Png, SixteenBitColourKeepsItsOrders) {
  PngSpec rgb;
  rgb.bitDepth = 16;
  rgb.width = 1;
  rgb.height = 1;
  rgb.rows = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  DecodedImage a;
  ASSERT_EQ(load(a, writePng(rgb)), S_OK);
  EXPECT_EQ(a.format, D3DFMT_INTERNAL_R16);
  const uint8_t bgr[6] = {0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
  EXPECT_EQ(0, std::memcmp(a.pixels, bgr, 6));

  PngSpec rgba = rgb;
  rgba.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
  rgba.rows = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  DecodedImage b;
  ASSERT_EQ(load(b, writePng(rgba)), S_OK);
  EXPECT_EQ(b.format, D3DFMT_A16B16G16R16);
  const uint8_t rgbaLe[8] = {0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x08, 0x07};
  EXPECT_EQ(0, std::memcmp(b.pixels, rgbaLe, 8));
}

PngSpec palette4() {
  PngSpec s;
  s.colourType = PNG_COLOR_TYPE_PALETTE;
  s.bitDepth = 4;
  s.width = 3;
  s.height = 1;
  s.palette = {{200, 100, 50}, {10, 20, 30}, {255, 128, 0}};
  s.rows = {0x01, 0x20};
  return s;
}

TEST(Png, PaletteWithTransparency) {
  PngSpec s = palette4();
  s.trans = {0, 77};
  DecodedImage img;
  ASSERT_EQ(load(img, writePng(s)), S_OK);
  ASSERT_EQ(img.format, D3DFMT_P8);
  EXPECT_TRUE(img.ownsPalette);
  const uint8_t indices[3] = {0, 1, 2};
  EXPECT_EQ(0, std::memcmp(img.pixels, indices, 3));
  const PALETTEENTRY* p = img.palette;
  EXPECT_TRUE(p[0].peRed == 200 && p[0].peGreen == 100 && p[0].peBlue == 50 && p[0].peFlags == 0);
  EXPECT_TRUE(p[1].peRed == 10 && p[1].peFlags == 77);
  EXPECT_TRUE(p[2].peRed == 255 && p[2].peGreen == 128 && p[2].peFlags == 255);
  for (int i = 3; i < 256; ++i)
    ASSERT_TRUE(p[i].peRed == 255 && p[i].peGreen == 255 && p[i].peBlue == 255 && p[i].peFlags == 255) << i;
}

TEST(Png, PaletteGammaIsAppliedOnce) {
  struct Case {
    double gamma;
    bool srgb;
  };
  const Case cases[] = {{1 / 2.2, false}, {1.0, false}, {0.8, false}, {1 / 2.2, true}, {0, false}};
  for (const Case& c : cases) {
    PngSpec s = palette4();
    s.gamma = c.gamma;
    s.srgb = c.srgb;
    DecodedImage img;
    ASSERT_EQ(load(img, writePng(s)), S_OK);
    for (int i = 0; i < 3; ++i) {
      const png_color& src = s.palette[i];
      auto corrected = [&](int v) {
        if (c.srgb || c.gamma == 0) return v;
        // The file stores gamma in units of 1/100000.
        double fileGamma = std::lround(c.gamma * 100000) / 100000.0;
        return static_cast<int>(std::pow(v / 255.0, 1.0 / (2.2 * fileGamma)) * 255.0 + 0.5);
      };
      EXPECT_EQ(img.palette[i].peRed, corrected(src.red)) << c.gamma << " " << i;
      EXPECT_EQ(img.palette[i].peGreen, corrected(src.green)) << c.gamma << " " << i;
      EXPECT_EQ(img.palette[i].peBlue, corrected(src.blue)) << c.gamma << " " << i;
    }
  }
}

TEST(Png, TruncationFailsTrailingDataIsIgnored) {
  PngSpec s;
  s.width = 64;
  s.height = 64;
  s.rows.resize(64 * 64 * 3);
  for (size_t i = 0; i < s.rows.size(); ++i) s.rows[i] = static_cast<uint8_t>(i * 7 % 251);
  auto file = writePng(s);
  ASSERT_GT(file.size(), 200u);

  // Cut inside the image data (before the IEND chunk's 12 bytes).
  std::vector<uint8_t> cut(file.begin(), file.end() - 200);
  DecodedImage c;
  c.wantPixels = true;
  EXPECT_EQ(c.decodePng(cut.data(), static_cast<uint32_t>(cut.size())), E_FAIL);
  DecodedImage viaLoader;
  EXPECT_EQ(load(viaLoader, cut), ERR_INVALIDDATA);
  EXPECT_EQ(viaLoader.pixels, nullptr);

  // A text chunk with a broken CRC after the image data, then garbage.
  std::vector<uint8_t> tail(file.begin(), file.end() - 12);  // drop IEND
  Bytes chunk;
  chunk.u8(0).u8(0).u8(0).u8(4).str("tEXtabcd").u32(0xDEADBEEF);
  tail.insert(tail.end(), chunk.v.begin(), chunk.v.end());
  tail.insert(tail.end(), file.end() - 12, file.end());
  tail.insert(tail.end(), 100, 0x5A);
  DecodedImage t;
  ASSERT_EQ(load(t, tail), S_OK);
  DecodedImage whole;
  ASSERT_EQ(load(whole, file), S_OK);
  EXPECT_EQ(0, std::memcmp(t.pixels, whole.pixels, whole.rowPitch * whole.height));

  // Not a PNG at all: the signature test rejects it before libpng runs.
  std::vector<uint8_t> notPng(file);
  notPng[1] = 'Q';
  DecodedImage n;
  EXPECT_EQ(n.decodePng(notPng.data(), static_cast<uint32_t>(notPng.size())), E_FAIL);
}

TEST(Png, HeaderOnlyReadsNoPixels) {
  PngSpec s;
  s.rows.resize(18, 1);
  auto file = writePng(s);
  DecodedImage img;
  ImageInfo info{};
  ASSERT_EQ(img.load(file.data(), static_cast<uint32_t>(file.size()), &info, false), S_OK);
  EXPECT_EQ(info.format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(img.pixels, nullptr);
  EXPECT_EQ(img.rowPitch, 12u);
}

TEST(Png, MatchesPillowAndImageMagick) {
  if (!haveCommand("convert")) GTEST_SKIP() << "ImageMagick missing";
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string pam = dir.file("pattern.pam"), src = dir.file("pattern.png"), out = dir.file("out.png");
  writePattern(pam);
  ASSERT_TRUE(run("convert " + pam + " " + src));
  struct Case {
    const char* name;
    std::string command;
    D3DFORMAT format;
    bool sixteen;
  };
  // ImageMagick takes the output's sub-format as a prefix of its name.
  auto im = [&](const std::string& options, const std::string& prefix = "") {
    return "convert " + src + " " + options + " " + prefix + out;
  };
  std::vector<Case> cases = {
      {"grey 1", im("-alpha off -colorspace Gray -define png:bit-depth=1 -define png:color-type=0"), D3DFMT_L8, false},
      {"grey 2", im("-alpha off -colorspace Gray -define png:bit-depth=2 -define png:color-type=0"), D3DFMT_L8, false},
      {"grey 4", im("-alpha off -colorspace Gray -define png:bit-depth=4 -define png:color-type=0"), D3DFMT_L8, false},
      {"grey 8", im("-alpha off -colorspace Gray -define png:bit-depth=8 -define png:color-type=0"), D3DFMT_L8, false},
      {"grey 16", im("-alpha off -colorspace Gray -depth 16 -define png:color-type=0"), D3DFMT_L16, true},
      {"grey alpha 8", im("-colorspace Gray -define png:bit-depth=8 -define png:color-type=4"), D3DFMT_A8L8, false},
      {"grey alpha 16", im("-colorspace Gray -depth 16 -define png:color-type=4"), D3DFMT_INTERNAL_AL16, true},
      {"RGB 8", im("-alpha off", "PNG24:"), D3DFMT_X8R8G8B8, false},
      {"RGBA 8", im("", "PNG32:"), D3DFMT_A8R8G8B8, false},
      {"RGB 16", im("-alpha off -depth 16", "PNG48:"), D3DFMT_INTERNAL_R16, true},
      {"RGBA 16", im("-depth 16", "PNG64:"), D3DFMT_A16B16G16R16, true},
      {"palette 8", im("-alpha off -colors 100", "PNG8:"), D3DFMT_P8, false},
  };
  if (havePillow()) {
    auto pil = [&](const std::string& convert, const std::string& args) {
      return "/usr/bin/python3 -c \"from PIL import Image; Image.open('" + src + "')" + convert + ".save('" + out +
             "'" + args + ")\"";
    };
    cases.push_back({"Pillow palette 4", pil(".convert('RGB').quantize(12)", ", bits=4"), D3DFMT_P8, false});
    cases.push_back({"Pillow palette tRNS", pil(".convert('RGB').quantize(12)", ", transparency=bytes([0,80,160])"),
                     D3DFMT_P8, false});
    cases.push_back({"Pillow RGB tRNS", pil(".convert('RGB')", ", transparency=(0,0,200)"), D3DFMT_A8R8G8B8, false});
    cases.push_back({"Pillow LA", pil(".convert('LA')", ""), D3DFMT_A8L8, false});
    cases.push_back({"Pillow interlaced", pil(".convert('RGBA')", ", interlace=1"), D3DFMT_A8R8G8B8, false});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(run(c.command)) << c.command;
    auto file = readFile(out);
    DecodedImage img;
    ImageInfo info{};
    ASSERT_EQ(load(img, file, &info), S_OK);
    EXPECT_EQ(info.fileFormat, FilePng);
    EXPECT_EQ(img.format, c.format);
    if (c.sixteen) {
      ASSERT_TRUE(run("convert '" + out + "' -depth 16 -endian LSB rgba:'" + dir.file("ref.raw") + "'"));
      auto raw = readFile(dir.file("ref.raw"));
      std::vector<uint16_t> reference(raw.size() / 2);
      std::memcpy(reference.data(), raw.data(), raw.size());
      EXPECT_TRUE(samePixels(rgba16(img), reference, img.width));
    } else {
      auto reference = havePillow() ? pillowRgba(out, dir.file("ref.raw")) : magickRgba(out, dir.file("ref.raw"));
      EXPECT_TRUE(samePixels(rgba8(img), reference, img.width));
    }
  }
}

}  // namespace
