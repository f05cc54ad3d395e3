#pragma once
// A scriptable mixer line: the test lays out the controls, sets their values as another
// program would, makes reads fail, and sees every write.

#include <map>
#include <mutex>
#include <vector>

#include "audio/win32/IMixerDevice.h"

class FakeMixerDevice final : public IMixerDevice {
 public:
  struct Write {
    uint32_t controlId;
    uint32_t value;
  };
  // Shared with the test, which outlives the backend that owns the fake.
  struct Record {
    std::mutex mutex;  // guards everything below
    std::vector<MixerControlInfo> controls;
    std::map<uint32_t, std::vector<uint32_t>> values;  // per control id, per channel
    bool readsFail = false;
    std::vector<Write> writes;
    int reads = 0;

    void AddControl(uint32_t id, uint32_t type, int32_t minimum = 0, int32_t maximum = 0) {
      std::lock_guard lock(mutex);
      controls.push_back({id, type, minimum, maximum});
      values[id] = {0, 0};
    }
    void SetValues(uint32_t id, uint32_t first, uint32_t second) {
      std::lock_guard lock(mutex);
      values[id] = {first, second};
    }
    std::vector<Write> Writes() {
      std::lock_guard lock(mutex);
      return writes;
    }
  };

  explicit FakeMixerDevice(Record& record) : r_(record) {}

  bool GetDestinationLine(MixerLineInfo* line) override {
    std::lock_guard lock(r_.mutex);
    line->lineId = 7;
    line->controlCount = static_cast<uint32_t>(r_.controls.size());
    return true;
  }
  bool GetLineControls(const MixerLineInfo& line,
                       std::vector<MixerControlInfo>* controls) override {
    std::lock_guard lock(r_.mutex);
    if (line.lineId != 7) return false;
    *controls = r_.controls;
    return true;
  }
  bool GetControlValues(uint32_t controlId, uint32_t channels, uint32_t* values) override {
    std::lock_guard lock(r_.mutex);
    ++r_.reads;
    auto it = r_.values.find(controlId);
    if (r_.readsFail || it == r_.values.end()) return false;
    for (uint32_t i = 0; i < channels; ++i) values[i] = it->second[i < 2 ? i : 1];
    return true;
  }
  bool SetControlValue(uint32_t controlId, uint32_t value) override {
    std::lock_guard lock(r_.mutex);
    r_.writes.push_back({controlId, value});
    auto it = r_.values.find(controlId);
    if (it == r_.values.end()) return false;
    it->second = {value, value};
    return true;
  }

 private:
  Record& r_;
};
