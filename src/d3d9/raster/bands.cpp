// Worker threads for bands of rows.
#include "d3d9/raster/bands.h"

#include <algorithm>

namespace nerro::raster {

BandPool& BandPool::instance() {
  static BandPool pool;
  return pool;
}

BandPool::BandPool() {
  unsigned n = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
  for (unsigned i = 1; i < n; ++i) workers_.emplace_back([this] { work(); });
}

BandPool::~BandPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
}

// Takes bands until none is left.
void BandPool::drain() {
  for (int band; (band = next_.fetch_add(1, std::memory_order_relaxed)) < bands_;) (*task_)(band);
}

void BandPool::run(int bands, const std::function<void(int)>& task) {
  if (workers_.empty() || bands <= 1) {
    for (int b = 0; b < bands; ++b) task(b);
    return;
  }
  std::lock_guard<std::mutex> serial(runMutex_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task_ = &task;
    bands_ = bands;
    next_.store(0, std::memory_order_relaxed);
    busy_ = static_cast<int>(workers_.size());
    ++generation_;
  }
  wake_.notify_all();
  drain();
  // Workers that wake late find no band left and report at once.
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return busy_ == 0; });
  task_ = nullptr;
}

void BandPool::work() {
  uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
    }
    drain();
    std::lock_guard<std::mutex> lock(mutex_);
    if (--busy_ == 0) done_.notify_one();
  }
}

}  // namespace nerro::raster
