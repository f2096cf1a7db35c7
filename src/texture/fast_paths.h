// Shortcuts for the common 32-bit pixel formats inside the blit strategies.
// Each one has an acceptance rule; when it refuses, the strategy goes on
// with its general float path, and where it accepts it writes exactly the
// bytes that path would. Internal to the texture builder.
#pragma once

#include <cstdint>
#include <vector>

#include "d3d9/d3d9types.h"
#include "pixel/pixel_codec.h"
#include "texture/resample_weights.h"

namespace nerro::texture {

// The two-tap linear filter of one slice from a D3DFMT_A8R8G8B8 or
// D3DFMT_X8R8G8B8 source: only the four source pixels of each destination
// pixel are converted to float (field times 1/255, alpha 1 for X8R8G8B8),
// four destination pixels at a time, with the general path's products and
// sums in its order; rows are then encoded by the destination codec. Needs
// an addressable source without colour key or gamma. E_FAIL (nothing
// written) when refused, E_OUTOFMEMORY, or S_OK.
bool linearFromArgbAccepts(const pixel::PixelCodec& source);
HRESULT linearFromArgb(pixel::PixelCodec& source, pixel::PixelCodec& dest, const std::vector<LinearTap>& tapsX,
                       const std::vector<LinearTap>& tapsY);

// `count` 32-bit words of `source` written to `dest` as (word & keep) | set,
// four at a time; `dest` may be `source` itself.
void maskWords(const uint8_t* source, uint8_t* dest, uint32_t count, uint32_t keep, uint32_t set);

// Tests: turn the shortcuts off (and on again) to compare with the general
// paths. On by default.
void setFastPathsEnabled(bool enabled);
bool fastPathsEnabled();

}  // namespace nerro::texture
