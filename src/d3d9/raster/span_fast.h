// Fast span routines for the state the polygon renderer uses: point-sampled
// textures in up to two stages (stage 0 selects its texel, stage 1
// modulates the colour by its texel and keeps the alpha), no vertex colour,
// no alpha test, depth LESSEQUAL or off, "source over" blending or none.
// Four pixels at a time with SSE2; each gives the same bytes as the general
// routine.
#pragma once

#include "d3d9/raster/shade.h"

namespace nerro::raster {

// The fast routine for the context, or null when none fits.
SpanRoutine chooseFastSpan(const DrawContext& dc);

}  // namespace nerro::raster
