#include "net/page/pairing/win32/RegistryPairedDeviceStore.h"

#include <windows.h>

#include <algorithm>
#include <charconv>

#include "base/Log.h"
#include "base/win32/RegistryKey.h"
#include "base/win32/SystemErrorText.h"
#include "base/win32/WideText.h"

namespace {

// Value names are ids (16 characters) and values well under this.
constexpr DWORD kLongestName = 64;
constexpr DWORD kLongestValue = 1024;

std::string ValueText(const PairedDevice& device) {
  return std::to_string(device.pairedAt) + " " + HexText(device.key) + " " + device.name;
}

// "PAIRED KEY NAME" back into `device`; false when it is not of that shape.
bool ReadValueText(const std::string& text, PairedDevice& device) {
  const size_t first = text.find(' ');
  const size_t second = first == std::string::npos ? first : text.find(' ', first + 1);
  if (second == std::string::npos) return false;
  const char* end = text.data() + first;
  if (std::from_chars(text.data(), end, device.pairedAt).ptr != end) return false;
  device.key =
      ParseHex(std::string_view(text).substr(first + 1, second - first - 1)).value_or(Bytes{});
  device.name = text.substr(second + 1);
  return true;
}

// The names of the values under `key`.
std::vector<std::wstring> ValueNames(HKEY key) {
  std::vector<std::wstring> names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[kLongestName + 1];
    DWORD length = kLongestName + 1;
    const LSTATUS status =
        RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    // A name too long for an id is nobody's phone; it is left alone, and Load leaves it out.
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

}  // namespace

RegistryPairedDeviceStore::RegistryPairedDeviceStore(const std::string& programKey)
    : key_(programKey + "\\PairedPhones") {}

std::optional<std::vector<PairedDevice>> RegistryPairedDeviceStore::Load() {
  RegistryKey opened;
  const LSTATUS status =
      RegOpenKeyExW(HKEY_CURRENT_USER, Widen(key_).c_str(), 0, KEY_QUERY_VALUE, opened.Put());
  if (status == ERROR_FILE_NOT_FOUND) return std::vector<PairedDevice>{};
  if (status != ERROR_SUCCESS) {
    LogError("could not read the paired phones from " + Location() + ": " +
             WindowsErrorText(static_cast<unsigned long>(status)));
    return std::nullopt;
  }
  std::vector<PairedDevice> devices;
  for (const std::wstring& name : ValueNames(opened.Get())) {
    PairedDevice device;
    device.id = Narrow(name);
    wchar_t data[kLongestValue + 1] = {};
    DWORD type = 0;
    DWORD length = sizeof(wchar_t) * kLongestValue;
    const bool read = RegQueryValueExW(opened.Get(), name.c_str(), nullptr, &type,
                                       reinterpret_cast<BYTE*>(data), &length) == ERROR_SUCCESS &&
                      type == REG_SZ;
    // A string value need not end in a NUL; the one past its length is ours.
    std::wstring text(data,
                      std::min<DWORD>(length, sizeof(wchar_t) * kLongestValue) / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    if (!read || !ReadValueText(Narrow(text), device) || !WellFormed(device)) {
      LogError("left out " + device.id + " of " + Location() + ": not a paired phone's record");
      continue;
    }
    devices.push_back(std::move(device));
  }
  return devices;
}

bool RegistryPairedDeviceStore::Save(const std::vector<PairedDevice>& devices) {
  RegistryKey opened;
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, Widen(key_).c_str(), 0, nullptr, 0,
                                   KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, opened.Put(), nullptr);
  if (status != ERROR_SUCCESS) {
    LogError("could not keep the paired phones in " + Location() + ": " +
             WindowsErrorText(static_cast<unsigned long>(status)));
    return false;
  }
  for (const PairedDevice& device : devices) {
    const std::wstring value = Widen(ValueText(device));
    status = RegSetValueExW(opened.Get(), Widen(device.id).c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) {
      LogError("could not keep a paired phone in " + Location() + ": " +
               WindowsErrorText(static_cast<unsigned long>(status)));
      return false;
    }
  }
  for (const std::wstring& name : ValueNames(opened.Get())) {
    const std::string id = Narrow(name);
    const bool kept = std::any_of(devices.begin(), devices.end(),
                                  [&](const PairedDevice& device) { return device.id == id; });
    if (kept) continue;
    status = RegDeleteValueW(opened.Get(), name.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
      LogError("could not forget a paired phone in " + Location() + ": " +
               WindowsErrorText(static_cast<unsigned long>(status)));
      return false;
    }
  }
  return true;
}
