#include "renderer/texel_decoder.h"

#include <memory>

#include "pixel/pixel_codec.h"
#include "texture/surface_loading.h"

namespace nerro::renderer {

bool CodecTexelDecoder::decodeLevel(D3DFORMAT format, const uint8_t* bits, int32_t pitch, uint32_t width,
                                    uint32_t height, uint32_t* argbOut) {
  if (bits == nullptr || argbOut == nullptr || pitch <= 0 || width == 0 || height == 0) return false;
  const D3DBOX whole = {0, 0, width, height, 0, 1};
  pixel::PixelRegion source;
  source.pixels = const_cast<uint8_t*>(bits);  // only read
  source.format = format;
  source.rowPitch = static_cast<uint32_t>(pitch);
  source.bounds = whole;
  source.box = whole;
  pixel::PixelRegion destination;
  destination.pixels = argbOut;
  destination.format = D3DFMT_A8R8G8B8;
  destination.rowPitch = width * 4;
  destination.bounds = whole;
  destination.box = whole;
  // Same size, no filtering: every texel is converted as it is.
  return SUCCEEDED(texture::BlitRegion(destination, source, texture::FilterNone));
}

void installTexelDecoder() {
  static const bool installed = [] {
    d3d9::setTexelDecoder(std::make_shared<CodecTexelDecoder>());
    return true;
  }();
  (void)installed;
}

}  // namespace nerro::renderer
