// The real quavix-server's command line, and the process id its instance guard records.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "ServerProcess.h"
#include "fakes/ChildProcess.h"

namespace {

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

// The server with `args`, where Qt could not start at all: a display-less environment with a
// platform plugin that does not exist.
Outcome RunServer(const std::string& configHome, const std::string& runtimeDir,
                  std::vector<std::string> args) {
  args.insert(args.begin(), QUAVIX_SERVER_PATH);
  const std::vector<std::string> environment =
      EnvironmentWith({"XDG_CONFIG_HOME=" + configHome, "XDG_RUNTIME_DIR=" + runtimeDir,
                       "QT_QPA_PLATFORM=no-such-platform"},
                      {"DISPLAY", "WAYLAND_DISPLAY"});
  ChildProcess server(args, &environment);
  std::string out;
  for (std::string line; !(line = server.ReadLine(5s)).empty();) out += line + "\n";
  const int code = server.Wait(10s);
  return {code, out, server.Stderr()};
}

}  // namespace

TEST(ServerCommandLine, AnswersBeforeAnyDisplayIsTouchedAndStoresThePort) {
  TempTree tree;
  const std::string config = tree.Path() + "/config";
  const std::string runtime = tree.Path() + "/run";
  mkdir(runtime.c_str(), 0700);

  const Outcome version = RunServer(config, runtime, {"--version"});
  EXPECT_EQ(version.code, 0) << version.err;
  EXPECT_EQ(version.out.rfind("quavix-server ", 0), 0u) << version.out;
  EXPECT_EQ(version.err, "");

  const std::string file = config + "/quavix/quavix-server.conf";
  const Outcome set = RunServer(config, runtime, {"--set-port", "9000"});
  EXPECT_EQ(set.code, 0) << set.err;
  EXPECT_EQ(set.out, "Stored port 9000 in " + file +
                         ".\nNo server is running; the next start uses port 9000.\n");
  EXPECT_EQ(FileText(file), "[server]\nport=9000\n");

  const Outcome bad = RunServer(config, runtime, {"--set-port", "90000"});
  EXPECT_EQ(bad.code, 2);
  EXPECT_EQ(bad.err, "quavix-server: bad port '90000' (a whole number from 1 to 65535)\n");
  EXPECT_EQ(FileText(file), "[server]\nport=9000\n") << "left as it was";
}

TEST(ServerCommandLine, SetPortMovesTheRunningServer) {
  if (std::getenv("QUAVIX_SOUND_SERVER") == nullptr) {
    if (std::getenv("QUAVIX_REQUIRE_SOUND_SERVER") != nullptr) FAIL() << "no sound server";
    GTEST_SKIP() << "no sound server";
  }
  TempTree tree;
  const std::string config = tree.Path() + "/config";
  const std::string runtime = tree.Path() + "/run";
  mkdir(runtime.c_str(), 0700);
  const uint16_t port = FreeLoopbackPort();
  ASSERT_TRUE(StorePort(config, port));
  ServerProcess server(config, runtime);
  ASSERT_TRUE(server.Start());
  TestClient client;
  ASSERT_TRUE(client.Connect(port)) << server.Stderr();  // start-up is done
  EXPECT_EQ(FileText(runtime + "/QuavixServer_INSTANCE_LIMITER"),
            std::to_string(server.Pid()) + "\n");

  const uint16_t next = FreeLoopbackPort();
  const Outcome set = RunServer(config, runtime, {"--set-port", std::to_string(next)});
  EXPECT_EQ(set.code, 0) << set.err;
  EXPECT_NE(set.out.find("Told the running server to move to port " + std::to_string(next)),
            std::string::npos)
      << set.out;
  TestClient moved;
  ASSERT_TRUE(moved.Connect(next)) << server.Stderr();
  EXPECT_EQ(moved.Read(4), (std::vector<uint8_t>{0x19, 0xC8, 0xDE, 0x00}));
}
