#pragma once
// What every backend's device list shares: whether a listed id is asked for, and the list of a
// backend that knows one device and offers no choice (a bare mixer).

#include <string>
#include <string_view>

#include "audio/IOutputDevices.h"

bool IsListed(const OutputList& outputs, std::string_view id);

class SingleOutput final : public IOutputDevices {
 public:
  static constexpr const char* kSingleOutputId = "mixer";

  explicit SingleOutput(std::string description);

  OutputList List() override { return list_; }
  bool MakeDefault(const std::string&) override { return false; }
  // The one device never changes: the callback is never called.
  void SetOutputsCallback(OutputsChangedCallback) override {}

 private:
  const OutputList list_;
};
