// Fitting a texture request to what the device can hold: default values,
// size limits, aspect and power-of-two rules, block alignment, the level
// count, and the closest accepted format.
#pragma once

#include <cstdint>

#include "d3d9/d3d9.h"
#include "pixel/format_table.h"

namespace nerro::texture {

// A request value the caller leaves open (a null pointer counts the same).
inline constexpr uint32_t kRequestOpen = 0xFFFFFFFFu;

// Usage bits a request may carry; the query bits among them only steer the
// format search and are removed before a texture is created.
inline constexpr uint32_t kRequestUsageRefused = 0xFFE039ECu;
inline constexpr uint32_t kCreationUsageMask = 0xFFE07FFFu;

// The format of the table closest to `wanted` that the device accepts for
// `usage` and `resourceType` (every table format counts as accepted without
// a device); D3DFMT_UNKNOWN when none is close enough. An accepted entry
// equal to the wanted format wins at once.
D3DFORMAT ChooseSupportedFormat(IDirect3DDevice9* device, uint32_t usage, D3DRESOURCETYPE resourceType,
                                const pixel::FormatDescriptor& wanted);

// Replaces open values, caps the size by the device's limits, applies its
// aspect and power-of-two rules, aligns block-compressed sizes to 4, settles
// the level count and picks the format. Every pointer may be null; on
// success every non-null one receives its fitted value, on failure none is
// written. D3DERR_INVALIDCALL for no device, refused usage bits, an unknown
// pool, or sizes that do not fit 32 bits; D3DERR_NOTAVAILABLE when no format
// fits.
HRESULT FitTextureRequest(IDirect3DDevice9* device, uint32_t* width, uint32_t* height, uint32_t* depth,
                          uint32_t* mipLevels, uint32_t usage, D3DFORMAT* format, D3DPOOL pool,
                          D3DRESOURCETYPE resourceType);

}  // namespace nerro::texture
