// drawPrimitive and clear: the stages in order. Vertices are transformed a
// batch of primitives at a time; each primitive is clipped, mapped to the
// viewport, culled and set up; then the batch's triangles are rasterised
// row by row, in bands across the worker threads when there is enough to
// share.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "d3d9/raster/bands.h"
#include "d3d9/raster/rasterizer.h"
#include "d3d9/raster/setup.h"
#include "d3d9/raster/shade.h"
#include "d3d9/raster/vertex.h"

namespace nerro::raster {
namespace {

// Largest target the rasteriser accepts: keeps every sub-pixel product of
// the edge equations inside 64 bits.
constexpr uint32_t kMaxTargetSize = 1u << 15;
// Primitives transformed and set up together.
constexpr uint32_t kBatchPrimitives = 2048;
// Pixel boxes below this many pixels are drawn on the calling thread alone.
constexpr uint64_t kThreadedPixels = 24 * 1024;
// Boxes up to this size have their target lines fetched ahead of drawing;
// larger ones stream well enough through the hardware prefetcher.
constexpr int32_t kPrefetchRows = 32;
constexpr int32_t kPrefetchColumns = 32;

D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
  D3DMATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
  return r;
}

bool targetUsable(const ColorTarget& c, const DepthTarget& d) {
  if (!c.bits || c.width == 0 || c.height == 0 || c.width > kMaxTargetSize || c.height > kMaxTargetSize)
    return false;
  int64_t rowBytes = static_cast<int64_t>(c.width) * 4;
  if (c.pitch < rowBytes && -static_cast<int64_t>(c.pitch) < rowBytes) return false;
  if (d.bits) {
    int64_t depthBytes = static_cast<int64_t>(c.width) * 2;
    if (d.pitch < depthBytes && -static_cast<int64_t>(d.pitch) < depthBytes) return false;
  }
  return true;
}

// The viewport within the target.
Scissor scissorOf(const D3DVIEWPORT9& vp, const ColorTarget& c) {
  Scissor s;
  s.x0 = static_cast<int32_t>(std::min<uint64_t>(vp.X, c.width));
  s.y0 = static_cast<int32_t>(std::min<uint64_t>(vp.Y, c.height));
  s.x1 = static_cast<int32_t>(std::min<uint64_t>(static_cast<uint64_t>(vp.X) + vp.Width, c.width));
  s.y1 = static_cast<int32_t>(std::min<uint64_t>(static_cast<uint64_t>(vp.Y) + vp.Height, c.height));
  return s;
}

struct Scratch {
  std::vector<ClipVertex> vertices;
  std::vector<Triangle> triangles;
};

Scratch& scratch() {
  thread_local Scratch s;
  return s;
}

// Rows [y0, y1] of every triangle, in order.
// Asks for the colour and depth lines of the triangle's box in rows
// [first, last] at once, so that the misses of a small triangle overlap
// instead of arriving one row after another.
void prefetchBox(const DrawContext& dc, const Triangle& t, int32_t first, int32_t last) {
  if (last - first >= kPrefetchRows) return;
  for (int32_t y = first; y <= last; ++y) {
    const uint8_t* row = dc.color + static_cast<std::ptrdiff_t>(y) * dc.colorPitch;
    __builtin_prefetch(row + static_cast<std::ptrdiff_t>(t.minX) * 4, 1);
    __builtin_prefetch(row + static_cast<std::ptrdiff_t>(t.maxX) * 4, 1);
    if (dc.depth) {
      const uint8_t* z = dc.depth + static_cast<std::ptrdiff_t>(y) * dc.depthPitch;
      __builtin_prefetch(z + static_cast<std::ptrdiff_t>(t.minX) * 2, 1);
      __builtin_prefetch(z + static_cast<std::ptrdiff_t>(t.maxX) * 2, 1);
    }
  }
}

void rasteriseRows(const DrawContext& dc, const std::vector<Triangle>& tris, int32_t y0, int32_t y1) {
  for (const Triangle& t : tris) {
    const int32_t end = std::min(t.maxY, y1);
    if (t.maxX - t.minX < kPrefetchColumns) prefetchBox(dc, t, std::max(t.minY, y0), end);
    for (int32_t y = std::max(t.minY, y0); y <= end; ++y) {
      int32_t xs, xe;
      if (rowSpan(t, y, xs, xe)) dc.span(dc, t, y, xs, xe);
    }
  }
}

void rasterise(const DrawContext& dc, const std::vector<Triangle>& tris, const Scissor& scissor) {
  if (tris.empty()) return;
  uint64_t pixels = 0;
  for (const Triangle& t : tris)
    pixels += static_cast<uint64_t>(t.maxX - t.minX + 1) * static_cast<uint64_t>(t.maxY - t.minY + 1);
  const int bands = (scissor.y1 - scissor.y0 + kBandRows - 1) / kBandRows;
  if (pixels < kThreadedPixels || bands < 2) {
    rasteriseRows(dc, tris, scissor.y0, scissor.y1 - 1);
    return;
  }
  BandPool::instance().run(bands, [&](int band) {
    const int32_t y0 = scissor.y0 + band * kBandRows;
    rasteriseRows(dc, tris, y0, std::min(scissor.y1 - 1, y0 + kBandRows - 1));
  });
}

}  // namespace

uint32_t vertexSize(uint32_t fvf) { return layoutOf(fvf).size; }

HRESULT drawPrimitive(const RasterState& state, const ColorTarget& color, const DepthTarget& depth,
                      const TextureView textures[kStageCount], uint32_t primitiveType,
                      uint32_t primitiveCount, const void* vertices, uint32_t stride, uint32_t fvf) {
  if (!targetUsable(color, depth)) return D3DERR_INVALIDCALL;
  const VertexLayout layout = layoutOf(fvf);
  if (layout.size == 0 || stride < layout.size) return D3DERR_INVALIDCALL;
  if (primitiveType != D3DPT_TRIANGLELIST && primitiveType != D3DPT_TRIANGLESTRIP &&
      primitiveType != D3DPT_TRIANGLEFAN)
    return D3DERR_INVALIDCALL;
  if (primitiveCount > kMaxPrimitiveCount) return D3DERR_INVALIDCALL;
  if (primitiveCount == 0) return S_OK;
  if (!vertices) return D3DERR_INVALIDCALL;

  const Scissor scissor = scissorOf(state.viewport, color);
  if (scissor.x0 >= scissor.x1 || scissor.y0 >= scissor.y1) return S_OK;

  DrawContext dc;
  dc.prepare(state, color, depth, textures, layout.diffuse >= 0);
  const D3DMATRIX m = multiply(multiply(state.world, state.view), state.projection);
  const ViewportMap map(state.viewport);
  const uint32_t coordSet[2] = {state.stages[0].texCoordIndex & 0xFFFFu, state.stages[1].texCoordIndex & 0xFFFFu};
  const bool flat = state.shadeMode == D3DSHADE_FLAT && layout.diffuse >= 0;
  const auto* base = static_cast<const uint8_t*>(vertices);

  Scratch& s = scratch();
  ClipVertex fanCentre;
  if (primitiveType == D3DPT_TRIANGLEFAN) fetchVertex(base, layout, coordSet, m, fanCentre);

  for (uint32_t p0 = 0; p0 < primitiveCount; p0 += kBatchPrimitives) {
    const uint32_t p1 = std::min(primitiveCount, p0 + kBatchPrimitives);
    // Vertices of the batch: [first, first + count) of the stream.
    uint64_t first, count;
    if (primitiveType == D3DPT_TRIANGLELIST) {
      first = 3ull * p0;
      count = 3ull * (p1 - p0);
    } else {
      first = primitiveType == D3DPT_TRIANGLESTRIP ? p0 : p0 + 1ull;
      count = (p1 - p0) + 2ull - (primitiveType == D3DPT_TRIANGLEFAN ? 1 : 0);
    }
    s.vertices.resize(count);
    for (uint64_t i = 0; i < count; ++i)
      fetchVertex(base + (first + i) * stride, layout, coordSet, m, s.vertices[i]);

    s.triangles.clear();
    ScreenVertex poly[ViewportMap::kMaxClipped];
    for (uint32_t p = p0; p < p1; ++p) {
      const uint32_t k = p - p0;
      ClipVertex a, b, c;
      const ClipVertex* provoking;
      if (primitiveType == D3DPT_TRIANGLELIST) {
        a = s.vertices[3 * k];
        b = s.vertices[3 * k + 1];
        c = s.vertices[3 * k + 2];
        provoking = &s.vertices[3 * k];
      } else if (primitiveType == D3DPT_TRIANGLESTRIP) {
        // Every second triangle of a strip runs the other way; swapping its
        // first two vertices keeps one winding along the strip.
        const bool odd = (p & 1u) != 0;
        a = s.vertices[k + (odd ? 1 : 0)];
        b = s.vertices[k + (odd ? 0 : 1)];
        c = s.vertices[k + 2];
        provoking = &s.vertices[k];
      } else {
        a = fanCentre;
        b = s.vertices[k];
        c = s.vertices[k + 1];
        provoking = &s.vertices[k];
      }
      if (flat) {
        for (ClipVertex* v : {&a, &b, &c}) std::memcpy(v->attr + kB, provoking->attr + kB, 4 * sizeof(float));
      }
      const int n = map.clipAndMap(a, b, c, poly);
      if (n < 3) continue;
      const int64_t area = snappedArea2(poly, n);
      if (area == 0) continue;
      const int sign = area > 0 ? 1 : -1;
      if ((state.cullMode == D3DCULL_CCW && sign < 0) || (state.cullMode == D3DCULL_CW && sign > 0)) continue;
      for (int j = 1; j + 1 < n; ++j) {
        // Set up on the stack and kept only when it covers something: a
        // triangle is written whole by a successful setup, so nothing needs
        // clearing first.
        Triangle t;
        if (setupTriangle(poly[0], poly[j], poly[j + 1], sign, scissor, t)) s.triangles.push_back(t);
      }
    }
    rasterise(dc, s.triangles, scissor);
  }
  return S_OK;
}

void clear(const ColorTarget& color, const DepthTarget& depth, uint32_t flags, D3DCOLOR value, float z,
           const RECT* rect) {
  if (!targetUsable(color, depth)) return;
  int32_t x0 = 0, y0 = 0, x1 = static_cast<int32_t>(color.width), y1 = static_cast<int32_t>(color.height);
  if (rect) {
    x0 = std::clamp(rect->left, 0, x1);
    y0 = std::clamp(rect->top, 0, y1);
    x1 = std::clamp(rect->right, x0, x1);
    y1 = std::clamp(rect->bottom, y0, y1);
  }
  if (x0 >= x1 || y0 >= y1) return;
  const size_t n = static_cast<size_t>(x1 - x0);
  if (flags & D3DCLEAR_TARGET) {
    for (int32_t y = y0; y < y1; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(color.bits + static_cast<std::ptrdiff_t>(y) * color.pitch) + x0;
      if (value == 0)
        std::memset(row, 0, n * 4);
      else
        std::fill_n(row, n, value);
    }
  }
  if ((flags & D3DCLEAR_ZBUFFER) && depth.bits) {
    const auto d16 = static_cast<uint16_t>(depthToD16(z));
    for (int32_t y = y0; y < y1; ++y) {
      auto* row = reinterpret_cast<uint16_t*>(reinterpret_cast<uint8_t*>(depth.bits) +
                                              static_cast<std::ptrdiff_t>(y) * depth.pitch) + x0;
      std::fill_n(row, n, d16);
    }
  }
}

}  // namespace nerro::raster
