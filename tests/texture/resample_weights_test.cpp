#include "texture/resample_weights.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace nerro::texture {
namespace {

struct TapCase {
  uint32_t source, dest;
  bool wrap;
  uint32_t index;
  LinearTap expected;
};

TEST(LinearTaps, Examples) {
  const TapCase cases[] = {
      {4, 2, true, 0, {0, 0.5f, 1, 0.5f}},
      {4, 2, true, 1, {2, 0.5f, 3, 0.5f}},
      // Upsampling: the first pixel takes a quarter from the opposite edge...
      {2, 4, true, 0, {1, 0.25f, 0, 0.75f}},
      // ...or, mirrored, from the edge pixel itself.
      {2, 4, false, 0, {0, 0.25f, 0, 0.75f}},
      {2, 4, true, 3, {1, 0.75f, 0, 0.25f}},
      {2, 4, false, 3, {1, 0.75f, 1, 0.25f}},
      {3, 2, true, 1, {1, 0.25f, 2, 0.75f}},
  };
  for (const TapCase& c : cases) {
    const auto taps = LinearTaps(c.source, c.dest, c.wrap);
    ASSERT_EQ(taps.size(), c.dest);
    const LinearTap& t = taps[c.index];
    SCOPED_TRACE(testing::Message() << c.source << "->" << c.dest << " wrap " << c.wrap << " i " << c.index);
    EXPECT_EQ(t.first, c.expected.first);
    EXPECT_FLOAT_EQ(t.firstWeight, c.expected.firstWeight);
    EXPECT_EQ(t.second, c.expected.second);
    EXPECT_FLOAT_EQ(t.secondWeight, c.expected.secondWeight);
  }
}

TEST(LinearTaps, IndicesStayInsideAndWeightsSumToOne) {
  for (auto [s, d] : {std::pair{1u, 7u}, {7u, 1u}, {5u, 13u}, {1024u, 700u}, {3u, 3u}})
    for (bool wrap : {true, false}) {
      const auto taps = LinearTaps(s, d, wrap);
      ASSERT_EQ(taps.size(), d);
      for (const LinearTap& t : taps) {
        EXPECT_GE(t.first, 0);
        EXPECT_LT(t.first, static_cast<int32_t>(s));
        EXPECT_GE(t.second, 0);
        EXPECT_LT(t.second, static_cast<int32_t>(s));
        EXPECT_FLOAT_EQ(t.firstWeight + t.secondWeight, 1.0f);
      }
    }
  EXPECT_TRUE(LinearTaps(0, 4, true).empty());
}

// Sums the weights each destination index receives, checking the record
// layout on the way.
std::map<int32_t, double> destinationTotals(const TriangleWeightTable& table, uint32_t dest) {
  std::map<int32_t, double> totals;
  uint32_t bytes = 4;
  for (uint32_t j = 0; j < table.sourceSize(); ++j) {
    const auto record = table.record(j);
    bytes += 4 + 8 * record.count;
    for (uint32_t k = 0; k < record.count; ++k) {
      const TrianglePair& p = record.pairs[k];
      EXPECT_GE(p.dest, 0);
      EXPECT_LT(p.dest, static_cast<int32_t>(dest));
      EXPECT_GT(p.weight, 0.0f);
      if (k > 0) {
        EXPECT_NE(p.dest, record.pairs[k - 1].dest) << "source " << j;
      }
      totals[p.dest] += p.weight;
    }
  }
  EXPECT_EQ(bytes, table.totalBytes());
  return totals;
}

TEST(TriangleWeights, EveryDestinationPixelTotalsOne) {
  for (auto [s, d] : {std::pair{1u, 1u}, {1u, 5u}, {5u, 1u}, {6u, 6u}, {7u, 3u}, {3u, 7u}, {100u, 37u},
                      {1024u, 700u}, {2u, 9u}})
    for (bool wrap : {true, false}) {
      SCOPED_TRACE(testing::Message() << s << "->" << d << " wrap " << wrap);
      const auto table = TriangleWeights(s, d, wrap);
      ASSERT_FALSE(table.empty());
      ASSERT_EQ(table.sourceSize(), s);
      const auto totals = destinationTotals(table, d);
      ASSERT_EQ(totals.size(), d);
      for (auto [u, total] : totals) EXPECT_NEAR(total, 1.0, 1e-4) << "destination " << u;
    }
}

TEST(TriangleWeights, SameSizeKeepsThreeQuarters) {
  const auto table = TriangleWeights(6, 6, false);
  ASSERT_FALSE(table.empty());
  for (uint32_t j = 0; j < 6; ++j) {
    std::map<int32_t, float> weights;
    for (const TrianglePair& p : table.record(j)) weights[p.dest] = p.weight;
    const bool edge = j == 0 || j == 5;
    EXPECT_NEAR(weights[static_cast<int32_t>(j)], edge ? 0.875f : 0.75f, 1e-6f) << j;
    if (j > 0) {
      EXPECT_NEAR(weights[static_cast<int32_t>(j - 1)], 0.125f, 1e-6f) << j;
    }
    if (j < 5) {
      EXPECT_NEAR(weights[static_cast<int32_t>(j + 1)], 0.125f, 1e-6f) << j;
    }
    EXPECT_EQ(weights.size(), edge ? 2u : 3u);
  }
  // Wrapping, the edge pixels give their eighth to the opposite edge.
  const auto wrapped = TriangleWeights(6, 6, true);
  std::map<int32_t, float> first;
  for (const TrianglePair& p : wrapped.record(0)) first[p.dest] += p.weight;
  EXPECT_NEAR(first[5], 0.125f, 1e-6f);
  EXPECT_NEAR(first[0], 0.75f, 1e-6f);
}

TEST(TriangleWeights, NoTableForEmptyAxis) {
  EXPECT_TRUE(TriangleWeights(0, 4, true).empty());
  EXPECT_TRUE(TriangleWeights(4, 0, false).empty());
}

}  // namespace
}  // namespace nerro::texture
