// The --set-port sender against a window of the server's class in this process.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/win32/RunningServer.h"

TEST(PostRunningServer, PostsThePortChangeToTheServersWindowOrFindsNone) {
  PostRunningServer sender;
  std::string reason;
  ASSERT_EQ(sender.TellPortChanged(&reason), TellResult::NoneRunning);

  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = DefWindowProcW;
  // Another module's name for the class: the program's own window class may be registered in
  // this process already, by the hidden window's tests; FindWindowW matches the name only.
  windowClass.hInstance = GetModuleHandleW(L"kernel32.dll");
  windowClass.lpszClassName = L"QUAVIXSERVER";
  ASSERT_NE(RegisterClassW(&windowClass), 0);
  const HWND window = CreateWindowExW(0, L"QUAVIXSERVER", L"", WS_MINIMIZE, 0, 0, 0, 0, nullptr,
                                      nullptr, windowClass.hInstance, nullptr);
  ASSERT_NE(window, nullptr);

  EXPECT_EQ(sender.TellPortChanged(&reason), TellResult::Told) << reason;
  const UINT portChanged = RegisterWindowMessageW(L"QuavixServer_PortChanged");
  MSG message{};
  EXPECT_TRUE(PeekMessageW(&message, window, portChanged, portChanged, PM_REMOVE));
  EXPECT_EQ(message.wParam, 0u);
  EXPECT_EQ(message.lParam, 0);

  DestroyWindow(window);
  UnregisterClassW(L"QUAVIXSERVER", windowClass.hInstance);
  EXPECT_EQ(sender.TellPortChanged(&reason), TellResult::NoneRunning);
}
