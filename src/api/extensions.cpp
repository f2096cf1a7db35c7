// Exports beyond the fifteen, for hosts that hold pixels by pointer or image
// files rather than bitmap handles. They share the common first step and
// the failure values of the exports they stand beside.
#include "nerroPolygon.h"

#include "api/context.h"
#include "api/guarded.h"
#include "renderer/frame.h"
#include "renderer/texture_list.h"

using nerro::api::guarded;

extern "C" {

NERRO_EXPORT int32_t loadTexturePixels(const char* name, const void* pixels, int32_t width, int32_t height) {
  return guarded(0, [&] {
    if (!nerro::api::ensureContext() || pixels == nullptr) return 0;
    return nerro::renderer::loadTexture(*nerro::api::context(), name, pixels, width, height);
  });
}

NERRO_EXPORT int32_t loadTextureImage(const char* name, const void* data, uint32_t size) {
  return guarded(0, [&] {
    if (!nerro::api::ensureContext()) return 0;
    return nerro::renderer::loadTextureImage(*nerro::api::context(), name, data, size);
  });
}

NERRO_EXPORT int32_t drawPaintPixels(void* pixels, int32_t width, int32_t height) {
  return guarded(static_cast<int32_t>(E_FAIL), [&] {
    if (!nerro::api::ensureContext()) return static_cast<int32_t>(E_FAIL);
    if (pixels == nullptr || nerro::renderer::bitmapFileSize(width, height) == 0) return static_cast<int32_t>(E_FAIL);
    return static_cast<int32_t>(nerro::renderer::drawFrame(*nerro::api::context(), pixels, width, height));
  });
}

}  // extern "C"
