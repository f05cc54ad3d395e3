#pragma once
// ISettingStore on the registry's HKEY_CURRENT_USER hive, key Software\Marrowick\Quavix. The
// port is the DWORD ServerPort, as it always was; the other settings are values beside it, named
// in the registry's style (Announce, Listen, Allow, MaxClients, WebPort) and stored as strings.

#include <string>

#include "app/ISettingStore.h"

class RegistrySettingStore final : public ISettingStore {
 public:
  // `key` under HKEY_CURRENT_USER; Software\Marrowick\Quavix unless a test picks another.
  explicit RegistrySettingStore(std::string key = "");

  std::string Location() const override;
  std::string StoredName(const std::string& key) const override;
  // A string value as it is; any other value of up to 4 bytes as a little-endian number (for
  // ServerPort laid over 17495's bytes, as a query into a prepared buffer does).
  std::optional<std::string> Read(const std::string& key) override;
  // ServerPort as REG_DWORD, the rest as REG_SZ.
  bool Write(const std::string& key, const std::string& text) override;
  bool Remove(const std::string& key) override;

 private:
  std::string key_;
};
