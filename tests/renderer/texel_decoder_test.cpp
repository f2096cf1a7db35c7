#include "renderer/texel_decoder.h"

#include <gtest/gtest.h>

#include <vector>

namespace nerro::renderer {
namespace {

TEST(CodecTexelDecoder, ConvertsFormatsTheDeviceCannotReadItself) {
  CodecTexelDecoder decoder;
  struct Case {
    const char* name;
    D3DFORMAT format;
    std::vector<uint8_t> bits;  // one row of 2 pixels (or one 4x4 block)
    int32_t pitch;
    uint32_t width, height;
    uint32_t first;  // expected A8R8G8B8 of pixel (0, 0)
  } cases[] = {
      {"R5G6B5 white, black", D3DFMT_R5G6B5, {0xFF, 0xFF, 0x00, 0x00}, 4, 2, 1, 0xFFFFFFFFu},
      {"L8 grey", D3DFMT_L8, {0x80, 0x00}, 2, 2, 1, 0xFF808080u},
      {"A8L8", D3DFMT_A8L8, {0x40, 0x20, 0, 0}, 4, 2, 1, 0x20404040u},
      {"A4R4G4B4", D3DFMT_A4R4G4B4, {0x0F, 0xF0, 0, 0}, 4, 2, 1, 0xFF0000FFu},
      // A DXT1 block whose colours are both pure red: every texel red.
      {"DXT1 red block", D3DFMT_DXT1, {0x00, 0xF8, 0x00, 0xF8, 0, 0, 0, 0}, 8, 4, 4, 0xFFFF0000u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint32_t> out(c.width * c.height, 0x12345678u);
    ASSERT_TRUE(decoder.decodeLevel(c.format, c.bits.data(), c.pitch, c.width, c.height, out.data()));
    EXPECT_EQ(out[0], c.first);
  }
  std::vector<uint32_t> out(4);
  EXPECT_FALSE(decoder.decodeLevel(D3DFMT_D24S8, std::vector<uint8_t>(16).data(), 8, 2, 1, out.data()));
  EXPECT_FALSE(decoder.decodeLevel(D3DFMT_L8, nullptr, 2, 2, 1, out.data()));
}

}  // namespace
}  // namespace nerro::renderer
