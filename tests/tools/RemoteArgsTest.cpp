#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "remote/RemoteArgs.h"

namespace {

bool Parse(std::vector<const char*> words, RemoteArgs* args, std::string* error,
           const char* envHost = nullptr) {
  words.insert(words.begin(), "quavix-remote");
  return ParseRemoteArgs(static_cast<int>(words.size()), words.data(), envHost, args, error);
}

}  // namespace

TEST(RemoteArgs, ParsesEveryCommandWithOptionsAnywhere) {
  RemoteArgs args;
  std::string error;
  ASSERT_TRUE(Parse({"--port", "1234", "box", "set", "0"}, &args, &error)) << error;
  EXPECT_EQ(args.host, "box");
  EXPECT_EQ(args.port, 1234);
  EXPECT_EQ(args.command, RemoteCommand::Set);
  EXPECT_EQ(args.volume, 0);

  ASSERT_TRUE(Parse({"127.0.0.1", "watch", "--count", "3", "--wait", "0"}, &args, &error));
  EXPECT_EQ(args.command, RemoteCommand::Watch);
  EXPECT_EQ(args.count, 3);
  EXPECT_EQ(args.waitMs, 0);

  const std::pair<const char*, RemoteCommand> simple[] = {{"get", RemoteCommand::Get},
                                                          {"mute", RemoteCommand::Mute},
                                                          {"unmute", RemoteCommand::Unmute},
                                                          {"toggle", RemoteCommand::Toggle}};
  for (const auto& [word, command] : simple) {
    ASSERT_TRUE(Parse({"host", word}, &args, &error)) << word;
    EXPECT_EQ(args.command, command) << word;
  }
  ASSERT_TRUE(Parse({"host", "get", "--help"}, &args, &error));
  EXPECT_EQ(args.command, RemoteCommand::Help);
}

TEST(RemoteArgs, VolumeIsALevelAPercentOrAStep) {
  struct Case {
    const char* text;
    VolumeChange change;
    int32_t volume;
  };
  const Case cases[] = {
      {"50", VolumeChange::To, 50},     {"50%", VolumeChange::To, 50},
      {"007", VolumeChange::To, 7},     {"+5", VolumeChange::Up, 5},
      {"-5", VolumeChange::Down, 5},    {"-1", VolumeChange::Down, 1},
      {"+100%", VolumeChange::Up, 100},
  };
  for (const Case& c : cases) {
    RemoteArgs args;
    std::string error;
    ASSERT_TRUE(Parse({"set", c.text}, &args, &error)) << c.text << ": " << error;
    EXPECT_EQ(args.change, c.change) << c.text;
    EXPECT_EQ(args.volume, c.volume) << c.text;
  }
}

TEST(RemoteArgs, AddressIsHostPortBracketedIPv6OrTheEnvironment) {
  struct Case {
    std::vector<const char*> words;
    const char* envHost;
    const char* host;
    uint16_t port;
  };
  const Case cases[] = {
      {{"get"}, nullptr, "127.0.0.1", 17495},
      {{"get"}, "", "127.0.0.1", 17495},
      {{"box:1234", "get"}, nullptr, "box", 1234},
      {{"[::1]:17000", "get"}, nullptr, "::1", 17000},
      {{"[fe80::1%eth0]", "get"}, nullptr, "fe80::1%eth0", 17495},
      {{"::1", "get"}, nullptr, "::1", 17495},
      {{"get"}, "far:2000", "far", 2000},
      {{"--port", "3000", "get"}, "far:2000", "far", 3000},  // the command line wins
      {{"near", "get"}, "far:2000", "near", 17495},
      {{"-p", "3000", "near", "get"}, "far", "near", 3000},
  };
  for (const Case& c : cases) {
    RemoteArgs args;
    std::string error;
    ASSERT_TRUE(Parse(c.words, &args, &error, c.envHost)) << c.words[0] << ": " << error;
    EXPECT_EQ(args.host, c.host) << c.words[0];
    EXPECT_EQ(args.port, c.port) << c.words[0];
  }
}

TEST(RemoteArgs, RejectsBadArgumentsWithAReason) {
  struct Case {
    std::vector<const char*> words;
    const char* reason;
  };
  const Case bad[] = {
      {{}, "missing command"},
      {{"host"}, "missing command"},
      {{"host", "louder"}, "unknown command 'louder'"},
      {{"set"}, "set needs a VOLUME"},
      {{"set", "101"}, "bad volume '101'"},
      {{"set", "+101"}, "bad volume '+101'"},
      {{"set", "5%%"}, "bad volume '5%%'"},
      {{"set", "+-5"}, "bad volume '+-5'"},
      {{"set", " 5"}, "bad volume ' 5'"},
      {{"set", "0x10"}, "bad volume '0x10'"},
      {{"set", "99999999999999999999"}, "bad volume"},
      {{"get", "extra"}, "unexpected argument 'extra'"},
      {{"host", "mute", "50"}, "unexpected argument '50'"},
      {{"box:0", "get"}, "bad port in 'box:0'"},
      {{"box:", "get"}, "bad port in 'box:'"},
      {{":80", "get"}, "no host"},
      {{"[::1", "get"}, "in brackets"},
      {{"[::1]80", "get"}, "in brackets"},
      {{"box:80", "--port", "81", "get"}, "the port is given twice"},
      {{"--port", "65536", "get"}, "bad port '65536'"},
      {{"get", "--port"}, "--port needs a value"},
      {{"--wait", "-5", "get"}, "bad wait"},
      {{"--count", "0", "watch"}, "bad count"},
      {{"--count", "2", "get"}, "--count applies to watch only"},
      {{"--verbose", "get"}, "unknown option '--verbose'"},
      {{"host", "set", "5", "6"}, "unexpected argument '6'"},
      {{"box", "list"}, "list finds servers itself"},
      {{"--port", "80", "list"}, "list finds servers itself"},
  };
  for (const Case& c : bad) {
    RemoteArgs args;
    std::string error;
    std::string joined;
    for (const char* word : c.words) joined += std::string(word) + " ";
    EXPECT_FALSE(Parse(c.words, &args, &error)) << joined;
    EXPECT_NE(error.find(c.reason), std::string::npos) << joined << ": " << error;
  }
  RemoteArgs args;
  std::string error;
  EXPECT_FALSE(Parse({"get"}, &args, &error, "box:99999"));
  EXPECT_EQ(error.rfind("QUAVIX_HOST: bad port", 0), 0u) << error;
}

TEST(RemoteArgs, TheManualPageNamesEveryOptionOfTheUsage) {
  std::ifstream in(QUAVIX_SOURCE_DIR "/res/man/quavix-remote.1");
  const std::string page{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_FALSE(page.empty());
  const std::string usage = RemoteUsage();
  int options = 0;
  for (size_t at = usage.find("--"); at != std::string::npos; at = usage.find("--", at + 2)) {
    const size_t end = usage.find_first_of(" ]:\n", at);
    const std::string option = usage.substr(at + 2, end - at - 2);
    ++options;
    // roff writes a dash as \-.
    EXPECT_NE(page.find("\\-\\-" + option), std::string::npos) << "--" << option;
  }
  EXPECT_GE(options, 3);
}
