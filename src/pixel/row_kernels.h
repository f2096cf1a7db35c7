// Internal: specialised row loops for the common formats. Each gives exactly
// the bytes or floats of the general per-pixel rule (plain_formats.h): decode
// kernels for any row, encode kernels for rows without error diffusion,
// after range, gamma and luminance steps have been applied to the working
// row. Without diffusion every pixel stands alone and its dither value
// depends only on its position x mod 4, which the caller passes as dither[4].
#pragma once

#include <cstdint>

#include "d3d9/d3d9types.h"

namespace nerro::pixel::detail {

using DecodeKernel = void (*)(const uint8_t* src, D3DCOLORVALUE* out, uint32_t count);
using EncodeKernel = void (*)(const D3DCOLORVALUE* in, uint8_t* dst, uint32_t count,
                              const float* dither);

struct RowKernels {
  DecodeKernel decode = nullptr;
  EncodeKernel encode = nullptr;
};

enum class KernelTier { kBest, kSse2, kAvx2 };

// The fast kernels of `format`; null members where the general rule is used.
// kBest picks AVX2 when the processor has it, else SSE2; kAvx2 gives null
// members when the processor lacks it.
RowKernels FindRowKernels(D3DFORMAT format, KernelTier tier = KernelTier::kBest);

}  // namespace nerro::pixel::detail
