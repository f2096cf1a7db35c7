#include "texture/blit_strategies.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "texture/box_fast_path.h"
#include "texture/color_vec.h"
#include "texture/fast_paths.h"
#include "texture/resample_weights.h"

namespace nerro::texture {

using pixel::PixelCodec;
using Color = D3DCOLORVALUE;

namespace {

// A zeroed row of float colours, or null when out of memory.
std::unique_ptr<Color[]> makeRow(size_t count) {
  try {
    return std::make_unique<Color[]>(count);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void clearRow(Color* row, size_t count) { std::fill(row, row + count, Color{0, 0, 0, 0}); }

bool sameSize(const PixelCodec& a, const PixelCodec& b) {
  return a.width == b.width && a.height == b.height && a.depth == b.depth;
}

// Data that need no gamma conversion either way.
void dropSharedGamma(PixelCodec& source, PixelCodec& dest) {
  if (source.gamma && dest.gamma) source.gamma = dest.gamma = false;
}

bool palettesEqual(const PixelCodec& a, const PixelCodec& b) {
  if (!a.palette || !b.palette) return !a.palette && !b.palette;
  return std::memcmp(a.palette.get(), b.palette.get(), 256 * sizeof(Color)) == 0;
}

// ---- Direct copy -------------------------------------------------------

uint32_t blockBytes(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_DXT1:
      return 8;
    case D3DFMT_DXT2:
    case D3DFMT_DXT3:
    case D3DFMT_DXT4:
    case D3DFMT_DXT5:
      return 16;
    default:
      return 0;
  }
}

bool blockAligned(const D3DBOX& box) {
  return ((box.Left | box.Top | box.Right | box.Bottom) & 3u) == 0;
}

HRESULT blockCopy(PixelCodec& source, PixelCodec& dest) {
  const uint32_t bytes = blockBytes(dest.format);
  if (bytes == 0 || !blockAligned(source.box) || !blockAligned(dest.box)) return E_FAIL;
  const uint8_t* from = source.pixels + static_cast<size_t>(source.box.Front) * source.slicePitch +
                        static_cast<size_t>(source.box.Top / 4) * source.rowPitch +
                        static_cast<size_t>(source.box.Left / 4) * bytes;
  uint8_t* to = dest.pixels + static_cast<size_t>(dest.box.Front) * dest.slicePitch +
                static_cast<size_t>(dest.box.Top / 4) * dest.rowPitch +
                static_cast<size_t>(dest.box.Left / 4) * bytes;
  const size_t rowBytes = static_cast<size_t>(dest.width / 4) * bytes;
  for (uint32_t z = 0; z < dest.depth; ++z) {
    const uint8_t* s = from + static_cast<size_t>(z) * source.slicePitch;
    uint8_t* d = to + static_cast<size_t>(z) * dest.slicePitch;
    for (uint32_t y = 0; y < dest.height; y += 4) {
      std::memmove(d, s, rowBytes);
      s += source.rowPitch;
      d += dest.rowPitch;
    }
  }
  return S_OK;
}

HRESULT directCopy(PixelCodec& source, PixelCodec& dest, FilterOptions) {
  if (source.format != dest.format || source.colorKey != 0 || !sameSize(source, dest) ||
      source.gamma != dest.gamma)
    return E_FAIL;
  if (source.palettized && !palettesEqual(source, dest)) return E_FAIL;
  if (!dest.addressable) return blockCopy(source, dest);
  source.gamma = dest.gamma = false;
  for (uint32_t z = 0; z < dest.depth; ++z) {
    const uint8_t* s = source.pixels + static_cast<size_t>(z) * source.slicePitch;
    uint8_t* d = dest.pixels + static_cast<size_t>(z) * dest.slicePitch;
    for (uint32_t y = 0; y < dest.height; ++y) {
      // memmove: a surface copied onto itself may overlap.
      std::memmove(d, s, dest.rowBytes);
      s += source.rowPitch;
      d += dest.rowPitch;
    }
  }
  return S_OK;
}

// ---- Same-size conversion ----------------------------------------------

// Between the 32-bit formats with and without alpha of one channel order,
// decoding and re-encoding gives back each 8-bit value exactly, so the
// conversion is a mask: an X byte reads as opaque alpha, alpha is dropped
// into a zero X byte. Not with a colour key, gamma or error diffusion, which
// can change values.
bool convertAlphaWords(PixelCodec& source, PixelCodec& dest) {
  uint32_t set = 0, keep = 0xFFFFFFFFu;
  const D3DFORMAT from = source.format, to = dest.format;
  if ((from == D3DFMT_X8R8G8B8 && to == D3DFMT_A8R8G8B8) || (from == D3DFMT_X8B8G8R8 && to == D3DFMT_A8B8G8R8))
    set = 0xFF000000u;
  else if ((from == D3DFMT_A8R8G8B8 && to == D3DFMT_X8R8G8B8) || (from == D3DFMT_A8B8G8R8 && to == D3DFMT_X8B8G8R8))
    keep = 0x00FFFFFFu;
  else
    return false;
  if (source.colorKey != 0 || source.gamma || dest.gamma || dest.errorRow || !source.addressable || !dest.addressable)
    return false;
  for (uint32_t z = 0; z < dest.depth; ++z)
    for (uint32_t y = 0; y < dest.height; ++y) {
      const uint8_t* s = source.pixels + static_cast<size_t>(z) * source.slicePitch + static_cast<size_t>(y) * source.rowPitch;
      uint8_t* d = dest.pixels + static_cast<size_t>(z) * dest.slicePitch + static_cast<size_t>(y) * dest.rowPitch;
      maskWords(s, d, dest.width, keep, set);
    }
  return true;
}

HRESULT sameSizeConversion(PixelCodec& source, PixelCodec& dest, FilterOptions) {
  if (!sameSize(source, dest)) return E_FAIL;
  if (fastPathsEnabled() && convertAlphaWords(source, dest)) return S_OK;
  auto row = makeRow(dest.width);
  if (!row) return E_FAIL;
  dropSharedGamma(source, dest);
  for (uint32_t z = 0; z < dest.depth; ++z)
    for (uint32_t y = 0; y < dest.height; ++y) {
      source.DecodeRow(y, z, row.get());
      dest.EncodeRow(y, z, row.get());
    }
  return S_OK;
}

// ---- FilterNone: place at the top-left corner, crop, fill with 0 ---------

HRESULT filterNone(PixelCodec& source, PixelCodec& dest, FilterOptions filter) {
  if (filterKind(filter) != FilterNone) return E_FAIL;
  const uint32_t width = std::max(dest.width, source.width);
  auto row = makeRow(width);
  auto zero = makeRow(dest.width);
  if (!row || !zero) return E_FAIL;
  dropSharedGamma(source, dest);
  const uint32_t depth = std::min(dest.depth, source.depth);
  const uint32_t height = std::min(dest.height, source.height);
  // Encoding may work on its input in place (diffused errors, luminance),
  // so the zero parts are restored before every use.
  for (uint32_t z = 0; z < depth; ++z) {
    for (uint32_t y = 0; y < height; ++y) {
      source.DecodeRow(y, z, row.get());
      if (dest.width > source.width) clearRow(row.get() + source.width, dest.width - source.width);
      dest.EncodeRow(y, z, row.get());
    }
    for (uint32_t y = height; y < dest.height; ++y) {
      clearRow(zero.get(), dest.width);
      dest.EncodeRow(y, z, zero.get());
    }
  }
  for (uint32_t z = depth; z < dest.depth; ++z)
    for (uint32_t y = 0; y < dest.height; ++y) {
      clearRow(zero.get(), dest.width);
      dest.EncodeRow(y, z, zero.get());
    }
  return S_OK;
}

// ---- FilterPoint ---------------------------------------------------------

// 16.16 steps in 64 bits, so sizes of 65536 and more do not overflow.
uint64_t pointStep(uint32_t sourceSize, uint32_t destSize) {
  return (static_cast<uint64_t>(sourceSize) << 16) / destSize;
}

HRESULT filterPoint(PixelCodec& source, PixelCodec& dest, FilterOptions filter) {
  if (filterKind(filter) != FilterPoint) return E_FAIL;
  auto sourceRow = makeRow(source.width);
  auto destRow = makeRow(dest.width);
  if (!sourceRow || !destRow) return E_OUTOFMEMORY;
  dropSharedGamma(source, dest);
  const uint64_t stepX = pointStep(source.width, dest.width);
  const uint64_t stepY = pointStep(source.height, dest.height);
  const uint64_t stepZ = pointStep(source.depth, dest.depth);
  std::vector<uint32_t> columns;
  try {
    columns.resize(dest.width);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  uint64_t fx = 0;
  for (uint32_t x = 0; x < dest.width; ++x, fx += stepX) columns[x] = static_cast<uint32_t>(fx >> 16);
  uint64_t fz = 0;
  for (uint32_t z = 0; z < dest.depth; ++z, fz += stepZ) {
    const uint32_t sz = static_cast<uint32_t>(fz >> 16);
    uint64_t fy = 0;
    uint64_t decoded = ~uint64_t{0};
    for (uint32_t y = 0; y < dest.height; ++y, fy += stepY) {
      const uint32_t sy = static_cast<uint32_t>(fy >> 16);
      if (sy != decoded) {
        source.DecodeRow(sy, sz, sourceRow.get());
        decoded = sy;
      }
      for (uint32_t x = 0; x < dest.width; ++x) destRow[x] = sourceRow[columns[x]];
      dest.EncodeRow(y, z, destRow.get());
    }
  }
  return S_OK;
}

// ---- FilterBox -----------------------------------------------------------

bool halves(uint32_t sourceSize, uint32_t destSize) {
  return destSize == sourceSize / 2 || (destSize == 1 && sourceSize == 1);
}

// An odd size above 1 loses its last column, row or slice.
uint32_t evenPart(uint32_t size) { return size > 1 ? size & ~1u : size; }

// Averages two decoded rows (the same row twice for a source one row high)
// into `out`: (((p00 + p10) + p01) + p11) * 0.25.
void averageRows(const Color* r0, const Color* r1, uint32_t sourceWidth, Color* out, uint32_t destWidth) {
  const Vec4 quarter = splat(0.25f);
  for (uint32_t x = 0; x < destWidth; ++x) {
    const uint32_t a = sourceWidth == 1 ? 0 : 2 * x;
    const uint32_t b = sourceWidth == 1 ? 0 : 2 * x + 1;
    store(out[x], (((load(r0[a]) + load(r0[b])) + load(r1[a])) + load(r1[b])) * quarter);
  }
}

HRESULT box2D(PixelCodec& source, PixelCodec& dest, FilterOptions filter) {
  if (filterKind(filter) != FilterBox || !halves(source.width, dest.width) ||
      !halves(source.height, dest.height) || source.depth != 1 || dest.depth != 1)
    return E_FAIL;
  // The codecs keep their full width; the odd last column and row are simply
  // never read (2x + 1 < reduced width).
  const uint32_t width = evenPart(source.width);
  const uint32_t height = evenPart(source.height);
  if (!(filter & FilterDither) && source.format == dest.format && width >= 2 && height >= 2 &&
      !source.gamma && !dest.gamma && source.colorKey == 0 && source.addressable && dest.addressable) {
    if (BoxHalveRoutine halve = boxHalveRoutine(source.format)) {
      halve(source.pixels, source.rowPitch, dest.pixels, dest.rowPitch, dest.width, dest.height);
      return S_OK;
    }
  }
  auto destRow = makeRow(dest.width);
  auto row0 = makeRow(source.width);
  auto row1 = height > 1 ? makeRow(source.width) : nullptr;
  if (!destRow || !row0 || (height > 1 && !row1)) return E_OUTOFMEMORY;
  for (uint32_t y = 0; y < dest.height; ++y) {
    if (height == 1) {
      if (y == 0) source.DecodeRow(0, 0, row0.get());
    } else {
      source.DecodeRow(2 * y, 0, row0.get());
      source.DecodeRow(2 * y + 1, 0, row1.get());
    }
    averageRows(row0.get(), height > 1 ? row1.get() : row0.get(), width, destRow.get(), dest.width);
    dest.EncodeRow(y, 0, destRow.get());
  }
  return S_OK;
}

HRESULT box3D(PixelCodec& source, PixelCodec& dest, FilterOptions filter) {
  if (filterKind(filter) != FilterBox || !halves(source.width, dest.width) ||
      !halves(source.height, dest.height) || dest.depth != source.depth / 2)
    return E_FAIL;
  const uint32_t width = evenPart(source.width);
  const uint32_t height = evenPart(source.height);
  auto destRow = makeRow(dest.width);
  std::unique_ptr<Color[]> rows[4];
  for (auto& r : rows)
    if (!(r = makeRow(source.width))) return E_OUTOFMEMORY;
  if (!destRow) return E_OUTOFMEMORY;
  const Vec4 eighth = splat(0.125f);
  for (uint32_t z = 0; z < dest.depth; ++z)
    for (uint32_t y = 0; y < dest.height; ++y) {
      const uint32_t y1 = height > 1 ? 2 * y + 1 : 2 * y;
      // (row 2y, slice 2z), (2y, 2z + 1), (2y + 1, 2z), (2y + 1, 2z + 1)
      source.DecodeRow(2 * y, 2 * z, rows[0].get());
      source.DecodeRow(2 * y, 2 * z + 1, rows[1].get());
      source.DecodeRow(y1, 2 * z, rows[2].get());
      source.DecodeRow(y1, 2 * z + 1, rows[3].get());
      for (uint32_t x = 0; x < dest.width; ++x) {
        const uint32_t a = width == 1 ? 0 : 2 * x;
        const uint32_t b = width == 1 ? 0 : 2 * x + 1;
        Vec4 sum = load(rows[0][a]) + load(rows[0][b]);
        for (int k = 1; k < 4; ++k) sum = (sum + load(rows[k][a])) + load(rows[k][b]);
        store(destRow[x], sum * eighth);
      }
      dest.EncodeRow(y, z, destRow.get());
    }
  return S_OK;
}

// ---- FilterLinear --------------------------------------------------------

// wx0 * row[x0] + wx1 * row[x1]
inline Vec4 lerpRow(const Color* row, const LinearTap& t) {
  return splat(t.firstWeight) * load(row[t.first]) + splat(t.secondWeight) * load(row[t.second]);
}

HRESULT linear2D(PixelCodec& source, PixelCodec& dest, FilterOptions filter) {
  if (filterKind(filter) != FilterLinear || source.depth != 1 || dest.depth != 1) return E_FAIL;
  const auto tapsX = LinearTaps(source.width, dest.width, !(filter & FilterMirrorU));
  const auto tapsY = LinearTaps(source.height, dest.height, !(filter & FilterMirrorV));
  if (tapsX.empty() || tapsY.empty()) return E_OUTOFMEMORY;
  // 32-bit RGB sources: the same sums without decoding whole rows.
  if (linearFromArgbAccepts(source)) {
    const HRESULT hr = linearFromArgb(source, dest, tapsX, tapsY);
    if (hr != E_FAIL) return hr;
  }
  auto destRow = makeRow(dest.width);
  auto a = makeRow(source.width);
  auto b = makeRow(source.width);
  if (!destRow || !a || !b) return E_OUTOFMEMORY;
  constexpr int64_t kNone = -1;
  int64_t rowA = kNone, rowB = kNone;
  for (uint32_t y = 0; y < dest.height; ++y) {
    const LinearTap& ty = tapsY[y];
    if (ty.first != rowA) {
      if (ty.first == rowB) {
        std::swap(a, b);
        rowB = kNone;
      } else {
        source.DecodeRow(static_cast<uint32_t>(ty.first), 0, a.get());
      }
    }
    if (ty.second != rowB) source.DecodeRow(static_cast<uint32_t>(ty.second), 0, b.get());
    rowA = ty.first;
    rowB = ty.second;
    const Vec4 wy0 = splat(ty.firstWeight), wy1 = splat(ty.secondWeight);
    for (uint32_t x = 0; x < dest.width; ++x) {
      const LinearTap& tx = tapsX[x];
      store(destRow[x], wy0 * lerpRow(a.get(), tx) + wy1 * lerpRow(b.get(), tx));
    }
    dest.EncodeRow(y, 0, destRow.get());
  }
  return S_OK;
}

HRESULT linear3D(PixelCodec& source, PixelCodec& dest, FilterOptions filter) {
  if (filterKind(filter) != FilterLinear) return E_FAIL;
  const auto tapsX = LinearTaps(source.width, dest.width, !(filter & FilterMirrorU));
  const auto tapsY = LinearTaps(source.height, dest.height, !(filter & FilterMirrorV));
  const auto tapsZ = LinearTaps(source.depth, dest.depth, !(filter & FilterMirrorW));
  auto destRow = makeRow(dest.width);
  // [0] (y0, z0), [1] (y0, z1), [2] (y1, z0), [3] (y1, z1)
  std::unique_ptr<Color[]> rows[4];
  for (auto& r : rows)
    if (!(r = makeRow(source.width))) return E_OUTOFMEMORY;
  if (tapsX.empty() || tapsY.empty() || tapsZ.empty() || !destRow) return E_OUTOFMEMORY;
  constexpr int64_t kNone = -1;
  for (uint32_t z = 0; z < dest.depth; ++z) {
    const LinearTap& tz = tapsZ[z];
    const uint32_t z0 = static_cast<uint32_t>(tz.first), z1 = static_cast<uint32_t>(tz.second);
    int64_t row0 = kNone, row1 = kNone;
    for (uint32_t y = 0; y < dest.height; ++y) {
      const LinearTap& ty = tapsY[y];
      if (ty.first != row0) {
        if (ty.first == row1) {
          std::swap(rows[0], rows[2]);
          std::swap(rows[1], rows[3]);
          row1 = kNone;
        } else {
          source.DecodeRow(static_cast<uint32_t>(ty.first), z0, rows[0].get());
          source.DecodeRow(static_cast<uint32_t>(ty.first), z1, rows[1].get());
        }
      }
      if (ty.second != row1) {
        source.DecodeRow(static_cast<uint32_t>(ty.second), z0, rows[2].get());
        source.DecodeRow(static_cast<uint32_t>(ty.second), z1, rows[3].get());
      }
      row0 = ty.first;
      row1 = ty.second;
      const Vec4 wy0 = splat(ty.firstWeight), wy1 = splat(ty.secondWeight);
      const Vec4 wz0 = splat(tz.firstWeight), wz1 = splat(tz.secondWeight);
      for (uint32_t x = 0; x < dest.width; ++x) {
        const LinearTap& tx = tapsX[x];
        const Vec4 near = wy0 * lerpRow(rows[0].get(), tx) + wy1 * lerpRow(rows[2].get(), tx);
        const Vec4 far = wy0 * lerpRow(rows[1].get(), tx) + wy1 * lerpRow(rows[3].get(), tx);
        store(destRow[x], wz0 * near + wz1 * far);
      }
      dest.EncodeRow(y, z, destRow.get());
    }
  }
  return S_OK;
}

// ---- Triangle filter -----------------------------------------------------

// The value range of the source decides how completed rows are clamped.
void clampRow(Color* row, size_t count, pixel::NumericRange range) {
  Vec4 lo, hi;
  switch (range) {
    case pixel::RangeUnsigned:
      lo = splat(0.0f), hi = splat(1.0f);
      break;
    case pixel::RangeSignedColor:
      lo = make(-1.0f, -1.0f, -1.0f, 0.0f), hi = splat(1.0f);
      break;
    case pixel::RangeSigned:
      lo = splat(-1.0f), hi = splat(1.0f);
      break;
    default:
      return;
  }
  for (size_t i = 0; i < count; ++i) store(row[i], vmin(vmax(load(row[i]), lo), hi));
}

// One destination row (or slice) being accumulated. Completed accumulators
// hand their buffer on through a free list so only the rows under the
// current tents are held.
struct RowAccumulator {
  std::unique_ptr<Color[]> buffer;
  int32_t next = -1;    // next accumulator on the free list
  int32_t pending = 0;  // source rows (slices) still to contribute
  bool written = false;
};

class AccumulatorSet {
 public:
  explicit AccumulatorSet(std::vector<RowAccumulator>& rows, size_t bufferSize)
      : rows_(rows), bufferSize_(bufferSize) {}

  // Gives row r a zeroed buffer, recycled when one is free. False when out of memory.
  bool acquire(int32_t r) {
    RowAccumulator& acc = rows_[r];
    if (acc.buffer) return true;
    if (freeHead_ >= 0) {
      RowAccumulator& head = rows_[freeHead_];
      acc.buffer = std::move(head.buffer);
      freeHead_ = head.next;
      clearRow(acc.buffer.get(), bufferSize_);
    } else if (!(acc.buffer = makeRow(bufferSize_))) {
      return false;
    }
    return true;
  }

  void release(int32_t r) {
    rows_[r].next = freeHead_;
    freeHead_ = r;
  }

 private:
  std::vector<RowAccumulator>& rows_;
  size_t bufferSize_;
  int32_t freeHead_ = -1;
};

// Scatters one source row along x into a zeroed row of destination width:
// each source colour times its x weights. The destination rows then take
// this row times their y weight, which costs far less than scattering every
// source pixel into every row it touches.
inline void scatterRow(const Color* source, uint32_t sourceWidth, const TriangleWeightTable& tableX, Color* out,
                       uint32_t destWidth) {
  clearRow(out, destWidth);
  // Runs of pairs naming the same destination pixel (long when shrinking a
  // lot) are summed in a register before they touch memory.
  int32_t current = -1;
  Vec4 sum = splat(0.0f);
  for (uint32_t x = 0; x < sourceWidth; ++x) {
    const Vec4 colour = load(source[x]);
    for (const TrianglePair& px : tableX.record(x)) {
      if (px.dest != current) {
        if (current >= 0) store(out[current], load(out[current]) + sum);
        current = px.dest;
        sum = splat(0.0f);
      }
      sum = sum + colour * splat(px.weight);
    }
  }
  if (current >= 0) store(out[current], load(out[current]) + sum);
}

// out += row * weight
inline void accumulateRow(const Color* row, float weight, Color* out, uint32_t width) {
  const Vec4 w = splat(weight);
  for (uint32_t x = 0; x < width; ++x) store(out[x], load(out[x]) + load(row[x]) * w);
}

bool allocateAccumulators(std::vector<RowAccumulator>& rows, uint32_t count) {
  try {
    rows.resize(count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

HRESULT triangle2D(PixelCodec& source, PixelCodec& dest, FilterOptions filter) {
  if (source.depth != 1 || dest.depth != 1) return E_FAIL;
  const TriangleWeightTable tableX = TriangleWeights(source.width, dest.width, !(filter & FilterMirrorU));
  const TriangleWeightTable tableY = TriangleWeights(source.height, dest.height, !(filter & FilterMirrorV));
  if (tableX.empty() || tableY.empty()) return E_FAIL;
  std::vector<RowAccumulator> rows;
  auto sourceRow = makeRow(source.width);
  auto scattered = makeRow(dest.width);
  if (!sourceRow || !scattered || !allocateAccumulators(rows, dest.height)) return E_OUTOFMEMORY;
  for (uint32_t j = 0; j < source.height; ++j)
    for (const TrianglePair& p : tableY.record(j)) ++rows[p.dest].pending;
  AccumulatorSet set(rows, dest.width);
  for (uint32_t j = 0; j < source.height; ++j) {
    const auto record = tableY.record(j);
    for (const TrianglePair& p : record)
      if (!set.acquire(p.dest)) return E_OUTOFMEMORY;
    source.DecodeRow(j, 0, sourceRow.get());
    scatterRow(sourceRow.get(), source.width, tableX, scattered.get(), dest.width);
    for (const TrianglePair& p : record) accumulateRow(scattered.get(), p.weight, rows[p.dest].buffer.get(), dest.width);
    for (const TrianglePair& p : record) {
      RowAccumulator& acc = rows[p.dest];
      if (--acc.pending == 0) {
        clampRow(acc.buffer.get(), dest.width, source.range);
        dest.EncodeRow(static_cast<uint32_t>(p.dest), 0, acc.buffer.get());
        acc.written = true;
        set.release(p.dest);
      }
    }
  }
  // A row no source reached (not expected: every tent set sums to 1) is
  // written as transparent black rather than left as it was.
  for (uint32_t r = 0; r < dest.height; ++r)
    if (!rows[r].written) {
      if (!set.acquire(static_cast<int32_t>(r))) return E_OUTOFMEMORY;
      dest.EncodeRow(r, 0, rows[r].buffer.get());
      set.release(static_cast<int32_t>(r));
    }
  return S_OK;
}

HRESULT triangle3D(PixelCodec& source, PixelCodec& dest, FilterOptions filter) {
  const TriangleWeightTable tableX = TriangleWeights(source.width, dest.width, !(filter & FilterMirrorU));
  const TriangleWeightTable tableY = TriangleWeights(source.height, dest.height, !(filter & FilterMirrorV));
  const TriangleWeightTable tableZ = TriangleWeights(source.depth, dest.depth, !(filter & FilterMirrorW));
  if (tableX.empty() || tableY.empty() || tableZ.empty()) return E_FAIL;
  std::vector<RowAccumulator> slices;
  auto sourceRow = makeRow(source.width);
  auto scattered = makeRow(dest.width);
  if (!sourceRow || !scattered || !allocateAccumulators(slices, dest.depth)) return E_OUTOFMEMORY;
  const size_t sliceSize = static_cast<size_t>(dest.width) * dest.height;
  for (uint32_t k = 0; k < source.depth; ++k)
    for (const TrianglePair& p : tableZ.record(k)) ++slices[p.dest].pending;
  AccumulatorSet set(slices, sliceSize);
  auto encodeSlice = [&](uint32_t s) {
    Color* buffer = slices[s].buffer.get();
    for (uint32_t r = 0; r < dest.height; ++r) dest.EncodeRow(r, s, buffer + static_cast<size_t>(r) * dest.width);
  };
  for (uint32_t k = 0; k < source.depth; ++k) {
    const auto recordZ = tableZ.record(k);
    for (const TrianglePair& pz : recordZ)
      if (!set.acquire(pz.dest)) return E_OUTOFMEMORY;
    for (uint32_t j = 0; j < source.height; ++j) {
      source.DecodeRow(j, k, sourceRow.get());
      scatterRow(sourceRow.get(), source.width, tableX, scattered.get(), dest.width);
      for (const TrianglePair& pz : recordZ) {
        Color* slice = slices[pz.dest].buffer.get();
        for (const TrianglePair& py : tableY.record(j))
          accumulateRow(scattered.get(), pz.weight * py.weight, slice + static_cast<size_t>(py.dest) * dest.width,
                        dest.width);
      }
    }
    for (const TrianglePair& pz : recordZ) {
      RowAccumulator& acc = slices[pz.dest];
      if (--acc.pending == 0) {
        clampRow(acc.buffer.get(), sliceSize, source.range);
        encodeSlice(static_cast<uint32_t>(pz.dest));
        acc.written = true;
        set.release(pz.dest);
      }
    }
  }
  for (uint32_t s = 0; s < dest.depth; ++s)
    if (!slices[s].written) {
      if (!set.acquire(static_cast<int32_t>(s))) return E_OUTOFMEMORY;
      encodeSlice(s);
      set.release(static_cast<int32_t>(s));
    }
  return S_OK;
}

}  // namespace

const std::array<BlitStrategyEntry, kStrategyCount> kBlitStrategies = {{
    {"direct copy", directCopy},
    {"same-size conversion", sameSizeConversion},
    {"none", filterNone},
    {"point", filterPoint},
    {"box 2D", box2D},
    {"box 3D", box3D},
    {"linear 2D", linear2D},
    {"linear 3D", linear3D},
    {"triangle 2D", triangle2D},
    {"triangle 3D", triangle3D},
}};

HRESULT RunBlitStrategies(PixelCodec& source, PixelCodec& dest, FilterOptions filter, int* chosen) {
  if (chosen) *chosen = -1;
  if (dest.width == 0 || dest.height == 0 || dest.depth == 0) return S_OK;
  if (source.width == 0 || source.height == 0 || source.depth == 0) return D3DERR_INVALIDCALL;
  for (int i = 0; i < kStrategyCount; ++i)
    if (SUCCEEDED(kBlitStrategies[i].run(source, dest, filter))) {
      if (chosen) *chosen = i;
      return S_OK;
    }
  return E_FAIL;
}

}  // namespace nerro::texture
