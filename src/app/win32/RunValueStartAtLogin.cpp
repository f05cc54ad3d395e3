#include "app/win32/RunValueStartAtLogin.h"

#include <windows.h>

#include <memory>

#include "base/Log.h"
#include "base/win32/SystemErrorText.h"
#include "base/win32/WideText.h"

bool RunValueStartAtLogin::Enabled() {
  return RegGetValueW(HKEY_CURRENT_USER, key_.c_str(), kRunValueName, RRF_RT_ANY, nullptr, nullptr,
                      nullptr) == ERROR_SUCCESS;
}

bool RunValueStartAtLogin::SetEnabled(bool enabled) {
  LSTATUS status;
  if (enabled) {
    // Quoted as the installer writes it: Program Files has a space in it.
    const std::wstring command = L"\"" + program_ + L"\"";
    status =
        RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), kRunValueName, REG_SZ, command.c_str(),
                        static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
  } else {
    status = RegDeleteKeyValueW(HKEY_CURRENT_USER, key_.c_str(), kRunValueName);
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;  // nothing to take away
  }
  if (status != ERROR_SUCCESS) {
    LogError("cannot " + std::string(enabled ? "write" : "remove") + " HKCU\\" + Narrow(key_) +
             "\\" + Narrow(kRunValueName) + ": " + WindowsErrorText(status));
    return false;
  }
  return true;
}

std::unique_ptr<IStartAtLogin> CreateStartAtLogin() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return nullptr;
  return std::make_unique<RunValueStartAtLogin>(path);
}
