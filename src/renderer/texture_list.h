// The texture list: each entry keeps a host bitmap's size, its name, the
// texture made from it and the image file the texture was made from (kept
// so the texture can be made again after a device reset). The context holds
// the entries in loading order.
#pragma once

#include <cstdint>
#include <memory>

#include "d3d9/d3d9.h"

namespace nerro::renderer {

class NerroPolygonSet;

// Bytes of a texture name field; names of kMaxTextureName characters or more
// are refused, so the terminator always fits.
inline constexpr uint32_t kTextureNameField = 260;
inline constexpr uint32_t kMaxTextureName = 259;

// Size of the BMP file image of a w x h host bitmap (w x h x 4 + 54), or 0
// when w or h is not positive or the size does not fit 32 bits.
uint32_t bitmapFileSize(int32_t width, int32_t height);

// A 32-bit BI_RGB BMP file image (54-byte header, rows bottom-up) holding
// the host's w x h pixels byte for byte; null when the size is refused or
// memory runs out.
std::unique_ptr<uint8_t[]> buildBitmapFile(const void* pixels, int32_t width, int32_t height);

class TextureList {
 public:
  TextureList() = default;
  TextureList(const TextureList&) = delete;
  TextureList& operator=(const TextureList&) = delete;
  // Releases the texture, when held, and frees the image copy.
  virtual ~TextureList();

  // Keeps the image (`imageSize` bytes), whose copy the caller made, and
  // makes the texture from it: 0 or E_FAIL. Width and height are the
  // image's size; 0 for both takes them from the image itself.
  HRESULT build(IDirect3DDevice9* device, std::unique_ptr<uint8_t[]> image, uint32_t imageSize, int32_t width,
                int32_t height);
  // Makes the texture again from the kept image after a device reset: 0 or
  // E_FAIL. The old texture is released first; after a failure the entry
  // stays without a texture.
  HRESULT rebuild(IDirect3DDevice9* device);

  int32_t width = 0;
  int32_t height = 0;
  char name[kTextureNameField] = {};
  IDirect3DTexture9* texture = nullptr;
  std::unique_ptr<uint8_t[]> bitmapCopy;
  uint32_t bitmapSize = 0;

 private:
  HRESULT makeTexture(IDirect3DDevice9* device);
};

// Loads the host's w x h pixels (bottom row first) as texture `name`
// through a BMP file image: 1 when an entry was appended, 0 otherwise.
int32_t loadTexture(NerroPolygonSet& context, const char* name, const void* pixels, int32_t width, int32_t height);
// Loads an image file of any container the loader accepts: the entry keeps
// the file's bytes for rebuilds. 1 or 0.
int32_t loadTextureImage(NerroPolygonSet& context, const char* name, const void* data, uint32_t size);
// The first entry loaded under exactly `name`, or null.
TextureList* findTexture(const NerroPolygonSet& context, const char* name);
// Gives polygon `id` the texture of entry `name` in `slot` with the texture
// coordinates (6 or 8 floats): 1 when both were found (slots above 1 change
// nothing), else 0.
int32_t assignTexture(NerroPolygonSet& context, uint32_t id, const char* name, uint32_t slot, const float* coords);
// Destroys every entry, first to last. Polygons keep the textures they hold.
void clearTextures(NerroPolygonSet& context);

}  // namespace nerro::renderer
