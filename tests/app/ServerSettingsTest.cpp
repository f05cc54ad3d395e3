#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "app/ServerSettings.h"
#include "app/SettingTable.h"
#include "fakes/CapturedLog.h"
#include "fakes/FakeShellPlatform.h"

namespace {

// The lines the settings log while `load` runs.
template <typename Load>
std::vector<std::string> LinesOf(Load&& load) {
  CapturedLog log;
  load();
  return log.Lines();
}

TEST(ServerSettings, NothingStoredGivesEveryDefaultSilently) {
  FakeSettingStore store;
  ServerSettings settings;
  EXPECT_TRUE(LinesOf([&] { settings = LoadedSettings(store); }).empty());
  EXPECT_EQ(settings.port, 17495);
  EXPECT_TRUE(settings.announce);
  EXPECT_TRUE(settings.listen.empty());
  EXPECT_FALSE(settings.access.anyone);
  EXPECT_TRUE(settings.access.networks.empty());
  EXPECT_EQ(settings.access.maxClients, 4096u);
  EXPECT_EQ(settings.webPort, 17496);
  EXPECT_TRUE(store.values.empty()) << "reading creates nothing";
}

TEST(ServerSettings, GoodValuesAreTaken) {
  FakeSettingStore store;
  store.values = {{"port", " 8080 "},
                  {"announce", "off"},
                  {"listen", "192.168.1.20, ::1"},
                  {"allow", "192.168.1.0/24,2001:db8::/32"},
                  {"max_clients", "20000"},
                  {"web_port", "0"}};
  const ServerSettings settings = LoadedSettings(store);
  EXPECT_EQ(settings.port, 8080);
  EXPECT_FALSE(settings.announce);
  ASSERT_EQ(settings.listen.size(), 2u);
  EXPECT_EQ(IpAddressText(settings.listen[1]), "::1");
  ASSERT_EQ(settings.access.networks.size(), 2u);
  EXPECT_TRUE(settings.access.networks[0].Contains(*ParseIpAddress("192.168.1.77")));
  EXPECT_FALSE(settings.access.networks[0].Contains(*ParseIpAddress("192.168.2.1")));
  EXPECT_EQ(settings.access.maxClients, 20000u);
  EXPECT_EQ(settings.webPort, 0) << "0 turns the page off";
  store.values = {{"allow", "ANY"}};
  EXPECT_TRUE(LoadedSettings(store).access.anyone);
}

// A stored 0 once made the server listen on a port the system chose, which no client finds.
TEST(ServerSettings, StoredPortZeroMeansNotSet) {
  FakeSettingStore store;
  store.SetPort(0);
  ServerSettings settings;
  EXPECT_TRUE(LinesOf([&] { settings = LoadedSettings(store); }).empty());
  EXPECT_EQ(settings.port, 17495);
}

TEST(ServerSettings, EachBadValueGivesOneLineNamingWhereAndTheDefault) {
  struct Case {
    std::string key;
    std::string value;
    std::string says;
  };
  const std::string flood = "\x1b[31m\x07" + std::string(1 << 20, 'x');
  const Case cases[] = {
      {"port", "65536", "settings.conf: port: '65536' is not a port from 1 to 65535; using 17495"},
      {"port", "-1", "using 17495"},
      {"announce", "maybe", "announce: 'maybe' is neither true nor false; using true"},
      {"listen", "192.168.1.300", "listen: bad entry '192.168.1.300'"},
      {"allow", "10.0.0.0/33 bogus", "allow: bad entries '10.0.0.0/33', 'bogus'"},
      {"max_clients", "0", "max_clients: '0' is not a number from 1 to 1000000; using 4096"},
      {"max_clients", "4096x", "using 4096"},
      {"web_port", "http", "web_port: 'http' is not a port from 1 to 65535; using 17496"},
      // Plain text, never an object to rebuild; shown cut short and with its controls escaped.
      {"port", "@Variant(\\0\\0\\0\\x7f\\xff\\xff\\xff\\xff)",
       "port: '@Variant(\\\\0\\\\0\\\\0\\\\x7f\\\\xff\\\\xff\\\\xff\\\\xff)' is not a port"},
      {"port", flood, "port: '\\x1B[31m\\x07xxx"},
      {"listen", "::1 " + flood, "listen: bad entry '\\x1B[31m\\x07xxx"},
  };
  for (const Case& c : cases) {
    FakeSettingStore store;
    store.values[c.key] = c.value;
    ServerSettings settings;
    const std::vector<std::string> lines = LinesOf([&] { settings = LoadedSettings(store); });
    ASSERT_EQ(lines.size(), 1u) << c.key << "=" << c.value.substr(0, 40);
    EXPECT_NE(lines[0].find(c.says), std::string::npos) << lines[0];
    EXPECT_LT(lines[0].size(), 200u) << lines[0];
    EXPECT_EQ(lines[0].find_first_of("\x1b\x07"), std::string::npos) << lines[0];
    FakeSettingStore empty;
    const ServerSettings defaults = LoadedSettings(empty);
    EXPECT_EQ(settings.port, defaults.port);
    EXPECT_EQ(settings.announce, defaults.announce);
    EXPECT_LE(settings.listen.size(), 1u);
    EXPECT_FALSE(settings.access.anyone);
    EXPECT_TRUE(settings.access.networks.empty()) << "a typo never opens the door";
    EXPECT_EQ(settings.access.maxClients, defaults.access.maxClients);
    EXPECT_EQ(settings.webPort, defaults.webPort);
  }
}

TEST(ServerSettings, WhatIsNoSettingIsNamedAndAStoreThatCannotBeReadGivesNothing) {
  FakeSettingStore store;
  store.unknown = {"section [Server]", "key Port"};
  const std::vector<std::string> lines = LinesOf([&] { LoadedSettings(store); });
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "quavix-server: settings.conf: section [Server] is no setting of ours; ignored\n",
                "quavix-server: settings.conf: key Port is no setting of ours; ignored\n"}));

  store.readable = false;
  ServerSettings settings;
  settings.port = 1234;
  std::string problem;
  EXPECT_FALSE(LoadServerSettings(store, &settings, &problem));
  EXPECT_EQ(problem, "settings.conf: Permission denied");
  EXPECT_EQ(settings.port, 1234) << "nothing taken from a store that cannot be read";
}

TEST(ServerSettings, ListenAndAllowDescribeTheServerThatRuns) {
  struct Case {
    const char* key;
    const char* value;
    std::vector<std::string> taken;  // the addresses or networks, as the server will use them
    const char* says;                // the one line, or "" for none
  };
  const Case cases[] = {
      {"listen", "127.0.0.1, 127.0.0.1", {"127.0.0.1"}, "'127.0.0.1' already listened on"},
      {"listen", "0.0.0.0, 127.0.0.1 ::1", {"0.0.0.0", "::1"}, "'127.0.0.1' already listened on"},
      {"listen", ":: ::1 192.168.1.2", {"::", "192.168.1.2"}, "'::1' already listened on"},
      {"listen",
       "fe80::1",
       {},
       "'fe80::1': link-local, which is listened on only with an "
       "interface this setting cannot name (:: listens on every IPv6 "
       "address); listening on every address"},
      {"listen", "fe80::1%eth0, ::1", {"::1"}, "'fe80::1%eth0': link-local"},
      {"allow", "::ffff:0:0/96", {"0.0.0.0/96"}, ""},  // every IPv4 address
  };
  for (const Case& c : cases) {
    FakeSettingStore store;
    store.values[c.key] = c.value;
    ServerSettings settings;
    const std::vector<std::string> lines = LinesOf([&] { settings = LoadedSettings(store); });
    std::vector<std::string> taken;
    for (const IpAddress& address : settings.listen) taken.push_back(IpAddressText(address));
    for (const IpNetwork& network : settings.access.networks) {
      taken.push_back(IpAddressText(network.base) + "/" + std::to_string(network.prefix));
    }
    EXPECT_EQ(taken, c.taken) << c.value;
    ASSERT_EQ(lines.size(), std::string(c.says).empty() ? 0u : 1u) << c.value;
    if (!lines.empty()) {
      EXPECT_NE(lines[0].find(c.says), std::string::npos) << lines[0];
    }
  }
}

TEST(ServerSettings, BadListEntriesAreNamedAndTheRestKept) {
  FakeSettingStore store;
  store.values["allow"] = "10.1.0.0/16, 10.2.0.0/99, any-thing";
  ServerSettings settings;
  const auto lines = LinesOf([&] { settings = LoadedSettings(store); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("'10.2.0.0/99', 'any-thing'"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("ignored"), std::string::npos) << lines[0];
  ASSERT_EQ(settings.access.networks.size(), 1u);
  EXPECT_FALSE(settings.access.anyone);
}

TEST(ServerSettings, AllowOutsideIsAnyOrTheDefault) {
  FakeSettingStore store;
  store.values["allow"] = "192.168.1.0/24";
  ASSERT_TRUE(StoreAllowOutside(store, true));
  EXPECT_EQ(store.values["allow"], "any");
  ASSERT_TRUE(StoreAllowOutside(store, false));
  EXPECT_EQ(store.values.count("allow"), 0u);
  ASSERT_TRUE(StorePort(store, 9000));
  EXPECT_EQ(LoadedSettings(store).port, 9000);
}

}  // namespace

TEST(ServerSettings, TheReadmeNamesEverySettingWithItsStoredNameAndDefault) {
  std::ifstream in(QUAVIX_SOURCE_DIR "/README.md");
  const std::string readme{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const size_t start = readme.find("\n### Settings\n");
  ASSERT_NE(start, std::string::npos) << "no Settings section";
  const std::string section = readme.substr(start, readme.find("\n#", start + 1) - start);
  for (const Setting* setting : kSettings) {
    const size_t row = section.find("\n| `" + std::string(setting->key) + "` |");
    ASSERT_NE(row, std::string::npos) << setting->key;
    const std::string line = section.substr(row + 1, section.find('\n', row + 1) - row - 1);
    EXPECT_NE(line.find("`" + std::string(setting->registryName) + "`"), std::string::npos) << line;
    if (!setting->defaultText.empty()) {
      EXPECT_NE(line.find("`" + std::string(setting->defaultText) + "`"), std::string::npos)
          << line;
    }
  }
}
