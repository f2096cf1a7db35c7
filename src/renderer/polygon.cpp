#include "renderer/polygon.h"

#include "math/math.h"

namespace nerro::renderer {

namespace {

D3DMATRIX identity() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

// Default texture coordinates of the corners in strip order: corner 0 shows
// the top-left texel, 1 the bottom-left, 2 the top-right, 3 the bottom-right.
constexpr float kDefaultUv[4][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};

}  // namespace

NerroPolygon::NerroPolygon(int32_t quadFlag, const float* cornerValues) : quad(quadFlag) {
  for (D3DMATRIX& m : transforms) m = identity();
  setCorners(cornerValues);
}

NerroPolygon::~NerroPolygon() = default;

void NerroPolygon::setCorners(const float* c) {
  for (int i = 0; i < corners(); ++i) {
    PolygonVertex& v = vertices[i];
    v.x = c[2 * i];
    v.y = c[2 * i + 1];
    v.z = 0.0f;
    v.tu0 = v.tu1 = kDefaultUv[i][0];
    v.tv0 = v.tv1 = kDefaultUv[i][1];
  }
}

void NerroPolygon::assignTexture(uint32_t slot, IDirect3DTexture9* texture, const float* coords) {
  if (slot > 1) return;
  slotTextures[slot].reset(texture);
  if (!coords) return;
  for (int i = 0; i < corners(); ++i) {
    PolygonVertex& v = vertices[i];
    if (slot == 0) {
      v.tu0 = coords[2 * i];
      v.tv0 = coords[2 * i + 1];
    } else {
      v.tu1 = coords[2 * i];
      v.tv1 = coords[2 * i + 1];
    }
  }
}

void NerroPolygon::setTransform(TransformKind kind, const float* values) {
  D3DMATRIX& m = transforms[static_cast<int>(kind)];
  switch (kind) {
    case TransformKind::Scale:
      math::mat4Scaling(&m, values[0], values[1], values[2]);
      break;
    case TransformKind::RotationX:
      math::mat4RotationX(&m, values[0]);
      break;
    case TransformKind::RotationY:
      math::mat4RotationY(&m, values[0]);
      break;
    case TransformKind::RotationZ:
      math::mat4RotationZ(&m, values[0]);
      break;
    case TransformKind::Translation:
      math::mat4Translation(&m, values[0], values[1], values[2]);
      break;
  }
}

D3DMATRIX composeWorld(const NerroPolygon& polygon) {
  D3DMATRIX world = identity();
  for (const D3DMATRIX& m : polygon.transforms) math::mat4Multiply(&world, &world, &m);
  return world;
}

}  // namespace nerro::renderer
