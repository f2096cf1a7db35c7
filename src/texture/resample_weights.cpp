#include "texture/resample_weights.h"

#include <bit>
#include <cmath>
#include <new>

namespace nerro::texture {

std::vector<LinearTap> LinearTaps(uint32_t sourceSize, uint32_t destSize, bool wrap) {
  std::vector<LinearTap> taps;
  if (destSize == 0 || sourceSize == 0) return taps;
  try {
    taps.resize(destSize);
  } catch (const std::bad_alloc&) {
    return {};
  }
  const float scale = static_cast<float>(sourceSize) / static_cast<float>(destSize);
  const int64_t last = static_cast<int64_t>(sourceSize) - 1;
  for (uint32_t i = 0; i < destSize; ++i) {
    const float p = static_cast<float>((static_cast<double>(i) + 0.5) * scale + 0.5);
    const int64_t m = static_cast<int64_t>(p);
    const float w0 = static_cast<float>(static_cast<double>(m + 1) - p);
    int64_t first = m - 1;
    int64_t second = m;
    if (first < 0) first = wrap ? last : 0;
    if (second > last) second = wrap ? 0 : last;
    taps[i] = {static_cast<int32_t>(first), w0, static_cast<int32_t>(second), 1.0f - w0};
  }
  return taps;
}

namespace {

// The float32 nearest 1e-5: weights at or below it are dropped.
constexpr float kWeightFloor = 9.99999975e-06f;

}  // namespace

TriangleWeightTable TriangleWeights(uint32_t sourceSize, uint32_t destSize, bool wrap) {
  TriangleWeightTable table;
  if (sourceSize == 0 || destSize == 0) return table;
  const float scale = static_cast<float>(destSize) / static_cast<float>(sourceSize);
  const float half = static_cast<float>(0.5 / scale);
  const float s = static_cast<float>(sourceSize);
  const float d = static_cast<float>(destSize);
  const int64_t dest = destSize;
  // Each half of a tent covers `scale` destination cells, so at most
  // 2t + 1 pairs a record (the worst case straddles a cell at each end).
  const uint64_t t = static_cast<uint64_t>(std::floor(scale + 1.0f + (wrap ? 1.0f : 0.0f)));
  const uint64_t bound = 16 + static_cast<uint64_t>(sourceSize) * (12 + 16 * t);
  std::vector<uint32_t>& words = table.words_;
  try {
    words.reserve(static_cast<size_t>(bound / 4));
    table.offsets_.resize(sourceSize);
    words.push_back(0);
    for (uint32_t j = 0; j < sourceSize; ++j) {
      const size_t recordAt = words.size();
      table.offsets_[j] = static_cast<uint32_t>(recordAt);
      words.push_back(0);
      float sum = 0.0f;
      int64_t current = -1;
      auto flush = [&] {
        if (sum > kWeightFloor) {
          words.push_back(static_cast<uint32_t>(static_cast<int32_t>(current)));
          words.push_back(std::bit_cast<uint32_t>(sum));
        }
      };
      for (int h = 0; h < 2; ++h) {
        const float e = static_cast<float>(static_cast<double>(j) + h - 0.5);
        float start = e * scale;
        float end = scale + start;
        if (!wrap) {
          if (start < 0.0f) start = 0.0f;
          if (end > d) end = d;
        }
        for (int64_t m = static_cast<int64_t>(std::floor(start)); static_cast<float>(m) < end; ++m) {
          const int64_t u = m < 0 ? m + dest : (m < dest ? m : m - dest);
          if (u != current) {
            flush();
            sum = 0.0f;
            current = u;
          }
          const float fm = static_cast<float>(m);
          const float lo = fm > start ? fm : start;
          const float hi = fm + 1.0f < end ? fm + 1.0f : end;
          float height;
          if (!wrap && e < 0.0f)
            height = 1.0f;
          else if (!wrap && e + 1.0f >= s)
            height = 0.0f;
          else
            height = (hi + lo) * half - e;
          if (h == 1) height = 1.0f - height;
          sum += (hi - lo) * height;
        }
      }
      flush();
      words[recordAt] = static_cast<uint32_t>((words.size() - recordAt) * 4);
    }
    words[0] = static_cast<uint32_t>(words.size() * 4);
  } catch (const std::bad_alloc&) {
    return {};
  }
  return table;
}

}  // namespace nerro::texture
