// The real quavix-server under what a hostile user or a careless system may do: a port move to
// a port another program holds, an instance guard that cannot be used, and signal storms.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "RealServerTest.h"
#include "fakes/ChildProcess.h"
#include "fakes/Eventually.h"

namespace {

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

class ServerFaultsTest : public RealServerTest {
 protected:
  // Started, and serving: a client was greeted.
  std::unique_ptr<ServerProcess> StartServing(const std::map<std::string, std::string>& env = {}) {
    auto server = std::make_unique<ServerProcess>(config_, runtime_);
    EXPECT_TRUE(server->Start(env));
    TestClient probe;
    EXPECT_TRUE(probe.Connect(port_)) << server->Stderr();
    EXPECT_EQ(probe.Read(4), kGreeting);
    return server;
  }

  struct Outcome {
    int code;
    std::string out;
    std::string err;
  };
  // `quavix-server --set-port N` with the given environment changes.
  Outcome SetPort(uint16_t port, std::vector<std::string> set, std::vector<std::string> unset) {
    set.push_back("XDG_CONFIG_HOME=" + config_);
    set.push_back("QT_QPA_PLATFORM=no-such-platform");
    unset.insert(unset.end(), {"DISPLAY", "WAYLAND_DISPLAY"});
    const std::vector<std::string> environment = EnvironmentWith(set, unset);
    ChildProcess child({QUAVIX_SERVER_PATH, "--set-port", std::to_string(port)}, &environment);
    std::string out;
    for (std::string line; !(line = child.ReadLine(5s)).empty();) out += line + "\n";
    const int code = child.Wait(10s);
    return {code, out, child.Stderr()};
  }
};

TEST_F(ServerFaultsTest, SetPortToAPortAnotherProgramHoldsKeepsTheServerAndItsPort) {
  auto server = StartServing();
  const int blocker = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  const uint16_t busy = FreeLoopbackPort();
  address.sin_port = htons(busy);
  ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(blocker, 4), 0);

  const Outcome set = SetPort(busy, {"XDG_RUNTIME_DIR=" + runtime_}, {});
  close(blocker);
  EXPECT_EQ(set.code, 1) << set.out << set.err;
  EXPECT_EQ(Count(set.err, "\n"), 1u) << set.err;
  EXPECT_NE(set.err.find("stays on port " + std::to_string(port_) + " (port " +
                         std::to_string(busy) + " is in use by another program)"),
            std::string::npos)
      << set.err;
  EXPECT_EQ(StoredPortText(config_), std::to_string(port_))
      << "the refused port is not left stored";
  TestClient still;
  ASSERT_TRUE(still.Connect(port_, 2s));
  EXPECT_EQ(still.Read(4), kGreeting);
  ExpectCleanQuit(*server);
}

TEST_F(ServerFaultsTest, AnUnusableGuardFolderIsSaidOnceAndSetPortCannotTell) {
  const std::string temporary = tree_.Path() + "/tmp";
  const std::string folder = temporary + "/quavix-" + std::to_string(getuid());
  mkdir(temporary.c_str(), 0700);
  mkdir((tree_.Path() + "/elsewhere").c_str(), 0700);
  struct Case {
    const char* reason;
    std::function<bool()> plant;  // false: cannot be arranged here (not root)
  };
  const Case cases[] = {
      {"it is a symbolic link",
       [&] { return symlink((tree_.Path() + "/elsewhere").c_str(), folder.c_str()) == 0; }},
      {"it is not a folder", [&] { return std::ofstream(folder).good(); }},
      {"it belongs to user 65534",
       [&] { return mkdir(folder.c_str(), 0700) == 0 && chown(folder.c_str(), 65534, 0) == 0; }},
      {"its mode is 0755, not 0700",
       [&] { return mkdir(folder.c_str(), 0700) == 0 && chmod(folder.c_str(), 0755) == 0; }},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(folder);
    if (!c.plant()) {
      EXPECT_NE(getuid(), 0u) << "only a user other than root may fail to plant: " << c.reason;
      continue;
    }
    ASSERT_TRUE(StorePort(config_, port_));
    auto server = StartServing({{"XDG_RUNTIME_DIR", ""}, {"TMPDIR", temporary}});
    const std::string said = folder +
                             " (XDG_RUNTIME_DIR is not set) cannot hold the instance "
                             "guard: " +
                             c.reason;
    EXPECT_TRUE(Eventually([&] { return server->Stderr().find(said) != std::string::npos; }))
        << server->Stderr();
    EXPECT_EQ(Count(server->Stderr(), "instance guard"), 1u) << server->Stderr();

    const uint16_t next = FreeLoopbackPort();
    const Outcome set = SetPort(next, {"TMPDIR=" + temporary}, {"XDG_RUNTIME_DIR"});
    EXPECT_EQ(set.code, 1) << c.reason << "\n" << set.out << set.err;
    EXPECT_NE(set.err.find("cannot tell whether a server is running (" + said + ")"),
              std::string::npos)
        << set.err;
    EXPECT_EQ(StoredPortText(config_), std::to_string(next)) << "the port is stored all the same";
    ExpectCleanQuit(*server);
  }
}

// Whether `pid`, a child not yet reaped, has ended (a zombie), without reaping it.
bool Ended(pid_t pid) {
  const std::string stat = FileText("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  return close == std::string::npos || stat.compare(close, 3, ") Z") == 0;
}

TEST_F(ServerFaultsTest, TwoThousandMixedSignalsEndTheServerWithStatusZero) {
  auto server = StartServing();
  const int kinds[] = {SIGUSR1, SIGHUP, SIGTERM, SIGINT};
  // At least 2,000, and on through the whole shut-down until the process has ended.
  const auto until = std::chrono::steady_clock::now() + 10s;
  int sent = 0;
  while (std::chrono::steady_clock::now() < until && !(sent >= 2000 && Ended(server->Pid()))) {
    if (kill(server->Pid(), kinds[sent % 4]) != 0) break;
    ++sent;
  }
  const std::optional<int> status = server->WaitForExit();
  ASSERT_TRUE(status.has_value()) << "still running after the storm";
  EXPECT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status) << " after " << sent;
  EXPECT_EQ(WEXITSTATUS(*status), 0) << server->Stderr();
}

}  // namespace
