#pragma once
// Owns one COM reference and releases it on every path.

#include <unknwn.h>

#include <utility>

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { Reset(); }

  T* Get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // For the out parameter of a creating call; drops what was held first.
  T** Put() {
    Reset();
    return &pointer_;
  }
  // Releases the reference; returns the count Release reported (0 when nothing was held).
  ULONG Reset() {
    ULONG remaining = 0;
    if (pointer_ != nullptr) remaining = std::exchange(pointer_, nullptr)->Release();
    return remaining;
  }

 private:
  T* pointer_ = nullptr;
};
