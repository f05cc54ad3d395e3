#pragma once
// A scriptable device list: the test sets the devices (reported as a backend reports them) and
// sees every device a page chose.

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "audio/OutputDevices.h"
#include "base/CallbackSlot.h"

class FakeOutputDevices final : public IOutputDevices {
 public:
  OutputList List() override {
    std::lock_guard lock(mutex_);
    return list_;
  }
  bool MakeDefault(const std::string& id) override {
    std::lock_guard lock(mutex_);
    chosen_.push_back(id);
    return list_.canChoose && IsListed(list_, id);
  }
  void SetOutputsCallback(OutputsChangedCallback callback) override {
    callback_.Set(std::move(callback));
  }

  // The devices changed: stored, then reported through the callback.
  void Report(const OutputList& list) {
    {
      std::lock_guard lock(mutex_);
      list_ = list;
    }
    callback_.Report(list);
  }
  std::vector<std::string> Chosen() {
    std::lock_guard lock(mutex_);
    return chosen_;
  }

 private:
  std::mutex mutex_;
  OutputList list_;
  std::vector<std::string> chosen_;
  CallbackSlot<OutputList> callback_;
};
