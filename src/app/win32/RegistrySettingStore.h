#pragma once
// ISettingStore on the registry's HKEY_CURRENT_USER hive, key Software\Marrowick\Quavix: each
// setting is the value its row names (the port is ServerPort, as it always was). Numbers are
// written as DWORDs, everything else as strings; a write sets its one value and touches no
// other. Values of other names are left alone unseen. A key that exists but cannot be opened
// for reading is a store that cannot be read.

#include <string>

#include "app/ISettingStore.h"

class RegistrySettingStore final : public ISettingStore {
 public:
  // `key` under HKEY_CURRENT_USER; Software\Marrowick\Quavix unless a test picks another.
  explicit RegistrySettingStore(std::string key = "");

  std::string Location() const override;
  std::string StoredName(const Setting& setting) const override {
    return std::string(setting.registryName);
  }
  // True when the key can be read or does not exist.
  bool Load(std::string* problem) override;
  std::vector<std::string> Unknown() const override { return {}; }
  // A string value as it is; any other value of up to 4 bytes as a little-endian number. A
  // number's value shorter than that lies over its default's bytes, as a query into a buffer
  // prepared with the default does.
  std::optional<std::string> Read(const Setting& setting) override;
  // A number as REG_DWORD, anything else as REG_SZ.
  bool Write(const Setting& setting, const std::string& text) override;
  bool Remove(const Setting& setting) override;

 private:
  std::string key_;
};
