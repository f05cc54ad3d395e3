#include "app/win32/RegistrySettingStore.h"

#include <windows.h>

#include <charconv>
#include <vector>

#include "app/ShellNames.h"
#include "base/Port.h"
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

constexpr DWORD kLongestValue = 64 * 1024;

}  // namespace

RegistrySettingStore::RegistrySettingStore(std::string key)
    : key_(key.empty() ? kSettingKey : std::move(key)) {}

std::string RegistrySettingStore::Location() const {
  return "HKEY_CURRENT_USER\\" + key_;
}

std::string RegistrySettingStore::StoredName(const std::string& key) const {
  if (key == "port") return kSettingValueName;
  if (key == "announce") return "Announce";
  if (key == "listen") return "Listen";
  if (key == "allow") return "Allow";
  if (key == "max_clients") return "MaxClients";
  if (key == "web_port") return "WebPort";
  return key;
}

std::optional<std::string> RegistrySettingStore::Read(const std::string& key) {
  RegistryKey opened;
  if (RegOpenKeyW(HKEY_CURRENT_USER, Widen(key_).c_str(), opened.Put()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  const std::wstring name = Widen(StoredName(key));
  DWORD type = 0;
  DWORD length = 0;
  if (RegQueryValueExW(opened.Get(), name.c_str(), nullptr, &type, nullptr, &length) !=
          ERROR_SUCCESS ||
      length > kLongestValue) {
    return std::nullopt;
  }
  std::vector<BYTE> data(length + sizeof(wchar_t));
  if (RegQueryValueExW(opened.Get(), name.c_str(), nullptr, &type, data.data(), &length) !=
          ERROR_SUCCESS ||
      length + sizeof(wchar_t) > data.size()) {
    return std::nullopt;
  }
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), length / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return Narrow(text);
  }
  if (length > 4) return "(a value of " + std::to_string(length) + " bytes)";
  uint8_t bytes[4] = {0, 0, 0, 0};
  if (key == "port") {
    bytes[0] = kDefaultPort & 0xFF;
    bytes[1] = kDefaultPort >> 8;
  }
  std::copy(data.begin(), data.begin() + length, bytes);
  const uint32_t value = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                         (static_cast<uint32_t>(bytes[3]) << 24);
  return std::to_string(value);
}

bool RegistrySettingStore::Write(const std::string& key, const std::string& text) {
  RegistryKey created;
  if (RegCreateKeyW(HKEY_CURRENT_USER, Widen(key_).c_str(), created.Put()) !=
      ERROR_SUCCESS) {
    return false;
  }
  const std::wstring name = Widen(StoredName(key));
  if (key == "port") {
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return false;
    const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                           static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
    return RegSetValueExW(created.Get(), name.c_str(), 0, REG_DWORD, bytes, sizeof bytes) ==
           ERROR_SUCCESS;
  }
  const std::wstring wide = Widen(text);
  return RegSetValueExW(created.Get(), name.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(wide.c_str()),
                        static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool RegistrySettingStore::Remove(const std::string& key) {
  RegistryKey opened;
  const LONG open = RegOpenKeyExW(HKEY_CURRENT_USER, Widen(key_).c_str(), 0, KEY_SET_VALUE,
                                  opened.Put());
  if (open == ERROR_FILE_NOT_FOUND) return true;
  if (open != ERROR_SUCCESS) return false;
  const LONG removed = RegDeleteValueW(opened.Get(), Widen(StoredName(key)).c_str());
  return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
}
