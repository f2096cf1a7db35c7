// Test hooks of the math library. Only tests include this header.
#pragma once

#include "math/math.h"

namespace nerro::math::testing {

// Puts the library back in its first-use state: every slot at its first-use
// entry, mathTier unselected, the MMX answer, the mute state and its setting
// unasked, the allocation check not yet run.
void resetMathState();

// The generic routine of every slot.
const MathDispatch& genericRoutines();

// The live table.
const MathDispatch& liveRoutines();

}  // namespace nerro::math::testing
