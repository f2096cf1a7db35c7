// Worker threads that share a draw by bands of rows. The target's rows are
// cut into bands of kBandRows; whichever thread takes a band draws all of
// the draw's triangles into it, in primitive order. Every pixel so sees the
// same operations in the same order, whichever thread and however many.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace nerro::raster {

constexpr int32_t kBandRows = 16;

class BandPool {
 public:
  static BandPool& instance();
  ~BandPool();
  BandPool(const BandPool&) = delete;
  BandPool& operator=(const BandPool&) = delete;

  int threadCount() const { return static_cast<int>(workers_.size()) + 1; }
  // Runs task(band) once for every band in [0, bands), spread over the
  // calling thread and the workers; returns when all are done.
  void run(int bands, const std::function<void(int)>& task);

 private:
  BandPool();
  void work();
  void drain();

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  const std::function<void(int)>* task_ = nullptr;
  int bands_ = 0;
  std::atomic<int> next_{0};
  uint64_t generation_ = 0;
  int busy_ = 0;
  bool stop_ = false;
  std::mutex runMutex_;  // one draw at a time through the pool
};

}  // namespace nerro::raster
