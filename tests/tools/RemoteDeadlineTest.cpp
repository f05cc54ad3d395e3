// The program against a peer that greets and then never stops talking: every command but
// watch ends in bounded time, and Ctrl+C ends any of them at once.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "fakes/ChildProcess.h"
#include "fakes/Eventually.h"
#include "support/ScriptedTcpServer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Greets, then sends `byte` without pause until the client goes or the test ends.
class EndlessPeer {
 public:
  explicit EndlessPeer(uint8_t byte) {
    server_.Serve([this, byte](int fd) {
      ScriptedTcpServer::Send(fd, {0x19, 0xC8, 0xDE, 0x00});
      greeted_.store(true);
      const std::vector<uint8_t> burst(65536, byte);
      while (!stop_.load() && send(fd, burst.data(), burst.size(), MSG_NOSIGNAL) > 0) {
      }
    });
  }
  ~EndlessPeer() {
    stop_.store(true);
    server_.Join();
  }
  uint16_t Port() const { return server_.Port(); }
  bool Greeted() const { return greeted_.load(); }

 private:
  std::atomic<bool> greeted_{false};
  std::atomic<bool> stop_{false};
  ScriptedTcpServer server_;
};

// Its stderr once it has ended (reading it earlier would wait for the end).
std::string ErrorsOf(ChildProcess& remote, int code) {
  return code == -1 ? "(still running)" : remote.Stderr();
}

ChildProcess Remote(uint16_t port, std::vector<std::string> command) {
  std::vector<std::string> args = {QUAVIX_REMOTE_PATH, "--port", std::to_string(port), "127.0.0.1"};
  args.insert(args.end(), command.begin(), command.end());
  return ChildProcess(std::move(args));
}

}  // namespace

TEST(RemoteDeadline, GetEndsSoonThoughKeepAlivesOrStatesNeverStop) {
  for (uint8_t byte : {uint8_t{0xFF}, uint8_t{0x14}}) {
    EndlessPeer peer(byte);
    const Clock::time_point start = Clock::now();
    ChildProcess remote = Remote(peer.Port(), {"get"});
    ASSERT_TRUE(remote.Started());
    const int code = remote.Wait(3s);
    EXPECT_EQ(code, 0) << "byte " << int{byte} << ": " << ErrorsOf(remote, code);
    EXPECT_LT(Clock::now() - start, 2s) << "byte " << int{byte};
  }
}

TEST(RemoteDeadline, SetEndsWithinItsDeadlineWhenNothingConfirms) {
  EndlessPeer peer(0xFF);  // and the change's own connection is never even greeted
  const Clock::time_point start = Clock::now();
  ChildProcess remote = Remote(peer.Port(), {"set", "30"});
  ASSERT_TRUE(remote.Started());
  const int code = remote.Wait(8s);
  EXPECT_NE(code, 0);
  EXPECT_NE(code, -1) << "still running after 8 s";
  EXPECT_LT(Clock::now() - start, 6s);
}

TEST(RemoteDeadline, CtrlCEndsACommandAtOnceWith130) {
  EndlessPeer peer(0xFF);
  ChildProcess remote = Remote(peer.Port(), {"--wait", "60000", "get"});
  ASSERT_TRUE(remote.Started());
  // Connected means the handler is in place: a signal before that would kill it with 130 too.
  ASSERT_TRUE(Eventually([&] { return peer.Greeted(); }));
  const Clock::time_point sent = Clock::now();
  remote.Signal(SIGINT);
  const int code = remote.Wait(3s);
  EXPECT_EQ(code, 130) << ErrorsOf(remote, code);
  EXPECT_LT(Clock::now() - sent, 1s);
}
