// The real quavix-server, headless, against the fixture's sound server.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "RealServerTest.h"
#include "fakes/Eventually.h"

namespace {

class ServerBinaryTest : public RealServerTest {
 protected:
  // Starts a server and waits until it serves: one connection that is dropped again.
  std::unique_ptr<ServerProcess> StartServer(const std::map<std::string, std::string>& env = {}) {
    auto server = std::make_unique<ServerProcess>(config_, runtime_);
    EXPECT_TRUE(server->Start(env));
    return server;
  }
  // Waits for the line that says where the server listens.
  bool SaysItListensOn(ServerProcess& server, uint16_t port) {
    const std::string line = "Quavix Server listening on port " + std::to_string(port);
    return Eventually([&] { return server.Stdout().find(line) != std::string::npos; }, 10s);
  }
  // A client of the server just started on a system at unmuted 40: greeted and told so.
  std::unique_ptr<TestClient> GreetedAt40() {
    auto client = std::make_unique<TestClient>();
    EXPECT_TRUE(client->Connect(port_, kWhileStarting));
    EXPECT_EQ(client->Read(5), (std::vector<uint8_t>{0x19, 0xC8, 0xDE, 0x00, 0x28}));
    return client;
  }
};

TEST_F(ServerBinaryTest, GreetsWithTheSystemStateAndFollowsIt) {
  ASSERT_TRUE(SetSinkState(40, false));
  auto server = StartServer();
  auto a = GreetedAt40();
  auto b = GreetedAt40();

  // A change made on the computer reaches every client.
  ASSERT_TRUE(SetSinkState(55, false));
  EXPECT_EQ(a->NextState(), 55);
  EXPECT_EQ(b->NextState(), 55);
  ASSERT_TRUE(SetSinkState(55, true));
  EXPECT_EQ(a->NextState(), 0x80 | 55);
  EXPECT_EQ(b->NextState(), 0x80 | 55);
  ExpectCleanQuit(*server);
}

TEST_F(ServerBinaryTest, AClientsByteChangesTheSystemAndReachesTheOthers) {
  ASSERT_TRUE(SetSinkState(40, false));
  auto server = StartServer();
  auto a = GreetedAt40();
  auto b = GreetedAt40();

  ASSERT_TRUE(a->Send(0x21));  // unmuted, 33
  EXPECT_TRUE(WaitForSinkState(33, false));
  EXPECT_EQ(b->NextState(), 0x21);
  ASSERT_TRUE(a->Send(0x80 | 33));
  EXPECT_TRUE(WaitForSinkState(33, true));
  EXPECT_EQ(b->NextState(), 0xA1);
  // No echo for the sender, also once its hold-off is over.
  EXPECT_EQ(a->NextState(1500ms), std::nullopt);
  ExpectCleanQuit(*server);
}

// Clients A and B quiet, C joins, A and C set volumes, the computer changes it while C is held
// off, and the retry serves C. Only order, content and the hold-off's lower bound are checked:
// every wait is for a byte, so a slow machine stretches the exchange without breaking it.
TEST_F(ServerBinaryTest, ExampleExchangeWithThreeClients) {
  using Clock = std::chrono::steady_clock;
  // The server's hold-off is 500 ms of its monotonic millisecond count, the clock steady_clock
  // reads; both ends truncate to whole milliseconds, so the server may send up to 1 ms early.
  constexpr auto kHoldOff = 499ms;
  ASSERT_TRUE(SetSinkState(40, false));
  auto server = StartServer();
  auto a = GreetedAt40();
  auto b = GreetedAt40();
  // A and B have never sent a state, so they are outside any hold-off already.

  auto c = GreetedAt40();

  const auto aSent = Clock::now();
  ASSERT_TRUE(a->Send(0x32));
  EXPECT_EQ(b->NextState(), 0x32);
  EXPECT_EQ(c->NextState(), 0x32);

  // The hold-off is wall time in the real binary, so only the clock can end it: A is made a quiet
  // client again by waiting out its 500 ms from the moment it sent. Should A still be held off
  // on a slow machine, it receives 0x3C through the retry instead, which the reads below await.
  std::this_thread::sleep_until(aSent + 500ms);
  const auto cSent = Clock::now();
  ASSERT_TRUE(c->Send(0x3C));
  EXPECT_EQ(a->NextState(), 0x3C);
  EXPECT_EQ(b->NextState(), 0x3C);

  // At once after C's request: C is inside its hold-off unless the machine took 500 ms to get
  // here, and must not see the change before its hold-off is over.
  ASSERT_TRUE(SetSinkState(70, false));
  EXPECT_EQ(a->NextState(), 0x46);
  EXPECT_EQ(b->NextState(), 0x46);
  EXPECT_EQ(c->NextState(), 0x46);  // through the retry, when the change came inside the hold-off
  EXPECT_GE(Clock::now() - cSent, kHoldOff) << "C was sent the change inside its hold-off";
  // A never got an echo of its own 0x32, nor C of its 0x3C: nothing else is pending.
  EXPECT_EQ(a->NextState(700ms), std::nullopt);
  EXPECT_EQ(c->NextState(700ms), std::nullopt);
  ExpectCleanQuit(*server);
}

TEST_F(ServerBinaryTest, SecondInstanceIsRefusedWithExitZero) {
  auto first = StartServer();
  TestClient client;
  ASSERT_TRUE(client.Connect(port_, kWhileStarting));
  ServerProcess second(config_, runtime_);
  ASSERT_TRUE(second.Start());
  const std::optional<int> status = second.WaitForExit();
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  EXPECT_NE(second.Stderr().find("quavix-server: Quavix Server already running"), std::string::npos)
      << second.Stderr();
  EXPECT_TRUE(first->Running());
  ExpectCleanQuit(*first);
}

TEST_F(ServerBinaryTest, PortInUseSaysSoAndExitsOne) {
  const int blocker = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port_);
  ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(blocker, 1), 0);
  auto server = StartServer();
  const std::optional<int> status = server->WaitForExit();
  close(blocker);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 1);
  EXPECT_NE(server->Stderr().find("quavix-server: Couldn't bind and listen to network port " +
                                  std::to_string(port_) + "\n"),
            std::string::npos)
      << server->Stderr();
}

TEST_F(ServerBinaryTest, Usr1MovesToTheStoredPortAndSaysWhere) {
  auto server = StartServer();
  TestClient old;
  ASSERT_TRUE(old.Connect(port_, kWhileStarting));
  ASSERT_EQ(old.Read(4), kGreeting);
  EXPECT_TRUE(SaysItListensOn(*server, port_)) << server->Stdout();

  const uint16_t next = FreeLoopbackPort();
  ASSERT_TRUE(StorePort(config_, next));
  server->Signal(SIGUSR1);
  TestClient moved;
  ASSERT_TRUE(moved.Connect(next, kWhileStarting));
  EXPECT_EQ(moved.Read(4), kGreeting);
  EXPECT_TRUE(old.WaitForEnd());
  EXPECT_TRUE(SaysItListensOn(*server, next)) << server->Stdout();
  ExpectCleanQuit(*server);
}

TEST_F(ServerBinaryTest, ADisplayThatIsGoneMeansHeadless) {
  auto server = StartServer({{"DISPLAY", ":999"}, {"QT_QPA_PLATFORM", ""}});
  TestClient client;
  ASSERT_TRUE(client.Connect(port_, kWhileStarting));
  EXPECT_EQ(client.Read(4), kGreeting);
  EXPECT_NE(server->Stderr().find("display :999 does not answer"), std::string::npos)
      << server->Stderr();
  ExpectCleanQuit(*server);
}

TEST_F(ServerBinaryTest, TerminationClosesEveryClientAndExitsZero) {
  auto server = StartServer();
  std::vector<std::unique_ptr<TestClient>> clients;
  for (int i = 0; i < 5; ++i) {
    clients.push_back(std::make_unique<TestClient>());
    ASSERT_TRUE(clients.back()->Connect(port_, kWhileStarting));
    ASSERT_EQ(clients.back()->Read(4), kGreeting);
  }
  // One reader thread per client is running now.
  EXPECT_GE(server->ThreadCount(), 1 + 5);
  // Many clients need many descriptors: the soft limit was raised to the hard one.
  std::ifstream limits("/proc/" + std::to_string(server->Pid()) + "/limits");
  std::string line;
  while (std::getline(limits, line)) {
    if (line.rfind("Max open files", 0) != 0) continue;
    std::istringstream fields(line.substr(strlen("Max open files")));
    std::string soft, hard;
    fields >> soft >> hard;
    EXPECT_EQ(soft, hard) << line;
  }
  ExpectCleanQuit(*server);
  for (auto& client : clients) EXPECT_TRUE(client->WaitForEnd());
  // The setting was only read, never rewritten.
  struct stat info {};
  const std::string file = config_ + "/quavix/quavix-server.conf";
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_size,
            static_cast<off_t>(
                ("[server]\nport = " + std::to_string(port_) + "\n" + kNoPageLine).size()));
}

TEST_F(ServerBinaryTest, ARequestThatCameJustBeforeATerminationReachesTheSink) {
  // Stopped, the server finds the request and the termination waiting together when it goes on:
  // quitting must carry out what it has already taken. Which thread runs first is the
  // scheduler's choice, so three rounds.
  for (int volume : {31, 32, 33}) {
    port_ = FreeLoopbackPort();
    ASSERT_TRUE(StorePort(config_, port_));
    ASSERT_TRUE(SetSinkState(40, false));
    auto server = StartServer();
    auto client = GreetedAt40();
    server->Signal(SIGSTOP);
    ASSERT_TRUE(client->Send(static_cast<uint8_t>(volume)));
    server->Signal(SIGTERM);
    server->Signal(SIGCONT);
    const std::optional<int> status = server->WaitForExit();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    EXPECT_TRUE(WaitForSinkState(volume, false, 2s))
        << "the request for " << volume << " was lost\n"
        << server->Stderr();
  }
}

TEST_F(ServerBinaryTest, InterruptAndHangupQuitTheSameWay) {
  for (int signal : {SIGINT, SIGHUP}) {
    // A fresh port each time: the previous run's closed connections may still hold its port.
    port_ = FreeLoopbackPort();
    ASSERT_TRUE(StorePort(config_, port_));
    auto server = StartServer();
    TestClient client;
    ASSERT_TRUE(client.Connect(port_, kWhileStarting));
    ASSERT_EQ(client.Read(4), kGreeting);
    server->Signal(signal);
    const std::optional<int> status = server->WaitForExit();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status)) << signal;
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_TRUE(client.WaitForEnd());
  }
}

}  // namespace
