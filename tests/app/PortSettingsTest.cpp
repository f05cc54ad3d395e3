#include <gtest/gtest.h>

#include "app/PortSettings.h"
#include "fakes/FakeShellPlatform.h"

namespace {

TEST(ReadServerPort, DefaultWhenNothingStoredAndReadingCreatesNothing) {
  FakeSettingStore store;
  EXPECT_EQ(ReadServerPort(store), 17495u);
  EXPECT_EQ(ReadServerPort(store), 17495u);
  EXPECT_TRUE(store.values.empty());
}

TEST(ReadServerPort, StoredBytesOverlayTheDefault) {
  FakeSettingStore store;
  store.SetPort(8080);
  EXPECT_EQ(ReadServerPort(store), 8080u);
  // No range test: the low 16 bits of 0 and of 65536 are both 0.
  store.SetPort(0);
  EXPECT_EQ(ReadServerPort(store), 0u);
  store.SetPort(65536);
  EXPECT_EQ(ReadServerPort(store), 0u);
  store.SetPort(0x12345678);
  EXPECT_EQ(ReadServerPort(store), 0x5678u);
  // A one-byte value replaces only the low byte of 17495 (0x4457).
  store.SetPortBytes({0x01});
  EXPECT_EQ(ReadServerPort(store), 0x4401u);
  // The wide string "8" with its terminator: '8' = 0x38, 0x00 -> 56.
  store.SetPortBytes({0x38, 0x00, 0x00, 0x00});
  EXPECT_EQ(ReadServerPort(store), 56u);
}

TEST(ReadServerPort, LongerOrUnreadableValuesGiveTheDefault) {
  FakeSettingStore store;
  store.SetPortBytes({0x38, 0x00, 0x30, 0x00, 0x00, 0x00});
  EXPECT_EQ(ReadServerPort(store), 17495u);
  store.SetPort(80);
  store.readable = false;
  EXPECT_EQ(ReadServerPort(store), 17495u);
}

TEST(WriteServerPort, StoresFourLittleEndianBytesWithZeroHighHalf) {
  FakeSettingStore store;
  EXPECT_TRUE(WriteServerPort(store, 0xABCD));
  const std::vector<uint8_t> expected = {0xCD, 0xAB, 0x00, 0x00};
  EXPECT_EQ(store.values.at("Software\\Marrowick\\Quavix|ServerPort"), expected);
  EXPECT_EQ(ReadServerPort(store), 0xABCDu);
}

TEST(ParsePortText, AcceptsWhatWcstolReadsToTheEndWithinRange) {
  EXPECT_EQ(ParsePortText("8080"), 8080);
  EXPECT_EQ(ParsePortText("1"), 1);
  EXPECT_EQ(ParsePortText("65535"), 65535);
  EXPECT_EQ(ParsePortText("  80"), 80);
  EXPECT_EQ(ParsePortText("\t80"), 80);
  EXPECT_EQ(ParsePortText("+80"), 80);
  EXPECT_EQ(ParsePortText("00080"), 80);
  EXPECT_EQ(ParsePortText("-0"), std::nullopt);
}

TEST(ParsePortText, RefusesEverythingElse) {
  for (const char* text : {"", "0", "65536", "-1", "abc", "80a", "80 ", " ", "+", "-", "+-80",
                           "8 0", "0x50", "99999999"}) {
    EXPECT_EQ(ParsePortText(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(ParsePortText, ReadsOnlyTheFirstNineCharacters) {
  // The box may hold more than the dialog reads; what lies beyond is never looked at.
  EXPECT_EQ(ParsePortText("000008080"), 8080);
  EXPECT_EQ(ParsePortText("000008080x"), 8080);
  EXPECT_EQ(ParsePortText("0000080800"), 8080);
  EXPECT_EQ(ParsePortText("        80"), 8);
  // Characters, not bytes: a two-byte letter counts once and is never split.
  EXPECT_EQ(ParsePortText("\xC3\xA9"), std::nullopt);
}

TEST(SettingsDialogLogic, ShowsThePortAndRefusesWithBadPort) {
  SettingsDialogLogic logic(80);
  EXPECT_EQ(logic.InitialText(), "80");

  RecordingErrorReporter boxes;
  EXPECT_EQ(logic.OnOk("abc", boxes), 0);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].first, "Port must be an integer within the range 1 to 65535.");
  EXPECT_EQ(boxes.shown[0].second, "Bad Port");
  EXPECT_EQ(logic.OnOk("8080", boxes), 8080);
  EXPECT_EQ(boxes.shown.size(), 1u);
}

}  // namespace
