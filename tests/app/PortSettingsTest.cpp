#include <gtest/gtest.h>

#include "app/PortSettings.h"
#include "fakes/FakeShellPlatform.h"

namespace {

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
