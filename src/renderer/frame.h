// One frame: handle a lost device, clear, drop disposed polygons, draw every
// polygon in the table's order under the fixed camera, and copy the back
// buffer into the host's bitmap (32-bit pixels, bottom row first).
#pragma once

#include <cstdint>

#include "d3d9/d3d9.h"
#include "renderer/polygon.h"

namespace nerro::renderer {

class NerroPolygonSet;

// Draws a frame and writes it to `pixels` (width x height pixels of 4 bytes,
// rows of width x 4 bytes, bottom row first). S_OK, E_FAIL, or
// E_OUTOFMEMORY when the read-back surface cannot be made. A lost device
// leaves the host's buffer and the table untouched; a resettable one is
// reset (textures rebuilt) and drawn in the same call.
HRESULT drawFrame(NerroPolygonSet& context, void* pixels, int32_t width, int32_t height);

// Sets the polygon state, binds the polygon's textures (an empty slot keeps
// whatever the stage had), sets its world matrix and draws it as a strip.
// A disposed polygon is skipped.
void drawPolygon(IDirect3DDevice9* device, const NerroPolygon& polygon);

// Copies the back buffer into the host's buffer through a system-memory
// surface, row 0 of the back buffer into the last row of the host's. Only
// the overlap of the two sizes is copied (host pixels outside it keep their
// bytes); 16-bit back buffers are widened to 32-bit pixels. E_FAIL without
// touching anything for a null buffer or a negative size, and for a
// back-buffer format that has no host-pixel form.
HRESULT readBack(NerroPolygonSet& context, void* pixels, int32_t width, int32_t height);

// Widens `count` back-buffer pixels of `format` to host pixels (blue, green,
// red, alpha). 32-bit formats are copied as they are; the 16-bit formats
// R5G6B5, X1R5G5B5, A1R5G5B5, A4R4G4B4 and X4R4G4B4 are widened by bit
// replication, with alpha 255 where the format has none. False for any
// other format (nothing written).
bool backBufferRowToHost(D3DFORMAT format, const void* source, uint32_t count, void* destination);

}  // namespace nerro::renderer
