// What the server is called on the local network.
#include <gtest/gtest.h>

#include <string>

#include "net/discovery/DnsSdService.h"

namespace {

TEST(DnsSdService, TheAnnouncedNameTakesTheShortHostNameAndFitsADnsLabel) {
  EXPECT_EQ(ServiceInstanceName("box.example.org"), "Quavix Server on box");
  EXPECT_EQ(ServiceInstanceName(""), "Quavix Server on ");
  const std::string longName = ServiceInstanceName(std::string(60, 'h'));
  EXPECT_EQ(longName, "Quavix Server on " + std::string(63 - 17, 'h'));
  // "é" is two bytes: one that would straddle the 63rd byte goes whole.
  const std::string cut = ServiceInstanceName(std::string(45, 'h') + "\xC3\xA9");
  EXPECT_EQ(cut, "Quavix Server on " + std::string(45, 'h'));
}

}  // namespace
