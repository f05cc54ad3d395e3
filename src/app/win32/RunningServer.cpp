#include "app/win32/RunningServer.h"

#include <shellapi.h>

#include <sstream>
#include <vector>

#include "app/ShellNames.h"
#include "base/Texts.h"
#include "app/win32/RegistrySettingStore.h"
#include "app/win32/ShellMessages.h"
#include "base/win32/WideText.h"
#include "base/Log.h"
#include "base/win32/SystemErrorText.h"

namespace {

// Owns a handle from CreateFileW.
struct FileHandle {
  HANDLE handle;
  ~FileHandle() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

// Text written to a file or pipe keeps its UTF-8; a console takes UTF-16 and CR LF.
bool WriteRedirected(HANDLE handle, const std::string& text) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  const DWORD type = GetFileType(handle);
  if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE) return false;
  DWORD written = 0;
  return WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0;
}

bool WriteToParentConsole(const std::string& text) {
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return false;
  bool done = false;
  {
    FileHandle console{CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr)};
    std::wstring wide;
    // The shell printed its prompt already (it does not wait for a window program): start on
    // a line of our own.
    for (wchar_t c : L"\n" + Widen(text)) {
      if (c == L'\n') wide += L'\r';
      wide += c;
    }
    DWORD written = 0;
    done = console.handle != INVALID_HANDLE_VALUE &&
           WriteConsoleW(console.handle, wide.data(), static_cast<DWORD>(wide.size()), &written,
                         nullptr) != 0;
  }
  FreeConsole();
  return done;
}

// From a console (cmd, PowerShell) the answer goes there, or where it is redirected; from
// Explorer or a shortcut there is none, so a message box shows it.
void ShowCommandLineAnswer(const std::string& text, bool error) {
  if (text.empty()) return;
  if (WriteRedirected(GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE), text)) return;
  if (WriteToParentConsole(text)) return;
  MessageBoxW(nullptr, Widen(text).c_str(), Widen(kTextAppTitle).c_str(),
              MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

}  // namespace

TellResult PostRunningServer::TellPortChanged(std::string* reason) {
  const HWND window = FindWindowW(L"QUAVIXSERVER", nullptr);
  if (window == nullptr) return TellResult::NoneRunning;
  const UINT message = RegisterWindowMessageW(kPortChangedMessage);
  if (message == 0 || !PostMessageW(window, message, 0, 0)) {
    *reason = WindowsErrorText(GetLastError());
    return TellResult::Failed;
  }
  return TellResult::Told;
}

std::optional<int> RunWin32CommandLine() {
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (words == nullptr) return std::nullopt;
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(Narrow(words[i]));
  LocalFree(words);
  if (args.empty()) return std::nullopt;

  RegistrySettingStore store;
  PostRunningServer runningServer;
  CommandLineServices services{
      "QuavixServer", store,
      std::string("HKEY_CURRENT_USER\\") + kSettingKey + " (value " + kSettingValueName + ")",
      runningServer};
  std::ostringstream out, err;
  std::optional<int> code;
  {
    const ScopedLogStream log(err);
    code = RunCommandLine(args, services, out);
  }
  // One answer, so a message box never comes twice.
  const bool failed = !err.str().empty();
  ShowCommandLineAnswer(out.str() + err.str(), failed);
  return code;
}
