// The Windows announcement against fake dnsapi.dll calls (under Wine nothing may go out on the
// machine's network), and the Run value in Wine's registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/win32/RunValueStartAtLogin.h"
#include "base/Log.h"
#include "base/win32/WideText.h"
#include "net/discovery/win32/DnsSdServiceAnnouncer.h"

namespace {

// What the fake calls saw, in order, and how many instances are alive.
struct DnsSdRecord {
  std::vector<std::string> calls;
  int liveInstances = 0;
  DWORD registerResult = kDnsRequestPending;
} gRecord;

std::string Describe(const DNS_SERVICE_INSTANCE* instance) {
  std::string text = Narrow(instance->pszInstanceName) + " " + Narrow(instance->pszHostName) + " " +
                     std::to_string(instance->wPort);
  for (DWORD i = 0; i < instance->dwPropertyCount; ++i) {
    text += " " + Narrow(instance->keys[i]) + "=" + Narrow(instance->values[i]);
  }
  return text;
}

PWSTR Copy(PCWSTR text) {
  const size_t length = wcslen(text) + 1;
  auto* copy = new wchar_t[length];
  wmemcpy(copy, text, length);
  return copy;
}

PDNS_SERVICE_INSTANCE WINAPI FakeConstruct(PCWSTR name, PCWSTR host, PIP4_ADDRESS, PIP6_ADDRESS,
                                           WORD port, WORD, WORD, DWORD count, PCWSTR* keys,
                                           PCWSTR* values) {
  auto* instance = new DNS_SERVICE_INSTANCE{};
  instance->pszInstanceName = Copy(name);
  instance->pszHostName = Copy(host);
  instance->wPort = port;
  instance->dwPropertyCount = count;
  instance->keys = new PWSTR[count];
  instance->values = new PWSTR[count];
  for (DWORD i = 0; i < count; ++i) {
    instance->keys[i] = Copy(keys[i]);
    instance->values[i] = Copy(values[i]);
  }
  ++gRecord.liveInstances;
  return instance;
}

VOID WINAPI FakeFree(PDNS_SERVICE_INSTANCE instance) {
  for (DWORD i = 0; i < instance->dwPropertyCount; ++i) {
    delete[] instance->keys[i];
    delete[] instance->values[i];
  }
  delete[] instance->keys;
  delete[] instance->values;
  delete[] instance->pszInstanceName;
  delete[] instance->pszHostName;
  delete instance;
  --gRecord.liveInstances;
}

DWORD WINAPI FakeRegister(PDNS_SERVICE_REGISTER_REQUEST request, PDNS_SERVICE_CANCEL) {
  const bool complete = request->Version == DNS_QUERY_REQUEST_VERSION1 &&
                        request->pRegisterCompletionCallback != nullptr;
  gRecord.calls.push_back(std::string(complete ? "register " : "incomplete ") +
                          Describe(request->pServiceInstance));
  return gRecord.registerResult;
}

DWORD WINAPI FakeDeregister(PDNS_SERVICE_REGISTER_REQUEST request, PDNS_SERVICE_CANCEL) {
  gRecord.calls.push_back("deregister " + Describe(request->pServiceInstance));
  return kDnsRequestPending;
}

const DnsSdCalls kFakeCalls{&FakeConstruct, &FakeFree, &FakeRegister, &FakeDeregister};

class DnsSdAnnouncerTest : public ::testing::Test {
 protected:
  void SetUp() override { gRecord = DnsSdRecord{}; }
  std::string Log() { return log_.str(); }
  std::ostringstream log_;
  ScopedLogStream scoped_{log_};
};

const std::string kService = "Quavix Server on box._quavix._tcp.local box.local ";

TEST_F(DnsSdAnnouncerTest, AnnouncesOnceFollowsThePortAndWithdrawsAtTheEnd) {
  {
    DnsSdServiceAnnouncer announcer(kFakeCalls, "box.example.org");
    announcer.Announce(17495);
    announcer.Announce(17495);  // the same port: nothing to do
    announcer.Announce(17496);
    announcer.Withdraw();
    announcer.Withdraw();
    announcer.Announce(17497);
  }
  EXPECT_EQ(gRecord.calls, (std::vector<std::string>{
                               "register " + kService + "17495 txtvers=1",
                               "deregister " + kService + "17495 txtvers=1",
                               "register " + kService + "17496 txtvers=1",
                               "deregister " + kService + "17496 txtvers=1",
                               "register " + kService + "17497 txtvers=1",
                               "deregister " + kService + "17497 txtvers=1",
                           }));
  EXPECT_EQ(gRecord.liveInstances, 0);
  EXPECT_EQ(Log(), "");
}

TEST_F(DnsSdAnnouncerTest, ARefusalIsSaidOnceAndEachNewPortIsTriedAgain) {
  gRecord.registerResult = ERROR_ACCESS_DENIED;
  {
    DnsSdServiceAnnouncer announcer(kFakeCalls, "box");
    announcer.Announce(17495);
    announcer.Announce(17496);
    gRecord.registerResult = kDnsRequestPending;
    announcer.Announce(17497);
  }
  ASSERT_EQ(gRecord.calls.size(), 4u);
  EXPECT_EQ(gRecord.calls[2], "register " + kService + "17497 txtvers=1");
  EXPECT_EQ(gRecord.calls[3], "deregister " + kService + "17497 txtvers=1");
  EXPECT_EQ(gRecord.liveInstances, 0);
  const std::string log = Log();
  EXPECT_NE(log.find("cannot announce the server on the network: error 5"), std::string::npos);
  EXPECT_EQ(log.find('\n'), log.size() - 1) << "one line: " << log;
}

TEST_F(DnsSdAnnouncerTest, AWindowsWithoutTheCallsIsToldOnceAndServesUnannounced) {
  {
    DnsSdServiceAnnouncer announcer(std::nullopt, "box");
    announcer.Announce(17495);
    announcer.Withdraw();
  }
  const std::string log = Log();
  EXPECT_NE(log.find("cannot announce the server on the network"), std::string::npos);
  EXPECT_EQ(log.find('\n'), log.size() - 1) << "one line: " << log;
}

class RunValueTest : public ::testing::Test {
 protected:
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey); }
  static constexpr const wchar_t* kTestKey = L"Software\\QuavixTests\\Run";
};

TEST_F(RunValueTest, OnWritesTheQuotedProgramUnderTheInstallersNameAndOffRemovesIt) {
  RunValueStartAtLogin login(L"C:\\Program Files\\Quavix Server\\QuavixServer.exe", kTestKey);
  EXPECT_FALSE(login.Enabled());
  EXPECT_TRUE(login.SetEnabled(false));  // nothing to remove is no failure

  ASSERT_TRUE(login.SetEnabled(true));
  EXPECT_TRUE(login.Enabled());
  wchar_t value[MAX_PATH] = {};
  DWORD size = sizeof value;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kTestKey, L"Quavix Server", RRF_RT_REG_SZ, nullptr,
                         value, &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(value, L"\"C:\\Program Files\\Quavix Server\\QuavixServer.exe\"");

  ASSERT_TRUE(login.SetEnabled(false));
  EXPECT_FALSE(login.Enabled());
}

TEST_F(RunValueTest, AValueTheInstallerWroteCountsAsOn) {
  const wchar_t installed[] = L"\"C:\\Elsewhere\\QuavixServer.exe\"";
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kTestKey, L"Quavix Server", REG_SZ, installed,
                            sizeof installed),
            ERROR_SUCCESS);
  RunValueStartAtLogin login(L"C:\\Program Files\\Quavix Server\\QuavixServer.exe", kTestKey);
  EXPECT_TRUE(login.Enabled());
}

}  // namespace
