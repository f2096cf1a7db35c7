// Texture creation from an image file held in memory: decode, settle size,
// level count and format from the arguments and the image, fit them to the
// device, create the texture, fill every level and derive the rest.
#pragma once

#include <cstdint>

#include "d3d9/d3d9.h"
#include "image/image.h"
#include "texture/filter_options.h"

namespace nerro::texture {

// Special argument values. 0 and UseDefault take the image's size raised to
// a power of two (a full chain for the level count, the image's format for
// the format; the default filters for the filter words). UseImageSize takes
// the image's size as it is. UseImageValue takes the image's size, level
// count or format and fails with D3DERR_NOTAVAILABLE when fitting to the
// device would change it.
inline constexpr uint32_t UseDefault = 0xFFFFFFFFu;
inline constexpr uint32_t UseImageSize = 0xFFFFFFFEu;
inline constexpr uint32_t UseImageValue = 0xFFFFFFFDu;
// resourceType value: the type the image describes.
inline constexpr uint32_t kResourceTypeFromImage = 0xFFFFFFFFu;

// Makes a 2D, volume or cube texture with its mip chain from `size` bytes of
// image `data`. `filter` loads the image into the levels, `mipFilter`
// derives levels from each other; pixels of colour `colorKey` (0: none)
// become transparent black. `imageInfo` (may be null) receives the image's
// description, `palette` (256 entries, may be null) the working palette.
// On success *texture holds the new texture, owned by the caller; on
// failure it is left as it was.
HRESULT BuildTextureFromImage(IDirect3DDevice9* device, const void* data, uint32_t size, uint32_t width,
                              uint32_t height, uint32_t depth, uint32_t mipLevels, uint32_t usage, D3DFORMAT format,
                              D3DPOOL pool, FilterOptions filter, FilterOptions mipFilter, D3DCOLOR colorKey,
                              image::ImageInfo* imageInfo, PALETTEENTRY* palette, uint32_t resourceType,
                              IDirect3DBaseTexture9** texture);

// BuildTextureFromImage for a 2D texture.
HRESULT MakeTextureFromImage(IDirect3DDevice9* device, const void* data, uint32_t size, uint32_t width,
                             uint32_t height, uint32_t mipLevels, uint32_t usage, D3DFORMAT format, D3DPOOL pool,
                             FilterOptions filter, FilterOptions mipFilter, D3DCOLOR colorKey,
                             image::ImageInfo* imageInfo, PALETTEENTRY* palette, IDirect3DTexture9** texture);

}  // namespace nerro::texture
