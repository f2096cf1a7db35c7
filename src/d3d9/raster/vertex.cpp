// Vertex stage: fetch, transform, clip, viewport mapping.
#include "d3d9/raster/vertex.h"

#include <cmath>
#include <cstring>

namespace nerro::raster {

VertexLayout layoutOf(uint32_t fvf) {
  VertexLayout l;
  uint32_t offset = 0;
  switch (fvf & D3DFVF_POSITION_MASK) {
    case D3DFVF_XYZ: offset = 12; break;
    case D3DFVF_XYZW: offset = 16; l.positionW = true; break;
    case D3DFVF_XYZB1: offset = 16; break;
    case D3DFVF_XYZB2: offset = 20; break;
    case D3DFVF_XYZB3: offset = 24; break;
    case D3DFVF_XYZB4: offset = 28; break;
    case D3DFVF_XYZB5: offset = 32; break;
    default: return l;  // pre-transformed or no position: not drawable here
  }
  if (fvf & D3DFVF_NORMAL) offset += 12;
  if (fvf & D3DFVF_PSIZE) offset += 4;
  if (fvf & D3DFVF_DIFFUSE) {
    l.diffuse = static_cast<int32_t>(offset);
    offset += 4;
  }
  if (fvf & D3DFVF_SPECULAR) offset += 4;
  uint32_t sets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
  if (sets > 8) return l;
  static constexpr uint32_t kDims[4] = {2, 3, 4, 1};
  for (uint32_t i = 0; i < sets; ++i) {
    l.texOffset[i] = offset;
    l.texDim[i] = kDims[(fvf >> (16 + 2 * i)) & 3u];
    offset += 4 * l.texDim[i];
  }
  l.texSets = sets;
  l.size = offset;
  return l;
}

void fetchVertex(const uint8_t* v, const VertexLayout& l, const uint32_t coordSet[2], const D3DMATRIX& m,
                 ClipVertex& out) {
  float p[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  std::memcpy(p, v, l.positionW ? 16 : 12);
  out.x = p[0] * m._11 + p[1] * m._21 + p[2] * m._31 + p[3] * m._41;
  out.y = p[0] * m._12 + p[1] * m._22 + p[2] * m._32 + p[3] * m._42;
  out.z = p[0] * m._13 + p[1] * m._23 + p[2] * m._33 + p[3] * m._43;
  out.w = p[0] * m._14 + p[1] * m._24 + p[2] * m._34 + p[3] * m._44;
  for (int s = 0; s < 2; ++s) {
    float uv[2] = {0.0f, 0.0f};
    uint32_t set = coordSet[s];
    if (set < l.texSets) std::memcpy(uv, v + l.texOffset[set], l.texDim[set] >= 2 ? 8 : 4);
    out.attr[kU0 + 2 * s] = uv[0];
    out.attr[kV0 + 2 * s] = uv[1];
  }
  uint32_t color = 0xFFFFFFFFu;  // diffuse is opaque white without a vertex colour
  if (l.diffuse >= 0) std::memcpy(&color, v + l.diffuse, 4);
  out.attr[kB] = static_cast<float>(color & 0xFFu);
  out.attr[kG] = static_cast<float>((color >> 8) & 0xFFu);
  out.attr[kR] = static_cast<float>((color >> 16) & 0xFFu);
  out.attr[kA] = static_cast<float>(color >> 24);
}

namespace {

// How far beyond the viewport edges (in pixels) triangles are kept without
// being cut; the rasteriser scissors the rest. Wide enough that ordinary
// geometry never needs an x/y clip, small enough for exact 64-bit edges.
constexpr float kGuardPixels = 16384.0f;
// Smallest w kept; together with the guard band it bounds x/w and y/w.
constexpr float kMinW = 1e-20f;

inline float lerp(float a, float b, float t) { return a + (b - a) * t; }

void lerpVertex(const ClipVertex& in, const ClipVertex& out, float t, ClipVertex& r) {
  r.x = lerp(in.x, out.x, t);
  r.y = lerp(in.y, out.y, t);
  r.z = lerp(in.z, out.z, t);
  r.w = lerp(in.w, out.w, t);
  for (int i = 0; i < kAttrCount; ++i) r.attr[i] = lerp(in.attr[i], out.attr[i], t);
}

// Signed distance of a vertex to clip plane p (inside when >= 0).
inline float planeDistance(int p, const ClipVertex& v, float gx, float gy) {
  switch (p) {
    case 0: return v.z;            // near
    case 1: return v.w - v.z;      // far
    case 2: return v.w - kMinW;    // in front of the eye
    case 3: return v.x + gx * v.w; // guard band, left
    case 4: return gx * v.w - v.x; // right
    case 5: return v.y + gy * v.w; // bottom
    default: return gy * v.w - v.y;  // top
  }
}
constexpr int kPlaneCount = 7;

bool finite(const ClipVertex& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w);
}

}  // namespace

ViewportMap::ViewportMap(const D3DVIEWPORT9& vp) {
  float w = static_cast<float>(vp.Width), h = static_cast<float>(vp.Height);
  scaleX_ = w * 0.5f;
  scaleY_ = -h * 0.5f;
  offsetX_ = static_cast<float>(vp.X) + w * 0.5f;
  offsetY_ = static_cast<float>(vp.Y) + h * 0.5f;
  minZ_ = vp.MinZ;
  rangeZ_ = vp.MaxZ - vp.MinZ;
  guardX_ = w > 0 ? 1.0f + 2.0f * kGuardPixels / w : 1.0f;
  guardY_ = h > 0 ? 1.0f + 2.0f * kGuardPixels / h : 1.0f;
}

int ViewportMap::clipAndMap(const ClipVertex& a, const ClipVertex& b, const ClipVertex& c,
                            ScreenVertex out[kMaxClipped]) const {
  if (!finite(a) || !finite(b) || !finite(c)) return 0;
  // Out-codes: trivially reject a triangle wholly outside one plane and skip
  // the clipper for one wholly inside all of them.
  const ClipVertex* tri[3] = {&a, &b, &c};
  uint32_t any = 0, all = 0x7Fu;
  for (const ClipVertex* v : tri) {
    uint32_t code = 0;
    for (int p = 0; p < kPlaneCount; ++p)
      if (!(planeDistance(p, *v, guardX_, guardY_) >= 0.0f)) code |= 1u << p;
    any |= code;
    all &= code;
  }
  if (all) return 0;

  ClipVertex bufA[kMaxClipped], bufB[kMaxClipped];
  ClipVertex* src = bufA;
  ClipVertex* dst = bufB;
  int n = 3;
  src[0] = a;
  src[1] = b;
  src[2] = c;
  for (int p = 0; p < kPlaneCount && any; ++p) {
    if (!(any & (1u << p))) continue;
    int m = 0;
    for (int i = 0; i < n; ++i) {
      const ClipVertex& u = src[i];
      const ClipVertex& v = src[(i + 1) % n];
      float du = planeDistance(p, u, guardX_, guardY_);
      float dv = planeDistance(p, v, guardX_, guardY_);
      bool inU = du >= 0.0f, inV = dv >= 0.0f;
      if (inU) dst[m++] = u;
      if (inU != inV && m < kMaxClipped) {
        // Always cut from the inside vertex towards the outside one, so that
        // an edge shared by two triangles is cut at the same point for both.
        if (inU)
          lerpVertex(u, v, du / (du - dv), dst[m++]);
        else
          lerpVertex(v, u, dv / (dv - du), dst[m++]);
      }
    }
    n = m;
    if (n < 3) return 0;
    ClipVertex* t = src;
    src = dst;
    dst = t;
  }

  for (int i = 0; i < n; ++i) {
    const ClipVertex& v = src[i];
    if (!(v.w > 0.0f)) return 0;
    float q = 1.0f / v.w;
    ScreenVertex& s = out[i];
    s.x = offsetX_ + v.x * q * scaleX_;
    s.y = offsetY_ + v.y * q * scaleY_;
    float zn = v.z * q;
    s.z = minZ_ + (zn < 0.0f ? 0.0f : zn > 1.0f ? 1.0f : zn) * rangeZ_;
    s.q = q;
    for (int k = 0; k < kAttrCount; ++k) s.attr[k] = v.attr[k] * q;
    // The guard band bounds every position; anything else is a float fault
    // (an overflow in the products above) and the polygon is dropped.
    if (!(std::fabs(s.x) < 1.0e6f) || !(std::fabs(s.y) < 1.0e6f) || !std::isfinite(q)) return 0;
    for (int k = 0; k < kAttrCount; ++k)
      if (!std::isfinite(s.attr[k])) return 0;
  }
  return n;
}

}  // namespace nerro::raster
