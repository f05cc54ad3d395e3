#include <gtest/gtest.h>

#include "net/win32/WinsockStartup.h"

namespace {

// A scripted Winsock: what WSAStartup answers and grants, and how often each call was made.
struct ScriptedStack {
  static inline int startupResult = 0;
  static inline WORD granted = MAKEWORD(2, 2);
  static inline WORD requested = 0;
  static inline int startups = 0;
  static inline int cleanups = 0;

  static int WSAAPI Startup(WORD version, LPWSADATA data) {
    ++startups;
    requested = version;
    data->wVersion = granted;
    return startupResult;
  }
  static int WSAAPI Cleanup() {
    ++cleanups;
    return 0;
  }
  static void Reset(int result, WORD grant) {
    startupResult = result;
    granted = grant;
    requested = 0;
    startups = cleanups = 0;
  }
};

const WinsockApi kScripted{&ScriptedStack::Startup, &ScriptedStack::Cleanup};

}  // namespace

TEST(WinsockStartup, AsksForTwoTwoAndKeepsItWhenGranted) {
  ScriptedStack::Reset(0, MAKEWORD(2, 2));
  EXPECT_EQ(StartNetworkingWith(kScripted), NetStartResult::Ok);
  EXPECT_EQ(ScriptedStack::requested, 0x0202);
  EXPECT_EQ(ScriptedStack::cleanups, 0);
}

TEST(WinsockStartup, OtherGrantedVersionsAreStoppedAgain) {
  for (WORD granted : {MAKEWORD(1, 1), MAKEWORD(2, 0), MAKEWORD(2, 1), MAKEWORD(1, 2),
                       MAKEWORD(3, 2)}) {
    ScriptedStack::Reset(0, granted);
    EXPECT_EQ(StartNetworkingWith(kScripted), NetStartResult::WrongVersion) << std::hex << granted;
    EXPECT_EQ(ScriptedStack::cleanups, 1) << std::hex << granted;
  }
}

TEST(WinsockStartup, FailedStartupIsNotCleanedUp) {
  ScriptedStack::Reset(WSAVERNOTSUPPORTED, MAKEWORD(2, 2));
  EXPECT_EQ(StartNetworkingWith(kScripted), NetStartResult::Failed);
  EXPECT_EQ(ScriptedStack::cleanups, 0);
}

TEST(WinsockStartup, RealStackGrantsTwoTwo) {
  ASSERT_EQ(StartNetworking(), NetStartResult::Ok);
  StopNetworking();
}
