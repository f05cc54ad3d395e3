#pragma once
// ISettingStore on the registry's HKEY_CURRENT_USER hive.

#include "app/ISettingStore.h"

class RegistrySettingStore final : public ISettingStore {
 public:
  // RegOpenKeyW + RegQueryValueExW without asking for the type: any value of at most `*size`
  // bytes is taken as it lies.
  bool Read(const std::string& key, const std::string& name, uint8_t* buffer,
            size_t* size) override;
  // RegCreateKeyW + RegSetValueExW as REG_DWORD.
  bool WriteUint32(const std::string& key, const std::string& name, uint32_t value) override;
};
