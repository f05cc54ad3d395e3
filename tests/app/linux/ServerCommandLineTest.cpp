// The real quavix-server's command line, and the process id its instance guard records.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

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

// What `--pair` printed: the link's parts and how many rows of half blocks follow it.
struct PrintedPairing {
  std::string host;
  std::string port;
  std::string code;  // after "#pair="
  int qrRows = 0;
};

PrintedPairing ReadPairing(const std::string& out) {
  static const std::string kScheme = "http://";
  static const std::string kFragment = "/#pair=";
  PrintedPairing printed;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const size_t fragment = line.find(kFragment);
    if (line.rfind(kScheme, 0) == 0 && fragment != std::string::npos) {
      const std::string endpoint = line.substr(kScheme.size(), fragment - kScheme.size());
      const size_t colon = endpoint.rfind(':');
      if (colon == std::string::npos) continue;
      printed.host = endpoint.substr(0, colon);
      printed.port = endpoint.substr(colon + 1);
      printed.code = line.substr(fragment + kFragment.size());
    } else if (!printed.code.empty() && (line.find("\u2580") != std::string::npos ||
                                         line.find("\u2584") != std::string::npos)) {
      ++printed.qrRows;
    }
  }
  return printed;
}

bool IsLowerHex(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
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
  EXPECT_EQ(set.out,
            "No server is running; port 9000 is stored in " + file + " for the next start.\n");
  EXPECT_EQ(FileText(file), "[server]\nport=9000\n");

  const Outcome bad = RunServer(config, runtime, {"--set-port", "90000"});
  EXPECT_EQ(bad.code, 2);
  EXPECT_EQ(bad.err, "quavix-server: bad port '90000' (a whole number from 1 to 65535)\n");
  EXPECT_EQ(FileText(file), "[server]\nport=9000\n") << "left as it was";

  // A person's file keeps its comments, order and unknown keys; only the port changes (and
  // GKeyFile sets each section off by a blank line).
  std::ofstream(file, std::ios::trunc) << "# mine\n[server]\n; the flat only\nallow=10.0.0.0/8\n"
                                          "port=9000\nfuture=1\n";
  const Outcome edited = RunServer(config, runtime, {"--set-port", "9001"});
  EXPECT_EQ(edited.code, 0) << edited.err;
  EXPECT_EQ(FileText(file),
            "# mine\n\n[server]\n; the flat only\nallow=10.0.0.0/8\nport=9001\nfuture=1\n");
}

TEST(ServerCommandLine, SetPortMovesTheRunningServerAndPairGivesItsCode) {
  if (std::getenv("QUAVIX_SOUND_SERVER") == nullptr) {
    if (std::getenv("QUAVIX_REQUIRE_SOUND_SERVER") != nullptr) FAIL() << "no sound server";
    GTEST_SKIP() << "no sound server";
  }
  TempTree tree;
  const std::string config = tree.Path() + "/config";
  const std::string runtime = tree.Path() + "/run";
  mkdir(runtime.c_str(), 0700);
  const uint16_t port = FreeLoopbackPort();
  const uint16_t pagePort = FreeLoopbackPort();
  // With the page, and every network served, so a pairing link can name whatever address this
  // machine has.
  ASSERT_TRUE(StoreSettings(config, std::to_string(port),
                            "web_port = " + std::to_string(pagePort) + "\nallow = any\n"));
  ServerProcess server(config, runtime);
  ASSERT_TRUE(server.Start());
  TestClient client;
  ASSERT_TRUE(client.Connect(port, kWhileStarting)) << server.Stderr();  // start-up is done
  EXPECT_EQ(FileText(runtime + "/QuavixServer_INSTANCE_LIMITER"),
            std::to_string(server.Pid()) + "\n");

  const uint16_t next = FreeLoopbackPort();
  const Outcome set = RunServer(config, runtime, {"--set-port", std::to_string(next)});
  EXPECT_EQ(set.code, 0) << set.err;
  EXPECT_EQ(set.out.rfind("Quavix Server listening on port " + std::to_string(next), 0), 0u)
      << set.out;
  TestClient moved;
  ASSERT_TRUE(moved.Connect(next, kWhileStarting)) << server.Stderr();
  EXPECT_EQ(moved.Read(4), (std::vector<uint8_t>{0x19, 0xC8, 0xDE, 0x00}));

  // The running server gives a pairing code: a link a phone can open, with the code only in the
  // fragment, and the QR code of it drawn in half blocks.
  const Outcome pair = RunServer(config, runtime, {"--pair"});
  EXPECT_EQ(pair.code, 0) << pair.err;
  EXPECT_EQ(pair.err, "");
  const PrintedPairing printed = ReadPairing(pair.out);
  EXPECT_FALSE(printed.host.empty()) << pair.out;
  EXPECT_EQ(printed.host.rfind("127.", 0), std::string::npos) << "no phone reaches loopback";
  EXPECT_NE(printed.host, "[::1]");
  EXPECT_NE(printed.host, "localhost");
  EXPECT_EQ(printed.port, std::to_string(pagePort));
  EXPECT_EQ(printed.code.size(), 32u) << "128 bits in hex: " << pair.out;
  EXPECT_TRUE(IsLowerHex(printed.code)) << pair.out;
  EXPECT_GE(printed.qrRows, 15) << "a QR code of the link below it: " << pair.out;
  EXPECT_NE(ReadPairing(RunServer(config, runtime, {"--pair"}).out).code, printed.code)
      << "each code pairs one phone";

  server.Signal(SIGTERM);
  ASSERT_TRUE(server.WaitForExit());
  const Outcome none = RunServer(config, runtime, {"--pair"});
  EXPECT_EQ(none.code, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err,
            "quavix-server: no server is running to pair a phone with; start quavix-server "
            "first\n");
}
