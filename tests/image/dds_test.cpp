// DDS: level chains, cube faces, volumes, pitches per format family, the
// pixel-format match, size checks and files written by ImageMagick.
#include <cstring>

#include "pixel/pixel.h"
#include "support.h"

namespace {

using namespace imagetest;
using nerro::image::FileDds;
using nerro::image::ImageInfo;

struct PixelFormat {
  uint32_t flags = 0x41;
  uint32_t fourCC = 0;
  uint32_t bits = 32;
  uint32_t r = 0xFF0000, g = 0xFF00, b = 0xFF, a = 0xFF000000;
};

struct DdsSpec {
  uint32_t flags = 0x1007;
  uint32_t width = 4, height = 4, depth = 0, mips = 0;
  PixelFormat pf;
  uint32_t caps2 = 0;
};

std::vector<uint8_t> dds(const DdsSpec& s, size_t payload, uint8_t fillByte = 0x33) {
  Bytes b;
  b.str("DDS ").u32(124).u32(s.flags).u32(s.height).u32(s.width).u32(0).u32(s.depth).u32(s.mips);
  b.fill(44, 0);
  b.u32(32).u32(s.pf.flags).u32(s.pf.fourCC).u32(s.pf.bits).u32(s.pf.r).u32(s.pf.g).u32(s.pf.b).u32(s.pf.a);
  b.u32(0x1000).u32(s.caps2).u32(0).u32(0).u32(0);
  b.fill(payload, fillByte);
  return b.v;
}

HRESULT decode(DecodedImage& img, const std::vector<uint8_t>& bytes) {
  return img.decodeDds(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

PixelFormat fourCC(uint32_t code) {
  PixelFormat pf;
  pf.flags = 0x4;
  pf.fourCC = code;
  pf.bits = 0;
  pf.r = pf.g = pf.b = pf.a = 0;
  return pf;
}

TEST(Dds, Dxt1MipChainPitches) {
  DdsSpec s;
  s.width = s.height = 256;
  s.mips = 9;
  s.pf = fourCC(D3DFMT_DXT1);
  size_t total = 0;
  for (uint32_t w = 256; w >= 1; w /= 2) total += ((w + 3) / 4) * ((w + 3) / 4) * 8;
  auto file = dds(s, total);
  DecodedImage img;
  ImageInfo info{};
  ASSERT_EQ(img.load(file.data(), static_cast<uint32_t>(file.size()), &info, true), S_OK);
  EXPECT_EQ(info.fileFormat, FileDds);
  EXPECT_EQ(info.mipLevels, 9u);
  EXPECT_EQ(info.format, D3DFMT_DXT1);
  const uint32_t pitches[9] = {512, 256, 128, 64, 32, 16, 8, 8, 8};
  const uint8_t* expectedPixels = file.data() + 128;
  int i = 0;
  for (const DecodedImage* l = &img; l != nullptr; l = l->nextLevel.get(), ++i) {
    ASSERT_LT(i, 9);
    EXPECT_EQ(l->rowPitch, pitches[i]);
    EXPECT_EQ(l->width, 256u >> i);
    EXPECT_EQ(l->pixels, expectedPixels);
    EXPECT_FALSE(l->ownsPixels);
    expectedPixels += l->slicePitch;
  }
  EXPECT_EQ(i, 9);
  const DecodedImage* last = &img;
  while (last->nextLevel) last = last->nextLevel.get();
  EXPECT_EQ(last->slicePitch, 8u);

  // One byte short of the last level.
  auto cut = dds(s, total - 1);
  DecodedImage c;
  EXPECT_EQ(decode(c, cut), E_FAIL);
}

TEST(Dds, MipCountZeroIsOneLevel) {
  DdsSpec s;
  auto file = dds(s, 64);
  DecodedImage img;
  ASSERT_EQ(decode(img, file), S_OK);
  EXPECT_EQ(img.nextLevel, nullptr);
  EXPECT_EQ(img.format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(img.rowPitch, 16u);
  EXPECT_EQ(img.slicePitch, 64u);
}

TEST(Dds, CubeFacesAndVolumes) {
  DdsSpec cube;
  cube.caps2 = 0xFE00;
  auto file = dds(cube, 6 * 64);
  DecodedImage img;
  ASSERT_EQ(decode(img, file), S_OK);
  EXPECT_EQ(img.resourceType, D3DRTYPE_CUBETEXTURE);
  int faces = 0;
  for (const DecodedImage* f = &img; f != nullptr; f = f->nextFace.get(), ++faces)
    EXPECT_EQ(f->pixels, file.data() + 128 + 64 * faces);
  EXPECT_EQ(faces, 6);
  cube.caps2 = 0x0600;
  auto two = dds(cube, 6 * 64);
  DecodedImage t;
  EXPECT_EQ(decode(t, two), E_FAIL);

  DdsSpec vol;
  vol.flags |= 0x00800000;
  vol.width = vol.height = 8;
  vol.depth = 4;
  vol.mips = 4;
  auto v = dds(vol, 256 * 4 + 64 * 2 + 16 + 4);
  DecodedImage volume;
  ASSERT_EQ(decode(volume, v), S_OK);
  EXPECT_EQ(volume.resourceType, D3DRTYPE_VOLUMETEXTURE);
  const uint32_t depths[4] = {4, 2, 1, 1}, slices[4] = {256, 64, 16, 4};
  int i = 0;
  for (const DecodedImage* l = &volume; l != nullptr; l = l->nextLevel.get(), ++i) {
    EXPECT_EQ(l->depth, depths[i]);
    EXPECT_EQ(l->slicePitch, slices[i]);
  }
  EXPECT_EQ(i, 4);
}

TEST(Dds, PixelFormatMatching) {
  struct Case {
    const char* what;
    PixelFormat pf;
    D3DFORMAT expected;  // D3DFMT_UNKNOWN: rejected
    uint32_t rowPitch;   // for a width of 5
  };
  PixelFormat argb;  // 0x41 with all four masks
  PixelFormat xrgbWithAlphaMask = argb;
  xrgbWithAlphaMask.flags = 0x40;
  PixelFormat dxt3 = fourCC(D3DFMT_DXT3);
  dxt3.flags = 0x4 | 0x40 | 0x1;
  PixelFormat yuy2 = fourCC(D3DFMT_YUY2);
  PixelFormat numeric = fourCC(D3DFMT_A16B16G16R16F);
  PixelFormat l8;
  l8.flags = 0x20000, l8.bits = 8, l8.r = 0xFF, l8.g = l8.b = l8.a = 0;
  PixelFormat l16 = l8;
  l16.bits = 16, l16.r = 0xFFFF;
  PixelFormat a8;
  a8.flags = 0x2, a8.bits = 8, a8.r = a8.g = a8.b = 0, a8.a = 0xFF;
  PixelFormat unknownFourCC = fourCC(MAKEFOURCC('A', 'B', 'C', 'D'));
  PixelFormat badMasks = argb;
  badMasks.r = 0xFF;
  const Case cases[] = {
      {"ARGB", argb, D3DFMT_A8R8G8B8, 20},
      {"alpha mask ignored without alpha flags", xrgbWithAlphaMask, D3DFMT_X8R8G8B8, 20},
      {"DXT3 with other flags", dxt3, D3DFMT_DXT3, 32},
      {"YUY2 width 5", yuy2, D3DFMT_YUY2, 12},
      {"numeric FourCC", numeric, D3DFMT_A16B16G16R16F, 40},
      {"luminance 8", l8, D3DFMT_L8, 5},
      {"luminance 16", l16, D3DFMT_L16, 10},
      {"alpha 8", a8, D3DFMT_A8, 5},
      {"unknown FourCC", unknownFourCC, D3DFMT_UNKNOWN, 0},
      {"unknown masks", badMasks, D3DFMT_UNKNOWN, 0},
  };
  for (const Case& c : cases) {
    DdsSpec s;
    s.width = 5;
    s.height = 1;
    s.pf = c.pf;
    auto file = dds(s, 64);
    DecodedImage img;
    HRESULT hr = decode(img, file);
    if (c.expected == D3DFMT_UNKNOWN) {
      EXPECT_EQ(hr, E_FAIL) << c.what;
      continue;
    }
    ASSERT_EQ(hr, S_OK) << c.what;
    EXPECT_EQ(img.format, c.expected) << c.what;
    EXPECT_EQ(img.rowPitch, c.rowPitch) << c.what;
  }
}

TEST(Dds, PaletteSitsBeforeThePixels) {
  DdsSpec s;
  s.pf.flags = 0x20;
  s.pf.bits = 8;
  s.pf.r = s.pf.g = s.pf.b = s.pf.a = 0;
  auto file = dds(s, 1024 + 16);
  DecodedImage img;
  ASSERT_EQ(decode(img, file), S_OK);
  EXPECT_EQ(img.format, D3DFMT_P8);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(img.palette), file.data() + 128);
  EXPECT_EQ(img.pixels, file.data() + 128 + 1024);
  EXPECT_FALSE(img.ownsPalette);
  auto noRoom = dds(s, 1000);
  DecodedImage n;
  EXPECT_EQ(decode(n, noRoom), E_FAIL);
}

TEST(Dds, AbsurdSizesAreRefusedWithoutOverflow) {
  struct Case {
    uint32_t width, height, depth, mips;
    bool volume;
  };
  const Case cases[] = {
      {0xFFFFFFFF, 0xFFFFFFFF, 0, 1, false},  // pitch beyond 32 bits
      {0x40000000, 4, 0, 1, false},           // 4 GiB row
      {256, 256, 0xFFFFFFFF, 1, true},        // slice times depth
      {4, 4, 0, 0xFFFFFFFF, false},           // more levels than a mip chain holds
      {0, 0x40000000, 0, 1, false},           // no columns: empty rows without end
      {8, 0, 0, 1, false},                    // no rows
  };
  for (const Case& c : cases) {
    DdsSpec s;
    s.width = c.width, s.height = c.height, s.depth = c.depth, s.mips = c.mips;
    if (c.volume) s.flags |= 0x00800000;
    s.pf = fourCC(D3DFMT_A32B32G32R32F);
    auto file = dds(s, 4096);
    DecodedImage img;
    EXPECT_EQ(decode(img, file), E_FAIL) << c.width;
  }
}

TEST(Dds, MatchesImageMagick) {
  if (!haveCommand("convert")) GTEST_SKIP() << "ImageMagick missing";
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string png = dir.file("pattern.png"), out = dir.file("out.dds");
  writePattern(dir.file("pattern.pam"), 64, 32);
  ASSERT_TRUE(run("convert " + dir.file("pattern.pam") + " " + png));
  struct Case {
    const char* options;
    D3DFORMAT format;
    uint32_t levels;
  };
  const Case cases[] = {
      {"-define dds:compression=none -define dds:mipmaps=3", D3DFMT_A8R8G8B8, 4},
      {"-define dds:compression=dxt1 -define dds:mipmaps=0", D3DFMT_DXT1, 1},
      {"-define dds:compression=dxt5 -define dds:mipmaps=6", D3DFMT_DXT5, 7},
  };
  int compared = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    ASSERT_TRUE(run(std::string("convert ") + png + " " + c.options + " " + out));
    auto file = readFile(out);
    DecodedImage img;
    ImageInfo info{};
    ASSERT_EQ(img.load(file.data(), static_cast<uint32_t>(file.size()), &info, true), S_OK);
    EXPECT_EQ(info.format, c.format);
    EXPECT_EQ(info.mipLevels, c.levels);
    EXPECT_EQ(info.width, 64u);
    EXPECT_EQ(info.height, 32u);
    // The top level decoded through the pixel codecs equals ImageMagick's
    // own reading of the file.
    nerro::pixel::PixelRegion region;
    region.pixels = const_cast<uint8_t*>(img.pixels);
    region.format = img.format;
    region.rowPitch = img.rowPitch;
    region.bounds = region.box = img.region;
    auto codec = nerro::pixel::CreatePixelCodec(region);
    if (!codec) continue;  // no codec for this format yet
    std::vector<D3DCOLORVALUE> row(img.width);
    std::vector<uint8_t> ours;
    for (uint32_t y = 0; y < img.height; ++y) {
      ASSERT_EQ(codec->DecodeRow(y, 0, row.data()), S_OK);
      for (const auto& p : row)
        for (float v : {p.r, p.g, p.b, p.a}) ours.push_back(static_cast<uint8_t>(v * 255.0f + 0.5f));
    }
    auto reference = magickRgba(out, dir.file("ref.raw"));
    EXPECT_TRUE(samePixels(ours, reference, img.width, 1, true));
    ++compared;
  }
  EXPECT_EQ(compared, 3) << "formats without a codec were only checked for structure";
}

}  // namespace
