// The program against peers and resolvers that never let go: every command but watch ends
// within its 5 s, and Ctrl+C ends any of them at once.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fakes/ChildProcess.h"
#include "fakes/Eventually.h"
#include "support/ScriptedTcpServer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
const Bytes kHello = {0x19, 0xC8, 0xDE, 0x00};

// What a peer does after the connection comes, until the client goes or the test ends.
enum class Peer {
  EndlessKeepAlives,            // greets, then keep-alives without pause
  EndlessStates,                // greets, then state bytes without pause (never the one asked for)
  GreetsBothThenEndlessStates,  // as EndlessStates, and greets a second connection too
  TricklesTheGreeting,          // one byte of the greeting every 2 s
};

class HostilePeer {
 public:
  explicit HostilePeer(Peer peer) {
    server_.Run([this, peer] {
      TestClient first = server_.Accept();
      if (!first.Connected()) return;
      greeted_ = true;
      if (peer == Peer::TricklesTheGreeting) {
        for (uint8_t byte : kHello) {
          if (!first.Send(byte) || WaitForStop(2s)) return;
        }
        return;
      }
      first.Send(kHello);
      TestClient second;
      if (peer == Peer::GreetsBothThenEndlessStates) {
        first.Send(0x14);
        second = server_.Accept();
        second.Send(kHello);
      }
      const Bytes burst(65536, peer == Peer::EndlessKeepAlives ? 0xFF : 0x14);
      while (!stop_ && first.Send(burst)) {
      }
    });
  }
  ~HostilePeer() {
    stop_ = true;
    server_.Join();
  }
  uint16_t Port() const { return server_.Port(); }
  bool Greeted() const { return greeted_; }

 private:
  bool WaitForStop(std::chrono::milliseconds limit) {
    return Eventually([this] { return stop_.load(); }, limit);
  }
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

TEST(RemoteDeadline, EveryCommandButWatchEndsInTimeWhateverThePeerSends) {
  struct Case {
    Peer peer;
    std::vector<std::string> command;
    int code;
    std::chrono::milliseconds limit;
  };
  const Case cases[] = {
      {Peer::EndlessKeepAlives, {"get"}, 0, 2s},
      {Peer::EndlessStates, {"get"}, 0, 2s},
      // The change's own connection is never greeted.
      {Peer::EndlessKeepAlives, {"set", "30"}, 5, 5500ms},
      // Greeted, but the states that come are never the one asked for.
      {Peer::GreetsBothThenEndlessStates, {"set", "30"}, 1, 5500ms},
      {Peer::GreetsBothThenEndlessStates, {"mute"}, 1, 5500ms},
      {Peer::TricklesTheGreeting, {"get"}, 5, 5500ms},
  };
  for (const Case& c : cases) {
    HostilePeer peer(c.peer);
    const Clock::time_point start = Clock::now();
    ChildProcess remote = Remote(peer.Port(), c.command);
    ASSERT_TRUE(remote.Started());
    const int code = remote.Wait(10s);
    const std::string what = c.command[0] + " against peer " + std::to_string(int(c.peer));
    EXPECT_EQ(code, c.code) << what << ": " << ErrorsOf(remote, code);
    EXPECT_LT(Clock::now() - start, c.limit) << what;
  }
}

TEST(RemoteDeadline, CtrlCEndsACommandAtOnceWith130) {
  HostilePeer peer(Peer::EndlessKeepAlives);
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

TEST(RemoteDeadline, ANameWhoseDnsServerNeverAnswersEndsInTimeAndCtrlCAtOnce) {
  if (geteuid() != 0) GTEST_SKIP() << "a network namespace of its own needs root";
  // In namespaces of its own: a resolv.conf naming a DNS server on that loopback which takes
  // every query and answers none, each try waited on for 5 s.
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("quavix-dns-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "resolv.conf") << "nameserver 127.0.0.1\noptions timeout:5 attempts:3\n";
  const std::string silentServer =
      "import os, socket, time\n"
      "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
      "s.bind(('127.0.0.1', 53))\n"
      "open(os.environ['READY'], 'w').close()\n"
      "parent = os.getppid()\n"
      "while os.getppid() == parent: time.sleep(0.2)\n";
  const auto start = [&](const std::string& ready) {
    const std::string script =
        "ip link set lo up && mount --bind \"$1\" /etc/resolv.conf || exit 9\n"
        "READY=\"$2\" python3 -c \"$3\" &\n"
        "while [ ! -e \"$2\" ]; do sleep 0.05; done\n"
        "exec \"$4\" quavix-test-host.example get\n";
    return ChildProcess({"unshare", "-mn", "sh", "-c", script, "sh",
                         (folder / "resolv.conf").string(), (folder / ready).string(), silentServer,
                         QUAVIX_REMOTE_PATH});
  };
  struct Case {
    bool interrupt;
    int code;
    const char* says;
  };
  for (const Case& c : {Case{false, 3, "cannot resolve 'quavix-test-host.example': no answer"},
                        Case{true, 130, "interrupted"}}) {
    const std::string ready = c.interrupt ? "ready-interrupted" : "ready";
    ChildProcess remote = start(ready);
    ASSERT_TRUE(remote.Started());
    ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(folder / ready); }, 10s));
    std::this_thread::sleep_for(500ms);  // inside the resolver by now
    const Clock::time_point from = Clock::now();
    if (c.interrupt) remote.Signal(SIGINT);
    const int code = remote.Wait(20s);
    EXPECT_EQ(code, c.code) << ErrorsOf(remote, code);
    EXPECT_LT(Clock::now() - from, c.interrupt ? 1s : 5s);
    if (code != -1) {
      EXPECT_NE(remote.Stderr().find(c.says), std::string::npos);
    }
  }
  std::filesystem::remove_all(folder);
}
