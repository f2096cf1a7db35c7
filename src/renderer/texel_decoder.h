// Lets the software device read textures of every format: the device asks
// for a level as A8R8G8B8 pixels, and this decoder converts it through the
// texture builder's pixel pipeline (pixel codecs, DXT and pair formats
// included). Installed when a context is made.
#pragma once

#include "d3d9/software_adapter.h"

namespace nerro::renderer {

class CodecTexelDecoder final : public d3d9::TexelDecoder {
 public:
  bool decodeLevel(D3DFORMAT format, const uint8_t* bits, int32_t pitch, uint32_t width, uint32_t height,
                   uint32_t* argbOut) override;
};

// Installs one CodecTexelDecoder in the software adapter (once per process;
// later calls do nothing).
void installTexelDecoder();

}  // namespace nerro::renderer
