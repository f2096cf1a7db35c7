// A polygon of the scene: a flat triangle or four-cornered strip in the
// plane z = 0 of its own space, up to two textures, and five transforms
// that place it in the world.
#pragma once

#include <cstdint>
#include <utility>

#include "d3d9/d3d9.h"

namespace nerro::renderer {

// One corner as the device reads it (position, then two texture-coordinate
// sets: the 0x202 vertex format).
struct PolygonVertex {
  float x, y, z;
  float tu0, tv0;
  float tu1, tv1;
};
static_assert(sizeof(PolygonVertex) == 28, "the vertex format is 28 bytes");

// The vertex format PolygonVertex matches: position plus two coordinate sets.
constexpr uint32_t kPolygonFvf = 0x202;

// A counted reference to a texture: takes a reference when given one and
// drops it when replaced or destroyed, so a polygon's texture stays alive
// for as long as the polygon may draw it, however the texture list changes.
class TextureRef {
 public:
  TextureRef() = default;
  explicit TextureRef(IDirect3DTexture9* texture) : texture_(texture) {
    if (texture_) texture_->AddRef();
  }
  TextureRef(const TextureRef& other) : TextureRef(other.texture_) {}
  TextureRef(TextureRef&& other) noexcept : texture_(other.texture_) { other.texture_ = nullptr; }
  TextureRef& operator=(TextureRef other) noexcept {
    std::swap(texture_, other.texture_);
    return *this;
  }
  ~TextureRef() { reset(); }

  void reset(IDirect3DTexture9* texture = nullptr) {
    if (texture) texture->AddRef();
    IDirect3DTexture9* old = texture_;
    texture_ = texture;
    if (old) old->Release();
  }
  IDirect3DTexture9* get() const { return texture_; }
  explicit operator bool() const { return texture_ != nullptr; }

 private:
  IDirect3DTexture9* texture_ = nullptr;
};

// Index of each transform in NerroPolygon::transforms, which is also the
// order in which they are applied to a corner.
enum class TransformKind : int {
  Scale = 0,
  RotationX = 1,
  RotationY = 2,
  RotationZ = 3,
  Translation = 4,
};
constexpr int kTransformCount = 5;

class NerroPolygon {
 public:
  // A polygon with its corners read from `corners` (6 floats when quad is
  // zero, 8 otherwise: x, y of each corner), the default texture
  // coordinates, no textures and identity transforms.
  NerroPolygon(int32_t quad, const float* corners);
  virtual ~NerroPolygon();

  int corners() const { return quad ? 4 : 3; }

  // Gives slot 0 or 1 a texture (null empties the slot) and the texture
  // coordinates of that slot for each corner (6 or 8 floats: u, v pairs).
  // Slots above 1 are ignored. The polygon keeps drawing the texture it was
  // given here until given another, even after the texture list lets go of
  // it. A null coords pointer leaves the coordinates as they are.
  void assignTexture(uint32_t slot, IDirect3DTexture9* texture, const float* coords);

  // Replaces the transform of that kind with one made from `values`
  // (3 floats for scale and translation, 1 angle in radians for a rotation).
  void setTransform(TransformKind kind, const float* values);

  int32_t quad = 0;
  int32_t disposed = 0;
  TextureRef slotTextures[2];
  PolygonVertex vertices[4] = {};
  D3DMATRIX transforms[kTransformCount];

 private:
  void setCorners(const float* corners);
};

// The world matrix: identity x scale x rotation X x rotation Y x rotation Z
// x translation, so a corner is scaled, turned about X, Y and Z, then moved.
D3DMATRIX composeWorld(const NerroPolygon& polygon);

}  // namespace nerro::renderer
