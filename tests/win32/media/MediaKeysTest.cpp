// The media keys against a recording double of the system's keyboard input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/CapturedLog.h"
#include "media/win32/MediaKeys.h"

namespace {
std::vector<std::vector<INPUT>> g_calls;
UINT g_taken = 2;  // how many inputs the double says the system took

UINT WINAPI RecordInput(UINT count, LPINPUT inputs, int size) {
  EXPECT_EQ(size, static_cast<int>(sizeof(INPUT)));
  g_calls.emplace_back(inputs, inputs + count);
  SetLastError(ERROR_ACCESS_DENIED);
  return g_taken;
}
}  // namespace

TEST(MediaKeys, EachCommandPressesAndReleasesItsKeyInOneCall) {
  const struct {
    MediaCommand command;
    WORD key;
  } kCases[] = {{MediaCommand::Previous, VK_MEDIA_PREV_TRACK},
                {MediaCommand::PlayPause, VK_MEDIA_PLAY_PAUSE},
                {MediaCommand::Next, VK_MEDIA_NEXT_TRACK}};
  MediaKeys keys(&RecordInput);
  ASSERT_TRUE(keys.Start());
  // Windows never says what plays, but a key always reaches some player.
  EXPECT_EQ(keys.Status(), (MediaStatus{true, "", "", false}));
  for (const auto& c : kCases) {
    g_calls.clear();
    g_taken = 2;
    EXPECT_TRUE(keys.Send(c.command));
    ASSERT_EQ(g_calls.size(), 1u);
    ASSERT_EQ(g_calls[0].size(), 2u);
    for (const INPUT& input : g_calls[0]) {
      EXPECT_EQ(input.type, static_cast<DWORD>(INPUT_KEYBOARD));
      EXPECT_EQ(input.ki.wVk, c.key);
      EXPECT_EQ(input.ki.wScan, 0);
    }
    EXPECT_EQ(g_calls[0][0].ki.dwFlags, 0u);
    EXPECT_EQ(g_calls[0][1].ki.dwFlags, static_cast<DWORD>(KEYEVENTF_KEYUP));
  }
}

TEST(MediaKeys, InputTheSystemDidNotTakeIsAFailureWithItsReason) {
  CapturedLog log;
  MediaKeys keys(&RecordInput);
  g_calls.clear();
  g_taken = 0;
  EXPECT_FALSE(keys.Send(MediaCommand::Next));
  const std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("SendInput took 0 of 2: error 5"), std::string::npos) << lines[0];
  g_taken = 2;
}
