// Triangle setup: snapping to the sub-pixel grid, edge equations with the
// top-left fill rule, and the interpolation planes of depth, 1/w and the
// attributes.
#pragma once

#include <cstdint>

#include "d3d9/raster/vertex.h"

namespace nerro::raster {

// Positions are snapped to 1/256 of a pixel.
constexpr int kSubpixelBits = 8;

// The rectangle pixels may be written in, half-open: the viewport within the
// targets.
struct Scissor {
  int32_t x0, y0, x1, y1;
};

// E(x, y) = a*x + b*y + c at the centre of pixel (x, y); the pixel is on the
// inner side of the edge when E >= 0 (the fill-rule bias is folded into c).
struct EdgeEquation {
  int64_t a, b, c;
};

// f(x, y) = c + dx*(x - refX) + dy*(y - refY), x and y in pixels.
struct Plane {
  float c, dx, dy;
};

struct Triangle {
  EdgeEquation edge[3];
  int32_t minX, maxX, minY, maxY;  // inclusive bounds, inside the scissor
  Plane z, q;
  Plane attr[kAttrCount];
};

// Sets up the triangle; false when it covers no pixel centre inside the
// scissor for certain (zero area, outside, or wound against `sign`, the
// winding of the polygon it was cut from: +1 clockwise on screen, -1 not).
bool setupTriangle(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2, int sign,
                   const Scissor& scissor, Triangle& out);

// Twice the signed area of the snapped polygon: positive when it runs
// clockwise on screen (y down).
int64_t snappedArea2(const ScreenVertex* v, int n);

// The pixels of row y inside the triangle: [xs, xe]; false when none.
bool rowSpan(const Triangle& t, int32_t y, int32_t& xs, int32_t& xe);

}  // namespace nerro::raster
