// The compiled resources of QuavixServer.exe (linked into this test executable too), read back
// through the loader the program itself uses.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/win32/ResourceIds.h"

namespace {

const WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

std::vector<uint8_t> ResourceBytes(LPCWSTR type, LPCWSTR name) {
  HRSRC found = FindResourceExW(nullptr, type, name, kEnglishUs);
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(nullptr, found);
  const auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
  return std::vector<uint8_t>(bytes, bytes + SizeofResource(nullptr, found));
}

// Reads a little-endian extended dialog template field by field.
class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  uint8_t Byte() { return bytes_.at(pos_++); }
  uint16_t Word() {
    uint16_t v = 0;
    std::memcpy(&v, &bytes_.at(pos_ + 1) - 1, 2);
    pos_ += 2;
    return v;
  }
  uint32_t Dword() { return Word() | (static_cast<uint32_t>(Word()) << 16); }
  std::wstring String() {
    std::wstring s;
    for (uint16_t c = Word(); c != 0; c = Word()) s.push_back(static_cast<wchar_t>(c));
    return s;
  }
  // A name or ordinal field: 0 (none), 0xFFFF followed by an ordinal, or a string.
  std::wstring NameOrOrdinal() {
    const uint16_t first = Word();
    if (first == 0) return L"";
    if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
    std::wstring s(1, static_cast<wchar_t>(first));
    return s + String();
  }
  void AlignDword() { pos_ = (pos_ + 3) & ~size_t{3}; }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t pos_ = 0;
};

std::wstring LoadText(UINT id) {
  wchar_t buffer[100] = {};
  LoadStringW(GetModuleHandleW(nullptr), id, buffer, 100);
  return buffer;
}

}  // namespace

TEST(Resources, StringTable) {
  EXPECT_EQ(LoadText(IDS_APP_TITLE), L"Quavix Server");
  EXPECT_EQ(LoadText(IDS_ERROR_TITLE), L"Quavix Server Error");
  EXPECT_EQ(LoadText(IDS_NO_DEVICE), L"Could not locate audio device.");
  EXPECT_EQ(LoadText(IDS_INIT_FAILED), L"Initializing the audio control failed.");
  EXPECT_EQ(LoadText(IDS_NO_INTERFACE), L"Could not find volume control interface.");
  EXPECT_EQ(LoadText(IDS_WINDOW_CLASS), L"QUAVIXSERVER");
  // Strings 103..109 share one block (ids 96..111), stored for English (US) only.
  EXPECT_FALSE(ResourceBytes(RT_STRING, MAKEINTRESOURCEW(IDS_APP_TITLE / 16 + 1)).empty());
}

TEST(Resources, IconGroupHasFiveSizesAt32Bits) {
  const std::vector<uint8_t> group = ResourceBytes(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_QUAVIX));
  ASSERT_GE(group.size(), 6u);
  const uint16_t count = group[4] | (group[5] << 8);
  ASSERT_EQ(count, 5);
  ASSERT_EQ(group.size(), 6u + 14u * count);
  std::vector<int> sizes;
  for (int i = 0; i < count; ++i) {
    const uint8_t* entry = &group[6 + 14 * i];
    sizes.push_back(entry[0] == 0 ? 256 : entry[0]);
    EXPECT_EQ(entry[0], entry[1]) << "square";
    EXPECT_EQ(entry[6] | (entry[7] << 8), 32) << "bits per pixel of image " << i;
  }
  EXPECT_EQ(sizes, (std::vector<int>{256, 64, 48, 32, 16}));
  HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_QUAVIX));
  EXPECT_NE(icon, nullptr);
}

TEST(Resources, MenuHasFileExit) {
  HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDM_MAIN));
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(GetMenuItemCount(menu), 1);
  wchar_t text[32] = {};
  GetMenuStringW(menu, 0, text, 32, MF_BYPOSITION);
  EXPECT_STREQ(text, L"&File");
  HMENU file = GetSubMenu(menu, 0);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(GetMenuItemCount(file), 1);
  GetMenuStringW(file, 0, text, 32, MF_BYPOSITION);
  EXPECT_STREQ(text, L"E&xit");
  EXPECT_EQ(GetMenuItemID(file, 0), static_cast<UINT>(IDM_EXIT));
  DestroyMenu(menu);
}

TEST(Resources, SettingsDialogTemplate) {
  const std::vector<uint8_t> bytes = ResourceBytes(RT_DIALOG, MAKEINTRESOURCEW(IDD_SETTINGS));
  ASSERT_FALSE(bytes.empty());
  TemplateReader r(bytes);
  EXPECT_EQ(r.Word(), 1) << "extended template version";
  EXPECT_EQ(r.Word(), 0xFFFF);
  EXPECT_EQ(r.Dword(), 0u) << "help id";
  EXPECT_EQ(r.Dword(), 0u) << "extended style";
  EXPECT_EQ(r.Dword(),
            static_cast<uint32_t>(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT | DS_CENTER));
  const uint16_t items = r.Word();
  ASSERT_EQ(items, 7);
  EXPECT_EQ(r.Word(), 0);  // x
  EXPECT_EQ(r.Word(), 0);  // y
  EXPECT_EQ(r.Word(), 150);
  EXPECT_EQ(r.Word(), 95);
  EXPECT_EQ(r.NameOrOrdinal(), L"") << "menu";
  EXPECT_EQ(r.NameOrOrdinal(), L"") << "class";
  EXPECT_EQ(r.String(), L"Quavix Server Settings");
  EXPECT_EQ(r.Word(), 8) << "point size";
  EXPECT_EQ(r.Word(), 0) << "weight";
  EXPECT_EQ(r.Byte(), 0) << "italic";
  EXPECT_EQ(r.Byte(), 1) << "character set";
  EXPECT_EQ(r.String(), L"MS Shell Dlg");

  struct Control {
    const wchar_t* cls;
    int id;
    const wchar_t* text;
    uint32_t style;
    int x, y, cx, cy;
  };
  const Control expected[] = {
      {L"#130", -1, L"#107", WS_CHILD | WS_VISIBLE | SS_ICON, 14, 14, 21, 20},
      {L"#130", -1, L"Server Port:", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 46, 19, 40, 8},
      {L"#129", 1001, L"", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_LEFT, 90, 18, 32,
       12},
      {L"#128", 1002, L"Allow clients from outside the local network",
       WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_AUTOCHECKBOX | BS_MULTILINE, 14, 36, 130,
       18},
      {L"#128", 1003, L"Start Quavix Server when I log in",
       WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_AUTOCHECKBOX, 14, 57, 130, 10},
      {L"#128", IDCANCEL, L"&Cancel",
       WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 77, 74, 50, 14},
      {L"#128", IDOK, L"&OK", WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 23,
       74, 50, 14},
  };
  for (const Control& c : expected) {
    SCOPED_TRACE(testing::Message() << "control " << c.id << " at " << c.x << "," << c.y);
    r.AlignDword();
    EXPECT_EQ(r.Dword(), 0u) << "help id";
    EXPECT_EQ(r.Dword(), 0u) << "extended style";
    EXPECT_EQ(r.Dword(), c.style);
    EXPECT_EQ(static_cast<int16_t>(r.Word()), c.x);
    EXPECT_EQ(static_cast<int16_t>(r.Word()), c.y);
    EXPECT_EQ(static_cast<int16_t>(r.Word()), c.cx);
    EXPECT_EQ(static_cast<int16_t>(r.Word()), c.cy);
    EXPECT_EQ(static_cast<int32_t>(r.Dword()), c.id);
    // Predefined classes are stored as ordinals: button 0x80, edit 0x81, static 0x82.
    EXPECT_EQ(r.NameOrOrdinal(), c.cls);
    EXPECT_EQ(r.NameOrOrdinal(), c.text);
    EXPECT_EQ(r.Word(), 0) << "creation data";
  }
}

TEST(Resources, ManifestAsksForInvokerAndCommonControlsSix) {
  const std::vector<uint8_t> bytes =
      ResourceBytes(RT_MANIFEST, MAKEINTRESOURCEW(1));
  const std::string manifest(bytes.begin(), bytes.end());
  EXPECT_NE(manifest.find(R"(level="asInvoker")"), std::string::npos);
  EXPECT_NE(manifest.find(R"(uiAccess="false")"), std::string::npos);
  EXPECT_NE(manifest.find(R"(name="Microsoft.Windows.Common-Controls")"), std::string::npos);
  EXPECT_NE(manifest.find(R"(version="6.0.0.0")"), std::string::npos);
}

TEST(Resources, NoVersionResourceAndNoAcceleratorTable) {
  EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_VERSION), nullptr);
  EXPECT_EQ(LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDA_MAIN)), nullptr);
}
