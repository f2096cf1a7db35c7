// The resampling-filter word: the filter kind in the low 16 bits, mirror,
// dither and gamma flags above it. Every fill and mip operation of the
// texture builder takes one.
#pragma once

#include <cstdint>

namespace nerro::texture {

using FilterOptions = uint32_t;

// Kinds: the whole low 16-bit field; 0 and 6 to 65535 are invalid.
inline constexpr FilterOptions FilterNone = 1;
inline constexpr FilterOptions FilterPoint = 2;
inline constexpr FilterOptions FilterLinear = 3;
inline constexpr FilterOptions FilterTriangle = 4;
inline constexpr FilterOptions FilterBox = 5;

// Taps outside the source reflect at the edge instead of wrapping around.
inline constexpr FilterOptions FilterMirrorU = 0x10000;
inline constexpr FilterOptions FilterMirrorV = 0x20000;
inline constexpr FilterOptions FilterMirrorW = 0x40000;
inline constexpr FilterOptions FilterMirror = 0x70000;
// Quantise the destination with the ordered dither / error diffusion.
inline constexpr FilterOptions FilterDither = 0x80000;
inline constexpr FilterOptions FilterDiffusionDither = 0x100000;
// Source / destination hold gamma-encoded colour.
inline constexpr FilterOptions FilterSrgbIn = 0x200000;
inline constexpr FilterOptions FilterSrgbOut = 0x400000;

// Asks for the operation's own default.
inline constexpr FilterOptions FilterDefault = 0xFFFFFFFFu;
// The default of the fill operations: triangle filter with ordered dither.
inline constexpr FilterOptions kFillFilterDefault = FilterTriangle | FilterDither;

inline constexpr FilterOptions kFilterKindMask = 0xFFFF;
inline constexpr FilterOptions kFilterReservedMask = 0xFF800000u;

constexpr FilterOptions filterKind(FilterOptions filter) { return filter & kFilterKindMask; }

// A word BlitRegion accepts: a known kind and no reserved bit set.
constexpr bool isValidFilter(FilterOptions filter) {
  const FilterOptions kind = filterKind(filter);
  return kind >= FilterNone && kind <= FilterBox && (filter & kFilterReservedMask) == 0;
}

}  // namespace nerro::texture
