// The paired phones under the program's key: kept across restarts, one value a phone, and a
// damaged value costs only itself.
#include <gtest/gtest.h>
#include <windows.h>

#include "fakes/CapturedLog.h"
#include "net/page/pairing/win32/RegistryPairedDeviceStore.h"

namespace {

class RegistryPairedDeviceStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kKeyWide.c_str()); }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kKeyWide.c_str()); }

  static PairedDevice Phone(char digit, std::string name) {
    return {std::string(16, digit), Bytes(32, static_cast<uint8_t>(digit)), std::move(name),
            1718000000 + digit};
  }
  void SetValue(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (kKeyWide + L"\\PairedPhones").c_str(), 0,
                              nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }

  const std::string kKey = "Software\\Marrowick\\QuavixPairingTest" +
                           std::to_string(GetCurrentProcessId());
  const std::wstring kKeyWide =
      L"Software\\Marrowick\\QuavixPairingTest" + std::to_wstring(GetCurrentProcessId());
};

TEST_F(RegistryPairedDeviceStoreTest, KeepsPhonesAcrossRestartsAndForgetsThem) {
  RegistryPairedDeviceStore store(kKey);
  EXPECT_EQ(store.Load(), std::vector<PairedDevice>{}) << "nothing kept yet";
  const std::vector<PairedDevice> phones{Phone('1', "Chrome on Android"),
                                         Phone('2', "Safari on iPhone with spaces")};
  ASSERT_TRUE(store.Save(phones));
  EXPECT_EQ(RegistryPairedDeviceStore(kKey).Load(), phones);
  ASSERT_TRUE(store.Save({phones[1]}));
  EXPECT_EQ(store.Load(), std::vector<PairedDevice>{phones[1]});
  ASSERT_TRUE(store.Save({}));
  EXPECT_EQ(store.Load(), std::vector<PairedDevice>{});
}

TEST_F(RegistryPairedDeviceStoreTest, ADamagedValueIsLeftOut) {
  RegistryPairedDeviceStore store(kKey);
  const PairedDevice good = Phone('3', "Edge on Windows");
  ASSERT_TRUE(store.Save({good}));
  const std::wstring key(64, L'a');
  SetValue(L"4444444444444444", L"1 abcd short key");
  SetValue(L"5555555555555555", L"notanumber " + key + L" name");
  SetValue(L"6666666666666666", L"1 " + key);
  SetValue(L"0123", L"1 " + key + L" short id");
  SetValue(L"7777777777777777", L"1 " + key + L" a number", REG_DWORD);
  CapturedLog log;
  EXPECT_EQ(store.Load(), std::vector<PairedDevice>{good});
  EXPECT_EQ(log.Lines().size(), 5u);
  // Saving tidies them away.
  ASSERT_TRUE(store.Save({good}));
  EXPECT_EQ(store.Load(), std::vector<PairedDevice>{good});
}

}  // namespace
