#pragma once
// Callbacks that stay registered while their Subscription lives. The owner's mutex guards the
// list, so the owner can change its own state and call the subscribers in one hold of it; a
// Subscription ends under that mutex, after which its callback is never called again.

#include <functional>
#include <iterator>
#include <list>
#include <mutex>
#include <utility>

template <typename... Args>
class Subscribers {
 public:
  using Callback = std::function<void(Args...)>;

  // `guard` must outlive this object.
  explicit Subscribers(std::mutex& guard) : guard_(guard) {}
  Subscribers(const Subscribers&) = delete;
  Subscribers& operator=(const Subscribers&) = delete;

  class Subscription {
   public:
    Subscription() = default;
    Subscription(Subscription&& other) noexcept { *this = std::move(other); }
    Subscription& operator=(Subscription&& other) noexcept {
      if (this != &other) {
        Reset();
        owner_ = std::exchange(other.owner_, nullptr);
        entry_ = other.entry_;
      }
      return *this;
    }
    ~Subscription() { Reset(); }
    // Any thread but one inside a callback of this list (the guard is taken).
    void Reset() {
      if (owner_ == nullptr) return;
      std::lock_guard lock(owner_->guard_);
      owner_->callbacks_.erase(entry_);
      owner_ = nullptr;
    }

   private:
    friend class Subscribers;
    using Entry = typename std::list<Callback>::iterator;
    Subscription(Subscribers* owner, Entry entry) : owner_(owner), entry_(entry) {}
    Subscribers* owner_ = nullptr;
    Entry entry_;
  };

  // With the guard held. The Subscription must not outlive this object.
  Subscription AddLocked(Callback callback) {
    callbacks_.push_back(std::move(callback));
    return Subscription(this, std::prev(callbacks_.end()));
  }
  // With the guard held.
  void CallLocked(const Args&... args) const {
    for (const Callback& callback : callbacks_) callback(args...);
  }

 private:
  std::mutex& guard_;
  std::list<Callback> callbacks_;
};
