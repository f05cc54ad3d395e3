#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/Log.h"
#include "fakes/Eventually.h"
#include "remote/RemoteCommands.h"
#include "remote/ServerBrowser.h"
#include "support/ScriptedTcpServer.h"

namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kHello = {0x19, 0xC8, 0xDE, 0x00};

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// "2026-12-07T12:34:56.789Z " followed by `state` and a newline. (std::regex trips a GCC 12
// false -Wmaybe-uninitialized under ASan, so the pattern is checked by hand.)
bool IsTimestampedLine(const std::string& text, const std::string& state) {
  const std::string pattern = "dddd-dd-ddTdd:dd:dd.dddZ ";
  if (text.size() != pattern.size() + state.size() + 1 || text.back() != '\n') return false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (pattern[i] == 'd' ? !digit : text[i] != pattern[i]) return false;
  }
  return text.compare(pattern.size(), state.size(), state) == 0;
}

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

Outcome RunRemoteWith(uint16_t port, std::vector<std::string> words, int stopFd = -1) {
  std::vector<std::string> storage = {"quavix-remote", "--port", std::to_string(port),
                                      "--wait",        "150",    "127.0.0.1"};
  storage.insert(storage.end(), words.begin(), words.end());
  std::vector<const char*> argv;
  for (const std::string& word : storage) argv.push_back(word.c_str());
  std::ostringstream out, err;
  const ScopedLogStream log(err);
  const int code = RemoteMain(static_cast<int>(argv.size()), argv.data(), out, stopFd);
  return {code, out.str(), err.str()};
}

// A server that sends `bytes` and then holds the connection until the client leaves.
void Greets(ScriptedTcpServer& server, Bytes bytes) {
  server.Serve([bytes](TestClient& client) {
    client.Send(bytes);
    client.ReadToEnd();
  });
}

}  // namespace

TEST(RemoteGet, PrintsTheStateThatFollowsTheGreeting) {
  ScriptedTcpServer server;
  Greets(server, Concat(kHello, {0x9E}));
  const Outcome got = RunRemoteWith(server.Port(), {"get"});
  EXPECT_EQ(got.code, kExitOk) << got.err;
  EXPECT_EQ(got.out, "muted, 30\n");
}

TEST(RemoteGet, TakesUnmuted100WhenNothingFollowsTheGreeting) {
  ScriptedTcpServer server;
  Greets(server, kHello);
  const Outcome got = RunRemoteWith(server.Port(), {"get"});
  EXPECT_EQ(got.code, kExitOk) << got.err;
  EXPECT_EQ(got.out, "unmuted, 100\n");
}

TEST(RemoteGet, SkipsKeepAlivesAndTakesTheLatestQueuedState) {
  ScriptedTcpServer server;
  Greets(server, Concat(kHello, {0xFF, 0x28, 0xFF, 0x80, 0xFF}));
  const Outcome got = RunRemoteWith(server.Port(), {"get"});
  EXPECT_EQ(got.code, kExitOk) << got.err;
  EXPECT_EQ(got.out, "muted, 0\n");
}

TEST(RemoteGet, AcceptsAGreetingSplitAcrossSegments) {
  ScriptedTcpServer server;
  server.Serve([](TestClient& client) {
    for (uint8_t byte : Concat(kHello, {0x32})) {
      client.Send(byte);
      usleep(2000);  // lets each byte travel on its own; the client must not care either way
    }
    client.ReadToEnd();
  });
  const Outcome got = RunRemoteWith(server.Port(), {"get"});
  EXPECT_EQ(got.code, kExitOk) << got.err;
  EXPECT_EQ(got.out, "unmuted, 50\n");
}

TEST(RemoteErrors, EachFailureHasItsExitCodeAndAMessage) {
  struct Case {
    const char* name;
    Bytes bytes;
    bool closeAfter;
    int code;
    const char* message;
  };
  const Case cases[] = {
      {"wrong greeting", {0x48, 0x54, 0x54, 0x50, 0x2F}, false, kExitNotServer, "wrong greeting"},
      {"closed at once", {}, true, kExitConnection, "before the greeting"},
      {"closed in greeting", {0x19, 0xC8}, true, kExitNotServer, "inside the greeting"},
      {"closed after greeting", kHello, true, kExitConnection, "closed"},
      {"byte that is no state", Concat(kHello, {0x65}), false, kExitNotServer, "0x65"},
  };
  for (const Case& c : cases) {
    ScriptedTcpServer server;
    server.Serve([&c](TestClient& client) {
      client.Send(c.bytes);
      if (!c.closeAfter) client.ReadToEnd();
    });
    const Outcome got = RunRemoteWith(server.Port(), {"get"});
    EXPECT_EQ(got.code, c.code) << c.name << ": " << got.err;
    EXPECT_NE(got.err.find(c.message), std::string::npos) << c.name << ": " << got.err;
    EXPECT_EQ(got.out, "") << c.name;
  }
}

TEST(RemoteErrors, NoServerListening) {
  uint16_t port;
  {
    ScriptedTcpServer reserved;  // a port that was free a moment ago and is closed again
    port = reserved.Port();
  }
  const Outcome got = RunRemoteWith(port, {"get"});
  EXPECT_EQ(got.code, kExitNoServer);
  EXPECT_NE(got.err.find("cannot connect"), std::string::npos) << got.err;
}

TEST(RemoteErrors, BadArgumentIsOneLineWithAHint) {
  const Outcome got = RunRemoteWith(1, {"set", "150"});
  EXPECT_EQ(got.code, kExitBadArgument);
  EXPECT_EQ(got.err, "quavix-remote: bad volume '150' (0 to 100, N%, +N or -N); see --help\n");
}

TEST(RemoteChange, PrintsTheStateTheServerReportsToAnotherClient) {
  struct Case {
    std::vector<std::string> command;
    uint8_t initial;  // the server's state
    Bytes sent;       // what reached the server
    const char* printed;
  };
  const Case cases[] = {
      {{"set", "40"}, 0x9E, {0xA8}, "muted, 40\n"},  // keeps the mute bit
      {{"set", "007%"}, 0x64, {0x07}, "unmuted, 7\n"},
      {{"set", "+5"}, 0x28, {0x2D}, "unmuted, 45\n"},  // steps from the current volume
      {{"set", "-1"}, 0x28, {0x27}, "unmuted, 39\n"},
      {{"set", "-50"}, 0xA8, {0x80}, "muted, 0\n"},  // kept within 0..100
      {{"set", "+80%"}, 0x28, {0x64}, "unmuted, 100\n"},
      {{"mute"}, 0x28, {0xA8}, "muted, 40\n"},     // keeps the volume
      {{"toggle"}, 0x64, {0xE4}, "muted, 100\n"},  // from the default the server implies
      // Nothing to change: the server would report nothing, so nothing is sent.
      {{"unmute"}, 0x28, {}, "unmuted, 40\n"},
      {{"set", "+10"}, 0x64, {}, "unmuted, 100\n"},
  };
  for (const Case& c : cases) {
    ScriptedTcpServer server;
    server.Relay(c.initial, /*applies=*/true);
    const Outcome got = RunRemoteWith(server.Port(), c.command);
    EXPECT_EQ(got.code, kExitOk) << c.command[0] << ": " << got.err;
    EXPECT_EQ(got.out, c.printed) << c.command[0];
    EXPECT_EQ(server.Received(), c.sent) << c.command[0];
  }
}

TEST(RemoteChange, FailsWhenTheServerDoesNotReportTheChange) {
  ScriptedTcpServer server;
  server.Relay(0x3C, /*applies=*/false);
  const Outcome got = RunRemoteWith(server.Port(), {"set", "+5"});
  EXPECT_EQ(got.code, kExitNotConfirmed);
  EXPECT_EQ(got.err,
            "quavix-remote: the server did not confirm the change within 2 s (the volume stays "
            "unmuted, 60)\n");
  EXPECT_EQ(got.out, "");
  EXPECT_TRUE(Eventually([&] { return server.Received() == Bytes{0x41}; })) << "request sent";
}

// Another client's change reaches the tool's watcher before the tool's own: that is no
// confirmation, the tool's own state is.
TEST(RemoteChange, AnotherClientsChangeIsNotTakenForTheConfirmation) {
  ScriptedTcpServer server;
  server.Run([&server] {
    TestClient watcher = server.Accept();  // the tool's first connection: told unmuted 40
    watcher.Send(Concat(kHello, {0x28}));
    TestClient command = server.Accept();
    command.Send(kHello);
    if (const std::optional<uint8_t> request = command.ReadByte()) {
      watcher.Send({0x32, *request});  // someone set 50 just before
    }
    watcher.ReadToEnd();
  });
  const Outcome got = RunRemoteWith(server.Port(), {"set", "+5"});
  server.Join();
  EXPECT_EQ(got.code, kExitOk) << got.err;
  EXPECT_EQ(got.out, "unmuted, 45\n");
}

TEST(RemoteWatch, CountStopsAfterTheInitialState) {
  ScriptedTcpServer server;
  Greets(server, Concat(kHello, {0xFF, 0x28}));
  const Outcome got = RunRemoteWith(server.Port(), {"watch", "--count", "1"});
  EXPECT_EQ(got.code, kExitOk) << got.err;
  EXPECT_TRUE(IsTimestampedLine(got.out, "unmuted, 40")) << got.out;
}

TEST(RemoteWatch, EndsWithAnErrorWhenTheServerCloses) {
  ScriptedTcpServer server;
  server.Serve([](TestClient& client) { client.Send(Concat(kHello, {0x28})); });
  const Outcome got = RunRemoteWith(server.Port(), {"watch"});
  EXPECT_EQ(got.code, kExitConnection);
  EXPECT_NE(got.err.find("closed"), std::string::npos) << got.err;
  EXPECT_NE(got.out.find("unmuted, 40"), std::string::npos) << got.out;
}

TEST(RemoteWatch, EndsCleanlyWhenStopped) {
  ScriptedTcpServer server;
  Greets(server, kHello);
  int stop[2];
  ASSERT_EQ(pipe(stop), 0);
  ASSERT_EQ(write(stop[1], "x", 1), 1);  // already stopped: must not wait for the server
  const Outcome got = RunRemoteWith(server.Port(), {"watch"}, stop[0]);
  close(stop[0]);
  close(stop[1]);
  EXPECT_EQ(got.code, kExitOk) << got.err;
}

TEST(RemoteList, NamesFromTheNetworkAreShownEscapedSoEachLineHasItsFields) {
  struct Case {
    std::string name;
    std::string shown;
  };
  const Case cases[] = {
      {"Quavix Server on study", "Quavix Server on study"},
      {"Quavix Server on bank\tbank.local\t6.6.6.6:1",
       "Quavix Server on bank\\tbank.local\\t6.6.6.6:1"},
      {"Quavix Server on a\nForged\tline", "Quavix Server on a\\nForged\\tline"},
      {"Quavix Server on \x1b[31mred\x07\x9b", "Quavix Server on \\x1B[31mred\\x07\\x9B"},
      {"Quavix Server on \xc2\x9b"
       "csi \\ caf\xc3\xa9",
       "Quavix Server on \\u009Bcsi \\\\ caf\xc3\xa9"},
  };
  for (const Case& c : cases) {
    const std::string line = FoundServerLine({c.name, "host\r.local", {"192.0.2.1:17495"}});
    EXPECT_EQ(line, c.shown + "\thost\\r.local\t192.0.2.1:17495");
  }
}
