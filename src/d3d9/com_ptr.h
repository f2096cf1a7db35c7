// An owning reference to a reference-counted Direct3D object: Release runs
// exactly once, when the holder lets go.
#pragma once

#include <utility>

namespace nerro::d3d9 {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  // Adopts one reference already held by the caller.
  explicit ComPtr(T* object) : object_(object) {}
  ComPtr(const ComPtr& other) : object_(other.object_) {
    if (object_ != nullptr) object_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

  // Releases what is held and hands out the slot for an out-pointer.
  T** put() {
    reset();
    return &object_;
  }
  // Gives the reference to the caller.
  T* detach() { return std::exchange(object_, nullptr); }
  void reset() {
    if (T* object = std::exchange(object_, nullptr)) object->Release();
  }

 private:
  T* object_ = nullptr;
};

}  // namespace nerro::d3d9
