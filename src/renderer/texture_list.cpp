#include "renderer/texture_list.h"

namespace nerro::renderer {

TextureList::~TextureList() {
  if (texture != nullptr) texture->Release();
}

HRESULT TextureList::rebuild(IDirect3DDevice9* /*device*/) {
  if (texture != nullptr) {
    texture->Release();
    texture = nullptr;
  }
  // Texture creation from the kept image joins here when the texture builder
  // is wired into the texture list; until then no texture can be made again.
  return E_FAIL;
}

}  // namespace nerro::renderer
