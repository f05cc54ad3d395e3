// The tray icon and popup menu records (through scripted SHELL32/USER32 calls), and the guard and
// the registry store against Wine's real kernel and registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/IMainLoop.h"
#include "app/ServerSettings.h"
#include "app/SettingsFlow.h"
#include "app/win32/RegistrySettingStore.h"
#include "app/win32/Win32ShellServices.h"
#include "fakes/FakeShellPlatform.h"

namespace {

HWND FakeWindow() {
  return reinterpret_cast<HWND>(0x1234);
}

std::vector<std::pair<DWORD, NOTIFYICONDATAW>> gNotifyCalls;
BOOL WINAPI RecordNotify(DWORD message, PNOTIFYICONDATAW data) {
  gNotifyCalls.emplace_back(message, *data);
  return TRUE;
}

}  // namespace

struct NoEvents final : IShellEvents {
  void OnTrayIconPressed() override {}
  void OnSettingsRequested() override {}
  void OnQuitRequested() override {}
  void OnPortChangeAnnounced() override {}
  void OnNotificationAreaAppeared() override {}
};

TEST(TrayIcon, AddSetsTheIconAndTipModifyChangesTheTipRemoveDeletes) {
  gNotifyCalls.clear();
  NoEvents events;
  Win32TrayIcon tray(GetModuleHandleW(nullptr), &FakeWindow, &RecordNotify);
  tray.SetToolTip("Quavix Server - 192.168.1.20:17495");  // kept for the Add
  EXPECT_TRUE(tray.Add(events));
  tray.SetToolTip("Quavix Server - 192.168.1.20:8080");
  tray.Remove();
  tray.SetToolTip("Quavix Server - 192.168.1.20:8081");  // not shown: no call
  ASSERT_EQ(gNotifyCalls.size(), 3u);

  const auto& [addMessage, add] = gNotifyCalls[0];
  EXPECT_EQ(addMessage, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(add.cbSize, sizeof(NOTIFYICONDATAW));
  EXPECT_EQ(add.cbSize, sizeof(void*) == 8 ? 976u : 956u) << "the whole structure of the build";
  EXPECT_EQ(add.hWnd, FakeWindow());
  EXPECT_EQ(add.uID, 1000u);
  EXPECT_EQ(add.uFlags, 7u) << "NIF_MESSAGE | NIF_ICON | NIF_TIP";
  EXPECT_EQ(add.uCallbackMessage, 1025u);
  EXPECT_NE(add.hIcon, nullptr) << "icon group 107";
  EXPECT_STREQ(add.szTip, L"Quavix Server - 192.168.1.20:17495");
  EXPECT_EQ(add.dwInfoFlags, 0u);

  const auto& [modifyMessage, modify] = gNotifyCalls[1];
  EXPECT_EQ(modifyMessage, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(modify.uID, 1000u);
  EXPECT_EQ(modify.uFlags, static_cast<UINT>(NIF_TIP));
  EXPECT_STREQ(modify.szTip, L"Quavix Server - 192.168.1.20:8080");

  const auto& [deleteMessage, del] = gNotifyCalls[2];
  EXPECT_EQ(deleteMessage, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(del.cbSize, sizeof(NOTIFYICONDATAW));
  EXPECT_EQ(del.hWnd, FakeWindow());
  EXPECT_EQ(del.uID, 1000u);
  EXPECT_EQ(del.uFlags, 0u);
  EXPECT_EQ(del.hIcon, nullptr);
}

namespace {

// A scripted menu: records every call in order, returns `choice` from the tracking.
struct ScriptedMenu {
  static inline std::vector<std::string> calls;
  static inline std::vector<MENUITEMINFOW> items;
  static inline std::vector<std::wstring> texts;
  static inline UINT trackFlags = 0;
  static inline POINT trackedAt{};
  static inline BOOL choice = 0;
  static HMENU Menu() { return reinterpret_cast<HMENU>(0x77); }

  static HMENU WINAPI Create() {
    calls.push_back("create");
    return Menu();
  }
  static BOOL WINAPI Insert(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFOW info) {
    calls.push_back("insert " + std::to_string(item) + (byPosition ? " by position" : "") +
                    (menu == Menu() ? "" : " elsewhere"));
    items.push_back(*info);
    texts.push_back(info->dwTypeData != nullptr ? info->dwTypeData : L"<null>");
    return TRUE;
  }
  static BOOL WINAPI Cursor(LPPOINT point) {
    calls.push_back("cursor");
    *point = POINT{300, 200};
    return TRUE;
  }
  static BOOL WINAPI Foreground(HWND window) {
    calls.push_back(window == FakeWindow() ? "foreground" : "foreground elsewhere");
    return TRUE;
  }
  static BOOL WINAPI Track(HMENU, UINT flags, int x, int y, int reserved, HWND window,
                           const RECT* rect) {
    calls.push_back("track");
    trackFlags = flags;
    trackedAt = POINT{x, y};
    EXPECT_EQ(reserved, 0);
    EXPECT_EQ(window, FakeWindow());
    EXPECT_EQ(rect, nullptr);
    return choice;
  }
  static BOOL WINAPI Destroy(HMENU menu) {
    calls.push_back(menu == Menu() ? "destroy" : "destroy elsewhere");
    return TRUE;
  }
};

const MenuApi kScriptedMenuApi{&ScriptedMenu::Create, &ScriptedMenu::Insert,
                               &ScriptedMenu::Cursor, &ScriptedMenu::Foreground,
                               &ScriptedMenu::Track,  &ScriptedMenu::Destroy};

}  // namespace

TEST(PopupMenu, BuildsThreeItemsWithAColumnBreakAndTracksAtTheCursor) {
  ScriptedMenu::calls.clear();
  ScriptedMenu::items.clear();
  ScriptedMenu::texts.clear();
  ScriptedMenu::choice = 1026;
  Win32PopupMenu menu(&FakeWindow, kScriptedMenuApi);
  const MenuCommand chosen = menu.Track({{false, MenuCommand::Settings, "&Settings"},
                                         {true, MenuCommand::None, ""},
                                         {false, MenuCommand::Quit, "&Quit Quavix"}});
  EXPECT_EQ(chosen, MenuCommand::Settings);
  EXPECT_EQ(ScriptedMenu::calls,
            (std::vector<std::string>{"create", "insert 0 by position", "insert 1 by position",
                                      "insert 2 by position", "cursor", "foreground", "track",
                                      "destroy"}));
  ASSERT_EQ(ScriptedMenu::items.size(), 3u);
  const MENUITEMINFOW& settings = ScriptedMenu::items[0];
  EXPECT_EQ(settings.cbSize, sizeof(MENUITEMINFOW));
  EXPECT_EQ(settings.fMask, 0x12u);
  EXPECT_EQ(settings.fType, 0u);
  EXPECT_EQ(settings.wID, 1026u);
  EXPECT_EQ(ScriptedMenu::texts[0], L"&Settings");
  const MENUITEMINFOW& columnBreak = ScriptedMenu::items[1];
  EXPECT_EQ(columnBreak.fMask, 0x10u);
  EXPECT_EQ(columnBreak.fType, 0x40u) << "MFT_MENUBREAK, not a separator";
  EXPECT_EQ(columnBreak.wID, 0u);
  EXPECT_EQ(ScriptedMenu::texts[1], L"<null>");
  const MENUITEMINFOW& quit = ScriptedMenu::items[2];
  EXPECT_EQ(quit.fMask, 0x12u);
  EXPECT_EQ(quit.wID, 16u);
  EXPECT_EQ(ScriptedMenu::texts[2], L"&Quit Quavix");
  for (const MENUITEMINFOW& item : ScriptedMenu::items) {
    EXPECT_EQ(item.fState, 0u);
    EXPECT_EQ(item.hSubMenu, nullptr);
  }
  EXPECT_EQ(ScriptedMenu::trackFlags, static_cast<UINT>(TPM_RETURNCMD | TPM_NONOTIFY));
  EXPECT_EQ(ScriptedMenu::trackedAt.x, 300);
  EXPECT_EQ(ScriptedMenu::trackedAt.y, 200);

  ScriptedMenu::choice = 16;
  EXPECT_EQ(menu.Track({{false, MenuCommand::Quit, "&Quit Quavix"}}), MenuCommand::Quit);
  ScriptedMenu::choice = 0;
  EXPECT_EQ(menu.Track({{false, MenuCommand::Quit, "&Quit Quavix"}}), MenuCommand::None)
      << "dismissed";
}

TEST(InstanceGuard, SecondGuardOfTheSameNameIsRefusedUntilBothAreReleased) {
  const std::string name = "QuavixServer_TEST_GUARD_" + std::to_string(GetCurrentProcessId());
  Win32InstanceGuard first, second, third;
  EXPECT_EQ(first.Acquire(name), GuardResult::Acquired);
  EXPECT_EQ(second.Acquire(name), GuardResult::AlreadyRunning);
  second.Release();
  first.Release();
  EXPECT_EQ(third.Acquire(name), GuardResult::Acquired) << "no handle was left open";
  third.Release();
  third.Release();  // a second release does nothing
  Win32InstanceGuard invalid;
  EXPECT_EQ(invalid.Acquire(std::string(300, 'x') + "\\bad\\name"), GuardResult::Failed);
}

namespace {

class RegistryStore : public testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kKeyWide.c_str()); }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kKeyWide.c_str()); }
  bool KeyExists() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKeyWide.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(key);
    return true;
  }
  void WriteRaw(DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, kKeyWide.c_str(), &key), ERROR_SUCCESS);
    RegSetValueExW(key, L"ServerPort", 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
  }

  const std::string kKey =
      "Software\\Marrowick\\QuavixTest" + std::to_string(GetCurrentProcessId());
  const std::wstring kKeyWide =
      L"Software\\Marrowick\\QuavixTest" + std::to_wstring(GetCurrentProcessId());
  RegistrySettingStore store{kKey};
};

}  // namespace

TEST_F(RegistryStore, MissingKeyReadsNothingAndCreatesNothing) {
  EXPECT_FALSE(store.Read(kPortSetting));
  EXPECT_FALSE(store.Read(kAllowSetting));
  EXPECT_TRUE(store.Remove(kAllowSetting));
  EXPECT_FALSE(KeyExists());
}

TEST_F(RegistryStore, ThePortIsTheDwordServerPortAndTheRestAreStringsBesideIt) {
  ASSERT_TRUE(store.Write(kPortSetting, "8080"));
  ASSERT_TRUE(store.Write(kAllowSetting, "any"));
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyW(HKEY_CURRENT_USER, kKeyWide.c_str(), &key), ERROR_SUCCESS);
  DWORD type = 0, value = 0, size = sizeof value;
  EXPECT_EQ(
      RegQueryValueExW(key, L"ServerPort", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
      ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 8080u);
  wchar_t text[16] = {};
  size = sizeof text;
  EXPECT_EQ(RegQueryValueExW(key, L"Allow", nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::wstring(text), L"any");
  EXPECT_EQ(store.Read(kPortSetting), "8080");
  EXPECT_EQ(store.Read(kAllowSetting), "any");
  EXPECT_EQ(store.StoredName(kMaxClientsSetting), "MaxClients");
  ASSERT_TRUE(store.Remove(kAllowSetting));
  EXPECT_FALSE(store.Read(kAllowSetting));
}

TEST_F(RegistryStore, ServerPortOfOtherTypesReadsAsItLies) {
  WriteRaw(REG_SZ, L"8080", 10);
  EXPECT_EQ(store.Read(kPortSetting), "8080");
  // A short binary value lies over 17495's bytes (0x57 0x44), as a query into a prepared
  // buffer does.
  const uint8_t one[1] = {0x50};
  WriteRaw(REG_BINARY, one, 1);
  EXPECT_EQ(store.Read(kPortSetting), std::to_string(0x4450));
  const uint8_t eight[8] = {};
  WriteRaw(REG_BINARY, eight, 8);
  EXPECT_EQ(store.Read(kPortSetting), "(a value of 8 bytes)");
  EXPECT_EQ(LoadedSettings(store, true).port, 17495) << "not a port: the default";
}

TEST_F(RegistryStore, AWriteTouchesNoOtherValueAndALongValueIsShownCut) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, kKeyWide.c_str(), &key), ERROR_SUCCESS);
  const std::wstring mine = L"kept";
  RegSetValueExW(key, L"SomethingElse", 0, REG_SZ, reinterpret_cast<const BYTE*>(mine.c_str()),
                 static_cast<DWORD>((mine.size() + 1) * sizeof(wchar_t)));
  const std::wstring flood = L"\x1b[31m" + std::wstring(30000, L'x');
  RegSetValueExW(key, L"Allow", 0, REG_SZ, reinterpret_cast<const BYTE*>(flood.c_str()),
                 static_cast<DWORD>((flood.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);

  ASSERT_TRUE(store.Write(kPortSetting, "8080"));
  wchar_t text[16] = {};
  DWORD type = 0, size = sizeof text;
  ASSERT_EQ(RegOpenKeyW(HKEY_CURRENT_USER, kKeyWide.c_str(), &key), ERROR_SUCCESS);
  EXPECT_EQ(
      RegQueryValueExW(key, L"SomethingElse", nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
      ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(std::wstring(text), mine);

  std::ostringstream log;
  {
    const ScopedLogStream capture(log);
    EXPECT_EQ(LoadedSettings(store).port, 8080);
  }
  EXPECT_LT(log.str().size(), 300u) << log.str();
  EXPECT_NE(log.str().find("Allow: bad entry '\\x1B[31mxxx"), std::string::npos) << log.str();
}
