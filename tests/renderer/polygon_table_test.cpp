#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "renderer/polygon_table.h"

namespace nerro::renderer {
namespace {

const float kTriangle[6] = {0, 0, 0, 1, 1, 0};
const float kQuad[8] = {0, 0, 0, 1, 1, 0, 1, 1};

std::vector<uint32_t> visitOrder(const PolygonTable& table) {
  std::vector<uint32_t> ids;
  table.forEach([&](uint32_t id, const NerroPolygon*) { ids.push_back(id); });
  return ids;
}

void makeMany(PolygonTable& table, uint32_t& last, int count) {
  for (int i = 0; i < count; ++i) ASSERT_NE(makePolygon(table, last, 1, kQuad), 0u);
}

// The hash of the table as a reference, written out the long way round.
uint32_t referenceHash(uint32_t k) {
  uint64_t x = (k ^ 0xDEADBEEFull) & 0x7FFFFFFFull;
  return static_cast<uint32_t>((x * 16807ull) % 2147483647ull);
}

TEST(PolygonTable, VisitingOrderOfFreshIds) {
  struct Case {
    int count;
    uint32_t buckets;
    std::vector<uint32_t> prefix;
  };
  const Case cases[] = {
      {7, 8, {1, 2, 3, 4, 5, 6, 7}},
      {8, 8, {8, 1, 2, 3, 4, 5, 6, 7}},
      {32, 8, {8, 16, 24, 32, 1, 9, 17, 25, 2, 10, 18, 26, 3, 11, 19, 27}},
      {33, 64, {8, 17, 3, 30, 25, 11}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    PolygonTable table;
    uint32_t last = 0;
    makeMany(table, last, c.count);
    EXPECT_EQ(table.bucketCount(), c.buckets);
    EXPECT_EQ(table.size(), static_cast<size_t>(c.count));
    const auto order = visitOrder(table);
    ASSERT_EQ(order.size(), static_cast<size_t>(c.count));
    EXPECT_TRUE(std::equal(c.prefix.begin(), c.prefix.end(), order.begin()));
  }
}

TEST(PolygonTable, OrderHoldsThroughRepeatedGrowthAndPurges) {
  PolygonTable table;
  uint32_t last = 0;
  makeMany(table, last, 300);  // grows 8 -> 64 -> 512
  EXPECT_EQ(table.bucketCount(), 512u);
  for (uint32_t id = 3; id <= 300; id += 7) disposePolygon(table, id);
  purgeDisposed(table);
  makeMany(table, last, 5);

  std::vector<uint32_t> expected;
  for (uint32_t id = 1; id <= 305; ++id)
    if (id > 300 || (id - 3) % 7 != 0) expected.push_back(id);
  std::stable_sort(expected.begin(), expected.end(), [](uint32_t a, uint32_t b) {
    return referenceHash(a) % 512 < referenceHash(b) % 512;
  });
  EXPECT_EQ(visitOrder(table), expected);
  for (uint32_t id : expected) EXPECT_NE(table.find(id), nullptr) << id;
  EXPECT_EQ(table.find(3), nullptr);
  EXPECT_EQ(table.size(), expected.size());
}

TEST(PolygonTable, IdsStartAtOneAndRestartAfterClear) {
  PolygonTable table;
  uint32_t last = 0;
  EXPECT_EQ(makePolygon(table, last, 0, kTriangle), 1u);
  EXPECT_EQ(makePolygon(table, last, 1, kQuad), 2u);
  EXPECT_EQ(makePolygon(table, last, 0, kTriangle), 3u);
  makeMany(table, last, 40);
  EXPECT_EQ(table.bucketCount(), 64u);

  clearPolygons(table, last);
  EXPECT_EQ(table.size(), 0u);
  EXPECT_EQ(table.bucketCount(), 8u);
  EXPECT_EQ(table.find(1), nullptr);
  EXPECT_EQ(makePolygon(table, last, 1, kQuad), 1u);
  // After the clear the order is that of a fresh table again.
  makeMany(table, last, 7);
  EXPECT_EQ(visitOrder(table), (std::vector<uint32_t>{8, 1, 2, 3, 4, 5, 6, 7}));
}

TEST(PolygonTable, RefusesWhenIdsAreExhaustedOrCornersMissing) {
  PolygonTable table;
  uint32_t last = 0xFFFFFFFEu;
  EXPECT_EQ(makePolygon(table, last, 1, kQuad), 0xFFFFFFFFu);
  EXPECT_EQ(makePolygon(table, last, 1, kQuad), 0u);
  EXPECT_EQ(last, 0xFFFFFFFFu);
  EXPECT_EQ(table.size(), 1u);

  uint32_t fresh = 0;
  EXPECT_EQ(makePolygon(table, fresh, 1, nullptr), 0u);
  EXPECT_EQ(fresh, 0u);
  EXPECT_EQ(table.size(), 1u);
}

TEST(PolygonTable, DisposedPolygonStaysFindableUntilPurged) {
  PolygonTable table;
  uint32_t last = 0;
  makeMany(table, last, 10);
  disposePolygon(table, 4);
  disposePolygon(table, 8);   // first in visiting order
  disposePolygon(table, 99);  // unknown: ignored
  ASSERT_NE(table.find(4), nullptr);
  EXPECT_EQ(table.find(4)->disposed, 1);
  EXPECT_EQ(table.find(5)->disposed, 0);

  const float offsets[3] = {10, 0, 0};
  setPolygonTransform(table, 4, TransformKind::Translation, offsets);
  EXPECT_FLOAT_EQ(table.find(4)->transforms[4]._41, 10.0f);
  setPolygonTransform(table, 99, TransformKind::Translation, offsets);  // no effect, no crash

  purgeDisposed(table);
  EXPECT_EQ(table.find(4), nullptr);
  EXPECT_EQ(table.find(8), nullptr);
  EXPECT_EQ(table.size(), 8u);
  auto order = visitOrder(table);
  EXPECT_EQ(std::count(order.begin(), order.end(), 4u), 0);
  EXPECT_EQ(order.size(), 8u);
}

// Corners are read from the end of a page whose successor is unmapped, so
// reading one float too many faults.
class GuardedFloats {
 public:
  explicit GuardedFloats(const std::vector<float>& values) {
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    base_ = static_cast<char*>(mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(base_ + page_, page_, PROT_NONE);
    data_ = reinterpret_cast<float*>(base_ + page_) - values.size();
    std::copy(values.begin(), values.end(), data_);
  }
  ~GuardedFloats() { munmap(base_, 2 * page_); }
  const float* data() const { return data_; }

 private:
  size_t page_ = 0;
  char* base_ = nullptr;
  float* data_ = nullptr;
};

TEST(NerroPolygon, CornersAndDefaultTextureCoordinates) {
  GuardedFloats tri({1, 2, 3, 4, 5, 6});
  NerroPolygon triangle(0, tri.data());
  EXPECT_EQ(triangle.corners(), 3);
  GuardedFloats quadCorners({1, 2, 3, 4, 5, 6, 7, 8});
  NerroPolygon quad(5, quadCorners.data());
  EXPECT_EQ(quad.corners(), 4);
  EXPECT_EQ(quad.quad, 5);
  EXPECT_EQ(quad.disposed, 0);

  const float uv[4][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const PolygonVertex& v = quad.vertices[i];
    EXPECT_EQ(v.x, 1.0f + 2 * i);
    EXPECT_EQ(v.y, 2.0f + 2 * i);
    EXPECT_EQ(v.z, 0.0f);
    EXPECT_EQ(v.tu0, uv[i][0]);
    EXPECT_EQ(v.tv0, uv[i][1]);
    EXPECT_EQ(v.tu1, uv[i][0]);
    EXPECT_EQ(v.tv1, uv[i][1]);
    if (i < 3) {
      EXPECT_EQ(triangle.vertices[i].x, v.x);
      EXPECT_EQ(triangle.vertices[i].tv1, v.tv1);
    }
  }
  EXPECT_EQ(quad.slotTextures[0].get(), nullptr);
  EXPECT_EQ(quad.slotTextures[1].get(), nullptr);
}

D3DVECTOR transformPoint(const D3DMATRIX& m, float x, float y, float z) {
  return {x * m._11 + y * m._21 + z * m._31 + m._41, x * m._12 + y * m._22 + z * m._32 + m._42,
          x * m._13 + y * m._23 + z * m._33 + m._43};
}

TEST(NerroPolygon, WorldAppliesScaleThenRotationsThenTranslation) {
  NerroPolygon p(1, kQuad);
  // Unset transforms are identities.
  D3DMATRIX w = composeWorld(p);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(w.m[r][c], r == c ? 1.0f : 0.0f);

  const float offsets[3] = {10, 0, 0};
  const float quarter = static_cast<float>(M_PI / 2);
  p.setTransform(TransformKind::Translation, offsets);
  p.setTransform(TransformKind::RotationZ, &quarter);
  D3DVECTOR moved = transformPoint(composeWorld(p), 1, 0, 0);
  EXPECT_NEAR(moved.x, 10.0f, 1e-5);
  EXPECT_NEAR(moved.y, 1.0f, 1e-5);
  EXPECT_NEAR(moved.z, 0.0f, 1e-5);

  // A scale set twice replaces itself; it applies before the turn.
  const float two[3] = {2, 2, 2};
  p.setTransform(TransformKind::Scale, two);
  p.setTransform(TransformKind::Scale, two);
  moved = transformPoint(composeWorld(p), 1, 0, 0);
  EXPECT_NEAR(moved.x, 10.0f, 1e-5);
  EXPECT_NEAR(moved.y, 2.0f, 1e-5);
}

TEST(NerroPolygon, RotationOrderDoesNotDependOnCallOrder) {
  const float ax = 0.3f, ay = -1.1f, az = 0.7f;
  NerroPolygon a(1, kQuad), b(1, kQuad);
  a.setTransform(TransformKind::RotationX, &ax);
  a.setTransform(TransformKind::RotationY, &ay);
  b.setTransform(TransformKind::RotationY, &ay);
  b.setTransform(TransformKind::RotationX, &ax);
  a.setTransform(TransformKind::RotationZ, &az);
  b.setTransform(TransformKind::RotationZ, &az);
  const D3DMATRIX wa = composeWorld(a), wb = composeWorld(b);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(wa.m[r][c], wb.m[r][c]);

  // X is applied first: (0, 1, 0) turned a quarter about X is (0, 0, 1),
  // which a quarter about Y takes to (1, 0, 0).
  const float quarter = static_cast<float>(M_PI / 2);
  NerroPolygon c(1, kQuad);
  c.setTransform(TransformKind::RotationY, &quarter);
  c.setTransform(TransformKind::RotationX, &quarter);
  const D3DVECTOR v = transformPoint(composeWorld(c), 0, 1, 0);
  EXPECT_NEAR(v.x, 1.0f, 1e-5);
  EXPECT_NEAR(v.y, 0.0f, 1e-5);
  EXPECT_NEAR(v.z, 0.0f, 1e-5);
}

}  // namespace
}  // namespace nerro::renderer
