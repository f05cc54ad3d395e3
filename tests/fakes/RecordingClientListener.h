#pragma once
// Records the events of connections, in order, so tests can check what reached a listener.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "net/IClientListener.h"

class RecordingClientListener final : public IClientListener {
 public:
  struct Event {
    std::string name;  // "volume" or "disconnected"
    ClientConnection* connection;
    VolumeState state;
  };

  explicit RecordingClientListener(std::vector<std::string>* sharedLog = nullptr,
                                   std::string tag = "")
      : sharedLog_(sharedLog), tag_(std::move(tag)) {}

  void OnVolumeReceived(ClientConnection* connection, const VolumeState* state) override {
    Add({"volume", connection, *state});
  }
  void OnClientDisconnected(ClientConnection* connection) override {
    Add({"disconnected", connection, {}});
  }

  std::vector<Event> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  bool WaitForEvents(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return events_.size() >= count; });
  }

 private:
  void Add(Event event) {
    {
      std::lock_guard lock(mutex_);
      // The shared log is only written by one reader thread at a time in these tests.
      if (sharedLog_ != nullptr) sharedLog_->push_back(tag_ + ":" + event.name);
      events_.push_back(std::move(event));
    }
    changed_.notify_all();
  }

  std::vector<std::string>* sharedLog_;
  std::string tag_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Event> events_;
};
