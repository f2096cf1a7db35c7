// TGA: origins, run-length packets, colour maps, the 16-bit alpha scan and
// header rejections, plus files written by Pillow and ImageMagick.
#include <cstring>

#include "support.h"

namespace {

using namespace imagetest;
using nerro::image::FileTga;
using nerro::image::ImageInfo;

struct TgaHeader {
  uint8_t idLength = 0;
  uint8_t mapType = 0;
  uint8_t type = 2;
  uint16_t mapFirst = 0, mapLength = 0;
  uint8_t mapEntry = 0;
  uint16_t width = 2, height = 2;
  uint8_t depth = 32;
  uint8_t descriptor = 0x28;
};

std::vector<uint8_t> tga(const TgaHeader& s, const std::vector<uint8_t>& rest) {
  Bytes b;
  b.u8(s.idLength).u8(s.mapType).u8(s.type).u16(s.mapFirst).u16(s.mapLength).u8(s.mapEntry);
  b.u16(0).u16(0).u16(s.width).u16(s.height).u8(s.depth).u8(s.descriptor);
  b.fill(s.idLength, 'i');
  return b.append(rest).v;
}

HRESULT decode(DecodedImage& img, const std::vector<uint8_t>& bytes, bool wantPixels = true) {
  img.wantPixels = wantPixels;
  return img.decodeTga(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::vector<uint8_t> fourPixels32() {
  Bytes b;
  for (uint32_t i = 1; i <= 4; ++i) b.u32(0x00010101 * i);
  return b.v;
}

TEST(Tga, TopLeftRawIsUsedInPlace) {
  TgaHeader s;
  s.idLength = 3;
  auto file = tga(s, fourPixels32());
  DecodedImage img;
  ImageInfo info{};
  ASSERT_EQ(img.load(file.data(), static_cast<uint32_t>(file.size()), &info, true), S_OK);
  EXPECT_EQ(info.fileFormat, FileTga);
  EXPECT_EQ(img.format, D3DFMT_A8R8G8B8);  // whatever the alpha bytes hold
  EXPECT_EQ(img.rowPitch, 8u);
  EXPECT_EQ(img.pixels, file.data() + 21);
  EXPECT_FALSE(img.ownsPixels);
}

TEST(Tga, OriginsPlaceRowsAndColumns) {
  struct Case {
    uint8_t descriptor;
    uint8_t order[4];  // which file pixel (1..4) lands at buffer positions 0..3
  };
  const Case cases[] = {
      {0x08, {3, 4, 1, 2}},  // bottom-left: first file row is the last buffer row
      {0x18, {4, 3, 2, 1}},  // bottom-right
      {0x38, {2, 1, 4, 3}},  // top-right
  };
  for (const Case& c : cases) {
    TgaHeader s;
    s.descriptor = c.descriptor;
    for (uint8_t type : {uint8_t{2}, uint8_t{10}}) {
      s.type = type;
      auto pixels = fourPixels32();
      std::vector<uint8_t> body;
      if (type == 10) {  // two raw packets of two pixels each
        body.push_back(0x01);
        body.insert(body.end(), pixels.begin(), pixels.begin() + 8);
        body.push_back(0x01);
        body.insert(body.end(), pixels.begin() + 8, pixels.end());
      } else {
        body = pixels;
      }
      auto file = tga(s, body);
      DecodedImage img;
      ASSERT_EQ(decode(img, file), S_OK);
      ASSERT_TRUE(img.ownsPixels);
      for (int i = 0; i < 4; ++i) EXPECT_EQ(img.pixels[4 * i], c.order[i]) << int(c.descriptor) << " " << i;
    }
  }
}

TEST(Tga, RunLengthPackets) {
  TgaHeader s;
  s.type = 10;
  s.width = 7;
  s.height = 1;
  s.depth = 24;
  // 0x83: one pixel four times; 0x02: three literal pixels.
  auto file = tga(s, {0x83, 1, 2, 3, 0x02, 4, 4, 4, 5, 5, 5, 6, 6, 6});
  DecodedImage img;
  ASSERT_EQ(decode(img, file), S_OK);
  const uint8_t expected[21] = {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 4, 4, 4, 5, 5, 5, 6, 6, 6};
  EXPECT_EQ(0, std::memcmp(img.pixels, expected, 21));

  // A packet longer than the row goes on in the next row.
  TgaHeader wrap;
  wrap.type = 11;
  wrap.depth = 8;
  wrap.width = 3;
  wrap.height = 2;
  auto grey = tga(wrap, {0x85, 9});
  DecodedImage g;
  ASSERT_EQ(decode(g, grey), S_OK);
  EXPECT_EQ(g.format, D3DFMT_L8);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(g.pixels[i], 9);

  // Data that ends inside a packet fails.
  auto cut = tga(s, {0x83, 1, 2, 3, 0x02, 4, 4, 4, 5});
  DecodedImage c;
  EXPECT_EQ(decode(c, cut), E_FAIL);
}

TEST(Tga, SixteenBitAlphaScan) {
  TgaHeader s;
  s.depth = 16;
  s.descriptor = 0x20;
  s.type = 10;  // copied, so the scan runs
  auto clear = tga(s, {0x83, 0xFF, 0x7F});
  DecodedImage a;
  ASSERT_EQ(decode(a, clear), S_OK);
  EXPECT_EQ(a.format, D3DFMT_X1R5G5B5);
  auto oneSet = tga(s, {0x82, 0xFF, 0x7F, 0x00, 0xFF, 0x80});
  DecodedImage b;
  ASSERT_EQ(decode(b, oneSet), S_OK);
  EXPECT_EQ(b.format, D3DFMT_A1R5G5B5);
  s.depth = 15;
  auto fifteen = tga(s, {0x83, 0xFF, 0xFF});
  DecodedImage c;
  ASSERT_EQ(decode(c, fifteen), S_OK);
  EXPECT_EQ(c.format, D3DFMT_X1R5G5B5);
}

TEST(Tga, ColourMaps) {
  TgaHeader s;
  s.mapType = 1;
  s.type = 1;
  s.depth = 8;
  s.mapEntry = 16;
  s.mapFirst = 4;
  s.mapLength = 2;
  s.width = 2;
  s.height = 1;
  // 16-bit entries, bit 15 clear on both: the map has no alpha, both opaque.
  auto noAlpha = tga(s, {0x1F, 0x7C, 0xE0, 0x03, 4, 5});
  DecodedImage a;
  ASSERT_EQ(decode(a, noAlpha), S_OK);
  ASSERT_EQ(a.format, D3DFMT_P8);
  EXPECT_EQ(a.palette[4].peRed, 255);
  EXPECT_EQ(a.palette[4].peBlue, 255);
  EXPECT_EQ(a.palette[4].peGreen, 0);
  EXPECT_EQ(a.palette[5].peGreen, 255);
  EXPECT_EQ(a.palette[4].peFlags, 255);
  EXPECT_EQ(a.palette[5].peFlags, 255);
  EXPECT_EQ(a.palette[0].peFlags, 255);
  // One entry with bit 15 set: the other keeps alpha 0.
  auto withAlpha = tga(s, {0x1F, 0xFC, 0xE0, 0x03, 4, 5});
  DecodedImage b;
  ASSERT_EQ(decode(b, withAlpha), S_OK);
  EXPECT_EQ(b.palette[4].peFlags, 255);
  EXPECT_EQ(b.palette[5].peFlags, 0);

  // First index 250 and length 10 overflow the 256 entries.
  TgaHeader over = s;
  over.mapEntry = 24;
  over.mapFirst = 250;
  over.mapLength = 10;
  auto big = tga(over, std::vector<uint8_t>(30 + 2, 1));
  DecodedImage c;
  EXPECT_EQ(decode(c, big), E_FAIL);
  DecodedImage headerOnly;
  EXPECT_EQ(decode(headerOnly, big, false), S_OK);
}

TEST(Tga, HeaderRejections) {
  struct Case {
    const char* what;
    TgaHeader header;
  };
  TgaHeader type0;
  type0.type = 0;
  TgaHeader map2;
  map2.mapType = 2;
  TgaHeader width0;
  width0.width = 0;
  TgaHeader grey16;
  grey16.type = 3;
  grey16.depth = 16;
  TgaHeader badEntry;
  badEntry.mapType = 1;
  badEntry.mapEntry = 8;
  TgaHeader type4;
  type4.type = 4 | 2;
  TgaHeader mappedNoMap;
  mappedNoMap.type = 1;
  mappedNoMap.depth = 8;
  const Case cases[] = {{"image type 0", type0},        {"colour map type 2", map2},
                        {"zero width", width0},          {"16-bit greyscale", grey16},
                        {"8-bit map entries", badEntry}, {"image type bit 2", type4},
                        {"colour-mapped without a map", mappedNoMap}};
  for (const Case& c : cases) {
    auto file = tga(c.header, fourPixels32());
    DecodedImage img;
    EXPECT_EQ(decode(img, file), E_FAIL) << c.what;
  }
  TgaHeader s;
  auto shortRaw = tga(s, std::vector<uint8_t>(15, 0));
  DecodedImage img;
  EXPECT_EQ(decode(img, shortRaw), E_FAIL);
  s.descriptor = 0x08;
  auto shortCopied = tga(s, std::vector<uint8_t>(15, 0));
  DecodedImage img2;
  EXPECT_EQ(decode(img2, shortCopied), E_FAIL);
}

// Pillow is the reference reader: ImageMagick 6 does not honour the origin
// bits when reading (and writes top-first rows under a bottom-left
// descriptor), so its own reading is no reference for row order.
TEST(Tga, MatchesPillowAndImageMagick) {
  if (!haveCommand("convert") || !havePillow()) GTEST_SKIP() << "ImageMagick or Pillow missing";
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string png = dir.file("pattern.png");
  writePattern(dir.file("pattern.pam"));
  ASSERT_TRUE(run("convert " + dir.file("pattern.pam") + " " + png));
  struct Case {
    const char* name;
    std::string command;
    D3DFORMAT format;
    bool alpha;
  };
  const std::string out = dir.file("out.tga");
  auto pil = [&](const std::string& mode, const std::string& args) {
    return "/usr/bin/python3 -c \"from PIL import Image; Image.open('" + png + "').convert('" + mode + "').save('" +
           out + "'" + args + ")\"";
  };
  std::vector<Case> cases = {
      {"IM 32-bit raw", "convert " + png + " " + out, D3DFMT_A8R8G8B8, true},
      {"IM 32-bit RLE", "convert " + png + " -compress RLE " + out, D3DFMT_A8R8G8B8, true},
      {"IM 24-bit RLE", "convert " + png + " -alpha off -compress RLE " + out, D3DFMT_R8G8B8, false},
      {"IM grey", "convert " + png + " -alpha off -colorspace Gray " + out, D3DFMT_L8, false},
      {"IM palette", "convert " + png + " -alpha off -colors 50 -type Palette " + out, D3DFMT_P8, false},
  };
  {
    cases.push_back({"Pillow RGBA RLE", pil("RGBA", ", rle=True"), D3DFMT_A8R8G8B8, true});
    cases.push_back({"Pillow RGB RLE top-left", pil("RGB", ", rle=True, orientation=1"), D3DFMT_R8G8B8, false});
    cases.push_back({"Pillow RGB top-left", pil("RGB", ", orientation=1"), D3DFMT_R8G8B8, false});
    cases.push_back({"Pillow palette", pil("P", ""), D3DFMT_P8, false});
    cases.push_back({"Pillow grey RLE", pil("L", ", rle=True"), D3DFMT_L8, false});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(run(c.command)) << c.command;
    auto file = readFile(out);
    DecodedImage img;
    ImageInfo info{};
    ASSERT_EQ(img.load(file.data(), static_cast<uint32_t>(file.size()), &info, true), S_OK);
    EXPECT_EQ(info.fileFormat, FileTga);
    EXPECT_EQ(img.format, c.format);
    auto reference = pillowRgba(out, dir.file("ref.raw"));
    ASSERT_FALSE(reference.empty());
    EXPECT_TRUE(samePixels(rgba8(img), reference, img.width, 0, c.alpha));
  }
}

}  // namespace
