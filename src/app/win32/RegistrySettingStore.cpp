#include "app/win32/RegistrySettingStore.h"

#include <windows.h>

#include <charconv>
#include <vector>

#include "app/ShellNames.h"
#include "base/win32/RegistryKey.h"
#include "base/win32/SystemErrorText.h"
#include "base/win32/WideText.h"

namespace {

constexpr DWORD kLongestValue = 64 * 1024;

}  // namespace

RegistrySettingStore::RegistrySettingStore(std::string key)
    : key_(key.empty() ? kSettingKey : std::move(key)) {}

std::string RegistrySettingStore::Location() const {
  return "HKEY_CURRENT_USER\\" + key_;
}

bool RegistrySettingStore::Load(std::string* problem) {
  RegistryKey opened;
  const LONG open =
      RegOpenKeyExW(HKEY_CURRENT_USER, Widen(key_).c_str(), 0, KEY_READ, opened.Put());
  if (open == ERROR_SUCCESS || open == ERROR_FILE_NOT_FOUND) return true;
  *problem = WindowsErrorText(static_cast<DWORD>(open));
  return false;
}

std::optional<std::string> RegistrySettingStore::Read(const Setting& setting) {
  RegistryKey opened;
  if (RegOpenKeyW(HKEY_CURRENT_USER, Widen(key_).c_str(), opened.Put()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  const std::wstring name = Widen(StoredName(setting));
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
  const uint32_t fallback = ParseSettingNumber(setting, setting.defaultText).value_or(0);
  uint8_t bytes[4] = {static_cast<uint8_t>(fallback), static_cast<uint8_t>(fallback >> 8),
                      static_cast<uint8_t>(fallback >> 16), static_cast<uint8_t>(fallback >> 24)};
  std::copy(data.begin(), data.begin() + length, bytes);
  const uint32_t value =
      bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
  return std::to_string(value);
}

bool RegistrySettingStore::Write(const Setting& setting, const std::string& text) {
  RegistryKey created;
  if (RegCreateKeyW(HKEY_CURRENT_USER, Widen(key_).c_str(), created.Put()) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring name = Widen(StoredName(setting));
  if (IsNumber(setting.kind)) {
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

bool RegistrySettingStore::Remove(const Setting& setting) {
  RegistryKey opened;
  const LONG open =
      RegOpenKeyExW(HKEY_CURRENT_USER, Widen(key_).c_str(), 0, KEY_SET_VALUE, opened.Put());
  if (open == ERROR_FILE_NOT_FOUND) return true;
  if (open != ERROR_SUCCESS) return false;
  const LONG removed = RegDeleteValueW(opened.Get(), Widen(StoredName(setting)).c_str());
  return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
}
