// The process-wide rendering context and the steps every export shares.
#pragma once

#include <cstdint>

#include "renderer/polygon_set.h"

namespace nerro::api {

// The context, or null when none exists.
renderer::NerroPolygonSet* context();

// Makes the context on the window in the foreground when there is none:
// 1 when a context exists afterwards, 0 when it could not be made (nothing
// is left behind, so the next call tries again).
int32_t ensureContext();

// Destroys the context (polygons, texture entries, scratch image, read-back
// surfaces, device, Direct3D object) when there is one.
void disposeContext();

// The host bitmap's pixel buffer, following the handle chain: the 32-bit
// value at 2 x handle + 16 (P1), the one at P1 + 8 (P2), then the one at
// P2 + 16. Every stored value is checked to be mapped before it is read, and
// the width x height x 4 bytes it leads to to be mapped (and writable when
// asked). Null for a broken chain, width or height of 0 or below, or a size
// whose width x height x 4 + 54 does not fit 32 bits.
void* resolveBitmapPixels(uint32_t handle, int32_t width, int32_t height, bool writable);

}  // namespace nerro::api
