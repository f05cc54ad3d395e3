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
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      pointer_ = std::exchange(other.pointer_, nullptr);
    }
    return *this;
  }
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
  // A reference of its own to the same object.
  ComPtr Share() const {
    ComPtr copy;
    if (pointer_ != nullptr) {
      pointer_->AddRef();
      copy.pointer_ = pointer_;
    }
    return copy;
  }

 private:
  T* pointer_ = nullptr;
};
