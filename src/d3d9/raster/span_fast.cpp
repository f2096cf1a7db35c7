// Fast span routines.
#include "d3d9/raster/span_fast.h"

namespace nerro::raster {

SpanRoutine chooseFastSpan(const DrawContext&) { return nullptr; }

}  // namespace nerro::raster
