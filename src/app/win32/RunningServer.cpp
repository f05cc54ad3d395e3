#include "app/win32/RunningServer.h"

#include <shellapi.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <vector>

#include "app/ShellNames.h"
#include "base/Texts.h"
#include "app/win32/RegistrySettingStore.h"
#include "app/win32/ShellMessages.h"
#include "base/win32/WideText.h"
#include "base/Log.h"
#include "base/win32/SystemErrorText.h"
#include "net/Protocol.h"

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

namespace {

// Owns a socket.
struct SocketGuard {
  SOCKET socket;
  ~SocketGuard() {
    if (socket != INVALID_SOCKET) closesocket(socket);
  }
};

sockaddr_in Address(uint32_t host, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(host);
  return address;
}

// One connection to loopback `port`: true when its first bytes are our greeting within
// `limitMs`. Non-blocking, since a refused connection to loopback takes Windows seconds.
bool GreetsOnce(uint16_t port, DWORD limitMs) {
  SocketGuard guard{socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)};
  if (guard.socket == INVALID_SOCKET) return false;
  u_long nonBlocking = 1;
  ioctlsocket(guard.socket, FIONBIO, &nonBlocking);
  const sockaddr_in address = Address(INADDR_LOOPBACK, port);
  if (connect(guard.socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
      WSAGetLastError() != WSAEWOULDBLOCK) {
    return false;
  }
  const ULONGLONG end = GetTickCount64() + limitMs;
  uint8_t got[kGreeting.size()];
  size_t have = 0;
  while (have < sizeof got) {
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    fd_set readable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&failed);
    FD_SET(guard.socket, &readable);
    FD_SET(guard.socket, &failed);
    const long leftMs = static_cast<long>(end - now);
    timeval wait{leftMs / 1000, (leftMs % 1000) * 1000};
    if (select(0, &readable, nullptr, &failed, &wait) <= 0 || FD_ISSET(guard.socket, &failed)) {
      return false;  // refused (nobody listens yet), or nothing in time
    }
    const int n = recv(guard.socket, reinterpret_cast<char*>(got + have),
                       static_cast<int>(sizeof got - have), 0);
    if (n <= 0) return false;
    have += static_cast<size_t>(n);
  }
  return std::memcmp(got, kGreeting.data(), sizeof got) == 0;
}

bool PortTaken(uint16_t port) {
  SocketGuard guard{socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)};
  if (guard.socket == INVALID_SOCKET) return false;
  const sockaddr_in address = Address(INADDR_ANY, port);
  return bind(guard.socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
         (WSAGetLastError() == WSAEADDRINUSE || WSAGetLastError() == WSAEACCES);
}

}  // namespace

bool PostRunningServer::AwaitGreeting(uint16_t port, int limitMs, std::string* reason) {
  WSADATA data{};
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    *reason = "Windows networking could not be started";
    return false;
  }
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(limitMs);
  const auto leftMs = [end] {
    const ULONGLONG now = GetTickCount64();
    return now < end ? end - now : 0;
  };
  bool greeted = false;
  for (;;) {
    // A try ends at the deadline or when nobody listens; the server moves in its own time.
    greeted = GreetsOnce(port, static_cast<DWORD>(std::min<ULONGLONG>(leftMs(), 500)));
    if (greeted || leftMs() == 0) break;
    Sleep(static_cast<DWORD>(std::min<ULONGLONG>(50, leftMs())));
  }
  if (!greeted) {
    const std::string number = std::to_string(port);
    *reason = PortTaken(port) ? "port " + number + " is in use by another program"
                              : "it did not answer on port " + number + " within " +
                                    std::to_string(limitMs / 1000) + " s";
  }
  WSACleanup();
  return greeted;
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
