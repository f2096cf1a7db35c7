// A host bitmap as the exports expect it: a 32-bit handle h whose chain of
// stored addresses (at 2h + 16: P1, at P1 + 8: P2, at P2 + 16: the pixels)
// leads to width x height BGRA pixels, bottom row first, all of it mapped
// below 4 GiB. Free of GoogleTest so benchmarks can use it too.
#pragma once

#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace nerro::testing {

class HostBitmap {
 public:
  HostBitmap(int width, int height) : width_(width), height_(height) {
    bytes_ = 4096 + ((static_cast<size_t>(width) * height * 4 + 4095) & ~size_t{4095});
    void* p = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (p == MAP_FAILED) return;
    base_ = static_cast<uint8_t*>(p);
    const uint32_t base = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(base_));
    store(16, base + 32);    // at 2h + 16: P1
    store(40, base + 48);    // at P1 + 8: P2
    store(64, base + 4096);  // at P2 + 16: the pixels
    handle_ = base / 2;
  }
  ~HostBitmap() {
    if (base_) munmap(base_, bytes_);
  }
  HostBitmap(const HostBitmap&) = delete;
  HostBitmap& operator=(const HostBitmap&) = delete;

  bool ok() const { return base_ != nullptr; }
  uint32_t handle() const { return handle_; }
  uint32_t* pixels() const { return reinterpret_cast<uint32_t*>(base_ + 4096); }
  int width() const { return width_; }
  int height() const { return height_; }
  // Pixel (x, y) of the picture, y counted from the top.
  uint32_t at(int x, int y) const { return pixels()[static_cast<size_t>(height_ - 1 - y) * width_ + x]; }
  void fill(uint32_t value) const { std::fill(pixels(), pixels() + static_cast<size_t>(width_) * height_, value); }

 private:
  void store(size_t offset, uint32_t value) { std::memcpy(base_ + offset, &value, 4); }

  int width_, height_;
  size_t bytes_ = 0;
  uint8_t* base_ = nullptr;
  uint32_t handle_ = 0;
};

}  // namespace nerro::testing
