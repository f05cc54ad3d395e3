#include "app/win32/RegistrySettingStore.h"

#include <windows.h>

#include <vector>

#include "base/win32/WideText.h"

namespace {

// Closes the key on every path.
class RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  HKEY* Put() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

bool RegistrySettingStore::Read(const std::string& key, const std::string& name, uint8_t* buffer,
                                size_t* size) {
  RegistryKey opened;
  if (RegOpenKeyW(HKEY_CURRENT_USER, Widen(key).c_str(), opened.Put()) != ERROR_SUCCESS) {
    return false;
  }
  // The registry leaves a too-small buffer undefined; ours must stay untouched on failure.
  std::vector<BYTE> data(*size);
  DWORD length = static_cast<DWORD>(*size);
  if (RegQueryValueExW(opened.Get(), Widen(name).c_str(), nullptr, nullptr, data.data(),
                       &length) != ERROR_SUCCESS ||
      length > *size) {  // with no room at all the query only reports the size
    return false;
  }
  std::copy(data.begin(), data.begin() + length, buffer);
  *size = length;
  return true;
}

bool RegistrySettingStore::WriteUint32(const std::string& key, const std::string& name,
                                       uint32_t value) {
  RegistryKey created;
  if (RegCreateKeyW(HKEY_CURRENT_USER, Widen(key).c_str(), created.Put()) != ERROR_SUCCESS) {
    return false;
  }
  const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                         static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
  return RegSetValueExW(created.Get(), Widen(name).c_str(), 0, REG_DWORD, bytes, sizeof bytes) ==
         ERROR_SUCCESS;
}
