// The page's buttons on Windows: through the page's WebSocket on Winsock to the media keys,
// against a recording double of the system's keyboard input.
#include <gtest/gtest.h>

#include <vector>

#include "media/win32/MediaKeys.h"
#include "net/Networking.h"
#include "net/ServerFixture.h"
#include "support/PageClient.h"

namespace {

std::vector<WORD> g_keysDown;

UINT WINAPI RecordKeys(UINT count, LPINPUT inputs, int) {
  for (UINT i = 0; i < count; ++i) {
    if ((inputs[i].ki.dwFlags & KEYEVENTF_KEYUP) == 0) g_keysDown.push_back(inputs[i].ki.wVk);
  }
  return count;
}

class PageMediaKeys : public ServerFixture {
 protected:
  void SetUp() override {
    ASSERT_EQ(StartNetworking(), NetStartResult::Ok);
    servePage = true;
    wired.ConnectMedia(&keys);
    ServerFixture::SetUp();
  }
  void TearDown() override {
    ServerFixture::TearDown();
    wired.DisconnectMedia();  // the keys go before the composition that calls them
    StopNetworking();
  }
  MediaKeys keys{&RecordKeys};
};

TEST_F(PageMediaKeys, TheButtonsPressTheKeysAndThePageIsToldNoTitle) {
  PageClient page(pagePort);
  ASSERT_TRUE(page.Open());
  EXPECT_EQ(page.Read(4), std::vector<uint8_t>(kGreeting.begin(), kGreeting.end()));
  EXPECT_EQ(page.ReadText(),
            R"({"type":"media","controllable":true,"playing":false,"title":"","artist":""})");
  g_keysDown.clear();
  for (const char* command : {"media previous", "media playpause", "media next"}) {
    ASSERT_TRUE(page.SendText(command));
  }
  ASSERT_TRUE(Eventually([] { return g_keysDown.size() == 3; }));
  EXPECT_EQ(g_keysDown,
            (std::vector<WORD>{VK_MEDIA_PREV_TRACK, VK_MEDIA_PLAY_PAUSE, VK_MEDIA_NEXT_TRACK}));
  // A command no button sends closes the page.
  ASSERT_TRUE(page.SendText("media stop"));
  EXPECT_TRUE(page.WaitForEnd());
  EXPECT_EQ(page.closeCode, 1008);
}

}  // namespace
