// Which networks are local, and the gate that closes the door on the rest (with a fake clock for
// its rate-limited lines).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fakes/CapturedLog.h"
#include "fakes/FakeClock.h"
#include "net/ClientGate.h"

namespace {

IpAddress Ip(const char* text) {
  const std::optional<IpAddress> address = ParseIpAddress(text);
  EXPECT_TRUE(address) << text;
  return address.value_or(IpAddress{});
}

TEST(IpNetwork, BothFamiliesAndTheMappedFormsOfIPv4) {
  const IpNetwork net = *ParseIpNetwork("192.168.1.77/24");
  EXPECT_TRUE(net.Contains(Ip("192.168.1.1")));
  EXPECT_TRUE(net.Contains(Ip("::ffff:192.168.1.200"))) << "as a dual-stack socket reports it";
  EXPECT_FALSE(net.Contains(Ip("192.168.2.1")));
  EXPECT_FALSE(net.Contains(Ip("::192.168.1.1"))) << "IPv4-compatible is not IPv4";
  EXPECT_TRUE(ParseIpNetwork("2001:db8::/32")->Contains(Ip("2001:db8:ffff::1")));
  EXPECT_FALSE(ParseIpNetwork("2001:db8::/32")->Contains(Ip("2001:db9::1")));
  EXPECT_TRUE(ParseIpNetwork("0.0.0.0/0")->Contains(Ip("203.0.113.9")));
  EXPECT_FALSE(ParseIpNetwork("0.0.0.0/0")->Contains(Ip("2001:db8::1"))) << "IPv4 only";
  EXPECT_TRUE(ParseIpNetwork("10.0.0.5")->Contains(Ip("10.0.0.5")));
  // The mapped range in IPv6 terms: the prefix counts all 128 bits.
  ASSERT_TRUE(ParseIpNetwork("::ffff:0:0/96"));
  EXPECT_TRUE(ParseIpNetwork("::ffff:0:0/96")->Contains(Ip("203.0.113.9")));
  EXPECT_FALSE(ParseIpNetwork("::ffff:0:0/96")->Contains(Ip("2001:db8::1")));
  EXPECT_TRUE(ParseIpNetwork("::ffff:10.0.0.0/104")->Contains(Ip("10.200.0.1")));
  EXPECT_FALSE(ParseIpNetwork("::ffff:10.0.0.0/104")->Contains(Ip("11.0.0.1")));
  for (const char* bad : {"10.0.0.0/33", "::/129", "10.0.0.0/", "10.0.0/8", "any", "10.0.0.0/8x",
                          "fe80::1%eth0", "[::1]", ""}) {
    EXPECT_FALSE(ParseIpNetwork(bad)) << bad;
  }
}

TEST(ClientGate, ServesOnlyTheLocalNetworksByDefault) {
  FakeClock clock;
  ClientGate gate(clock);
  CapturedLog log;
  // Each default network by its first and last address, and the addresses just outside it.
  const struct {
    const char* first;
    const char* last;
    const char* below;
    const char* above;
  } networks[] = {
      {"127.0.0.0", "127.255.255.255", "126.255.255.255", "128.0.0.0"},
      {"::1", "::1", "::", "::2"},
      {"10.0.0.0", "10.255.255.255", "9.255.255.255", "11.0.0.0"},
      {"172.16.0.0", "172.31.255.255", "172.15.255.255", "172.32.0.0"},
      {"192.168.0.0", "192.168.255.255", "192.167.255.255", "192.169.0.0"},
      {"169.254.0.0", "169.254.255.255", "169.253.255.255", "169.255.0.0"},
      {"100.64.0.0", "100.127.255.255", "100.63.255.255", "100.128.0.0"},
      {"fc00::", "fdff:ffff:ffff:ffff:ffff:ffff:ffff:ffff",
       "fbff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "fe00::"},
      {"fe80::", "febf:ffff:ffff:ffff:ffff:ffff:ffff:ffff",
       "fe7f:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "fec0::"},
  };
  for (const auto& net : networks) {
    std::vector<std::string> forms = {""};
    // A dual-stack socket sees an IPv4 client in its mapped form.
    if (std::strchr(net.first, ':') == nullptr) forms.push_back("::ffff:");
    for (const std::string& form : forms) {
      EXPECT_TRUE(gate.Admit(Ip((form + net.first).c_str()), 0)) << form << net.first;
      EXPECT_TRUE(gate.Admit(Ip((form + net.last).c_str()), 0)) << form << net.last;
      EXPECT_FALSE(gate.Admit(Ip((form + net.below).c_str()), 0)) << form << net.below;
      EXPECT_FALSE(gate.Admit(Ip((form + net.above).c_str()), 0)) << form << net.above;
    }
  }
  for (const char* outside : {"203.0.113.5", "8.8.8.8", "2001:db8::1", "::ffff:203.0.113.5"}) {
    EXPECT_FALSE(gate.Admit(Ip(outside), 0)) << outside;
  }
  gate.SetPolicy({true, {}, 4096});
  EXPECT_TRUE(gate.Admit(Ip("2001:db8::1"), 0));
  gate.SetPolicy({false, {*ParseIpNetwork("203.0.113.0/24")}, 4096});
  EXPECT_TRUE(gate.Admit(Ip("203.0.113.5"), 0));
  EXPECT_FALSE(gate.Admit(Ip("192.168.0.9"), 0)) << "the list replaces the default";
}

TEST(ClientGate, RefusalsAreLoggedOncePerSourceAMinuteAndTheBoundOnceAMinute) {
  FakeClock clock;
  ClientGate gate(clock);
  gate.SetPolicy({false, {}, 2});
  CapturedLog log;
  for (int i = 0; i < 100; ++i) {
    EXPECT_FALSE(gate.Admit(Ip("203.0.113.5"), 0));
    EXPECT_FALSE(gate.Admit(Ip("203.0.113.6"), 0));
    EXPECT_FALSE(gate.Admit(Ip("10.0.0.1"), 2));
  }
  EXPECT_TRUE(gate.Admit(Ip("10.0.0.1"), 1));
  std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("refused a client from 203.0.113.5: not in the allowed networks"),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[2].find("2 clients are connected already (setting max_clients)"),
            std::string::npos)
      << lines[2];
  clock.Advance(59999);
  gate.Admit(Ip("203.0.113.5"), 0);
  gate.Admit(Ip("10.0.0.1"), 2);
  EXPECT_EQ(log.Lines().size(), 3u);
  clock.Advance(1);
  gate.Admit(Ip("203.0.113.5"), 0);
  gate.Admit(Ip("10.0.0.1"), 2);
  EXPECT_EQ(log.Lines().size(), 5u);
  // A scan from many sources is remembered within a bound, and still logs each new one at most
  // once a minute.
  for (uint32_t i = 0; i < 10000; ++i) {
    IpAddress source = Ip("2001:db8::");
    std::memcpy(source.bytes.data() + 12, &i, sizeof i);
    gate.Admit(source, 0);
  }
  EXPECT_LE(log.Lines().size(), 5u + 4096u);
}

}  // namespace
