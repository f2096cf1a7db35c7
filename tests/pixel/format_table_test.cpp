#include "pixel/format_table.h"

#include <gtest/gtest.h>

#include <set>

using namespace nerro::pixel;

namespace {

uint32_t Distance(D3DFORMAT wanted, D3DFORMAT candidate) {
  return FormatDistance(FindFormatDescriptor(wanted), FindFormatDescriptor(candidate));
}

}  // namespace

TEST(FormatTable, FixedOrderAndUniqueFormats) {
  // Spot checks of the order the closest-format search depends on.
  EXPECT_EQ(kFormatTable[0].format, D3DFMT_R8G8B8);
  EXPECT_EQ(kFormatTable[5].format, D3DFMT_A8P8);
  EXPECT_EQ(kFormatTable[7].format, D3DFMT_A1R5G5B5);
  EXPECT_EQ(kFormatTable[30].format, D3DFMT_CxV8U8);
  EXPECT_EQ(kFormatTable[40].format, D3DFMT_D16_LOCKABLE);
  EXPECT_EQ(kFormatTable[49].format, D3DFMT_R16F);
  EXPECT_EQ(kFormatTable[55].format, 0x36314C41u);
  EXPECT_EQ(kFormatTable[56].format, 0x36315220u);
  std::set<uint32_t> seen;
  for (const FormatDescriptor& e : kFormatTable) {
    EXPECT_TRUE(seen.insert(e.format).second) << e.format;
    EXPECT_LE(e.kind, uint32_t{FormatKindDepth});
    EXPECT_EQ(&FindFormatDescriptor(static_cast<D3DFORMAT>(e.format)), &e);
  }
  EXPECT_EQ(seen.size(), kFormatCount);
}

TEST(FormatTable, EntriesHoldTheirFields) {
  struct Case {
    D3DFORMAT format;
    FormatDescriptor expected;
  };
  const Case cases[] = {
      {D3DFMT_A8R8G8B8, {D3DFMT_A8R8G8B8, FormatKindRgb, 32, 0, 8, 8, 8, 8, 1}},
      {D3DFMT_R5G6B5, {D3DFMT_R5G6B5, FormatKindRgb, 16, 0, 0, 5, 6, 5, 1}},
      {D3DFMT_P8, {D3DFMT_P8, FormatKindPalette, 8, 0, 8, 8, 8, 8, 1}},
      {D3DFMT_A4L4, {D3DFMT_A4L4, FormatKindLuminance, 8, 0, 4, 4, 4, 4, 1}},
      {D3DFMT_L6V5U5, {D3DFMT_L6V5U5, FormatKindSigned, 16, 6, 0, 0, 5, 5, 1}},
      {D3DFMT_A2W10V10U10, {D3DFMT_A2W10V10U10, FormatKindSigned, 32, 2, 0, 10, 10, 10, 1}},
      {D3DFMT_DXT3, {D3DFMT_DXT3, FormatKindRgb, 16, 0, 4, 5, 6, 5, 0}},
      {D3DFMT_D32F_LOCKABLE, {D3DFMT_D32F_LOCKABLE, FormatKindDepth, 32, 1, 0, 0, 0, 32, 0}},
      {D3DFMT_D24X4S4, {D3DFMT_D24X4S4, FormatKindDepth, 32, 0, 0, 0, 4, 24, 1}},
      {D3DFMT_G32R32F, {D3DFMT_G32R32F, FormatKindRgb, 64, 0, 0, 32, 32, 0, 0}},
      {D3DFMT_INTERNAL_AL16, {D3DFMT_INTERNAL_AL16, FormatKindLuminance, 32, 0, 16, 16, 16, 16, 0}},
      {D3DFMT_INTERNAL_R16, {D3DFMT_INTERNAL_R16, FormatKindRgb, 48, 0, 0, 16, 16, 16, 0}},
  };
  for (const Case& c : cases) {
    const FormatDescriptor& d = FindFormatDescriptor(c.format);
    const FormatDescriptor& e = c.expected;
    SCOPED_TRACE(c.format);
    EXPECT_EQ(d.format, e.format);
    EXPECT_EQ(d.kind, e.kind);
    EXPECT_EQ(d.bitsPerPixel, e.bitsPerPixel);
    EXPECT_EQ(d.auxBits, e.auxBits);
    EXPECT_EQ(d.alphaBits, e.alphaBits);
    EXPECT_EQ(d.redBits, e.redBits);
    EXPECT_EQ(d.greenBits, e.greenBits);
    EXPECT_EQ(d.blueBits, e.blueBits);
    EXPECT_EQ(d.substitutable, e.substitutable);
  }
}

TEST(FormatTable, UnknownFormatsGiveTheDefaultEntry) {
  for (uint32_t f : {0u, 37u, MAKEFOURCC('A', 'B', 'C', 'D'), MAKEFOURCC('M', 'E', 'T', '1')}) {
    const FormatDescriptor& d = FindFormatDescriptor(static_cast<D3DFORMAT>(f));
    EXPECT_EQ(&d, &kDefaultFormatDescriptor);
    EXPECT_EQ(d.format, 0u);
    EXPECT_EQ(d.kind, uint32_t{FormatKindRgb});
    EXPECT_EQ(d.bitsPerPixel, 32u);
    EXPECT_EQ(d.alphaBits + d.redBits + d.greenBits + d.blueBits, 32u);
    EXPECT_EQ(d.substitutable, 0u);
  }
}

TEST(FormatDistance, ScoresByMissingLostExtraGained) {
  struct Case {
    D3DFORMAT wanted, candidate;
    uint32_t distance;
  };
  const Case cases[] = {
      {D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, 0},
      {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, 0x1000000},
      {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, 0x100},
      {D3DFMT_R5G6B5, D3DFMT_A8R8G8B8, 0x108},
      {D3DFMT_A8R8G8B8, D3DFMT_R5G6B5, 0x1000000 + (3u << 16) + (2u << 16) + (3u << 16)},
      {D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4, 16u << 16},
      {D3DFMT_L8, D3DFMT_X8R8G8B8, 0},
      {D3DFMT_A8L8, D3DFMT_A8R8G8B8, 0},
      {D3DFMT_P8, D3DFMT_A8R8G8B8, 0},
      {D3DFMT_X8R8G8B8, D3DFMT_L8, kFormatDistanceNone},
      {D3DFMT_A8R8G8B8, D3DFMT_P8, kFormatDistanceNone},
      {D3DFMT_A8, D3DFMT_X8R8G8B8, kFormatDistanceNone},
      {D3DFMT_A8, D3DFMT_A8R8G8B8, 0x300},
      {D3DFMT_V8U8, D3DFMT_A8R8G8B8, kFormatDistanceNone},
      {D3DFMT_V8U8, D3DFMT_Q8W8V8U8, 0x200},
      {D3DFMT_V8U8, D3DFMT_L6V5U5, 0x100 + (3u << 16) + (3u << 16)},
      {D3DFMT_A8R8G8B8, D3DFMT_V8U8, kFormatDistanceNone},
      {D3DFMT_D16, D3DFMT_X8R8G8B8, kFormatDistanceNone},
      {D3DFMT_D16, D3DFMT_D24S8, 0x100 + 8},
      {D3DFMT_D16, D3DFMT_D16_LOCKABLE, 0x100},
      {D3DFMT_A8R8G8B8, D3DFMT_D16, kFormatDistanceNone},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Distance(c.wanted, c.candidate), c.distance)
        << std::hex << c.wanted << " -> " << c.candidate;
  }
}

TEST(FormatDistance, KindMatrixIsAsymmetric) {
  for (uint32_t w = 0; w < 5; ++w) {
    for (uint32_t c = 0; c < 5; ++c) {
      const bool expected = w == c || (c == FormatKindRgb && (w == FormatKindPalette ||
                                                              w == FormatKindLuminance));
      EXPECT_EQ(kFormatKindCompatibility[w][c], expected ? 1 : 0) << w << "," << c;
      FormatDescriptor wanted = kDefaultFormatDescriptor, candidate = kDefaultFormatDescriptor;
      wanted.kind = w;
      candidate.kind = c;
      EXPECT_EQ(FormatDistance(wanted, candidate) == kFormatDistanceNone, !expected);
    }
  }
}

TEST(FormatDistance, NoWantedChannelsIsNoMatch) {
  FormatDescriptor empty = {0, FormatKindRgb, 32, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(FormatDistance(empty, FindFormatDescriptor(D3DFMT_A8R8G8B8)), kFormatDistanceNone);
  // A colour-keyed wanted descriptor: X8R8G8B8 with one alpha bit added.
  FormatDescriptor keyed = FindFormatDescriptor(D3DFMT_X8R8G8B8);
  keyed.format = D3DFMT_UNKNOWN;
  keyed.alphaBits = 1;
  EXPECT_EQ(FormatDistance(keyed, FindFormatDescriptor(D3DFMT_A1R5G5B5)), (3u << 16) * 3);
  EXPECT_EQ(FormatDistance(keyed, FindFormatDescriptor(D3DFMT_A8R8G8B8)), 7u);
}

TEST(ResolveInternalFormat, MapsOnlyTheInternalFormats) {
  EXPECT_EQ(ResolveInternalFormat(D3DFMT_INTERNAL_AL16), D3DFMT_A8L8);
  EXPECT_EQ(ResolveInternalFormat(D3DFMT_INTERNAL_R16), D3DFMT_A16B16G16R16);
  for (D3DFORMAT f : {D3DFMT_A8R8G8B8, D3DFMT_DXT1, D3DFMT_UNKNOWN, D3DFMT_L16}) {
    EXPECT_EQ(ResolveInternalFormat(f), f);
  }
}
