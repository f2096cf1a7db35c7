// nerro-render: makes a rendering context as a host would (setWindowSize,
// then create), reports the device the context got, and disposes of it.
//
//   nerro-render [width height]    back-buffer size, default 544 x 416
#include <cstdio>
#include <cstdlib>

#include "api/context.h"
#include "d3d9/software_adapter.h"
#include "nerroPolygon.h"
#include "renderer/polygon_set.h"

namespace {

const char* formatName(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_A8R8G8B8: return "A8R8G8B8";
    case D3DFMT_X8R8G8B8: return "X8R8G8B8";
    case D3DFMT_A4R4G4B4: return "A4R4G4B4";
    case D3DFMT_A1R5G5B5: return "A1R5G5B5";
    case D3DFMT_X1R5G5B5: return "X1R5G5B5";
    case D3DFMT_R5G6B5: return "R5G6B5";
    case D3DFMT_UNKNOWN: return "UNKNOWN (the display's format)";
    default: return "other";
  }
}

const char* vertexProcessing(uint32_t flags) {
  if (flags & D3DCREATE_MIXED_VERTEXPROCESSING) return "mixed";
  if (flags & D3DCREATE_HARDWARE_VERTEXPROCESSING) return "hardware";
  if (flags & D3DCREATE_SOFTWARE_VERTEXPROCESSING) return "software";
  return "none";
}

}  // namespace

int main(int argc, char** argv) {
  int32_t width = 544, height = 416;
  if (argc == 3) {
    width = static_cast<int32_t>(std::strtol(argv[1], nullptr, 10));
    height = static_cast<int32_t>(std::strtol(argv[2], nullptr, 10));
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: %s [width height]\n", argv[0]);
    return 2;
  }
  setWindowSize(width, height);
  if (create() != 1) {
    std::fprintf(stderr, "nerro-render: no rendering context could be made for %d x %d\n", width, height);
    return 1;
  }
  IDirect3DDevice9* device = nerro::api::context()->device;
  D3DDEVICE_CREATION_PARAMETERS creation{};
  device->GetCreationParameters(&creation);
  D3DCAPS9 caps{};
  device->GetDeviceCaps(&caps);
  IDirect3DSurface9* back = nullptr;
  D3DSURFACE_DESC desc{};
  if (device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back) == S_OK) {
    back->GetDesc(&desc);
    back->Release();
  }
  std::printf("device: %s, %s vertex processing\n", creation.DeviceType == D3DDEVTYPE_HAL ? "HAL" : "REF",
              vertexProcessing(creation.BehaviorFlags));
  std::printf("back buffer: %u x %u %s (asked for %s), depth D16\n", desc.Width, desc.Height,
              formatName(desc.Format), formatName(nerro::renderer::backBufferFormat));
  std::printf("textures: up to %u x %u, caps 0x%08X\n", caps.MaxTextureWidth, caps.MaxTextureHeight,
              caps.TextureCaps);
  dispose();
  std::printf("disposed; adapter objects alive: %u\n", nerro::d3d9::liveObjectCount());
  return nerro::d3d9::liveObjectCount() == 0 ? 0 : 1;
}
