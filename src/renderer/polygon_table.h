// The context's polygon table: polygons by id, visited in the table's own
// order, and the operations of the polygon exports that work on it.
//
// The visiting order is part of what a host sees (later polygons blend over
// earlier ones), so it is fixed here exactly: polygons are visited by bucket
// number h(id) mod B ascending and, inside one bucket, by id ascending. B
// starts at 8; once an insertion leaves more than four polygons a bucket on
// average, B is multiplied by eight. Only clear() brings it back to 8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "renderer/polygon.h"

namespace nerro::renderer {

class PolygonTable {
 public:
  static constexpr uint32_t kInitialBuckets = 8;

  // The hash of an id: 16807 * ((k ^ 0xDEADBEEF) & 0x7FFFFFFF) mod (2^31 - 1).
  static uint32_t hashKey(uint32_t id) {
    const uint64_t product = 16807ull * ((id ^ 0xDEADBEEFu) & 0x7FFFFFFFu);
    return static_cast<uint32_t>(product % 2147483647u);
  }

  PolygonTable();
  PolygonTable(const PolygonTable&) = delete;
  PolygonTable& operator=(const PolygonTable&) = delete;
  ~PolygonTable();

  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  uint32_t bucketCount() const { return static_cast<uint32_t>(buckets_.size()); }

  // The polygon stored under id, or null.
  NerroPolygon* find(uint32_t id) const;

  // Stores the polygon under id, replacing (and destroying) one stored there
  // before. Throws std::bad_alloc with the table unchanged; the polygon
  // handed in is then destroyed, never leaked.
  void insert(uint32_t id, std::unique_ptr<NerroPolygon> polygon);

  // Calls visit(id, polygon) for every entry in visiting order. The callback
  // must not insert into or remove from the table.
  template <class Visit>
  void forEach(Visit&& visit) const {
    for (const auto& bucket : buckets_)
      for (const auto& entry : bucket) visit(entry.id, entry.polygon.get());
  }

  // Removes, in visiting order, every entry for which remove(id, polygon)
  // is true, destroying its polygon. Returns the number removed.
  template <class Predicate>
  std::size_t removeIf(Predicate&& remove) {
    std::size_t removed = 0;
    for (auto& bucket : buckets_) {
      std::size_t kept = 0;
      for (std::size_t i = 0; i < bucket.size(); ++i) {
        if (remove(bucket[i].id, bucket[i].polygon.get())) {
          bucket[i].polygon.reset();
          ++removed;
        } else {
          if (kept != i) bucket[kept] = std::move(bucket[i]);
          ++kept;
        }
      }
      bucket.resize(kept);
    }
    count_ -= removed;
    return removed;
  }

  // Destroys every polygon and returns to 8 buckets.
  void clear();

 private:
  struct Entry {
    uint32_t id;
    std::unique_ptr<NerroPolygon> polygon;
  };
  using Bucket = std::vector<Entry>;

  std::size_t bucketOf(uint32_t id) const { return hashKey(id) % buckets_.size(); }
  // Moves every entry into `buckets` buckets, with room kept for one more
  // entry under incomingId; allocates everything before moving anything,
  // so a failure leaves the table as it was.
  void regrow(std::size_t buckets, uint32_t incomingId);

  std::vector<Bucket> buckets_;
  std::size_t count_ = 0;
};

// ---- The polygon exports' work on the table ---------------------------

// Makes a triangle (quad zero, 6 floats) or a quad (8 floats) and stores it
// under the next id. Returns the id, or 0 when the record cannot be made or
// stored, when every id has been issued, or when corners is null.
uint32_t makePolygon(PolygonTable& table, uint32_t& lastPolygonId, int32_t quad, const float* corners);

// Replaces the transform of that kind of polygon id; ignored for unknown ids
// and a null values pointer.
void setPolygonTransform(PolygonTable& table, uint32_t id, TransformKind kind, const float* values);

// Marks polygon id disposed; it leaves the table at the next purge.
void disposePolygon(PolygonTable& table, uint32_t id);

// Destroys every polygon, returns the table to 8 buckets and restarts ids at 1.
void clearPolygons(PolygonTable& table, uint32_t& lastPolygonId);

// Destroys, in visiting order, every polygon marked disposed (and drops any
// empty entry).
void purgeDisposed(PolygonTable& table);

}  // namespace nerro::renderer
