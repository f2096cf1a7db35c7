#include "renderer/polygon_table.h"

#include <algorithm>
#include <new>

namespace nerro::renderer {

namespace {

// The table grows by three doublings at once, each only while the bucket
// count is below this bound.
constexpr std::size_t kBucketLimit = 0x0FFFFFFF;

std::size_t grownBucketCount(std::size_t buckets) {
  for (int i = 0; i < 3 && buckets < kBucketLimit; ++i) buckets *= 2;
  return buckets;
}

}  // namespace

PolygonTable::PolygonTable() : buckets_(kInitialBuckets) {}

PolygonTable::~PolygonTable() = default;

NerroPolygon* PolygonTable::find(uint32_t id) const {
  const Bucket& bucket = buckets_[bucketOf(id)];
  auto it = std::lower_bound(bucket.begin(), bucket.end(), id,
                             [](const Entry& e, uint32_t key) { return e.id < key; });
  return it != bucket.end() && it->id == id ? it->polygon.get() : nullptr;
}

void PolygonTable::insert(uint32_t id, std::unique_ptr<NerroPolygon> polygon) {
  Bucket& bucket = buckets_[bucketOf(id)];
  auto it = std::lower_bound(bucket.begin(), bucket.end(), id,
                             [](const Entry& e, uint32_t key) { return e.id < key; });
  if (it != bucket.end() && it->id == id) {
    it->polygon = std::move(polygon);
    return;
  }
  const bool crowded = static_cast<double>(count_ + 1) / static_cast<double>(buckets_.size()) > 4.0;
  const std::size_t grown = crowded ? grownBucketCount(buckets_.size()) : buckets_.size();
  if (grown != buckets_.size()) {
    regrow(grown, id);  // may throw; table unchanged
    Bucket& target = buckets_[bucketOf(id)];
    auto pos = std::lower_bound(target.begin(), target.end(), id,
                                [](const Entry& e, uint32_t key) { return e.id < key; });
    target.insert(pos, Entry{id, std::move(polygon)});  // capacity reserved: cannot throw
  } else {
    bucket.insert(it, Entry{id, std::move(polygon)});
  }
  ++count_;
}

void PolygonTable::regrow(std::size_t buckets, uint32_t incomingId) {
  // Count the entries each new bucket receives (with room for the one
  // being inserted), reserve all of it, then move. Each new bucket takes
  // its entries from a single old bucket (the new count is a multiple of
  // the old one), so appending in old order keeps every bucket sorted by id.
  std::vector<std::size_t> counts(buckets, 0);
  for (const Bucket& bucket : buckets_)
    for (const Entry& entry : bucket) ++counts[hashKey(entry.id) % buckets];
  ++counts[hashKey(incomingId) % buckets];
  std::vector<Bucket> grown(buckets);
  for (std::size_t i = 0; i < buckets; ++i)
    if (counts[i]) grown[i].reserve(counts[i]);
  for (Bucket& bucket : buckets_)
    for (Entry& entry : bucket) grown[hashKey(entry.id) % buckets].push_back(std::move(entry));
  buckets_.swap(grown);
}

void PolygonTable::clear() {
  std::vector<Bucket> fresh(kInitialBuckets);
  buckets_.swap(fresh);
  count_ = 0;
  // `fresh` now holds the old entries and destroys their polygons here.
}

uint32_t makePolygon(PolygonTable& table, uint32_t& lastPolygonId, int32_t quad, const float* corners) {
  if (!corners || lastPolygonId == 0xFFFFFFFFu) return 0;
  try {
    auto polygon = std::make_unique<NerroPolygon>(quad, corners);
    const uint32_t id = lastPolygonId + 1;
    table.insert(id, std::move(polygon));
    lastPolygonId = id;
    return id;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

void setPolygonTransform(PolygonTable& table, uint32_t id, TransformKind kind, const float* values) {
  if (!values) return;
  if (NerroPolygon* polygon = table.find(id)) polygon->setTransform(kind, values);
}

void disposePolygon(PolygonTable& table, uint32_t id) {
  if (NerroPolygon* polygon = table.find(id)) polygon->disposed = 1;
}

void clearPolygons(PolygonTable& table, uint32_t& lastPolygonId) {
  table.clear();
  lastPolygonId = 0;
}

void purgeDisposed(PolygonTable& table) {
  table.removeIf([](uint32_t, const NerroPolygon* polygon) { return !polygon || polygon->disposed; });
}

}  // namespace nerro::renderer
