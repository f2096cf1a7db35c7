// Triangle setup.
#include "d3d9/raster/setup.h"

#include <algorithm>
#include <cmath>

namespace nerro::raster {
namespace {

constexpr double kSubpixel = 1 << kSubpixelBits;

inline int64_t snap(float v) { return std::llrint(static_cast<double>(v) * kSubpixel); }

// floor(n / d) for d > 0.
inline int64_t floorDiv(int64_t n, int64_t d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }

// Pixels are kept on the side of edge p -> q where the interior lies. For a
// clockwise triangle (y down) that is where E >= 0; pixel centres exactly on
// an edge belong to it only when it is a top or a left edge.
EdgeEquation makeEdge(int64_t px, int64_t py, int64_t qx, int64_t qy) {
  int64_t dx = qx - px, dy = qy - py;
  // E(X, Y) = dx*(Y - py) - dy*(X - px), X and Y in sub-pixels.
  EdgeEquation e;
  int64_t a = -dy, b = dx;
  bool topLeft = a > 0 || (a == 0 && b > 0);
  e.a = a << kSubpixelBits;
  e.b = b << kSubpixelBits;
  e.c = dy * px - dx * py - (topLeft ? 0 : 1);
  return e;
}

}  // namespace

int64_t snappedArea2(const ScreenVertex* v, int n) {
  int64_t sum = 0;
  int64_t x0 = snap(v[0].x), y0 = snap(v[0].y);
  for (int i = 1; i + 1 < n; ++i) {
    int64_t x1 = snap(v[i].x) - x0, y1 = snap(v[i].y) - y0;
    int64_t x2 = snap(v[i + 1].x) - x0, y2 = snap(v[i + 1].y) - y0;
    sum += x1 * y2 - x2 * y1;
  }
  return sum;
}

bool setupTriangle(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2, int sign,
                   const Scissor& sc, Triangle& t) {
  const ScreenVertex* v[3] = {&v0, &v1, &v2};
  int64_t x[3], y[3];
  for (int i = 0; i < 3; ++i) {
    x[i] = snap(v[i]->x);
    y[i] = snap(v[i]->y);
  }
  int64_t area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
  if (area == 0 || (area > 0) != (sign > 0)) return false;
  if (area < 0) {
    // Counter-clockwise: run the edges the other way round.
    std::swap(v[1], v[2]);
    std::swap(x[1], x[2]);
    std::swap(y[1], y[2]);
    area = -area;
  }

  // Bounding box of pixel centres, within the scissor.
  int64_t lo = std::min({x[0], x[1], x[2]}), hi = std::max({x[0], x[1], x[2]});
  int64_t minX = std::max<int64_t>(sc.x0, -floorDiv(-lo, 1 << kSubpixelBits));
  int64_t maxX = std::min<int64_t>(sc.x1 - 1, floorDiv(hi, 1 << kSubpixelBits));
  lo = std::min({y[0], y[1], y[2]});
  hi = std::max({y[0], y[1], y[2]});
  int64_t minY = std::max<int64_t>(sc.y0, -floorDiv(-lo, 1 << kSubpixelBits));
  int64_t maxY = std::min<int64_t>(sc.y1 - 1, floorDiv(hi, 1 << kSubpixelBits));
  if (minX > maxX || minY > maxY) return false;
  t.minX = static_cast<int32_t>(minX);
  t.maxX = static_cast<int32_t>(maxX);
  t.minY = static_cast<int32_t>(minY);
  t.maxY = static_cast<int32_t>(maxY);

  t.edge[0] = makeEdge(x[0], y[0], x[1], y[1]);
  t.edge[1] = makeEdge(x[1], y[1], x[2], y[2]);
  t.edge[2] = makeEdge(x[2], y[2], x[0], y[0]);

  // Interpolation planes over the snapped positions, relative to the top-left
  // corner of the box so that the per-pixel offsets stay small.
  const double sx[3] = {x[0] / kSubpixel, x[1] / kSubpixel, x[2] / kSubpixel};
  const double sy[3] = {y[0] / kSubpixel, y[1] / kSubpixel, y[2] / kSubpixel};
  const double e1x = sx[1] - sx[0], e1y = sy[1] - sy[0];
  const double e2x = sx[2] - sx[0], e2y = sy[2] - sy[0];
  const double inv = 1.0 / (e1x * e2y - e2x * e1y);
  const double rx = t.minX - sx[0], ry = t.minY - sy[0];
  auto plane = [&](double f0, double f1, double f2) {
    double d1 = f1 - f0, d2 = f2 - f0;
    double dx = (d1 * e2y - d2 * e1y) * inv;
    double dy = (d2 * e1x - d1 * e2x) * inv;
    return Plane{static_cast<float>(f0 + dx * rx + dy * ry), static_cast<float>(dx), static_cast<float>(dy)};
  };
  t.z = plane(v[0]->z, v[1]->z, v[2]->z);
  t.q = plane(v[0]->q, v[1]->q, v[2]->q);
  for (int k = 0; k < kAttrCount; ++k) t.attr[k] = plane(v[0]->attr[k], v[1]->attr[k], v[2]->attr[k]);
  return true;
}

bool rowSpan(const Triangle& t, int32_t y, int32_t& xs, int32_t& xe) {
  int64_t lo = t.minX, hi = t.maxX;
  for (const EdgeEquation& e : t.edge) {
    // a*x + k >= 0 along the row.
    int64_t k = e.b * y + e.c;
    if (e.a > 0) {
      lo = std::max(lo, -floorDiv(k, e.a));
    } else if (e.a < 0) {
      hi = std::min(hi, floorDiv(k, -e.a));
    } else if (k < 0) {
      return false;
    }
    if (lo > hi) return false;
  }
  xs = static_cast<int32_t>(lo);
  xe = static_cast<int32_t>(hi);
  return true;
}

}  // namespace nerro::raster
