#include "app/win32/RunningServer.h"

#include <shellapi.h>

#include <optional>
#include <sstream>
#include <vector>

#include "app/Requests.h"
#include "app/ShellNames.h"
#include "app/win32/RegistrySettingStore.h"
#include "app/win32/ShellMessages.h"
#include "base/Log.h"
#include "base/Texts.h"
#include "base/win32/SystemErrorText.h"
#include "base/win32/WideText.h"

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

// A message-only window that keeps the first reply it is sent.
class ReplyWindow {
 public:
  ReplyWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);  // already there from an earlier request: fine
    window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
    if (window_ != nullptr)
      SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~ReplyWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  ReplyWindow(const ReplyWindow&) = delete;
  ReplyWindow& operator=(const ReplyWindow&) = delete;

  HWND Handle() const { return window_; }
  const std::optional<std::string>& Received() const { return received_; }

 private:
  static constexpr const wchar_t* kClassName = L"QuavixServerReply";
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<ReplyWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (message != WM_COPYDATA || self == nullptr || data == nullptr ||
        data->dwData != kReplyCopyData || data->cbData > kLongestRequestLine) {
      return DefWindowProcW(window, message, wParam, lParam);
    }
    if (!self->received_) {
      self->received_ = std::string(static_cast<const char*>(data->lpData), data->cbData);
    }
    return TRUE;
  }

  HWND window_ = nullptr;
  std::optional<std::string> received_;
};

}  // namespace

AskResult CopyDataRunningServer::Ask(const std::string& request, std::string* reply,
                                     std::string* reason) {
  const ReplyWindow replies;
  if (replies.Handle() == nullptr) {
    *reason = WindowsErrorText(GetLastError());
    return AskResult::Failed;
  }
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(waitMs_);
  for (;;) {
    const HWND server = FindWindowW(L"QUAVIXSERVER", nullptr);
    if (server == nullptr) return AskResult::NoneRunning;
    COPYDATASTRUCT data{kRequestCopyData, static_cast<DWORD>(request.size()),
                        const_cast<char*>(request.data())};
    const ULONGLONG now = GetTickCount64();
    const UINT left = now < deadline ? static_cast<UINT>(deadline - now) : 0;
    DWORD_PTR taken = FALSE;
    // No SMTO_BLOCK: the reply is a message sent to this thread while it waits here.
    if (SendMessageTimeoutW(server, WM_COPYDATA, reinterpret_cast<WPARAM>(replies.Handle()),
                            reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, left, &taken) == 0) {
      *reason = "no reply in time";
      return AskResult::Failed;
    }
    if (taken == TRUE) {
      if (!replies.Received()) {
        *reason = "it took the request but sent no reply";
        return AskResult::Failed;
      }
      *reply = *replies.Received();
      return AskResult::Answered;
    }
    // It takes no requests yet: still starting up.
    if (GetTickCount64() >= deadline) {
      *reason = "it takes no requests; is it still starting up?";
      return AskResult::Failed;
    }
    Sleep(50);
  }
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
  CopyDataRunningServer runningServer;
  CommandLineServices services{"QuavixServer", store,
                               store.Location() + " (value " + store.StoredName(kPortSetting) + ")",
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
