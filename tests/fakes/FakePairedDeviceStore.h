#pragma once
// Paired phones kept in memory, with a switch that makes saving fail, and a count of saves.

#include <optional>
#include <vector>

#include "net/page/pairing/PairedDevice.h"

class FakePairedDeviceStore final : public IPairedDeviceStore {
 public:
  std::string Location() const override { return "memory"; }
  std::optional<std::vector<PairedDevice>> Load() override { return kept; }
  bool Save(const std::vector<PairedDevice>& devices) override {
    ++saves;
    if (failSaving) return false;
    kept = devices;
    return true;
  }

  std::vector<PairedDevice> kept;
  bool failSaving = false;
  int saves = 0;
};
