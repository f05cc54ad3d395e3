// window-driver.exe: drives the windows of another program under test with window messages,
// which reach their queue for certain, where synthetic keys and clicks may be dropped.
//   window-driver shown    CLASS TITLE MS   waits for a visible match; prints "hwnd x y w h"
//   window-driver gone     CLASS TITLE MS   waits until no match is visible
//   window-driver post     CLASS TITLE MESSAGE WPARAM LPARAM
//   window-driver settext  CLASS TITLE CONTROL_ID TEXT
//   window-driver key      VK MS            prints "ready", then waits for any program to
//                                           press key VK (a low-level keyboard hook)
// CLASS or TITLE "-" matches any. Exit codes: 0 done, 1 no such window or timed out, 2 usage.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

const wchar_t* OrAny(const wchar_t* text) {
  return std::wcscmp(text, L"-") == 0 ? nullptr : text;
}

// The first top-level window with this class and title; a visible one when asked.
HWND Find(const wchar_t* windowClass, const wchar_t* title, bool visibleOnly) {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, OrAny(windowClass), OrAny(title))) != nullptr) {
    if (!visibleOnly || IsWindowVisible(window)) return window;
  }
  return nullptr;
}

template <typename Condition>
bool WaitFor(DWORD limitMs, Condition condition) {
  const ULONGLONG deadline = GetTickCount64() + limitMs;
  while (true) {
    if (condition()) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(100);
  }
}

unsigned long long Number(const wchar_t* text) {
  return std::wcstoull(text, nullptr, 0);
}

// The key the low-level hook waits for, and whether it came.
DWORD g_wantedKey = 0;
bool g_keySeen = false;

LRESULT CALLBACK OnLowLevelKey(int code, WPARAM message, LPARAM data) {
  if (code == HC_ACTION && (message == WM_KEYDOWN || message == WM_SYSKEYDOWN) &&
      reinterpret_cast<const KBDLLHOOKSTRUCT*>(data)->vkCode == g_wantedKey) {
    g_keySeen = true;
  }
  return CallNextHookEx(nullptr, code, message, data);
}

// The hook sees injected keys too; it runs inside this thread's message pumping.
int AwaitKey(DWORD key, DWORD limitMs) {
  g_wantedKey = key;
  HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, &OnLowLevelKey, GetModuleHandleW(nullptr), 0);
  if (hook == nullptr) return 1;
  std::puts("ready");
  std::fflush(stdout);
  const ULONGLONG deadline = GetTickCount64() + limitMs;
  while (!g_keySeen && GetTickCount64() < deadline) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  UnhookWindowsHookEx(hook);
  return g_keySeen ? 0 : 1;
}

int Usage() {
  std::fputs(
      "usage: window-driver shown|gone CLASS TITLE MS\n"
      "       window-driver post CLASS TITLE MESSAGE WPARAM LPARAM\n"
      "       window-driver settext CLASS TITLE CONTROL_ID TEXT\n"
      "       window-driver key VK MS\n",
      stderr);
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wstring(argv[1]) == L"key") {
    return AwaitKey(static_cast<DWORD>(Number(argv[2])), static_cast<DWORD>(Number(argv[3])));
  }
  if (argc < 5) return Usage();
  const std::wstring command = argv[1];
  const wchar_t* windowClass = argv[2];
  const wchar_t* title = argv[3];
  if (command == L"shown") {
    HWND found = nullptr;
    if (!WaitFor(static_cast<DWORD>(Number(argv[4])),
                 [&] { return (found = Find(windowClass, title, true)) != nullptr; })) {
      return 1;
    }
    RECT rect{};
    GetWindowRect(found, &rect);
    std::printf("%llu %ld %ld %ld %ld\n",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(found)), rect.left,
                rect.top, rect.right - rect.left, rect.bottom - rect.top);
    return 0;
  }
  if (command == L"gone") {
    return WaitFor(static_cast<DWORD>(Number(argv[4])),
                   [&] { return Find(windowClass, title, true) == nullptr; })
               ? 0
               : 1;
  }
  if (command == L"post" && argc == 7) {
    HWND window = Find(windowClass, title, false);
    return window != nullptr && PostMessageW(window, static_cast<UINT>(Number(argv[4])),
                                             static_cast<WPARAM>(Number(argv[5])),
                                             static_cast<LPARAM>(Number(argv[6])))
               ? 0
               : 1;
  }
  if (command == L"settext" && argc == 6) {
    HWND window = Find(windowClass, title, false);
    HWND control =
        window != nullptr ? GetDlgItem(window, static_cast<int>(Number(argv[4]))) : nullptr;
    DWORD_PTR result = 0;
    // Sent, not posted: the text is copied across to the other process only for a sent message.
    return control != nullptr &&
                   SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[5]),
                                       SMTO_ABORTIFHUNG, 5000, &result) != 0 &&
                   result == TRUE
               ? 0
               : 1;
  }
  return Usage();
}
