// quavix-remote against the real server on a PulseAudio daemon of the test's own.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "fakes/ChildProcess.h"
#include "support/ServerUnderTest.h"
#include "support/SoundServer.h"

namespace {

using namespace std::chrono_literals;

struct RemoteRun {
  int code;
  std::string out;
};

RemoteRun Remote(uint16_t port, std::vector<std::string> words) {
  std::vector<std::string> args = {QUAVIX_REMOTE_PATH, "127.0.0.1:" + std::to_string(port)};
  args.insert(args.end(), words.begin(), words.end());
  ChildProcess remote(args);
  const std::string line = remote.ReadLine(10s);
  return {remote.Wait(10s), line};
}

}  // namespace

TEST(RemoteRealServer, GetSetMuteAndWatchTheSoundServer) {
  QUAVIX_NEED_SOUND_SERVER();
  soundserver::PrivatePulse pulse;
  ASSERT_TRUE(pulse.Start());
  ASSERT_TRUE(pulse.Pactl("set-sink-volume @DEFAULT_SINK@ 40%"));
  ServerUnderTest server(QUAVIX_SERVER_PATH, FreeLoopbackPort(), 0,
                         {"PULSE_SERVER=" + pulse.Server()});
  ASSERT_TRUE(server.WaitServing()) << server.Stderr();
  const uint16_t port = server.Port();
  const std::string pactl = "PULSE_SERVER='" + pulse.Server() + "' pactl ";

  EXPECT_EQ(Remote(port, {"get"}).out, "unmuted, 40");
  const RemoteRun set = Remote(port, {"set", "30"});
  EXPECT_EQ(set.code, 0);
  EXPECT_EQ(set.out, "unmuted, 30");
  // The sound server has the change before quavix-remote returns, and so does a new client.
  EXPECT_NE(soundserver::Output(pactl + "get-sink-volume @DEFAULT_SINK@").find(" 30% "),
            std::string::npos);
  EXPECT_EQ(Remote(port, {"get"}).out, "unmuted, 30");
  // Printed once the server has reported the change, a step from the state it reported.
  EXPECT_EQ(Remote(port, {"set", "+5"}).out, "unmuted, 35");
  EXPECT_NE(soundserver::Output(pactl + "get-sink-volume @DEFAULT_SINK@").find(" 35% "),
            std::string::npos);
  EXPECT_EQ(Remote(port, {"set", "30%"}).out, "unmuted, 30");
  EXPECT_EQ(Remote(port, {"toggle"}).out, "muted, 30");
  EXPECT_NE(soundserver::Output(pactl + "get-sink-mute @DEFAULT_SINK@").find("yes"),
            std::string::npos);

  ChildProcess watch({QUAVIX_REMOTE_PATH, "--port", std::to_string(port), "127.0.0.1", "watch"});
  const std::string first = watch.ReadLine(10s);
  EXPECT_NE(first.find(" muted, 30"), std::string::npos) << first;
  ASSERT_TRUE(pulse.Pactl("set-sink-volume @DEFAULT_SINK@ 45%"));
  const std::string pushed = watch.ReadLine(10s);
  EXPECT_NE(pushed.find(" muted, 45"), std::string::npos) << pushed;
  watch.Signal(SIGINT);
  EXPECT_EQ(watch.Wait(10s), 0);

  EXPECT_EQ(server.Stop(), 0);
  // No server any more.
  EXPECT_EQ(Remote(port, {"get"}).code, 3);
}
