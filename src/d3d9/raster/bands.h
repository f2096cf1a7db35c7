// Worker threads that share a draw by bands of rows. Each row belongs to one
// band, and a band draws its rows in primitive order, so every pixel sees
// the same operations in the same order however many threads there are.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace nerro::raster {

// Rows of one band chunk; row y belongs to band (y / kBandRows) % bandCount.
constexpr int32_t kBandRows = 8;

class BandPool {
 public:
  static BandPool& instance();
  ~BandPool();
  BandPool(const BandPool&) = delete;
  BandPool& operator=(const BandPool&) = delete;

  int bandCount() const { return static_cast<int>(workers_.size()) + 1; }
  // Runs task(band) for every band, the calling thread taking band 0, and
  // returns when all are done.
  void run(const std::function<void(int)>& task);

 private:
  BandPool();
  void work(int band);

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  const std::function<void(int)>* task_ = nullptr;
  uint64_t generation_ = 0;
  int pending_ = 0;
  bool stop_ = false;
  std::mutex runMutex_;  // one draw at a time through the pool
};

}  // namespace nerro::raster
