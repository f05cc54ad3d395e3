// The real announcer against the avahi-daemon that tests/app/linux/announce-on-veth.sh runs on
// a private bus and a veth of its own: what it announces and withdraws reaches the daemon while
// the process lives on. Run by that script, which exports the bus's address and names the
// daemon's configuration; the check refuses any daemon that is not confined by
// allow-interfaces, so nothing is ever announced on the machine's real interfaces.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

#include "fakes/Eventually.h"
#include "net/discovery/linux/AvahiServiceAnnouncer.h"

namespace {

using namespace std::chrono_literals;

// The ports avahi-browse finds the service named `name` on (as it writes a name: a space is
// \032), whatever the address family.
std::set<std::string> PortsOf(const std::string& name) {
  std::set<std::string> ports;
  std::FILE* browse = popen("timeout 10 avahi-browse -rpt _quavix._tcp 2>/dev/null", "r");
  if (browse == nullptr) return ports;
  char line[1024];
  while (std::fgets(line, sizeof line, browse) != nullptr) {
    // =;interface;protocol;name;type;domain;host;address;port;txt
    std::string fields[10];
    size_t field = 0;
    for (const char* c = line; *c != '\0' && *c != '\n' && field < 10; ++c) {
      if (*c == ';') {
        ++field;
      } else {
        fields[field] += *c;
      }
    }
    if (fields[0] == "=" && fields[3] == name) ports.insert(fields[8]);
  }
  pclose(browse);
  return ports;
}

// Whether the daemon's configuration at `path` confines it to named interfaces.
bool ConfinedToInterfaces(const char* path) {
  std::ifstream conf(path != nullptr ? path : "");
  std::string line;
  while (std::getline(conf, line)) {
    if (line.rfind("allow-interfaces=", 0) == 0 && line.size() > 17) return true;
  }
  return false;
}

}  // namespace

TEST(AvahiServiceAnnouncer, AnnouncesMovesAndWithdrawsWhileTheProcessLivesOn) {
  ASSERT_NE(std::getenv("DBUS_SYSTEM_BUS_ADDRESS"), nullptr) << "run by announce-on-veth.sh";
  ASSERT_TRUE(ConfinedToInterfaces(std::getenv("QUAVIX_AVAHI_CONF")))
      << "the daemon's configuration (QUAVIX_AVAHI_CONF) must set allow-interfaces to the veth";
  const std::string name = "Quavix\\032Server\\032on\\032quavix-check";
  const auto announcedOn = [&](std::set<std::string> ports) {
    return Eventually([&] { return PortsOf(name) == ports; }, 15s);
  };
  AvahiServiceAnnouncer announcer("quavix-check");
  announcer.Announce(17601);
  EXPECT_TRUE(announcedOn({"17601"}));
  announcer.Announce(17602);
  EXPECT_TRUE(announcedOn({"17602"}));
  // As after a move whose way back failed too: nobody answers there any more.
  announcer.Withdraw();
  EXPECT_TRUE(announcedOn({}));
  EXPECT_TRUE(announcer.Stop(2000));
}
