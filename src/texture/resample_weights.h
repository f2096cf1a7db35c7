// Per-axis resampling weights: the two-tap lists of the linear filter and
// the scatter tables of the triangle (tent) filter. Internal to the texture
// builder.
#pragma once

#include <cstdint>
#include <vector>

namespace nerro::texture {

// The two source pixels of one destination pixel along one axis.
struct LinearTap {
  int32_t first;
  float firstWeight;
  int32_t second;
  float secondWeight;
};
static_assert(sizeof(LinearTap) == 16);

// One tap per destination index, interpolating between the two source
// pixels whose centres enclose (i + 0.5) * S / D. Taps beyond an edge wrap
// to the opposite edge, or without `wrap` land on the edge pixel itself.
// Empty when out of memory (or D is 0).
std::vector<LinearTap> LinearTaps(uint32_t sourceSize, uint32_t destSize, bool wrap);

// A (destination index, weight) pair of a triangle weight record.
struct TrianglePair {
  int32_t dest;
  float weight;
};

// The triangle weight table of one axis, laid out as 32-bit words:
// the total size in bytes, then for each source index a record of its size
// in bytes (this word included) followed by (destination index, weight)
// pairs. Two neighbouring pairs of one record never name the same index.
class TriangleWeightTable {
 public:
  // One record: the pairs of source index j.
  struct Record {
    const TrianglePair* pairs;
    uint32_t count;
    const TrianglePair* begin() const { return pairs; }
    const TrianglePair* end() const { return pairs + count; }
  };

  bool empty() const { return words_.empty(); }
  uint32_t sourceSize() const { return static_cast<uint32_t>(offsets_.size()); }
  uint32_t totalBytes() const { return empty() ? 0 : words_[0]; }
  Record record(uint32_t j) const {
    const uint32_t at = offsets_[j];
    return {reinterpret_cast<const TrianglePair*>(&words_[at + 1]), (words_[at] / 4 - 1) / 2};
  }

 private:
  friend TriangleWeightTable TriangleWeights(uint32_t, uint32_t, bool);
  std::vector<uint32_t> words_;
  std::vector<uint32_t> offsets_;  // word index of each record
};

// The weight of source pixel j for destination pixel u: the integral over
// u's extent of a tent on j's centre one source pixel wide each side, so
// that the weights of each destination pixel add up to 1. Without `wrap`
// the tent parts outside the image fold back onto the edge pixels. Empty
// when S or D is 0 or out of memory.
TriangleWeightTable TriangleWeights(uint32_t sourceSize, uint32_t destSize, bool wrap);

}  // namespace nerro::texture
