// The fifteen exports. Each but dispose and setWindowSize first makes sure
// the context exists and returns its failure value at once when it cannot
// be made. No exception leaves an export: anything raised inside turns into
// the export's failure value.
#include "nerroPolygon.h"

#include "api/context.h"
#include "api/guarded.h"
#include "renderer/frame.h"
#include "renderer/polygon_set.h"
#include "renderer/polygon_table.h"
#include "renderer/texture_list.h"

namespace {

constexpr int32_t kFailed = 0;
constexpr int32_t kDone = 1;

using nerro::api::guarded;

// The five transform exports: the common first step, then the transform of
// that kind of the polygon (unknown ids and null values are ignored).
int32_t setupTransform(uint32_t id, nerro::renderer::TransformKind kind, const float* values) {
  if (!nerro::api::ensureContext()) return kFailed;
  nerro::renderer::NerroPolygonSet& c = *nerro::api::context();
  nerro::renderer::setPolygonTransform(c.polygonTable, id, kind, values);
  return kDone;
}

}  // namespace

extern "C" {

NERRO_EXPORT int32_t create(void) {
  return guarded(kFailed, [] { return nerro::api::ensureContext(); });
}

NERRO_EXPORT void dispose(void) {
  guarded(0, [] {
    nerro::api::disposeContext();
    return 0;
  });
}

NERRO_EXPORT void NERRO_CALLEE setWindowSize(int32_t width, int32_t height) {
  nerro::renderer::windowWidth = width;
  nerro::renderer::windowHeight = height;
}

NERRO_EXPORT int32_t NERRO_CALLEE loadTexture(const char* name, uint32_t bitmap, int32_t width, int32_t height) {
  return guarded(kFailed, [&] {
    if (!nerro::api::ensureContext()) return kFailed;
    void* pixels = nerro::api::resolveBitmapPixels(bitmap, width, height, false);
    if (pixels == nullptr) return kFailed;
    return nerro::renderer::loadTexture(*nerro::api::context(), name, pixels, width, height);
  });
}

NERRO_EXPORT int32_t clearTextures(void) {
  return guarded(kFailed, [] {
    if (!nerro::api::ensureContext()) return kFailed;
    nerro::renderer::clearTextures(*nerro::api::context());
    return kDone;
  });
}

NERRO_EXPORT uint32_t makePolygon(int32_t quad, const float* corners) {
  return guarded(0u, [&] {
    if (!nerro::api::ensureContext()) return 0u;
    nerro::renderer::NerroPolygonSet& c = *nerro::api::context();
    return nerro::renderer::makePolygon(c.polygonTable, c.lastPolygonId, quad, corners);
  });
}

NERRO_EXPORT int32_t NERRO_CALLEE disposePolygon(uint32_t id) {
  return guarded(kFailed, [&] {
    if (!nerro::api::ensureContext()) return kFailed;
    nerro::renderer::disposePolygon(nerro::api::context()->polygonTable, id);
    return kDone;
  });
}

NERRO_EXPORT int32_t clearPolygons(void) {
  return guarded(kFailed, [] {
    if (!nerro::api::ensureContext()) return kFailed;
    nerro::renderer::NerroPolygonSet& c = *nerro::api::context();
    nerro::renderer::clearPolygons(c.polygonTable, c.lastPolygonId);
    return kDone;
  });
}

NERRO_EXPORT int32_t setupTextures(uint32_t id, const char* name, uint32_t slot, const float* coords) {
  return guarded(kFailed, [&] {
    if (!nerro::api::ensureContext()) return kFailed;
    return nerro::renderer::assignTexture(*nerro::api::context(), id, name, slot, coords);
  });
}

NERRO_EXPORT int32_t NERRO_CALLEE setupTranslate(uint32_t id, const float* offsets, int32_t /*unused*/) {
  return guarded(kFailed, [&] { return setupTransform(id, nerro::renderer::TransformKind::Translation, offsets); });
}

NERRO_EXPORT int32_t NERRO_CALLEE setupScale(uint32_t id, const float* factors, int32_t /*unused*/) {
  return guarded(kFailed, [&] { return setupTransform(id, nerro::renderer::TransformKind::Scale, factors); });
}

NERRO_EXPORT int32_t NERRO_CALLEE setupRotX(uint32_t id, const float* angle, int32_t /*unused*/) {
  return guarded(kFailed, [&] { return setupTransform(id, nerro::renderer::TransformKind::RotationX, angle); });
}

NERRO_EXPORT int32_t NERRO_CALLEE setupRotY(uint32_t id, const float* angle, int32_t /*unused*/) {
  return guarded(kFailed, [&] { return setupTransform(id, nerro::renderer::TransformKind::RotationY, angle); });
}

NERRO_EXPORT int32_t NERRO_CALLEE setupRotZ(uint32_t id, const float* angle, int32_t /*unused*/) {
  return guarded(kFailed, [&] { return setupTransform(id, nerro::renderer::TransformKind::RotationZ, angle); });
}

NERRO_EXPORT int32_t NERRO_CALLEE drawPaint(uint32_t bitmap, int32_t width, int32_t height) {
  return guarded(static_cast<int32_t>(E_FAIL), [&] {
    if (!nerro::api::ensureContext()) return static_cast<int32_t>(E_FAIL);
    void* pixels = nerro::api::resolveBitmapPixels(bitmap, width, height, true);
    if (pixels == nullptr) return static_cast<int32_t>(E_FAIL);
    return static_cast<int32_t>(nerro::renderer::drawFrame(*nerro::api::context(), pixels, width, height));
  });
}

}  // extern "C"
