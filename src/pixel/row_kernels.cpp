#include "pixel/row_kernels.h"

namespace nerro::pixel::detail {

RowKernels FindRowKernels(D3DFORMAT) { return {}; }

}  // namespace nerro::pixel::detail
