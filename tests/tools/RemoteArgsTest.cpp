#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "remote/RemoteArgs.h"

namespace {

bool Parse(std::vector<const char*> words, RemoteArgs* args, std::string* error) {
  words.insert(words.begin(), "quavix-remote");
  return ParseRemoteArgs(static_cast<int>(words.size()), words.data(), args, error);
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

  ASSERT_TRUE(Parse({"box", "set", "100", "-p", "65535"}, &args, &error)) << error;
  EXPECT_EQ(args.volume, 100);
  EXPECT_EQ(args.port, 65535);

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
    EXPECT_EQ(args.port, 17495) << "default port";
  }
  ASSERT_TRUE(Parse({"host", "get", "--help"}, &args, &error));
  EXPECT_EQ(args.command, RemoteCommand::Help);
}

TEST(RemoteArgs, RejectsBadArgumentsWithAReason) {
  const std::vector<std::vector<const char*>> bad = {
      {},
      {"host"},
      {"host", "louder"},
      {"host", "set"},
      {"host", "set", "101"},
      {"host", "set", "-1"},
      {"host", "set", "+5"},
      {"host", "set", "50%"},
      {"host", "set", " 5"},
      {"host", "set", "99999999999999999999"},
      {"host", "get", "extra"},
      {"host", "mute", "50"},
      {"--port", "0", "host", "get"},
      {"--port", "65536", "host", "get"},
      {"--port", "12ab", "host", "get"},
      {"host", "get", "--port"},
      {"--wait", "-5", "host", "get"},
      {"--count", "0", "host", "watch"},
      {"--count", "2", "host", "get"},
      {"--verbose", "host", "get"},
      {"host", "set", "5", "6"},
  };
  for (const auto& words : bad) {
    RemoteArgs args;
    std::string error;
    std::string joined;
    for (const char* word : words) joined += std::string(word) + " ";
    EXPECT_FALSE(Parse(words, &args, &error)) << joined;
    EXPECT_FALSE(error.empty()) << joined;
  }
}
