// The fixed rendering configuration of every frame: the per-polygon render
// and texture-stage states (as data, applied in order before each polygon),
// the clear values and the camera.
#pragma once

#include <cstdint>

#include "d3d9/d3d9types.h"

namespace nerro::renderer {

// One step of the polygon state: a render state when stage is -1, else a
// texture-stage state of that stage.
struct PolygonRenderState {
  int32_t stage;
  uint32_t state;
  uint32_t value;
};

// Set before every polygon, in this order. Slot 0's colour times slot 1's,
// slot 0's alpha, blended over the frame by source alpha, depth tested and
// written. Nothing else is set: sampler states, alpha testing, stages above
// 1 keep the device's defaults.
inline constexpr PolygonRenderState kPolygonRenderStates[] = {
    {-1, D3DRS_ZENABLE, D3DZB_TRUE},
    {-1, D3DRS_ZWRITEENABLE, TRUE},
    {-1, D3DRS_CULLMODE, D3DCULL_NONE},
    {0, D3DTSS_COLOROP, D3DTOP_SELECTARG1},
    {0, D3DTSS_COLORARG1, D3DTA_TEXTURE},
    {0, D3DTSS_COLORARG2, D3DTA_DIFFUSE},
    {-1, D3DRS_LIGHTING, FALSE},
    {0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1},
    {0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE},
    {0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE},
    {1, D3DTSS_COLOROP, D3DTOP_MODULATE},
    {1, D3DTSS_COLORARG1, D3DTA_CURRENT},
    {1, D3DTSS_COLORARG2, D3DTA_TEXTURE},
    {1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1},
    {1, D3DTSS_ALPHAARG1, D3DTA_CURRENT},
    {1, D3DTSS_ALPHAARG2, D3DTA_TEXTURE},
    {-1, D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL},
    {-1, D3DRS_ALPHABLENDENABLE, TRUE},
    {-1, D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},
    {-1, D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA},
};
inline constexpr uint32_t kPolygonRenderStateCount =
    sizeof(kPolygonRenderStates) / sizeof(kPolygonRenderStates[0]);

// Clear of the whole target at the start of each frame.
inline constexpr uint32_t kClearFlags = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER;
inline constexpr D3DCOLOR kClearColor = 0x00000000u;  // black, alpha 0
inline constexpr float kClearDepth = 1.0f;
inline constexpr uint32_t kClearStencil = 0;

// Camera: a left-handed look-at from (0, 0, -580) towards the origin with y
// up, and a left-handed perspective of vertical field of view pi/4 (the
// float 0x3F490FDB), near 0.1, far 100000; its aspect ratio is the
// viewport's width / height, read from the device each frame.
inline constexpr D3DVECTOR kCameraEye = {0.0f, 0.0f, -580.0f};
inline constexpr D3DVECTOR kCameraTarget = {0.0f, 0.0f, 0.0f};
inline constexpr D3DVECTOR kCameraUp = {0.0f, 1.0f, 0.0f};
inline constexpr float kCameraFovY = 0.78539819f;
inline constexpr float kCameraNear = 0.1f;
inline constexpr float kCameraFar = 100000.0f;

}  // namespace nerro::renderer
