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
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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
    EXPECT_TRUE(probe.Connect(port_, kWhileStarting)) << server->Stderr();
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

TEST_F(ServerFaultsTest, SetPortHearsFromTheServerWhetherItMovedWhereverItListens) {
  const uint16_t page = FreeLoopbackPort();
  const int blocker = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  const uint16_t busy = FreeLoopbackPort();
  address.sin_port = htons(busy);
  ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(blocker, 4), 0);
  struct Case {
    std::string settings;     // beside the port
    std::string address;      // where a client reaches the server
    uint16_t target;          // 0: a free port
    std::string refusal;      // empty: it moves
    std::string edited = "";  // the settings as edited while it runs, if they are
    std::string shown = "";   // where the server's line says it listens, before ":PORT"
  };
  const std::string stays = "the server stays on port " + std::to_string(port_) + " (port ";
  const Case cases[] = {
      {"listen = ::1\n", "::1", 0, "", "", "[::1]"},
      {"listen = 127.0.0.2\n", "127.0.0.2", 0, "", "", "127.0.0.2"},
      {"allow = 10.0.0.0/8\n", "127.0.0.1", 0, ""},  // loopback is refused, but it listens
      // Listened on once; an edit while it runs waits for the next start.
      {"listen = 127.0.0.1, 127.0.0.1\n", "127.0.0.1", 0, "", "listen = 127.0.0.2\n", "127.0.0.1"},
      {"web_port = " + std::to_string(page) + "\n", "127.0.0.1", page,
       stays + std::to_string(page) + " is the control page's own port)"},
      {"", "127.0.0.1", busy, stays + std::to_string(busy) + " is in use by another program)"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(StoreSettings(config_, std::to_string(port_),
                              c.settings + (c.target == page ? "" : kNoPageLine)));
    ServerProcess server(config_, runtime_);
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(
        Eventually([&] { return server.Stdout().find(" listening ") != std::string::npos; }, 20s))
        << c.settings << server.Stderr();
    const uint16_t target = c.target != 0 ? c.target : FreeLoopbackPort();
    if (!c.edited.empty()) {
      ASSERT_TRUE(StoreSettings(config_, std::to_string(port_), c.edited + kNoPageLine));
    }
    const Outcome set = SetPort(target, {"XDG_RUNTIME_DIR=" + runtime_}, {});
    const uint16_t now = c.refusal.empty() ? target : port_;
    if (c.refusal.empty()) {
      EXPECT_EQ(set.code, 0) << c.settings << set.err;
      EXPECT_EQ(set.out.rfind("Quavix Server listening on port " + std::to_string(target), 0), 0u)
          << c.settings << set.out;
      if (!c.shown.empty()) {
        EXPECT_NE(set.out.find(": " + c.shown + ":" + std::to_string(target)), std::string::npos)
            << c.settings << set.out;
      }
    } else {
      EXPECT_EQ(set.code, 1) << c.settings << set.out;
      EXPECT_EQ(set.err, "quavix-server: " + c.refusal + "\n") << c.settings;
    }
    EXPECT_EQ(StoredPortText(config_), std::to_string(now)) << c.settings << "stored where it runs";
    TestClient client;
    EXPECT_TRUE(client.Connect(now, {.address = c.address, .retryFor = 2s}))
        << c.settings << "listens on " << now;
    ExpectCleanQuit(server);
  }
  close(blocker);
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

TEST_F(ServerFaultsTest, ASettingsFileThatCannotBeReadStopsStartUpAndIsNeverOverwritten) {
  // As nobody, so that a file's mode counts; the tree lets nobody through to its own folders.
  constexpr uid_t kNobody = 65534;
  ASSERT_EQ(chmod(tree_.Path().c_str(), 0711), 0);
  const std::string home = tree_.Path() + "/nobody";
  const std::string folder = home + "/config/quavix";
  const std::string file = folder + "/quavix-server.conf";
  const std::string narrow = "port = 27495\nallow = 127.0.0.1/32\n";
  struct Case {
    const char* reason;
    std::function<bool()> plant;
  };
  const Case cases[] = {
      {"Permission denied",
       [&] {
         return std::ofstream(file).write(narrow.data(), narrow.size()).good() &&
                chown(file.c_str(), kNobody, kNobody) == 0 && chmod(file.c_str(), 0) == 0;
       }},
      {"it is a folder, not a file",
       [&] {
         return mkdir(file.c_str(), 0700) == 0 && chown(file.c_str(), kNobody, kNobody) == 0;
       }},
      {"it is not a regular file",
       [&] {
         return mkfifo(file.c_str(), 0600) == 0 && chown(file.c_str(), kNobody, kNobody) == 0;
       }},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(home);
    for (const std::string& made : {home, home + "/config", folder, home + "/run"}) {
      ASSERT_EQ(mkdir(made.c_str(), 0700), 0);
      ASSERT_EQ(chown(made.c_str(), kNobody, kNobody), 0);
    }
    ASSERT_TRUE(c.plant()) << c.reason;
    const std::vector<std::string> environment =
        EnvironmentWith({"XDG_CONFIG_HOME=" + home + "/config", "XDG_RUNTIME_DIR=" + home + "/run",
                         "QT_QPA_PLATFORM=offscreen"},
                        {"DISPLAY", "WAYLAND_DISPLAY"});
    const std::string said = file + ": " + c.reason;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"--set-port", "27497"}}) {
      std::vector<std::string> command = {"setpriv", "--reuid=65534", "--regid=65534",
                                          "--clear-groups", QUAVIX_SERVER_PATH};
      command.insert(command.end(), args.begin(), args.end());
      ChildProcess server(command, &environment);
      const int code = server.Wait(10s);
      const std::string what = std::string(c.reason) + (args.empty() ? ", start" : ", --set-port");
      EXPECT_EQ(code, 1) << what << (code == -1 ? " still running" : "");
      if (code == -1) continue;
      const std::string err = server.Stderr();
      EXPECT_NE(err.find(said), std::string::npos) << what << "\n" << err;
    }
    struct stat info {};
    ASSERT_EQ(lstat(file.c_str(), &info), 0);
    if (S_ISREG(info.st_mode)) {
      ASSERT_EQ(chmod(file.c_str(), 0600), 0);
      EXPECT_EQ(FileText(file), narrow) << "left as the user wrote it";
    }
  }
}

// Whether `pid`, a child not yet reaped, has ended (a zombie), without reaping it.
bool Ended(pid_t pid) {
  const std::string stat = FileText("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  return close == std::string::npos || stat.compare(close, 3, ") Z") == 0;
}

TEST_F(ServerFaultsTest, TwoThousandMixedSignalsEndTheServerWithStatusZero) {
  // On a loaded machine the quit may take its bounded way out (_Exit) just as a thread of ours
  // finishes; the thread sanitizer would count that thread as leaked and change the status.
  const char* tsan = std::getenv("TSAN_OPTIONS");
  auto server = StartServing(
      {{"TSAN_OPTIONS", std::string(tsan != nullptr ? tsan : "") + ":report_thread_leaks=0"}});
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
