// A texture entry of the context: the host bitmap's size, its name, the
// texture made from it and the BMP file image it was made from (kept so the
// texture can be made again after a device reset).
#pragma once

#include <cstdint>
#include <memory>

#include "d3d9/d3d9.h"

namespace nerro::renderer {

class TextureList {
 public:
  TextureList() = default;
  TextureList(const TextureList&) = delete;
  TextureList& operator=(const TextureList&) = delete;
  // Releases the texture, when held, and frees the image copy.
  virtual ~TextureList();

  // Makes the texture again from the kept image copy after a device reset:
  // 0 or 0x80004005. The old texture is released first; after a failure the
  // entry stays without a texture.
  HRESULT rebuild(IDirect3DDevice9* device);

  int32_t width = 0;
  int32_t height = 0;
  char name[260] = {};
  IDirect3DTexture9* texture = nullptr;
  std::unique_ptr<uint8_t[]> bitmapCopy;
};

}  // namespace nerro::renderer
