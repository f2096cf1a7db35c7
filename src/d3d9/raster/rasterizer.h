// The software rasteriser behind the adapter's DrawPrimitiveUP and Clear.
//
// A plain interface: the device keeps its render, texture-stage and sampler
// states in a RasterState (numeric Direct3D values, set through the three
// set*State helpers below), hands over its targets and its bound texture
// levels as views, and calls drawPrimitive. Nothing here knows the COM-style
// classes.
//
// Conventions are Direct3D 9's: row-vector transforms world x view x
// projection, clipping against near/far and the frustum, pixel centres at
// integer screen coordinates with the top-left fill rule, perspective-correct
// texture coordinates, depth 0..1 into a D16 buffer. Calls are synchronous
// and deterministic (the same input gives the same bytes) and never write
// outside the colour or depth target whatever the vertices hold.
#pragma once

#include <cstdint>

#include "d3d9/d3d9types.h"

namespace nerro::raster {

// A render target of 32-bit pixels, 0xAARRGGBB in memory order B, G, R, A
// (D3DFMT_A8R8G8B8 or D3DFMT_X8R8G8B8). Pitch in bytes.
struct ColorTarget {
  uint8_t* bits = nullptr;
  int32_t pitch = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

// A D16 depth buffer of the colour target's size. Pitch in bytes. Null bits:
// no depth buffer (depth test and write are skipped).
struct DepthTarget {
  uint16_t* bits = nullptr;
  int32_t pitch = 0;
};

// One decoded A8R8G8B8 level of a texture.
struct TextureLevel {
  const uint32_t* argb = nullptr;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t pitchPixels = 0;
};

// The texture bound to a stage: its levels from the largest down. No levels
// means nothing is bound; such a stage reads its texels as opaque white.
struct TextureView {
  const TextureLevel* levels = nullptr;
  uint32_t levelCount = 0;

  bool bound() const { return levels != nullptr && levelCount != 0 && levels[0].argb != nullptr; }
};

constexpr uint32_t kStageCount = 2;

struct TextureStageState {
  uint32_t colorOp = D3DTOP_DISABLE;
  uint32_t colorArg1 = D3DTA_TEXTURE;
  uint32_t colorArg2 = D3DTA_CURRENT;
  uint32_t alphaOp = D3DTOP_DISABLE;
  uint32_t alphaArg1 = D3DTA_TEXTURE;
  uint32_t alphaArg2 = D3DTA_CURRENT;
  uint32_t texCoordIndex = 0;
};

struct SamplerState {
  uint32_t addressU = D3DTADDRESS_WRAP;
  uint32_t addressV = D3DTADDRESS_WRAP;
  D3DCOLOR borderColor = 0;
  uint32_t magFilter = D3DTEXF_POINT;
  uint32_t minFilter = D3DTEXF_POINT;
  uint32_t mipFilter = D3DTEXF_NONE;
  uint32_t maxMipLevel = 0;
};

// Everything of the device state the rasteriser honours. A default-made
// RasterState holds Direct3D's defaults for a device with an automatic depth
// buffer (except the viewport, which the device sets to its target's size).
struct RasterState {
  RasterState();

  // Render states.
  uint32_t zEnable = D3DZB_TRUE;
  uint32_t zWriteEnable = TRUE;
  uint32_t zFunc = D3DCMP_LESSEQUAL;
  uint32_t cullMode = D3DCULL_CCW;
  uint32_t shadeMode = D3DSHADE_GOURAUD;
  uint32_t alphaBlendEnable = FALSE;
  uint32_t srcBlend = D3DBLEND_ONE;
  uint32_t destBlend = D3DBLEND_ZERO;
  uint32_t alphaTestEnable = FALSE;
  uint32_t alphaFunc = D3DCMP_ALWAYS;
  uint32_t alphaRef = 0;
  D3DCOLOR textureFactor = 0xFFFFFFFFu;

  TextureStageState stages[kStageCount];
  SamplerState samplers[kStageCount];

  D3DMATRIX world;
  D3DMATRIX view;
  D3DMATRIX projection;
  D3DVIEWPORT9 viewport{0, 0, 0, 0, 0.0f, 1.0f};
};

// Store a state value under its Direct3D number. False (state unchanged)
// for a state the rasteriser does not model; the device keeps it anyway.
bool setRenderState(RasterState& state, uint32_t renderState, uint32_t value);
bool setTextureStageState(RasterState& state, uint32_t stage, uint32_t type, uint32_t value);
bool setSamplerState(RasterState& state, uint32_t sampler, uint32_t type, uint32_t value);
// D3DTS_WORLD, D3DTS_VIEW or D3DTS_PROJECTION; false for any other.
bool setTransform(RasterState& state, uint32_t transform, const D3DMATRIX& matrix);

// Most primitives one draw may ask for (as a hardware device reports in its
// MaxPrimitiveCount); larger counts are refused.
constexpr uint32_t kMaxPrimitiveCount = 0x555555;

// Result of a draw. Bad arguments are refused as a whole before anything is
// drawn (D3DERR_INVALIDCALL); geometry that cannot be drawn (NaN, behind the
// eye, degenerate, culled) simply draws nothing.
HRESULT drawPrimitive(const RasterState& state, const ColorTarget& color, const DepthTarget& depth,
                      const TextureView textures[kStageCount], uint32_t primitiveType,
                      uint32_t primitiveCount, const void* vertices, uint32_t stride, uint32_t fvf);

// Clear the whole targets (D3DCLEAR_TARGET and/or D3DCLEAR_ZBUFFER), or the
// part of them inside rect when it is given (clipped to the targets).
void clear(const ColorTarget& color, const DepthTarget& depth, uint32_t flags, D3DCOLOR value,
           float z, const RECT* rect = nullptr);

// The number of bytes one vertex of the format takes, 0 for a format the
// rasteriser cannot read.
uint32_t vertexSize(uint32_t fvf);

}  // namespace nerro::raster
