// Mip-chain generation: fills the levels of a texture below a chosen level
// from that level, for 2D, volume and cube textures.
#pragma once

#include <cstdint>

#include "d3d9/d3d9.h"
#include "texture/filter_options.h"

namespace nerro::texture {

// Source level 0xFFFFFFFF means level 0. The palette is the source and
// destination palette of every fill. FilterDefault picks FilterBox when
// level 0 has power-of-two sizes, else FilterTriangle | FilterDither.
// Point and box filters make each level from the one above; the others make
// every level from the source level. Cube faces are filtered with the
// mirror flags. D3DERR_INVALIDCALL for a null or unsupported texture or a
// source level beyond the chain; levels already filled stay filled on
// failure.
HRESULT GenerateMipLevels(IDirect3DBaseTexture9* texture, const PALETTEENTRY* palette, uint32_t sourceLevel,
                          FilterOptions mipFilter);

inline constexpr uint32_t kMipSourceLevelDefault = 0xFFFFFFFFu;

}  // namespace nerro::texture
