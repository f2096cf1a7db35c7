// Vertex stage: reading flexible-format vertices, transforming them to clip
// space and clipping triangles there, then mapping them to the viewport.
#pragma once

#include <cstdint>

#include "d3d9/raster/rasterizer.h"

namespace nerro::raster {

// Where the fields of one vertex sit, from its flexible vertex format.
struct VertexLayout {
  uint32_t size = 0;  // 0: a format the rasteriser cannot read
  bool positionW = false;  // the position has a fourth component
  int32_t diffuse = -1;  // byte offset of the D3DCOLOR, or -1
  uint32_t texSets = 0;
  uint32_t texOffset[8] = {};
  uint32_t texDim[8] = {};
};
VertexLayout layoutOf(uint32_t fvf);

// Attributes carried through clipping and interpolation: the coordinates of
// stage 0 and stage 1 (as each stage's TEXCOORDINDEX picks them), then the
// diffuse colour as blue, green, red, alpha in 0..255.
enum Attr : int { kU0, kV0, kU1, kV1, kB, kG, kR, kA, kAttrCount };

struct ClipVertex {
  float x, y, z, w;
  float attr[kAttrCount];
};

// A vertex mapped to the viewport: x, y in pixels (centres on integers), z the
// depth in MinZ..MaxZ, q = 1/w and the attributes already multiplied by q.
struct ScreenVertex {
  float x, y, z, q;
  float attr[kAttrCount];
};

// Reads one vertex and transforms its position by m (row vector times
// matrix); the stages' coordinate sets are picked by coordSet.
void fetchVertex(const uint8_t* vertex, const VertexLayout& layout, const uint32_t coordSet[2],
                 const D3DMATRIX& m, ClipVertex& out);

// Maps clip space to the viewport and bounds the region triangles may reach.
class ViewportMap {
 public:
  explicit ViewportMap(const D3DVIEWPORT9& vp);
  // Clips the triangle against near, far and a guard band around the
  // viewport, and maps what is left to the screen: a convex polygon of up to
  // kMaxClipped vertices. Returns the vertex count (0: nothing visible, or a
  // vertex that is not finite).
  static constexpr int kMaxClipped = 12;
  int clipAndMap(const ClipVertex& a, const ClipVertex& b, const ClipVertex& c,
                 ScreenVertex out[kMaxClipped]) const;

 private:
  float scaleX_, scaleY_, offsetX_, offsetY_, minZ_, rangeZ_;
  float guardX_, guardY_;
};

}  // namespace nerro::raster
