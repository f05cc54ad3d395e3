#pragma once
// IStartAtLogin as the value that the installer writes too: HKCU\<kRunKey>, named
// kRunValueName, holding the quoted path of the program.

#include <string>

#include "app/IStartAtLogin.h"

constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kRunValueName = L"Quavix Server";  // RUN_VALUE in installer.nsi

class RunValueStartAtLogin final : public IStartAtLogin {
 public:
  // `program`: the executable's path. `key`: under HKEY_CURRENT_USER.
  RunValueStartAtLogin(std::wstring program, std::wstring key = kRunKey)
      : program_(std::move(program)), key_(std::move(key)) {}
  // Any value of that name counts, also one that names the program elsewhere.
  bool Enabled() override;
  bool SetEnabled(bool enabled) override;

 private:
  std::wstring program_;
  std::wstring key_;
};
