#include <gtest/gtest.h>

#include <string>

#include "app/ServerSettings.h"
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
  EXPECT_TRUE(LinesOf([&] { settings = LoadServerSettings(store); }).empty());
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
  store.values = {{"port", " 8080 "},        {"announce", "off"},
                  {"listen", "192.168.1.20, ::1"}, {"allow", "192.168.1.0/24,2001:db8::/32"},
                  {"max_clients", "20000"},  {"web_port", "0"}};
  const ServerSettings settings = LoadServerSettings(store);
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
  EXPECT_TRUE(LoadServerSettings(store).access.anyone);
}

// A stored 0 once made the server listen on a port the system chose, which no client finds.
TEST(ServerSettings, StoredPortZeroMeansNotSet) {
  FakeSettingStore store;
  store.SetPort(0);
  ServerSettings settings;
  EXPECT_TRUE(LinesOf([&] { settings = LoadServerSettings(store); }).empty());
  EXPECT_EQ(settings.port, 17495);
}

TEST(ServerSettings, EachBadValueGivesOneLineNamingWhereAndTheDefault) {
  struct Case {
    const char* key;
    const char* value;
    const char* says;
  };
  const Case cases[] = {
      {"port", "65536", "settings.conf: port: '65536' is not a port from 1 to 65535; using 17495"},
      {"port", "-1", "using 17495"},
      {"announce", "maybe", "announce: 'maybe' is neither true nor false; using true"},
      {"listen", "192.168.1.300", "listen: bad entry '192.168.1.300'"},
      {"allow", "10.0.0.0/33 bogus", "allow: bad entries '10.0.0.0/33', 'bogus'"},
      {"max_clients", "0", "max_clients: '0' is not a number from 1 to 1000000; using 4096"},
      {"max_clients", "4096x", "using 4096"},
      {"web_port", "http", "web_port: 'http' is not a port from 1 to 65535; using 17496"},
  };
  for (const Case& c : cases) {
    FakeSettingStore store;
    store.values[c.key] = c.value;
    ServerSettings settings;
    const std::vector<std::string> lines = LinesOf([&] { settings = LoadServerSettings(store); });
    ASSERT_EQ(lines.size(), 1u) << c.key << "=" << c.value;
    EXPECT_NE(lines[0].find(c.says), std::string::npos) << lines[0];
    const ServerSettings defaults;
    EXPECT_EQ(settings.port, defaults.port);
    EXPECT_EQ(settings.announce, defaults.announce);
    EXPECT_TRUE(settings.listen.empty());
    EXPECT_FALSE(settings.access.anyone);
    EXPECT_TRUE(settings.access.networks.empty()) << "a typo never opens the door";
    EXPECT_EQ(settings.access.maxClients, defaults.access.maxClients);
    EXPECT_EQ(settings.webPort, defaults.webPort);
  }
}

TEST(ServerSettings, BadListEntriesAreNamedAndTheRestKept) {
  FakeSettingStore store;
  store.values["allow"] = "10.1.0.0/16, 10.2.0.0/99, any-thing";
  ServerSettings settings;
  const auto lines = LinesOf([&] { settings = LoadServerSettings(store); });
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
  EXPECT_EQ(LoadServerSettings(store).port, 9000);
}

}  // namespace
