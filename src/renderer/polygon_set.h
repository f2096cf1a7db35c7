// The rendering context: the Direct3D object and device, the texture list,
// the polygon table and the read-back surfaces of a frame. One process-wide
// context exists at most (src/api owns the pointer); the window size and the
// back-buffer format of the last device creation outlive it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "d3d9/d3d9.h"
#include "renderer/polygon_table.h"
#include "renderer/render_state.h"
#include "renderer/texture_list.h"

namespace nerro::renderer {

// ---- Process-wide settings ---------------------------------------------------
// Back-buffer size of the next device made or reset (setWindowSize stores
// here without any check).
extern int32_t windowWidth;   // 544 at start
extern int32_t windowHeight;  // 416 at start
// The back-buffer format of the most recent creation attempt: the format of
// the device made when creation succeeded; every reset uses it.
extern D3DFORMAT backBufferFormat;  // D3DFMT_UNKNOWN at start

// The back-buffer formats creation tries, in order; D3DFMT_UNKNOWN last asks
// a windowed device for the display's format.
inline constexpr D3DFORMAT kBackBufferFormats[] = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_A4R4G4B4,
                                                   D3DFMT_A1R5G5B5, D3DFMT_X1R5G5B5, D3DFMT_UNKNOWN};

// The device types and behaviour flags creation tries for each format.
struct CreationAttempt {
  D3DDEVTYPE deviceType;
  uint32_t behaviorFlags;
};
inline constexpr CreationAttempt kCreationAttempts[] = {
    {D3DDEVTYPE_HAL, D3DCREATE_MIXED_VERTEXPROCESSING},
    {D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING},
    {D3DDEVTYPE_HAL, D3DCREATE_SOFTWARE_VERTEXPROCESSING},
    {D3DDEVTYPE_REF, D3DCREATE_SOFTWARE_VERTEXPROCESSING},
};

// The present parameters of every creation attempt and reset: the whole
// record zeroed, then a windowed, lockable back buffer of the stored window
// size and the given format with an automatic D16 depth buffer.
D3DPRESENT_PARAMETERS makePresentParameters(D3DFORMAT format);

class NerroPolygonSet {
 public:
  // An empty context: no Direct3D objects, no textures, no polygons.
  NerroPolygonSet();
  NerroPolygonSet(const NerroPolygonSet&) = delete;
  NerroPolygonSet& operator=(const NerroPolygonSet&) = delete;
  // Destroys polygons, texture entries, the scratch image, the read-back
  // surfaces, the device and the Direct3D object, in that order.
  virtual ~NerroPolygonSet();

  // Makes the Direct3D object and a device on `focusWindow`: 0, or
  // 0x80004005 when no Direct3D object or no device could be made (what was
  // made stays held until destruction).
  HRESULT initDevice(HWND focusWindow);
  // One creation with `presentParameters`: the four device types and
  // behaviour flags in order, the first success kept. 0 or 0x80004005.
  HRESULT createDevice();
  // Resets a lost device with the stored window size and backBufferFormat,
  // then rebuilds every texture entry in list order. 0 or 0x80004005.
  HRESULT resetDevice();

  IDirect3D9* d3d = nullptr;
  IDirect3DDevice9* device = nullptr;
  D3DPRESENT_PARAMETERS presentParameters{};
  IDirect3DSurface9* backBuffer = nullptr;       // held only during a read-back
  IDirect3DSurface9* readbackSurface = nullptr;  // held only during a read-back
  HWND window = nullptr;
  std::unique_ptr<uint8_t[]> bitmapScratch;  // BMP image being loaded
  PolygonTable polygonTable;
  std::vector<std::unique_ptr<TextureList>> textureEntries;
  uint32_t lastPolygonId = 0;
};

// The frame's entry to resetDevice.
inline HRESULT resetDevice(NerroPolygonSet& context) { return context.resetDevice(); }

}  // namespace nerro::renderer
