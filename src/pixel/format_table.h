// The pixel format table: one constant entry per pixel format the library can
// name, with the kind of data it holds and the bits of each channel. Callers
// use it to identify a format, to score how well one format can stand in for
// another, and to turn the decoders' internal formats into Direct3D formats.
#pragma once

#include <cstddef>
#include <cstdint>

#include "d3d9/d3d9types.h"

namespace nerro::pixel {

enum FormatKind : uint32_t {
  FormatKindRgb = 0,
  FormatKindPalette = 1,
  FormatKindLuminance = 2,
  FormatKindSigned = 3,
  FormatKindDepth = 4,
};

// Nine 32-bit values. The channel counts (auxBits, alphaBits, redBits,
// greenBits, blueBits) are always compared in that order. For signed formats
// alpha/red/green/blue hold Q/W/V/U and auxBits the unsigned luminance or
// alpha; luminance formats repeat the luminance bits in red, green and blue;
// depth formats keep stencil in green, depth in blue and auxBits = 1 when
// lockable. Palette formats describe their 8-bit ARGB palette entries.
struct FormatDescriptor {
  uint32_t format;
  uint32_t kind;
  uint32_t bitsPerPixel;  // only a tie-break for the closest-format search; 16 for DXT
  uint32_t auxBits;
  uint32_t alphaBits;
  uint32_t redBits;
  uint32_t greenBits;
  uint32_t blueBits;
  uint32_t substitutable;  // may be picked as a substitute for another format
};
static_assert(sizeof(FormatDescriptor) == 9 * sizeof(uint32_t));

inline constexpr size_t kFormatCount = 57;

// The entries in their fixed order: the closest-format search visits them in
// this order and keeps the earlier of two equally good candidates.
extern const FormatDescriptor kFormatTable[kFormatCount];

// Returned for any format not in the table.
inline constexpr FormatDescriptor kDefaultFormatDescriptor = {
    D3DFMT_UNKNOWN, FormatKindRgb, 32, 0, 8, 8, 8, 8, 0};

// [wanted kind][candidate kind]: 1 when the candidate's kind may hold the
// wanted kind.
inline constexpr uint8_t kFormatKindCompatibility[5][5] = {
    {1, 0, 0, 0, 0},
    {1, 1, 0, 0, 0},
    {1, 0, 1, 0, 0},
    {0, 0, 0, 1, 0},
    {0, 0, 0, 0, 1},
};

inline constexpr uint32_t kFormatDistanceNone = 0xFFFFFFFFu;

// The table entry of `format`, or kDefaultFormatDescriptor. Never fails.
const FormatDescriptor& FindFormatDescriptor(D3DFORMAT format);

// Lower is better; kFormatDistanceNone when `candidate` cannot hold `wanted`.
// Ordered, most significant first, by channels missing, bits lost in shared
// channels, extra channels, bits gained.
uint32_t FormatDistance(const FormatDescriptor& wanted, const FormatDescriptor& candidate);

// "AL16" becomes D3DFMT_A8L8, " R16" D3DFMT_A16B16G16R16; all else unchanged.
D3DFORMAT ResolveInternalFormat(D3DFORMAT format);

}  // namespace nerro::pixel
