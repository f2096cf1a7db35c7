// BMP files and bare DIBs: hand-made fixtures for the rules, and files
// written by ImageMagick and Pillow compared with those tools' own reading.
#include <cstring>

#include "support.h"

namespace {

using namespace imagetest;
using nerro::image::FileBmp;
using nerro::image::FileDib;
using nerro::image::ImageInfo;

struct DibHeader {
  uint32_t headerSize = 40;
  int32_t width = 4;
  int32_t height = 2;
  uint32_t bits = 32;
  uint32_t compression = 0;
  uint32_t colours = 0;
  uint32_t masks[4] = {0, 0, 0, 0};
};

std::vector<uint8_t> dib(const DibHeader& s, const std::vector<uint8_t>& table, const std::vector<uint8_t>& pixels) {
  Bytes b;
  if (s.headerSize == 12) {
    b.u32(12).u16(static_cast<uint16_t>(s.width)).u16(static_cast<uint16_t>(s.height)).u16(1).u16(s.bits);
  } else {
    b.u32(s.headerSize).u32(s.width).u32(s.height).u16(1).u16(s.bits).u32(s.compression).u32(0).u32(0).u32(0);
    b.u32(s.colours).u32(0);
    for (uint32_t i = 0; i < 4 && 40 + 4 * i < s.headerSize; ++i) b.u32(s.masks[i]);
    while (b.v.size() < s.headerSize) b.u8(0);
  }
  return b.append(table).append(pixels).v;
}

std::vector<uint8_t> bmp(const std::vector<uint8_t>& dibBytes, uint32_t storedSize = 0) {
  Bytes b;
  b.str("BM").u32(storedSize ? storedSize : static_cast<uint32_t>(dibBytes.size() + 14)).u32(0).u32(0);
  return b.append(dibBytes).v;
}

HRESULT loadBytes(DecodedImage& img, const std::vector<uint8_t>& bytes, ImageInfo* info = nullptr) {
  return img.load(bytes.data(), static_cast<uint32_t>(bytes.size()), info, true);
}

std::vector<uint8_t> pixels32(uint32_t count, uint32_t alphaAt = ~0u) {
  Bytes b;
  for (uint32_t i = 0; i < count; ++i) b.u32((i == alphaAt ? 0x01000000u : 0u) | (0x10 * (i + 1)));
  return b.v;
}

TEST(Bmp, RendererImageIsCopiedBottomUp) {
  DibHeader s;  // 4 x 2, 32 bits, bottom-up, alpha all zero
  auto file = bmp(dib(s, {}, pixels32(8)));
  DecodedImage img;
  ASSERT_EQ(loadBytes(img, file), S_OK);
  EXPECT_EQ(img.format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(img.rowPitch, 16u);
  EXPECT_TRUE(img.ownsPixels);
  // The first file row (pixels 0..3) is the last buffer row.
  EXPECT_EQ(0, std::memcmp(img.pixels + 16, file.data() + 54, 16));
  EXPECT_EQ(0, std::memcmp(img.pixels, file.data() + 54 + 16, 16));
}

TEST(Bmp, OneNonzeroAlphaByteMakesItA8R8G8B8) {
  DibHeader s;
  auto file = bmp(dib(s, {}, pixels32(8, 6)));
  DecodedImage img;
  ASSERT_EQ(loadBytes(img, file), S_OK);
  EXPECT_EQ(img.format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(0, std::memcmp(img.pixels, file.data() + 54 + 16, 16));  // alpha byte kept as is
  EXPECT_EQ(img.pixels[2 * 4 + 3], 1);
  // The header-only load reaches the same format.
  DecodedImage header;
  ImageInfo info{};
  ASSERT_EQ(header.load(file.data(), static_cast<uint32_t>(file.size()), &info, false), S_OK);
  EXPECT_EQ(info.format, D3DFMT_A8R8G8B8);
}

TEST(Bmp, TopDownImagesAreUsedInPlace) {
  DibHeader s;
  s.height = -2;
  auto file = bmp(dib(s, {}, pixels32(8)));
  DecodedImage img;
  ASSERT_EQ(loadBytes(img, file), S_OK);
  EXPECT_EQ(img.pixels, file.data() + 54);
  EXPECT_FALSE(img.ownsPixels);

  DibHeader core;  // core header, 24 bits, 3 x 4 top-down
  core.headerSize = 12;
  core.width = 3;
  core.height = -4;
  core.bits = 24;
  auto coreFile = bmp(dib(core, {}, std::vector<uint8_t>(12 * 4, 9)));
  DecodedImage c;
  ImageInfo info{};
  ASSERT_EQ(loadBytes(c, coreFile, &info), S_OK);
  EXPECT_EQ(info.fileFormat, FileBmp);
  EXPECT_EQ(c.format, D3DFMT_R8G8B8);
  EXPECT_EQ(c.height, 4u);
  EXPECT_EQ(c.rowPitch, 12u);
  EXPECT_EQ(c.pixels, coreFile.data() + 14 + 12);
}

TEST(Bmp, FileHeaderChecks) {
  DibHeader s;
  auto d = dib(s, {}, pixels32(8));
  DecodedImage img;
  auto tooLong = bmp(d, static_cast<uint32_t>(d.size() + 15));
  EXPECT_EQ(img.decodeBmp(tooLong.data(), static_cast<uint32_t>(tooLong.size())), E_FAIL);
  EXPECT_EQ(loadBytes(img, tooLong), ERR_INVALIDDATA);

  // The offset field is not consulted: pixels start after the colour table.
  auto file = bmp(d);
  file[10] = 200;
  DecodedImage moved;
  ASSERT_EQ(loadBytes(moved, file), S_OK);
  EXPECT_EQ(0, std::memcmp(moved.pixels + 16, file.data() + 54, 16));

  // Without the file header the same bytes are a bare DIB.
  DecodedImage bare;
  ImageInfo info{};
  ASSERT_EQ(loadBytes(bare, d, &info), S_OK);
  EXPECT_EQ(info.fileFormat, FileDib);
}

TEST(Bmp, HeaderAndSizeRejections) {
  struct Case {
    const char* what;
    DibHeader header;
    size_t pixelBytes;
  };
  DibHeader bitfields40;
  bitfields40.compression = 3;
  DibHeader header20;
  header20.headerSize = 20;
  DibHeader comp4;
  comp4.compression = 4;
  DibHeader bits7;
  bits7.bits = 7;
  DibHeader bitfields8;
  bitfields8.headerSize = 52;
  bitfields8.compression = 3;
  bitfields8.bits = 8;
  DibHeader zeroWidth;
  zeroWidth.width = 0;
  const Case cases[] = {
      {"bitfields need the 52-byte header", bitfields40, 32},
      {"header size between 12 and 40", header20, 32},
      {"compression 4", comp4, 32},
      {"7 bits per pixel", bits7, 32},
      {"bitfields with 8 bits", bitfields8, 32},
      {"zero width", zeroWidth, 32},
      {"one byte short", DibHeader{}, 31},
  };
  for (const Case& c : cases) {
    auto d = dib(c.header, {}, std::vector<uint8_t>(c.pixelBytes, 0));
    DecodedImage img;
    EXPECT_EQ(img.decodeDib(d.data(), static_cast<uint32_t>(d.size())), E_FAIL) << c.what;
  }
}

TEST(Bmp, BitfieldMasksPickTheFormat) {
  struct Case {
    uint32_t bits, r, g, b, a;
    D3DFORMAT format;
  };
  const Case cases[] = {
      {16, 0xE0, 0x1C, 0x3, 0xFF00, D3DFMT_A8R3G3B2},
      {16, 0xF00, 0xF0, 0xF, 0xF000, D3DFMT_A4R4G4B4},
      {16, 0xF00, 0xF0, 0xF, 0, D3DFMT_X4R4G4B4},
      {16, 0xF800, 0x7E0, 0x1F, 0, D3DFMT_R5G6B5},
      {16, 0x7C00, 0x3E0, 0x1F, 0x8000, D3DFMT_A1R5G5B5},
      {16, 0xFF, 0xFF, 0xFF, 0xFF00, D3DFMT_A8L8},
      {16, 0xFFFF, 0xFFFF, 0xFFFF, 0, D3DFMT_L16},
      {24, 0xFF0000, 0xFF00, 0xFF, 0, D3DFMT_R8G8B8},
      {32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, D3DFMT_A8R8G8B8},
      {32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000, D3DFMT_A2B10G10R10},
      {32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000, D3DFMT_A8B8G8R8},
      {32, 0xFF, 0xFF00, 0xFF0000, 0, D3DFMT_X8B8G8R8},
      {32, 0xFFFF, 0xFFFF0000, 0, 0, D3DFMT_G16R16},
      {32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000, D3DFMT_A2R10G10B10},
      {16, 0x7C00, 0x3E0, 0x1F, 0xFFFF, D3DFMT_A32B32G32R32F},
  };
  for (const Case& c : cases) {
    DibHeader s;
    s.headerSize = 56;
    s.bits = c.bits;
    s.compression = 3;
    s.masks[0] = c.r, s.masks[1] = c.g, s.masks[2] = c.b, s.masks[3] = c.a;
    s.height = -2;
    auto d = dib(s, {}, std::vector<uint8_t>(c.bits / 8 * 4 * 2, 0x5A));
    DecodedImage img;
    ASSERT_EQ(img.load(d.data(), static_cast<uint32_t>(d.size()), nullptr, true), S_OK) << c.format;
    EXPECT_EQ(img.format, c.format);
  }

  // 52-byte header: no alpha mask field.
  DibHeader s555;
  s555.headerSize = 52;
  s555.bits = 16;
  s555.compression = 3;
  s555.masks[0] = 0x7C00, s555.masks[1] = 0x3E0, s555.masks[2] = 0x1F;
  auto d = dib(s555, {}, std::vector<uint8_t>(16, 0));
  DecodedImage img;
  ASSERT_EQ(img.load(d.data(), static_cast<uint32_t>(d.size()), nullptr, true), S_OK);
  EXPECT_EQ(img.format, D3DFMT_X1R5G5B5);
}

TEST(Bmp, ColourInTheTopBytesIsReadOneByteLater) {
  DibHeader s;
  s.headerSize = 56;
  s.compression = 3;
  s.width = 2;
  s.height = -1;
  s.masks[0] = 0xFF000000, s.masks[1] = 0xFF0000, s.masks[2] = 0xFF00;
  // Pixels stored as (x, b, g, r) bytes: X B G R -> one byte later is B G R x.
  auto d = dib(s, {}, {0, 0x11, 0x22, 0x33, 0, 0x44, 0x55, 0x66, 0});
  DecodedImage img;
  ASSERT_EQ(img.load(d.data(), static_cast<uint32_t>(d.size()), nullptr, true), S_OK);
  EXPECT_EQ(img.format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(img.pixels, d.data() + 57);
  EXPECT_EQ(img.pixels[0], 0x11);
  EXPECT_EQ(img.pixels[4], 0x44);
}

TEST(Bmp, UnknownMasksConvertToFloat) {
  DibHeader s;
  s.headerSize = 52;
  s.compression = 3;
  s.bits = 24;
  s.width = 2;
  s.height = 1;
  s.masks[0] = 0xFF, s.masks[1] = 0xFF00, s.masks[2] = 0xFF0000;
  auto d = dib(s, {}, {255, 0, 51, 0, 255, 102, 0, 0});
  DecodedImage img;
  ASSERT_EQ(img.load(d.data(), static_cast<uint32_t>(d.size()), nullptr, true), S_OK);
  ASSERT_EQ(img.format, D3DFMT_A32B32G32R32F);
  EXPECT_EQ(img.rowPitch, 32u);
  const float* f = reinterpret_cast<const float*>(img.pixels);
  const float expected[8] = {1.0f, 0.0f, 0.2f, 1.0f, 0.0f, 1.0f, 0.4f, 1.0f};
  for (int i = 0; i < 8; ++i) EXPECT_FLOAT_EQ(f[i], expected[i]) << i;

  // Only an alpha mask: colour reads black.
  s.bits = 16;
  s.headerSize = 56;
  s.masks[0] = s.masks[1] = s.masks[2] = 0;
  s.masks[3] = 0xFF;
  auto a = dib(s, {}, {0x80, 0, 0xFF, 0});
  DecodedImage alphaOnly;
  ASSERT_EQ(alphaOnly.load(a.data(), static_cast<uint32_t>(a.size()), nullptr, true), S_OK);
  f = reinterpret_cast<const float*>(alphaOnly.pixels);
  EXPECT_EQ(f[0] + f[1] + f[2], 0.0f);
  EXPECT_FLOAT_EQ(f[3], 128.0f / 255.0f);
  EXPECT_FLOAT_EQ(f[7], 1.0f);
}

TEST(Bmp, PaletteFromTheColourTable) {
  DibHeader s;
  s.bits = 8;
  s.colours = 2;
  s.width = 4;
  s.height = 1;
  auto d = bmp(dib(s, {10, 20, 30, 0, 40, 50, 60, 0}, {0, 1, 1, 0}));
  DecodedImage img;
  ASSERT_EQ(loadBytes(img, d), S_OK);
  ASSERT_EQ(img.format, D3DFMT_P8);
  ASSERT_TRUE(img.ownsPalette);
  EXPECT_EQ(img.palette[0].peRed, 30);
  EXPECT_EQ(img.palette[0].peBlue, 10);
  EXPECT_EQ(img.palette[1].peGreen, 50);
  EXPECT_EQ(img.palette[1].peFlags, 255);
  for (int i = 2; i < 256; ++i)
    ASSERT_TRUE(img.palette[i].peRed == 255 && img.palette[i].peGreen == 255 && img.palette[i].peBlue == 255 &&
                img.palette[i].peFlags == 255);
  EXPECT_EQ(img.pixels[1], 1);

  // 1 and 4 bits expand to one byte a pixel, most significant bits first.
  DibHeader one;
  one.bits = 1;
  one.width = 10;
  one.height = 1;
  auto d1 = bmp(dib(one, std::vector<uint8_t>(8, 0), {0xA5, 0xC0, 0, 0}));
  DecodedImage bits1;
  ASSERT_EQ(loadBytes(bits1, d1), S_OK);
  EXPECT_EQ(bits1.rowPitch, 12u);
  const uint8_t expect1[10] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 1};
  EXPECT_EQ(0, std::memcmp(bits1.pixels, expect1, 10));
  DibHeader four;
  four.bits = 4;
  four.width = 3;
  four.height = 1;
  auto d4 = bmp(dib(four, std::vector<uint8_t>(64, 0), {0x3C, 0x70, 0, 0}));
  DecodedImage bits4;
  ASSERT_EQ(loadBytes(bits4, d4), S_OK);
  const uint8_t expect4[3] = {3, 12, 7};
  EXPECT_EQ(0, std::memcmp(bits4.pixels, expect4, 3));
}

HRESULT decodeRle(DecodedImage& img, uint32_t bits, int32_t w, int32_t h, const std::vector<uint8_t>& data) {
  DibHeader s;
  s.bits = bits;
  s.compression = bits == 8 ? 1 : 2;
  s.width = w;
  s.height = h;
  auto d = dib(s, std::vector<uint8_t>((bits == 8 ? 256 : 16) * 4, 0), data);
  auto file = bmp(d);
  img.wantPixels = true;
  return img.decodeBmp(file.data(), static_cast<uint32_t>(file.size()));
}

TEST(Bmp, RunLengthCommands) {
  {
    // (3,7) end-of-line end-of-bitmap on a 4 x 2 image: first file row is the
    // bottom buffer row.
    DecodedImage img;
    ASSERT_EQ(decodeRle(img, 8, 4, 2, {3, 7, 0, 0, 0, 1}), S_OK);
    const uint8_t expected[8] = {0, 0, 0, 0, 7, 7, 7, 0};
    EXPECT_EQ(0, std::memcmp(img.pixels, expected, 8));
  }
  {
    // RLE4 absolute run of 5 pixels: 3 data bytes and one pad byte, then an
    // encoded run of 2 and end of bitmap.
    DecodedImage img;
    ASSERT_EQ(decodeRle(img, 4, 8, -1, {0, 5, 0x12, 0x34, 0x50, 0xFF, 2, 0x9A, 0, 1}), S_OK);
    const uint8_t expected[8] = {1, 2, 3, 4, 5, 9, 10, 0};
    EXPECT_EQ(0, std::memcmp(img.pixels, expected, 8));
  }
  {
    // RLE8 absolute run of 3 (padded to an even count), end of line, then a
    // delta of 2 along and 1 row on in file order.
    DecodedImage img;
    ASSERT_EQ(decodeRle(img, 8, 4, -3, {0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 2, 1, 1, 5, 0, 1}), S_OK);
    const uint8_t expected[12] = {1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 5, 0};
    EXPECT_EQ(0, std::memcmp(img.pixels, expected, 12));
  }
  {
    // Rows finished by end-of-line commands only: stops after the last row.
    DecodedImage img;
    EXPECT_EQ(decodeRle(img, 8, 2, 2, {2, 1, 0, 0, 2, 2, 0, 0}), S_OK);
  }
  const std::vector<uint8_t> failures[] = {
      {3, 7, 0, 0},              // data ends before the last row without end of bitmap
      {9, 7, 0, 1},              // run longer than the whole buffer
      {0, 9, 1, 2, 3, 4, 5, 6},  // absolute run longer than the data
      {0, 2, 1},                 // delta without its two bytes
  };
  for (const auto& f : failures) {
    DecodedImage img;
    EXPECT_EQ(decodeRle(img, 8, 4, 2, f), E_FAIL);
  }
}

// ---- Files made by independent tools -----------------------------------

struct ToolCase {
  const char* name;
  const char* command;  // %s = source pattern, %o = output
  D3DFORMAT format;
  int bits;  // significant bits a channel
  bool alpha;
};

std::string fill(std::string templ, const std::string& src, const std::string& out) {
  for (size_t p; (p = templ.find("%s")) != std::string::npos;) templ.replace(p, 2, src);
  for (size_t p; (p = templ.find("%o")) != std::string::npos;) templ.replace(p, 2, out);
  return templ;
}

TEST(Bmp, MatchesImageMagickAndPillow) {
  if (!haveCommand("convert")) GTEST_SKIP() << "ImageMagick missing";
  const bool pillow = havePillow();
  const ToolCase cases[] = {
      {"monochrome", "convert %s -monochrome BMP3:%o", D3DFMT_P8, 8, false},
      {"16 colours", "convert %s -alpha off -colors 16 -type Palette -compress None BMP3:%o", D3DFMT_P8, 8, false},
      {"256 colours", "convert %s -alpha off -colors 200 -type Palette -compress None BMP3:%o", D3DFMT_P8, 8, false},
      {"RLE8", "convert %s -alpha off -colors 200 -type Palette -compress RLE BMP3:%o", D3DFMT_P8, 8, false},
      {"RGB565", "convert %s -alpha off -define bmp:subtype=RGB565 BMP:%o", D3DFMT_R5G6B5, 5, false},
      {"RGB555", "convert %s -alpha off -define bmp:subtype=RGB555 BMP:%o", D3DFMT_X1R5G5B5, 5, false},
      {"ARGB1555", "convert %s -define bmp:subtype=ARGB1555 BMP:%o", D3DFMT_A1R5G5B5, 5, true},
      {"ARGB4444", "convert %s -define bmp:subtype=ARGB4444 BMP:%o", D3DFMT_A4R4G4B4, 4, true},
      {"24-bit", "convert %s -alpha off -type TrueColor BMP3:%o", D3DFMT_R8G8B8, 8, false},
      {"32-bit v5", "convert %s -type TrueColorAlpha BMP:%o", D3DFMT_A8R8G8B8, 8, true},
      {"Pillow 32-bit", "pillow:RGBA", D3DFMT_A8R8G8B8, 8, false},
      {"Pillow 1-bit", "pillow:1", D3DFMT_P8, 8, false},
      {"Pillow grey", "pillow:L", D3DFMT_P8, 8, false},
  };
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string pam = dir.file("pattern.pam"), png = dir.file("pattern.png");
  writePattern(pam);
  ASSERT_TRUE(run("convert " + pam + " " + png));
  for (const ToolCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir.file("out.bmp");
    std::string cmd = c.command;
    if (cmd.rfind("pillow:", 0) == 0) {
      if (!pillow) continue;
      cmd = "/usr/bin/python3 -c \"from PIL import Image; Image.open('" + png + "').convert('" + cmd.substr(7) +
            "').save('" + out + "')\"";
    } else {
      cmd = fill(cmd, png, out);
    }
    ASSERT_TRUE(run(cmd)) << cmd;
    auto file = readFile(out);
    DecodedImage img;
    ImageInfo info{};
    ASSERT_EQ(loadBytes(img, file, &info), S_OK);
    EXPECT_EQ(info.fileFormat, FileBmp);
    EXPECT_EQ(img.format, c.format);
    auto reference = magickRgba(out, dir.file("ref.raw"));
    ASSERT_FALSE(reference.empty());
    EXPECT_TRUE(samePixels(truncated(rgba8(img), c.bits), truncated(reference, c.bits), img.width, 0, c.alpha));
  }
}

}  // namespace
