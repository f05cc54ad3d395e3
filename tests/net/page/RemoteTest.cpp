// The page's remote control: the player's buttons and the choice of output over the page's
// WebSocket, against a scriptable player and device list; and its messages on their own.

#include <chrono>
#include <string>

#include "fakes/FakeMediaControl.h"
#include "fakes/FakeOutputDevices.h"
#include "net/ServerFixture.h"
#include "net/page/PageRemote.h"
#include "net/page/RemoteMessages.h"
#include "support/PageClient.h"

namespace {

using Bytes = std::vector<uint8_t>;

const OutputList kTwoSinks{
    {{"speakers", "Speakers"}, {"usb-headphones", "USB \"Studio\" headphones"}}, "speakers", true};
const std::string kTwoSinksJson =
    R"({"type":"outputs","canChoose":true,"default":"speakers","devices":[)"
    R"({"id":"speakers","name":"Speakers"},)"
    R"({"id":"usb-headphones","name":"USB \"Studio\" headphones"}]})";

class RemoteTest : public ServerFixture {
 protected:
  RemoteTest() {
    servePage = true;
    outputs.Report(kTwoSinks);
    volume.outputs = &outputs;
    media.Report({true, "Song", "Band", true});
  }
  void SetUp() override {
    wired.ConnectMedia(&media);
    ServerFixture::SetUp();
  }
  // The player goes before the composition that calls it.
  void TearDown() override {
    ServerFixture::TearDown();
    wired.DisconnectMedia();
  }

  // An open page that has heard the greeting and both of the remote's messages.
  std::unique_ptr<PageClient> OpenPage() {
    auto page = std::make_unique<PageClient>(pagePort);
    EXPECT_TRUE(page->Open());
    EXPECT_EQ(page->Read(4), Bytes(kGreeting.begin(), kGreeting.end()));
    EXPECT_EQ(page->ReadText(), MediaMessage(media.Status()));
    EXPECT_EQ(page->ReadText(), kTwoSinksJson);
    return page;
  }

  FakeMediaControl media;
  FakeOutputDevices outputs;
};

TEST_F(RemoteTest, APageHearsThePlayerAndTheOutputsAndItsButtonsReachThem) {
  auto page = OpenPage();
  EXPECT_EQ(
      MediaMessage(media.Status()),
      R"({"type":"media","controllable":true,"playing":true,"title":"Song","artist":"Band"})");

  // The news is pushed: a track change, and a device that went away.
  media.Report({true, "Next <song>", "", false});
  EXPECT_EQ(page->ReadText(), R"({"type":"media","controllable":true,"playing":false,)"
                              R"("title":"Next \u003csong\u003e","artist":""})");
  outputs.Report({{{"speakers", "Speakers"}}, "speakers", true});
  EXPECT_EQ(page->ReadText(), R"({"type":"outputs","canChoose":true,"default":"speakers",)"
                              R"("devices":[{"id":"speakers","name":"Speakers"}]})");

  // The buttons and the choice reach the player and the devices, in order.
  for (const char* command : {"media previous", "media playpause", "media next"}) {
    ASSERT_TRUE(page->SendText(command));
  }
  ASSERT_TRUE(page->SendText("output usb-headphones"));
  ASSERT_TRUE(Eventually([&] { return outputs.Chosen().size() == 1; }));
  EXPECT_EQ(media.Sent(),
            (std::vector{MediaCommand::Previous, MediaCommand::PlayPause, MediaCommand::Next}));
  EXPECT_EQ(outputs.Chosen(), std::vector<std::string>{"usb-headphones"});

  // The page is still a client like any other.
  relay.SendKeepAlive();
  EXPECT_EQ(page->ReadByte(), std::optional<uint8_t>(kKeepAliveByte));
}

TEST_F(RemoteTest, AMalformedRequestClosesThatPageAlone) {
  auto good = OpenPage();
  const char* bad[] = {
      "media",                // no argument
      "media next next",      // one too many
      "media stop",           // not a button's
      "media Next",           // words are exact
      "output",               // no device
      "output a b",           // one too many
      "output sink/../../x",  // not an id
      "volume 50",            // not a command of the page's
      "media  next",          // not a command at all
      "answer 00 00",         // pairing's, after the page is in
  };
  for (const char* text : bad) {
    auto page = OpenPage();
    ASSERT_TRUE(page->SendText(text));
    EXPECT_TRUE(page->WaitForEnd()) << text;
    EXPECT_EQ(page->closeCode, 1008) << text;
  }
  // The other page was left alone, and nothing bad reached the player or the devices.
  ASSERT_TRUE(good->SendText("media next"));
  ASSERT_TRUE(Eventually([&] { return media.Sent().size() == 1; }));
  EXPECT_TRUE(outputs.Chosen().empty());
}

TEST_F(RemoteTest, AFloodOfRequestsIsCutToTheRateAndTheSlowReaderGetsOnlyTheNewest) {
  auto page = OpenPage();
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(page->SendText("media next"));
  ASSERT_TRUE(page->SendText("output speakers"));  // past the rate too
  // A state byte behind them: once it arrives, the reader has taken every request before it.
  ASSERT_TRUE(page->Send({0x20}));
  ASSERT_TRUE(volume.WaitForRequests(1));
  clock.Advance(RequestRate::kWindowMs);
  ASSERT_TRUE(page->SendText("output speakers"));
  ASSERT_TRUE(Eventually([&] { return outputs.Chosen().size() == 1; }));
  EXPECT_EQ(media.Sent().size(), static_cast<size_t>(RequestRate::kPerWindow));

  // Many changes while the page reads nothing: it stays, and ends up with the newest.
  for (int i = 0; i < 5000; ++i) {
    std::string title = "Track ";
    media.Report({true, title.append(std::to_string(i)), "", true});
  }
  std::optional<std::string> text;
  while ((text = page->ReadText()) && text->find("Track 4999") == std::string::npos) {
  }
  EXPECT_TRUE(text);
  EXPECT_EQ(server.ClientCount(), 1u);
}

TEST(RemoteMessages, RequestsAreExactlyTheButtonsAndTheDevices) {
  struct Case {
    std::string text;
    std::optional<RemoteRequest> request;
  };
  const std::string longestId(kMaxOutputDeviceId, 'a');
  const Case cases[] = {
      {"media previous", MediaCommand::Previous},
      {"media playpause", MediaCommand::PlayPause},
      {"media next", MediaCommand::Next},
      {"output alsa_output.pci-0000_00_1f.3.analog-stereo",
       OutputChoice{"alsa_output.pci-0000_00_1f.3.analog-stereo"}},
      {"output {0.0.0.00000000}.{5e1c6a3f-8c2d-4d7e-9b1a-2f3c4d5e6f70}",
       OutputChoice{"{0.0.0.00000000}.{5e1c6a3f-8c2d-4d7e-9b1a-2f3c4d5e6f70}"}},
      {"output " + longestId, OutputChoice{longestId}},
      {"output " + longestId + "a", std::nullopt},
      {"output a\"b", std::nullopt},
      {"output a/b", std::nullopt},
      {"media", std::nullopt},
      {"media play", std::nullopt},
      {"media next now", std::nullopt},
      {"Media next", std::nullopt},
      {"pair 0123", std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<PageCommand> command = ParsePageCommand(c.text);
    ASSERT_TRUE(command) << c.text;
    const std::optional<RemoteRequest> request = ParseRemoteRequest(*command);
    ASSERT_EQ(request.has_value(), c.request.has_value()) << c.text;
    if (!request) continue;
    if (const auto* media = std::get_if<MediaCommand>(&*c.request)) {
      EXPECT_EQ(std::get<MediaCommand>(*request), *media) << c.text;
    } else {
      EXPECT_EQ(std::get<OutputChoice>(*request).id, std::get<OutputChoice>(*c.request).id);
    }
  }
}

TEST(RemoteMessages, RequestRateCountsWholeWindowsAcrossTheClocksWrap) {
  for (const uint32_t start : {0u, 5000u, UINT32_MAX - 300u}) {
    RequestRate rate;
    for (int i = 0; i < RequestRate::kPerWindow; ++i) EXPECT_TRUE(rate.Allow(start + i)) << start;
    EXPECT_FALSE(rate.Allow(start + RequestRate::kWindowMs - 1)) << start;
    EXPECT_TRUE(rate.Allow(start + RequestRate::kWindowMs)) << start;
  }
}

}  // namespace
