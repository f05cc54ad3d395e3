#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "app/CommandLine.h"
#include "app/ServerSettings.h"
#include "base/Log.h"
#include "fakes/FakeShellPlatform.h"

namespace {

class FakeRunningServer final : public IRunningServer {
 public:
  AskResult Ask(const std::string& request, std::string* reply, std::string* reason) override {
    asked.push_back(request);
    *reply = answer;
    *reason = why;
    return result;
  }
  AskResult result = AskResult::NoneRunning;
  std::string answer;
  std::string why;
  std::vector<std::string> asked;
};

struct Answer {
  std::optional<int> code;
  std::string out;
  std::string err;
};

class CommandLineTest : public ::testing::Test {
 protected:
  Answer Call(std::vector<std::string> args) {
    std::ostringstream out, err;
    const ScopedLogStream log(err);
    const std::optional<int> code = RunCommandLine(args, services_, out);
    return {code, out.str(), err.str()};
  }

  FakeSettingStore store_;
  FakeRunningServer server_;
  CommandLineServices services_{"quavix-server", store_, "/home/u/.config/x/ServerPort", server_};
};

size_t Lines(const std::string& text) {
  return std::count(text.begin(), text.end(), '\n');
}

}  // namespace

TEST_F(CommandLineTest, OnlyNoArgumentsStartsTheServer_HelpAndVersionTouchNothing) {
  EXPECT_EQ(Call({}).code, std::nullopt);
  EXPECT_FALSE(LogVerbose());
  // --verbose starts the server too, with notes shown, and goes with any other request.
  EXPECT_EQ(Call({"--verbose"}).code, std::nullopt);
  EXPECT_TRUE(LogVerbose());
  EXPECT_EQ(Call({"--help", "--verbose"}).code, 0);
  SetLogVerbose(false);

  const Answer help = Call({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(
      help.out.rfind(
          "usage: quavix-server [--verbose] [--set-port N | --pair | --help | --version]\n", 0),
      0u)
      << help.out;
  EXPECT_EQ(help.err, "");

  const Answer version = Call({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out.rfind("quavix-server ", 0), 0u) << version.out;
  EXPECT_EQ(Lines(version.out), 1u);

  EXPECT_EQ(store_.writes, 0);
  EXPECT_TRUE(server_.asked.empty());
}

TEST_F(CommandLineTest, SetPortAsksTheRunningServerWhichMovesAndStoresItself) {
  struct Case {
    AskResult result;
    const char* answer;  // the reply line, or the reason the asking failed
    int code;
    const char* says;  // on stdout for 0, else in the log
    bool stored;       // whether this process stored the port
  };
  const Case cases[] = {
      {AskResult::Answered, "ok Quavix Server listening on port 8080: 192.168.1.20:8080", 0,
       "Quavix Server listening on port 8080: 192.168.1.20:8080\n", false},
      {AskResult::Answered,
       "error the server stays on port 17540 (port 8080 is in use by another program)", 1,
       "quavix-server: the server stays on port 17540 (port 8080 is in use by another "
       "program)\n",
       false},
      {AskResult::Answered, "moved\x1b[2J", 1,
       "quavix-server: the running server's answer is not understood: 'moved\\x1B[2J'\n", false},
      {AskResult::NoneRunning, "", 0,
       "No server is running; port 8080 is stored in /home/u/.config/x/ServerPort for the next "
       "start.\n",
       true},
      {AskResult::Failed, "no reply in time", 1,
       "quavix-server: the running server did not answer (no reply in time); port 8080 was not "
       "stored\n",
       false},
      {AskResult::CannotTell, "/tmp/quavix-1000 is a symbolic link", 1,
       "quavix-server: cannot tell whether a server is running (/tmp/quavix-1000 is a symbolic "
       "link); port 8080 is stored for the next start, and a running one keeps its port until "
       "then\n",
       true},
  };
  for (const Case& c : cases) {
    store_.values.clear();
    server_.result = c.result;
    (c.result == AskResult::Answered ? server_.answer : server_.why) = c.answer;
    const Answer run = Call({"--set-port", "8080"});
    EXPECT_EQ(run.code, c.code) << c.answer;
    EXPECT_EQ(c.code == 0 ? run.out : run.err, c.says) << c.answer;
    EXPECT_EQ(c.code == 0 ? run.err : run.out, "") << c.answer;
    EXPECT_EQ(store_.values.count("port"), c.stored ? 1u : 0u) << c.answer;
    EXPECT_EQ(server_.asked.back(), "port 8080");
  }
  // Leading zeros are decimal, never octal; the edges of the range are ports.
  server_.result = AskResult::NoneRunning;
  EXPECT_EQ(Call({"--set-port", "0010"}).code, 0);
  EXPECT_EQ(store_.values["port"], "10");
  EXPECT_EQ(Call({"--set-port", "65535"}).code, 0);
  EXPECT_EQ(store_.values["port"], "65535");
}

TEST_F(CommandLineTest, PairPrintsTheRunningServersLinkAndItsQrCodeOrSaysWhyNot) {
  const std::string link = "http://192.168.1.20:17496/#pair=" + std::string(32, 'a');
  struct Case {
    AskResult result;
    std::string answer;  // the reply line, or the reason the asking failed
    std::string says;    // the log's line; empty when it pairs
  };
  const Case cases[] = {
      {AskResult::Answered, "ok " + link, ""},
      {AskResult::Answered, "error pairing is off (setting pairing)",
       "quavix-server: no phone can be paired now: pairing is off (setting pairing)\n"},
      {AskResult::NoneRunning, "",
       "quavix-server: no server is running to pair a phone with; start quavix-server first\n"},
      {AskResult::Failed, "no reply in time",
       "quavix-server: the running server did not answer (no reply in time)\n"},
  };
  for (const Case& c : cases) {
    server_.result = c.result;
    (c.result == AskResult::Answered ? server_.answer : server_.why) = c.answer;
    const Answer run = Call({"--pair"});
    EXPECT_EQ(server_.asked.back(), "pair");
    EXPECT_EQ(run.code, c.says.empty() ? 0 : 1) << c.answer;
    EXPECT_EQ(run.err, c.says);
    if (!c.says.empty()) {
      EXPECT_EQ(run.out, "");
      continue;
    }
    EXPECT_NE(run.out.find("\n" + link + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\u2588\u2588\u2588\u2588"), std::string::npos) << "a QR code below";
  }
  EXPECT_EQ(store_.writes, 0);
}

TEST_F(CommandLineTest, AFailedStoreWithNoServerRunningIsAnError) {
  store_.writeResult = false;
  const Answer run = Call({"--set-port", "9000"});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "quavix-server: could not store port 9000 in /home/u/.config/x/ServerPort\n");
}

TEST_F(CommandLineTest, AnythingElseIsOneLineOnStderrAndExit2WithNothingStored) {
  const std::vector<std::vector<std::string>> bad = {
      {"--set-port", ""},
      {"--set-port", "0"},
      {"--set-port", "65536"},
      {"--set-port", "-1"},
      {"--set-port", "+80"},
      {"--set-port", " 80"},
      {"--set-port", "80 "},
      {"--set-port", "0x50"},
      {"--set-port", "4294967376"},
      {"--set-port", "99999999999999999999999"},
      {"--set-port"},
      {"--set-port", "80", "81"},
      {"--port", "80"},
      {"-h"},
      {"--help", "--version"},
      {"start"},
      {""},
  };
  for (const auto& args : bad) {
    std::string joined;
    for (const std::string& arg : args) joined += "'" + arg + "' ";
    const Answer run = Call(args);
    EXPECT_EQ(run.code, 2) << joined;
    EXPECT_EQ(run.out, "") << joined;
    EXPECT_EQ(Lines(run.err), 1u) << joined << run.err;
    EXPECT_EQ(run.err.rfind("quavix-server: ", 0), 0u) << joined << run.err;
  }
  EXPECT_EQ(Call({"--frobnicate"}).err,
            "quavix-server: unexpected '--frobnicate'; usage: quavix-server [--verbose] "
            "[--set-port N | --pair | --help | --version]; see --help\n");
  EXPECT_EQ(Call({"--set-port", "0x50"}).err,
            "quavix-server: bad port '0x50' (a whole number from 1 to 65535)\n");
  EXPECT_EQ(store_.writes, 0);
  EXPECT_TRUE(server_.asked.empty());
}

TEST_F(CommandLineTest, VerboseShowsNotesBesideTheErrors) {
  std::ostringstream log;
  const ScopedLogStream capture(log);
  LogNote("hidden");
  LogError("always");
  Call({"--verbose"});
  LogNote("shown");
  SetLogVerbose(false);
  EXPECT_EQ(log.str(), "quavix-server: always\nquavix-server: shown\n");
}
