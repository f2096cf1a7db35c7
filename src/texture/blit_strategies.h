// The blit strategies that write a destination box from a source box, and
// the runner that tries them in their fixed order. Internal to the texture
// builder: callers go through BlitRegion (surface_loading.h).
#pragma once

#include <array>
#include <cstdint>

#include "d3d9/d3d9types.h"
#include "pixel/pixel_codec.h"
#include "texture/filter_options.h"

namespace nerro::texture {

// A strategy writes the destination codec's box from the source codec's box.
// One that does not accept the pair returns E_FAIL before writing anything;
// one that runs out of memory part-way returns its code with the rows done
// so far written.
using BlitStrategy = HRESULT (*)(pixel::PixelCodec& source, pixel::PixelCodec& dest, FilterOptions filter);

struct BlitStrategyEntry {
  const char* name;
  BlitStrategy run;
};

enum BlitStrategyIndex : int {
  kStrategyDirectCopy = 0,
  kStrategySameSizeConversion,
  kStrategyNone,
  kStrategyPoint,
  kStrategyBox2D,
  kStrategyBox3D,
  kStrategyLinear2D,
  kStrategyLinear3D,
  kStrategyTriangle2D,
  kStrategyTriangle3D,
  kStrategyCount,
};

// In their order of trial.
extern const std::array<BlitStrategyEntry, kStrategyCount> kBlitStrategies;

// Tries the strategies in order and stops at the first that succeeds (S_OK),
// else E_FAIL. A source box with no pixels is refused with
// D3DERR_INVALIDCALL before any strategy reads, unless the destination box
// is empty too; an empty destination box succeeds at once. `chosen`, when
// given, receives the index of the strategy that succeeded (-1 for none).
HRESULT RunBlitStrategies(pixel::PixelCodec& source, pixel::PixelCodec& dest, FilterOptions filter,
                          int* chosen = nullptr);

}  // namespace nerro::texture
