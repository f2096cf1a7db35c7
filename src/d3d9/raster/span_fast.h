// Fast span routines for the state the polygon renderer uses: point-sampled
// textures in up to two stages (stage 0 selects its texel, stage 1
// modulates the colour by its texel and keeps the alpha), no vertex colour,
// no alpha test, depth LESSEQUAL or off, "source over" blending or none.
// Four pixels at a time with SSE2; each gives the same bytes as the general
// routine.
#pragma once

#include "d3d9/raster/shade.h"

namespace nerro::raster {

// The fast routine for the context, or null when none fits: eight pixels at a
// time where the processor has AVX2, else four with SSE2.
SpanRoutine chooseFastSpan(const DrawContext& dc);

// The AVX2 routines (call only where the processor has AVX2).
SpanRoutine fastSpanAvx2(bool depth, bool blend, bool tex0, bool tex1);

}  // namespace nerro::raster
