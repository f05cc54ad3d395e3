#pragma once
// The paired phones as a key file beside the settings, readable and writable by the user alone
// (mode 0600 in a folder made 0700), replaced whole and atomically on every change:
//   [phone 0123456789abcdef]
//   name=Chrome on Android
//   paired=1718000000
//   key=<64 hex digits>
// GLib's GKeyFile reads and writes it.

#include <string>

#include "net/page/pairing/PairedDevice.h"

class FilePairedDeviceStore final : public IPairedDeviceStore {
 public:
  static constexpr const char* kFileName = "paired-phones";

  // `folder`: the settings' folder ($XDG_CONFIG_HOME/quavix); made when a phone is first kept.
  explicit FilePairedDeviceStore(std::string folder);

  std::string Location() const override { return path_; }
  std::optional<std::vector<PairedDevice>> Load() override;
  bool Save(const std::vector<PairedDevice>& devices) override;

 private:
  std::string folder_;
  std::string path_;
};
