#pragma once
// A fixture for tests of the real quavix-server: a private setting folder holding a free
// loopback port, a runtime folder of its own, and the fixture's sound server required.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "ServerProcess.h"

inline const std::vector<uint8_t> kGreeting = {0x19, 0xC8, 0xDE, 0x00};

class RealServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("QUAVIX_SOUND_SERVER") == nullptr) {
      if (std::getenv("QUAVIX_REQUIRE_SOUND_SERVER") != nullptr) {
        FAIL() << "no sound server (run under tests/fixtures/with-sound-server.sh)";
      }
      GTEST_SKIP() << "no sound server";
    }
    config_ = tree_.Path() + "/config";
    runtime_ = tree_.Path() + "/run";
    mkdir(runtime_.c_str(), 0700);
    port_ = FreeLoopbackPort();
    ASSERT_NE(port_, 0);
    ASSERT_TRUE(StorePort(config_, port_));
  }

  // Quits through SIGTERM and expects the clean path: exit code 0.
  void ExpectCleanQuit(ServerProcess& server) {
    server.Signal(SIGTERM);
    const std::optional<int> status = server.WaitForExit();
    ASSERT_TRUE(status.has_value()) << "still running after SIGTERM";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status << "\n"
                                                                 << server.Stderr();
  }

  TempTree tree_;
  std::string config_;
  std::string runtime_;
  uint16_t port_ = 0;
};
