// Media control against real players: mpv with its MPRIS plugin on a private session bus, and
// playerctl looking at them as the user's desktop would.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "media/linux/MprisMediaControl.h"
#include "support/MediaPlayer.h"

using namespace std::chrono_literals;
using media::Mpv;
using media::PrivateSessionBus;

// Only for TSan builds: Qt's D-Bus thread hands messages to the main thread inside Qt and
// libdbus, which are not built with TSan and show up as races on their own allocations. This
// ignores the accesses of uninstrumented libraries; every access of our code is still checked.
extern "C" const char* __tsan_default_options() {
  return "ignore_noninstrumented_modules=1";
}

namespace {
const std::vector<media::Track> kAlbum = {{"First Song", "Alpha Band"},
                                          {"Second Song", "Beta Band"}};

class MprisMedia : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "media_linux_tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
  }

  void SetUp() override {
    QUAVIX_NEED_PLAYER();
    ASSERT_FALSE(bus_.Address().empty()) << "dbus-daemon did not start";
    files_ = bus_.WriteTracks(kAlbum);
    control_ = std::make_unique<MprisMediaControl>(
        QDBusConnection::connectToBus(QString::fromStdString(bus_.Address()), kConnection));
    control_->SetStatusCallback([this](const MediaStatus& status) { seen_.push_back(status); });
    ASSERT_TRUE(control_->Start());
  }

  void TearDown() override {
    if (control_ != nullptr) {
      control_->SetStatusCallback(nullptr);
      control_->Stop();
      control_.reset();
    }
    QDBusConnection::disconnectFromBus(kConnection);
  }

  // Runs the main loop, as the program does, until `condition` holds or `limit` passes.
  template <typename Condition>
  bool Await(Condition condition, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
  }
  bool AwaitTitle(const std::string& title, std::chrono::milliseconds limit = 10s) {
    return Await([&] { return !seen_.empty() && seen_.back().title == title; }, limit);
  }
  bool AwaitPlayerctl(const std::string& args, const std::string& wanted) {
    return Await([&] { return bus_.Playerctl(args) == wanted; });
  }

  static constexpr const char* kConnection = "quavix-media-test";
  PrivateSessionBus bus_;
  std::vector<std::string> files_;
  std::unique_ptr<MprisMediaControl> control_;
  std::vector<MediaStatus> seen_;  // main thread only
};
}  // namespace

TEST_F(MprisMedia, FollowsPlayersAndTheirTracksAsTheBusPushesThem) {
  EXPECT_FALSE(control_->Status().controllable);
  EXPECT_FALSE(control_->Send(MediaCommand::PlayPause));  // nobody to send it to
  {
    Mpv player(bus_, files_);
    ASSERT_TRUE(AwaitTitle("First Song"));
    EXPECT_EQ(seen_.back(), (MediaStatus{true, "First Song", "Alpha Band", true}));
    EXPECT_EQ(control_->Status(), seen_.back());

    // A track change made elsewhere reaches us within a second.
    ASSERT_EQ(bus_.Playerctl("next"), "");
    const auto changed = std::chrono::steady_clock::now();
    ASSERT_TRUE(AwaitTitle("Second Song", 1s)) << "the new track came late or never";
    EXPECT_EQ(seen_.back().artist, "Beta Band");
    std::printf("track change reached us after %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - changed)
                                           .count()));
    ASSERT_EQ(bus_.Playerctl("pause"), "");
    EXPECT_TRUE(Await([&] { return !seen_.back().playing; }));
  }
  // The player went away: nothing is playing.
  EXPECT_TRUE(Await([&] { return !seen_.back().controllable; }));
  EXPECT_EQ(control_->Status(), MediaStatus{});
}

TEST_F(MprisMedia, EachCommandReachesThePlayer) {
  Mpv player(bus_, files_);
  ASSERT_TRUE(AwaitTitle("First Song"));
  const struct {
    MediaCommand command;
    const char* query;
    const char* wanted;
  } kSteps[] = {
      {MediaCommand::PlayPause, "status", "Paused"},
      {MediaCommand::PlayPause, "status", "Playing"},
      {MediaCommand::Next, "metadata title", "Second Song"},
      {MediaCommand::Previous, "metadata title", "First Song"},
  };
  for (const auto& step : kSteps) {
    // From another thread, as the page's readers send them.
    std::thread([&] { EXPECT_TRUE(control_->Send(step.command)); }).join();
    EXPECT_TRUE(AwaitPlayerctl(step.query, step.wanted)) << step.query << " " << step.wanted;
  }
}

TEST_F(MprisMedia, ThePlayingPlayerIsControlledElseTheOneThatPlayedLast) {
  Mpv first(bus_, {files_[0]});
  ASSERT_TRUE(first.AwaitOnBus(bus_));
  ASSERT_TRUE(AwaitTitle("First Song"));
  Mpv second(bus_, {files_[1]}, /*paused=*/true);
  ASSERT_TRUE(second.AwaitOnBus(bus_));
  const std::string secondPlayer = "--player=" + second.PlayerName();
  // The second one appeared later, but the first one plays.
  ASSERT_TRUE(Await([&] { return bus_.Playerctl(secondPlayer + " status") == "Paused"; }));
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(control_->Status().title, "First Song");

  // The first pauses and the second plays: the second is the one.
  ASSERT_EQ(bus_.Playerctl("--player=mpv pause"), "");
  ASSERT_EQ(bus_.Playerctl(secondPlayer + " play"), "");
  ASSERT_TRUE(AwaitTitle("Second Song"));
  // It pauses too: it still played last, so a press resumes it and not the first.
  ASSERT_EQ(bus_.Playerctl(secondPlayer + " pause"), "");
  ASSERT_TRUE(Await([&] { return !seen_.back().playing; }));
  EXPECT_EQ(seen_.back().title, "Second Song");
  EXPECT_TRUE(control_->Send(MediaCommand::PlayPause));
  EXPECT_TRUE(AwaitPlayerctl(secondPlayer + " status", "Playing"));
  EXPECT_EQ(bus_.Playerctl("--player=mpv status"), "Paused");
}

TEST_F(MprisMedia, AFrozenPlayerHoldsUpNeitherCommandsNorOtherPlayersNorTheEnd) {
  Mpv frozen(bus_, {files_[0]});
  ASSERT_TRUE(AwaitTitle("First Song"));
  frozen.Freeze();
  // Commands are handed over at once, and the loop that carries them stays free.
  const auto start = std::chrono::steady_clock::now();
  for (MediaCommand command : {MediaCommand::Previous, MediaCommand::PlayPause, MediaCommand::Next})
    EXPECT_TRUE(control_->Send(command));
  for (int i = 0; i < 10; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  // Another player comes and plays: it is followed while the frozen one answers nothing.
  {
    Mpv other(bus_, {files_[1]});
    EXPECT_TRUE(AwaitTitle("Second Song"));
  }
  const auto stopping = std::chrono::steady_clock::now();
  control_->SetStatusCallback(nullptr);
  control_->Stop();
  control_.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, 200ms);
  frozen.Thaw();
}
