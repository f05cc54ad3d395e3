// The real modal settings dialog under Wine, driven from a second thread the way a user would:
// reading and typing into the port box, pressing OK and Cancel, answering "Bad Port".
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "app/SettingsFlow.h"
#include "app/win32/Win32SettingsDialog.h"
#include "fakes/Eventually.h"

namespace {

using namespace std::chrono_literals;

HWND NoOwner() {
  return nullptr;
}

// Polls for a top-level dialog-class window with the given title (bounded).
HWND WaitForDialog(const wchar_t* title, HWND other = nullptr) {
  HWND found = nullptr;
  Eventually([&] {
    found = FindWindowW(L"#32770", title);
    return found != nullptr && found != other && IsWindowVisible(found);
  });
  return found != other && IsWindowVisible(found) ? found : nullptr;
}

bool WaitGone(HWND window) {
  return Eventually([&] { return !IsWindow(window); });
}

std::wstring ItemText(HWND dialog, int id) {
  wchar_t text[128] = {};
  GetDlgItemTextW(dialog, id, text, 128);
  return text;
}

// Runs the dialog on this thread while `drive` acts on it from another one.
int RunDriven(uint32_t shownPort, const std::function<void(HWND)>& drive,
              bool* allowOutside = nullptr) {
  Win32SettingsDialog dialog(GetModuleHandleW(nullptr), &NoOwner);
  SettingsDialogLogic logic(shownPort);
  if (allowOutside != nullptr) logic.allowOutside = *allowOutside;
  std::thread driver([&] {
    HWND found = WaitForDialog(L"Quavix Server Settings");
    if (found != nullptr) drive(found);
  });
  const int result = dialog.Run(logic);
  driver.join();
  if (allowOutside != nullptr) *allowOutside = logic.allowOutside;
  return result;
}

}  // namespace

TEST(SettingsDialog, ShowsThePortAndRefusesBadTextUntilAGoodOne) {
  std::wstring initial, afterRefusal, boxText;
  LONG style = 0;
  bool boxOwnedByDialog = false, boxClosed = false;
  const int result = RunDriven(8081, [&](HWND dialog) {
    initial = ItemText(dialog, 1001);
    style = GetWindowLongW(dialog, GWL_STYLE);
    SetDlgItemTextW(dialog, 1001, L"80 ");
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    HWND box = WaitForDialog(L"Bad Port", dialog);
    if (box != nullptr) {
      boxOwnedByDialog = GetWindow(box, GW_OWNER) == dialog;
      boxText = ItemText(box, 0xFFFF);  // a message box's text control
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      boxClosed = WaitGone(box);
    }
    afterRefusal = ItemText(dialog, 1001);
    SetDlgItemTextW(dialog, 1001, L"  +8080");
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  });
  EXPECT_EQ(result, 8080);
  EXPECT_EQ(initial, L"8081");
  EXPECT_FALSE(style & WS_SYSMENU) << "no close button";
  EXPECT_TRUE(boxOwnedByDialog);
  EXPECT_EQ(boxText, L"Port must be an integer within the range 1 to 65535.");
  EXPECT_TRUE(boxClosed);
  EXPECT_EQ(afterRefusal, L"80 ") << "left as the user typed it";
}

TEST(SettingsDialog, TheOutsideBoxShowsTheSettingAndItsStateComesBackAtOk) {
  for (bool shown : {false, true}) {
    bool allow = shown;
    UINT initial = 99;
    const int result = RunDriven(
        17495,
        [&](HWND dialog) {
          initial = IsDlgButtonChecked(dialog, 1002);
          CheckDlgButton(dialog, 1002, shown ? BST_UNCHECKED : BST_CHECKED);
          PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        },
        &allow);
    EXPECT_EQ(result, 17495);
    EXPECT_EQ(initial, shown ? BST_CHECKED : BST_UNCHECKED);
    EXPECT_EQ(allow, !shown);
  }
  // Cancel leaves the setting as it was.
  bool allow = false;
  RunDriven(
      17495,
      [&](HWND dialog) {
        CheckDlgButton(dialog, 1002, BST_CHECKED);
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      },
      &allow);
  EXPECT_FALSE(allow);
}

TEST(SettingsDialog, ReadsNineCharactersAtMost) {
  const int result = RunDriven(17495, [&](HWND dialog) {
    SetDlgItemTextW(dialog, 1001, L"0000008080");  // ten characters: the last is not read
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  });
  EXPECT_EQ(result, 808);
}

TEST(SettingsDialog, CancelReturnsZeroEvenWithAValidPort) {
  std::wstring initial;
  const int result = RunDriven(17495, [&](HWND dialog) {
    initial = ItemText(dialog, 1001);
    SetDlgItemTextW(dialog, 1001, L"8080");
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(initial, L"17495");
}

TEST(SettingsDialog, OtherCommandsAreAnsweredButDoNothing) {
  // Called directly: WM_COMMAND of any kind returns TRUE, anything else FALSE.
  EXPECT_EQ(SettingsDialogProc(nullptr, WM_COMMAND, MAKEWPARAM(1001, EN_CHANGE), 0), TRUE);
  EXPECT_EQ(SettingsDialogProc(nullptr, WM_COMMAND, 3, 0), TRUE);
  EXPECT_EQ(SettingsDialogProc(nullptr, WM_MOUSEMOVE, 0, 0), FALSE);
}

TEST(SettingsDialog, TheLoginBoxShowsTheStateAndOkHandsItOver) {
  for (bool before : {false, true}) {
    Win32SettingsDialog dialog(GetModuleHandleW(nullptr), &NoOwner);
    SettingsDialogLogic logic(17495, before);
    UINT initial = 99;
    std::thread driver([&] {
      HWND found = WaitForDialog(L"Quavix Server Settings");
      if (found == nullptr) return;
      initial = IsDlgButtonChecked(found, 1003);
      SendMessageW(GetDlgItem(found, 1003), BM_CLICK, 0, 0);
      PostMessageW(found, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(dialog.Run(logic), 17495);
    driver.join();
    EXPECT_EQ(initial, before ? BST_CHECKED : BST_UNCHECKED);
    EXPECT_EQ(logic.StartAtLogin(), !before);
  }
}
