// The installed program itself: argument errors, pushed states as they arrive, and Ctrl-C.

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "fakes/ChildProcess.h"
#include "support/ScriptedTcpServer.h"

namespace {

ChildProcess RemoteProcess(std::vector<std::string> args) {
  args.insert(args.begin(), QUAVIX_REMOTE_PATH);
  return ChildProcess(std::move(args));
}

std::string StateOf(const std::string& line) {
  const size_t space = line.find(' ');
  return space == std::string::npos ? "" : line.substr(space + 1);
}

}  // namespace

TEST(RemoteProgram, BadArgumentExitsWith2AndAHint) {
  ChildProcess remote = RemoteProcess({"localhost", "set", "loud"});
  ASSERT_TRUE(remote.Started());
  EXPECT_EQ(remote.Wait(), 2);
  EXPECT_EQ(remote.Stderr(),
            "quavix-remote: bad volume 'loud' (0 to 100, N%, +N or -N); see --help\n");
}

TEST(RemoteProgram, WatchPrintsPushesAsTheyComeAndEndsOnInterrupt) {
  ScriptedTcpServer server;
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  server.Serve([&](TestClient& client) {
    client.Send({0x19, 0xC8, 0xDE, 0x00, 0x28});
    pollfd wait{go[0], POLLIN, 0};
    if (poll(&wait, 1, 5000) != 1) return;
    client.Send({0xFF, 0x32});
    if (poll(&wait, 1, 5000) != 1) return;
    client.Send({0xB2, 0xFF});
    client.ReadToEnd();
  });
  ChildProcess remote =
      RemoteProcess({"--port", std::to_string(server.Port()), "127.0.0.1", "watch"});
  ASSERT_TRUE(remote.Started());
  EXPECT_EQ(StateOf(remote.ReadLine()), "unmuted, 40");
  ASSERT_EQ(write(go[1], "x", 1), 1);
  EXPECT_EQ(StateOf(remote.ReadLine()), "unmuted, 50");
  ASSERT_EQ(write(go[1], "x", 1), 1);
  EXPECT_EQ(StateOf(remote.ReadLine()), "muted, 50");
  remote.Signal(SIGINT);
  EXPECT_EQ(remote.Wait(), 0);
  EXPECT_EQ(remote.ReadLine(std::chrono::milliseconds(0)), "") << "keep-alives are not printed";
  server.Join();
  close(go[0]);
  close(go[1]);
}
