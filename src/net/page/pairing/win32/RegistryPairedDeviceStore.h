#pragma once
// The paired phones under the program's key in HKEY_CURRENT_USER (which only the user and the
// system can read), one string value per phone, named by its id:
//   HKCU\Software\Marrowick\Quavix\PairedPhones
//     0123456789abcdef = "1718000000 <64 hex digits of key> Chrome on Android"
// Each value is written in one call, so a crash leaves every phone whole.

#include <string>

#include "net/page/pairing/PairedDevice.h"

class RegistryPairedDeviceStore final : public IPairedDeviceStore {
 public:
  // `programKey`: the program's key below HKEY_CURRENT_USER ("Software\Marrowick\Quavix").
  explicit RegistryPairedDeviceStore(const std::string& programKey);

  std::string Location() const override { return "HKEY_CURRENT_USER\\" + key_; }
  std::optional<std::vector<PairedDevice>> Load() override;
  bool Save(const std::vector<PairedDevice>& devices) override;

 private:
  std::string key_;
};
