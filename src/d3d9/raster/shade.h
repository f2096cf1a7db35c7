// Pixel shading of spans: everything one covered pixel goes through after
// rasterisation (interpolation, sampling, combining, tests, blending and the
// write-out), as span routines chosen once per draw.
#pragma once

#include <cstdint>

#include "d3d9/raster/fragment.h"
#include "d3d9/raster/sampler.h"
#include "d3d9/raster/setup.h"

namespace nerro::raster {

struct DrawContext;
using SpanRoutine = void (*)(const DrawContext& dc, const Triangle& t, int32_t y, int32_t xs, int32_t xe);

// What a draw needs per pixel, prepared once per draw.
struct DrawContext {
  uint8_t* color = nullptr;
  int32_t colorPitch = 0;
  int32_t width = 0;  // pixels in a row of the colour target (and of the depth buffer)
  uint8_t* depth = nullptr;  // null: no depth buffer, or Z off
  int32_t depthPitch = 0;
  bool depthTest = false;
  bool depthWrite = false;
  uint32_t zFunc = D3DCMP_LESSEQUAL;
  bool alphaTest = false;
  uint32_t alphaFunc = D3DCMP_ALWAYS;
  uint32_t alphaRef = 0;
  bool colorVarying = false;  // vertices carry a diffuse colour
  Combiner combiner;
  Blender blender;
  StageSampler sampler[kStageCount];
  bool stageLod[kStageCount] = {};
  SpanRoutine span = nullptr;

  void prepare(const RasterState& s, const ColorTarget& c, const DepthTarget& d,
               const TextureView textures[kStageCount], bool hasDiffuse);
};

// Every state combination, one pixel at a time.
void shadeSpanGeneral(const DrawContext& dc, const Triangle& t, int32_t y, int32_t xs, int32_t xe);
// The routine for the context: a fast path when one fits, else the general.
SpanRoutine chooseSpanRoutine(const DrawContext& dc);

}  // namespace nerro::raster
