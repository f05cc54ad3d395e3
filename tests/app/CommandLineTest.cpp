#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "app/CommandLine.h"
#include "app/ServerSettings.h"
#include "base/Log.h"

namespace {

class MemoryStore final : public ISettingStore {
 public:
  std::string Location() const override { return "memory"; }
  std::string StoredName(const std::string& key) const override { return key; }
  std::optional<std::string> Read(const std::string& key) override {
    const auto it = values.find(key);
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
  bool Write(const std::string& key, const std::string& text) override {
    ++writes;
    if (refuseWrites) return false;
    values[key] = text;
    return true;
  }
  bool Remove(const std::string& key) override {
    values.erase(key);
    return true;
  }
  std::map<std::string, std::string> values;
  bool refuseWrites = false;
  int writes = 0;
};

class FakeRunningServer final : public IRunningServer {
 public:
  TellResult TellPortChanged(std::string* reason) override {
    ++told;
    if (result == TellResult::Failed) *reason = "Operation not permitted";
    if (result == TellResult::CannotTell) *reason = "/tmp/quavix-1000 is a symbolic link";
    return result;
  }
  bool AwaitGreeting(uint16_t, int, std::string* reason) override {
    if (!answers) *reason = "port 8080 is in use by another program";
    return answers;
  }
  TellResult result = TellResult::NoneRunning;
  bool answers = true;
  int told = 0;
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

  MemoryStore store_;
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
      help.out.rfind("usage: quavix-server [--verbose] [--set-port N | --help | --version]\n", 0),
      0u)
      << help.out;
  EXPECT_EQ(help.err, "");

  const Answer version = Call({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out.rfind("quavix-server ", 0), 0u) << version.out;
  EXPECT_EQ(Lines(version.out), 1u);

  EXPECT_EQ(store_.writes, 0);
  EXPECT_EQ(server_.told, 0);
}

TEST_F(CommandLineTest, SetPortStoresThenTellsTheRunningServer) {
  struct Case {
    TellResult tell;
    int code;
    const char* says;
  };
  const Case cases[] = {
      {TellResult::Told, 0, "Told the running server to move to port 8080."},
      {TellResult::NoneRunning, 0, "the next start uses port 8080."},
      {TellResult::Failed, 1,
       "could not tell the running server to move (Operation not permitted)"},
  };
  for (const Case& c : cases) {
    store_.values.clear();
    server_.result = c.tell;
    const Answer run = Call({"--set-port", "8080"});
    EXPECT_EQ(run.code, c.code) << c.says;
    EXPECT_EQ(store_.values["port"], "8080") << c.says;
    EXPECT_NE(run.out.find("Stored port 8080 in /home/u/.config/x/ServerPort."), std::string::npos)
        << run.out;
    EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
  }
  // Leading zeros are decimal, never octal; the edges of the range are ports.
  server_.result = TellResult::NoneRunning;
  EXPECT_EQ(Call({"--set-port", "0010"}).code, 0);
  EXPECT_EQ(store_.values["port"], "10");
  EXPECT_EQ(Call({"--set-port", "65535"}).code, 0);
  EXPECT_EQ(store_.values["port"], "65535");
}

TEST_F(CommandLineTest, AFailedStoreIsAnErrorAndNoServerIsTold) {
  store_.refuseWrites = true;
  server_.result = TellResult::Told;
  const Answer run = Call({"--set-port", "9000"});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "quavix-server: could not store port 9000 in /home/u/.config/x/ServerPort\n");
  EXPECT_EQ(server_.told, 0);
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
            "[--set-port N | --help | --version]; see --help\n");
  EXPECT_EQ(Call({"--set-port", "0x50"}).err,
            "quavix-server: bad port '0x50' (a whole number from 1 to 65535)\n");
  EXPECT_EQ(store_.writes, 0);
  EXPECT_EQ(server_.told, 0);
}

TEST_F(CommandLineTest, AMoveTheServerRefusesEndsWithOneAndTheOldPortStored) {
  ASSERT_TRUE(StorePort(store_, 17540));
  server_.result = TellResult::Told;
  server_.answers = false;
  const Answer run = Call({"--set-port", "8080"});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err,
            "quavix-server: the server stays on port 17540 (port 8080 is in use by another "
            "program); port 17540 stays stored\n");
  EXPECT_EQ(store_.values["port"], "17540");
}

TEST_F(CommandLineTest, NotKnowingWhetherAServerRunsStillStoresButEndsWithOne) {
  server_.result = TellResult::CannotTell;
  const Answer run = Call({"--set-port", "8080"});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(store_.values["port"], "8080");
  EXPECT_EQ(Lines(run.err), 1u) << run.err;
  EXPECT_NE(run.err.find("cannot tell whether a server is running (/tmp/quavix-1000 is a "
                         "symbolic link)"),
            std::string::npos)
      << run.err;
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
