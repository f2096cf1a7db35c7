// The SSE and SSE2 tiers.
#include "math/routines.h"

namespace nerro::math::detail {

void installSseRoutines(MathDispatch&) {}
void installSse2Routines(MathDispatch&) {}
void installSseArrayRoutines(MathDispatch&) {}

}  // namespace nerro::math::detail
