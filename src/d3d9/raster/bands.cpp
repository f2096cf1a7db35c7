// Worker threads for bands of rows.
#include "d3d9/raster/bands.h"

#include <algorithm>

namespace nerro::raster {

BandPool& BandPool::instance() {
  static BandPool pool;
  return pool;
}

BandPool::BandPool() {
  unsigned n = std::thread::hardware_concurrency();
  n = std::clamp(n, 1u, 8u);
  for (unsigned i = 1; i < n; ++i) workers_.emplace_back([this, i] { work(static_cast<int>(i)); });
}

BandPool::~BandPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void BandPool::run(const std::function<void(int)>& task) {
  if (workers_.empty()) {
    task(0);
    return;
  }
  std::lock_guard<std::mutex> serial(runMutex_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task_ = &task;
    pending_ = static_cast<int>(workers_.size());
    ++generation_;
  }
  wake_.notify_all();
  task(0);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return pending_ == 0; });
  task_ = nullptr;
}

void BandPool::work(int band) {
  uint64_t seen = 0;
  for (;;) {
    const std::function<void(int)>* task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
      task = task_;
    }
    (*task)(band);
    std::lock_guard<std::mutex> lock(mutex_);
    if (--pending_ == 0) done_.notify_one();
  }
}

}  // namespace nerro::raster
