#include "texture/texture_requirements.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/test_device.h"

namespace nerro::texture {
namespace {

using d3d9::AdapterProfile;
using testing::TestDevice;

constexpr uint32_t kOpen = kRequestOpen;

struct FitCase {
  const char* name;
  AdapterProfile (*profile)();
  uint32_t width, height, depth, levels, usage;
  D3DFORMAT format;
  D3DPOOL pool;
  D3DRESOURCETYPE type;
  HRESULT result;
  uint32_t fitWidth, fitHeight, fitDepth, fitLevels;
  D3DFORMAT fitFormat;
};

AdapterProfile desktop() { return AdapterProfile::desktop(); }
AdapterProfile pow2() { return AdapterProfile::pow2(); }
AdapterProfile conditional() { return AdapterProfile::nonPow2Conditional(); }
AdapterProfile square() { return AdapterProfile::squareOnly(); }
AdapterProfile squarePow2() {
  AdapterProfile p = AdapterProfile::pow2();
  p.textureCaps |= D3DPTEXTURECAPS_SQUAREONLY;
  return p;
}
AdapterProfile aspect2() { return AdapterProfile::aspectLimit(2); }
AdapterProfile small() { return AdapterProfile::smallMaxima(256, 128, 32); }
AdapterProfile noMipmaps() {
  AdapterProfile p = AdapterProfile::desktop();
  p.textureCaps &= ~D3DPTEXTURECAPS_MIPMAP;
  return p;
}

constexpr D3DRESOURCETYPE k2D = D3DRTYPE_TEXTURE;
constexpr D3DRESOURCETYPE kCube = D3DRTYPE_CUBETEXTURE;
constexpr D3DRESOURCETYPE kVolume = D3DRTYPE_VOLUMETEXTURE;

const FitCase kFitCases[] = {
    {"pow2 raises 100x60", pow2, 100, 60, 1, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, S_OK, 128, 64, 1, 8, D3DFMT_A8R8G8B8},
    {"conditional, full chain", conditional, 100, 60, 1, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, S_OK, 128, 64, 1, 8, D3DFMT_A8R8G8B8},
    {"conditional, one level", conditional, 100, 60, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, S_OK, 100, 60, 1, 1, D3DFMT_A8R8G8B8},
    {"conditional, one DXT level still raised", conditional, 100, 60, 1, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, k2D, S_OK, 128, 64, 1, 1, D3DFMT_DXT1},
    {"no pow2 rule", desktop, 100, 60, 1, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, S_OK, 100, 60, 1, 7, D3DFMT_A8R8G8B8},
    {"square only", square, 100, 60, 1, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, S_OK, 60, 60, 1, 6, D3DFMT_A8R8G8B8},
    {"square only then pow2", squarePow2, 100, 60, 1, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, S_OK, 64, 64, 1, 7, D3DFMT_A8R8G8B8},
    {"aspect 2", aspect2, 512, 64, 1, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, S_OK, 128, 64, 1, 8, D3DFMT_A8R8G8B8},
    {"width open", desktop, kOpen, 100, 1, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, S_OK, 100, 100, 1, 7, D3DFMT_A8R8G8B8},
    {"both open", desktop, kOpen, kOpen, 1, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, S_OK, 256, 256, 1, 9, D3DFMT_A8R8G8B8},
    {"zero becomes one", desktop, 0, 8, 0, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, S_OK, 1, 8, 1, 4, D3DFMT_A8R8G8B8},
    {"cube takes the larger side", desktop, 100, 60, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, kCube, S_OK, 100, 100, 1, 1, D3DFMT_A8R8G8B8},
    {"DXT1 aligned to 4", desktop, 6, 6, 1, 0, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, k2D, S_OK, 8, 8, 1, 4, D3DFMT_DXT1},
    {"three levels stay", desktop, 256, 256, 1, 3, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, S_OK, 256, 256, 1, 3, D3DFMT_A8R8G8B8},
    {"twenty levels cut", desktop, 256, 256, 1, 20, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, S_OK, 256, 256, 1, 9, D3DFMT_A8R8G8B8},
    {"autogen full chain", desktop, 256, 256, 1, 0, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, S_OK, 256, 256, 1, 0, D3DFMT_A8R8G8B8},
    {"autogen one level", desktop, 256, 256, 1, 1, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, S_OK, 256, 256, 1, 1, D3DFMT_A8R8G8B8},
    {"maxima cap", small, 1000, 1000, 1, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, S_OK, 256, 128, 1, 9, D3DFMT_A8R8G8B8},
    {"volume extent cap", small, 100, 20, 50, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, kVolume, S_OK, 32, 20, 32, 6, D3DFMT_A8R8G8B8},
    {"no mipmaps", noMipmaps, 64, 64, 1, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, S_OK, 64, 64, 1, 1, D3DFMT_A8R8G8B8},
    {"scratch format 0", pow2, 300, 200, 1, 0, 0, D3DFMT_UNKNOWN, D3DPOOL_SCRATCH, k2D, S_OK, 300, 200, 1, 9, D3DFMT_A8R8G8B8},
    {"write-only usage refused", desktop, 8, 8, 1, 0, D3DUSAGE_WRITEONLY, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, D3DERR_INVALIDCALL, 0, 0, 0, 0, D3DFMT_UNKNOWN},
    {"pool 4 refused", desktop, 8, 8, 1, 0, 0, D3DFMT_A8R8G8B8, static_cast<D3DPOOL>(4), k2D, D3DERR_INVALIDCALL, 0, 0, 0, 0, D3DFMT_UNKNOWN},
    {"open usage counts as 0", desktop, 8, 8, 1, 0, kOpen, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, k2D, S_OK, 8, 8, 1, 4, D3DFMT_A8R8G8B8},
    {"scratch size past 32 bits refused", desktop, 0xFFFFFFFDu, 1, 1, 1, 0, D3DFMT_DXT1, D3DPOOL_SCRATCH, k2D, D3DERR_INVALIDCALL, 0, 0, 0, 0, D3DFMT_UNKNOWN},
};

TEST(FitTextureRequest, Table) {
  for (const FitCase& c : kFitCases) {
    SCOPED_TRACE(c.name);
    TestDevice device(c.profile());
    ASSERT_NE(device.get(), nullptr);
    uint32_t w = c.width, h = c.height, d = c.depth, levels = c.levels;
    D3DFORMAT format = c.format;
    const HRESULT hr = FitTextureRequest(device.get(), &w, &h, &d, &levels, c.usage, &format, c.pool, c.type);
    EXPECT_EQ(hr, c.result);
    if (c.result == S_OK) {
      EXPECT_EQ(w, c.fitWidth);
      EXPECT_EQ(h, c.fitHeight);
      EXPECT_EQ(d, c.fitDepth);
      EXPECT_EQ(levels, c.fitLevels);
      EXPECT_EQ(format, c.fitFormat);
    } else {  // nothing written back on failure
      EXPECT_EQ(w, c.width);
      EXPECT_EQ(levels, c.levels);
      EXPECT_EQ(format, c.format);
    }
  }
}

TEST(FitTextureRequest, NullPointersCountAsOpenAndNeedNoDeviceForScratch) {
  TestDevice device;
  d3d9::clearFaults();
  uint32_t levels = 0;
  EXPECT_EQ(FitTextureRequest(device.get(), nullptr, nullptr, nullptr, &levels, 0, nullptr, D3DPOOL_SCRATCH, k2D),
            S_OK);
  EXPECT_EQ(levels, 9u);  // 256 x 256
  EXPECT_EQ(d3d9::callCounts().checkDeviceFormat, 0u);
  EXPECT_EQ(FitTextureRequest(nullptr, nullptr, nullptr, nullptr, &levels, 0, nullptr, D3DPOOL_MANAGED, k2D),
            D3DERR_INVALIDCALL);
}

TEST(ChooseSupportedFormat, ClosestAcceptedFormat) {
  struct Case {
    const char* name;
    std::vector<D3DFORMAT> refused;
    D3DFORMAT wanted;
    D3DFORMAT chosen;
  } cases[] = {
      {"exact match", {}, D3DFMT_A8B8G8R8, D3DFMT_A8B8G8R8},
      {"same score, earlier entry", {D3DFMT_A8B8G8R8}, D3DFMT_A8B8G8R8, D3DFMT_A8R8G8B8},
      {"no extra channel beats extra alpha", {D3DFMT_R8G8B8}, D3DFMT_R8G8B8, D3DFMT_X8R8G8B8},
      {"unknown yields A8R8G8B8", {}, D3DFMT_UNKNOWN, D3DFMT_A8R8G8B8},
      {"luminance falls back to colour", {D3DFMT_L8, D3DFMT_A8L8, D3DFMT_A4L4, D3DFMT_L16}, D3DFMT_L8,
       D3DFMT_X8R8G8B8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestDevice device(AdapterProfile::refusing(c.refused));
    EXPECT_EQ(ChooseSupportedFormat(device.get(), 0, k2D, pixel::FindFormatDescriptor(c.wanted)), c.chosen);
  }
}

TEST(ChooseSupportedFormat, WithoutDeviceEveryFormatCounts) {
  // The colour-key search: the closest format with alpha. Lost bits weigh
  // more than gained ones, so R5G6B5 with one alpha bit lands on A8R8G8B8
  // (only gains), not on A1R5G5B5 (a green bit lost).
  pixel::FormatDescriptor wanted = pixel::FindFormatDescriptor(D3DFMT_R5G6B5);
  wanted.format = D3DFMT_UNKNOWN;
  wanted.alphaBits = 1;
  EXPECT_EQ(ChooseSupportedFormat(nullptr, 0, k2D, wanted), D3DFMT_A8R8G8B8);
  wanted = pixel::FindFormatDescriptor(D3DFMT_X1R5G5B5);
  wanted.format = D3DFMT_UNKNOWN;
  wanted.alphaBits = 1;
  EXPECT_EQ(ChooseSupportedFormat(nullptr, 0, k2D, wanted), D3DFMT_A1R5G5B5);
}

TEST(ChooseSupportedFormat, NothingAcceptedGivesNotAvailable) {
  TestDevice device(AdapterProfile::refusing({D3DFMT_V8U8, D3DFMT_L6V5U5, D3DFMT_X8L8V8U8, D3DFMT_Q8W8V8U8,
                                              D3DFMT_V16U16, D3DFMT_A2W10V10U10, D3DFMT_Q16W16V16U16,
                                              D3DFMT_CxV8U8}));
  D3DFORMAT format = D3DFMT_V8U8;
  uint32_t w = 8;
  EXPECT_EQ(FitTextureRequest(device.get(), &w, nullptr, nullptr, nullptr, 0, &format, D3DPOOL_MANAGED, k2D),
            D3DERR_NOTAVAILABLE);
  EXPECT_EQ(format, D3DFMT_V8U8);
}

TEST(ChooseSupportedFormat, MutesDebugOutputForTheSearch) {
  TestDevice device;
  const uint32_t before = d3d9::muteLog().calls;
  ChooseSupportedFormat(device.get(), 0, k2D, pixel::FindFormatDescriptor(D3DFMT_A8R8G8B8));
  const d3d9::MuteLog after = d3d9::muteLog();
  EXPECT_EQ(after.calls, before + 2);
  EXPECT_EQ(after.lastValue, 0);
}

}  // namespace
}  // namespace nerro::texture
