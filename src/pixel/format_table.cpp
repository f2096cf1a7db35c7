#include "pixel/format_table.h"

namespace nerro::pixel {

namespace {
constexpr uint32_t Rgb = FormatKindRgb, Pal = FormatKindPalette, Lum = FormatKindLuminance,
                   Sig = FormatKindSigned, Dep = FormatKindDepth;
}  // namespace

//                  format                  kind bpp  aux  A   R   G   B  subst
constexpr FormatDescriptor kFormatTable[kFormatCount] = {
    {D3DFMT_R8G8B8,            Rgb, 24,  0, 0,  8,  8,  8,  0},
    {D3DFMT_A8R8G8B8,          Rgb, 32,  0, 8,  8,  8,  8,  1},
    {D3DFMT_X8R8G8B8,          Rgb, 32,  0, 0,  8,  8,  8,  1},
    {D3DFMT_R5G6B5,            Rgb, 16,  0, 0,  5,  6,  5,  1},
    {D3DFMT_X1R5G5B5,          Rgb, 16,  0, 0,  5,  5,  5,  1},
    {D3DFMT_A8P8,              Pal, 16,  0, 8,  8,  8,  8,  1},
    {D3DFMT_P8,                Pal, 8,   0, 8,  8,  8,  8,  1},
    {D3DFMT_A1R5G5B5,          Rgb, 16,  0, 1,  5,  5,  5,  1},
    {D3DFMT_A4R4G4B4,          Rgb, 16,  0, 4,  4,  4,  4,  1},
    {D3DFMT_R3G3B2,            Rgb, 8,   0, 0,  3,  3,  2,  1},
    {D3DFMT_A8,                Rgb, 8,   0, 8,  0,  0,  0,  1},
    {D3DFMT_A8R3G3B2,          Rgb, 16,  0, 8,  3,  3,  2,  1},
    {D3DFMT_X4R4G4B4,          Rgb, 16,  0, 0,  4,  4,  4,  1},
    {D3DFMT_A2B10G10R10,       Rgb, 32,  0, 2,  10, 10, 10, 1},
    {D3DFMT_A8B8G8R8,          Rgb, 32,  0, 8,  8,  8,  8,  1},
    {D3DFMT_X8B8G8R8,          Rgb, 32,  0, 0,  8,  8,  8,  1},
    {D3DFMT_G16R16,            Rgb, 32,  0, 0,  16, 16, 0,  1},
    {D3DFMT_A2R10G10B10,       Rgb, 32,  0, 2,  10, 10, 10, 1},
    {D3DFMT_A16B16G16R16,      Rgb, 64,  0, 16, 16, 16, 16, 1},
    {D3DFMT_L8,                Lum, 8,   0, 0,  8,  8,  8,  1},
    {D3DFMT_A8L8,              Lum, 16,  0, 8,  8,  8,  8,  1},
    {D3DFMT_A4L4,              Lum, 8,   0, 4,  4,  4,  4,  1},
    {D3DFMT_L16,               Lum, 16,  0, 0,  16, 16, 16, 1},
    {D3DFMT_V8U8,              Sig, 16,  0, 0,  0,  8,  8,  1},
    {D3DFMT_L6V5U5,            Sig, 16,  6, 0,  0,  5,  5,  1},
    {D3DFMT_X8L8V8U8,          Sig, 32,  8, 0,  0,  8,  8,  1},
    {D3DFMT_Q8W8V8U8,          Sig, 32,  0, 8,  8,  8,  8,  1},
    {D3DFMT_V16U16,            Sig, 32,  0, 0,  0,  16, 16, 1},
    {D3DFMT_A2W10V10U10,       Sig, 32,  2, 0,  10, 10, 10, 1},
    {D3DFMT_Q16W16V16U16,      Sig, 64,  0, 16, 16, 16, 16, 1},
    {D3DFMT_CxV8U8,            Sig, 16,  8, 0,  0,  8,  8,  0},
    {D3DFMT_UYVY,              Rgb, 16,  0, 0,  8,  8,  8,  0},
    {D3DFMT_R8G8_B8G8,         Rgb, 16,  0, 0,  8,  8,  8,  0},
    {D3DFMT_YUY2,              Rgb, 16,  0, 0,  8,  8,  8,  0},
    {D3DFMT_G8R8_G8B8,         Rgb, 16,  0, 0,  8,  8,  8,  0},
    {D3DFMT_DXT1,              Rgb, 16,  0, 1,  5,  6,  5,  0},
    {D3DFMT_DXT2,              Rgb, 16,  0, 4,  5,  6,  5,  0},
    {D3DFMT_DXT3,              Rgb, 16,  0, 4,  5,  6,  5,  0},
    {D3DFMT_DXT4,              Rgb, 16,  0, 8,  5,  6,  5,  0},
    {D3DFMT_DXT5,              Rgb, 16,  0, 8,  5,  6,  5,  0},
    {D3DFMT_D16_LOCKABLE,      Dep, 16,  1, 0,  0,  0,  16, 1},
    {D3DFMT_D32F_LOCKABLE,     Dep, 32,  1, 0,  0,  0,  32, 0},
    {D3DFMT_D32,               Dep, 32,  0, 0,  0,  0,  32, 1},
    {D3DFMT_D15S1,             Dep, 16,  0, 0,  0,  1,  15, 1},
    {D3DFMT_D24S8,             Dep, 32,  0, 0,  0,  8,  24, 1},
    {D3DFMT_D16,               Dep, 16,  0, 0,  0,  0,  16, 1},
    {D3DFMT_D24X8,             Dep, 32,  0, 0,  0,  0,  24, 1},
    {D3DFMT_D24X4S4,           Dep, 32,  0, 0,  0,  4,  24, 1},
    {D3DFMT_D24FS8,            Dep, 32,  0, 0,  0,  8,  24, 0},
    {D3DFMT_R16F,              Rgb, 16,  0, 0,  16, 0,  0,  0},
    {D3DFMT_G16R16F,           Rgb, 32,  0, 0,  16, 16, 0,  0},
    {D3DFMT_A16B16G16R16F,     Rgb, 64,  0, 16, 16, 16, 16, 0},
    {D3DFMT_R32F,              Rgb, 32,  0, 0,  32, 0,  0,  0},
    {D3DFMT_G32R32F,           Rgb, 64,  0, 0,  32, 32, 0,  0},
    {D3DFMT_A32B32G32R32F,     Rgb, 128, 0, 32, 32, 32, 32, 0},
    {D3DFMT_INTERNAL_AL16,     Lum, 32,  0, 16, 16, 16, 16, 0},
    {D3DFMT_INTERNAL_R16,      Rgb, 48,  0, 0,  16, 16, 16, 0},
};

const FormatDescriptor& FindFormatDescriptor(D3DFORMAT format) {
  for (const FormatDescriptor& entry : kFormatTable) {
    if (entry.format == format) return entry;
  }
  return kDefaultFormatDescriptor;
}

uint32_t FormatDistance(const FormatDescriptor& wanted, const FormatDescriptor& candidate) {
  // Kinds outside the table's range cannot hold or be held by anything.
  if (wanted.kind > FormatKindDepth || candidate.kind > FormatKindDepth ||
      !kFormatKindCompatibility[wanted.kind][candidate.kind]) {
    return kFormatDistanceNone;
  }
  const uint32_t w[5] = {wanted.auxBits, wanted.alphaBits, wanted.redBits, wanted.greenBits,
                         wanted.blueBits};
  const uint32_t c[5] = {candidate.auxBits, candidate.alphaBits, candidate.redBits,
                         candidate.greenBits, candidate.blueBits};
  uint32_t score = 0;
  uint32_t count = 0;
  for (int i = 0; i < 5; ++i) {
    if (w[i] != 0) ++count;
    if (w[i] < c[i]) {
      score += w[i] == 0 ? 0x100u : c[i] - w[i];
    } else if (w[i] > c[i]) {
      score += c[i] == 0 ? 0x1000000u : (w[i] - c[i]) << 16;
    }
  }
  // Every wanted channel missing (or no wanted channel at all).
  if (count == (score >> 24)) return kFormatDistanceNone;
  return score;
}

D3DFORMAT ResolveInternalFormat(D3DFORMAT format) {
  if (format == D3DFMT_INTERNAL_AL16) return D3DFMT_A8L8;
  if (format == D3DFMT_INTERNAL_R16) return D3DFMT_A16B16G16R16;
  return format;
}

}  // namespace nerro::pixel
