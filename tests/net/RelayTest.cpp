#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "ServerFixture.h"
#include "net/linux/OpenFileLimit.h"
#include "net/server/SendPool.h"

namespace {

using Bytes = std::vector<uint8_t>;
using RelayTest = ServerFixture;

std::optional<uint8_t> Byte(uint8_t value) {
  return value;
}

TEST_F(RelayTest, ARequestReachesTheVolumeControl) {
  auto client = Connect();
  Request(*client, 0xB2);
  EXPECT_EQ(volume.Requests().back(), (VolumeState{1, 50}));
}

TEST_F(RelayTest, AChangeReachesEveryoneButTheClientThatAskedForIt) {
  volume.echoSetState = true;
  auto a = Connect();
  auto b = Connect();
  auto c = Connect();
  Request(*a, 0x32);
  EXPECT_EQ(b->ReadByte(), Byte(0x32));
  EXPECT_EQ(c->ReadByte(), Byte(0x32));
  EXPECT_EQ(retry.Arms(), 0);
  ExpectNothingPending(*a);
  ExpectNothingPending(*b);
}

TEST_F(RelayTest, TheExampleExchange) {
  volume.SetDeviceState({0, 40});
  auto a = std::make_unique<TestClient>(port);
  auto b = std::make_unique<TestClient>(port);
  EXPECT_EQ(a->Read(5), (Bytes{0x19, 0xC8, 0xDE, 0x00, 0x28}));
  EXPECT_EQ(b->Read(5), (Bytes{0x19, 0xC8, 0xDE, 0x00, 0x28}));
  ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 2; }));
  clock.Set(0);
  auto c = std::make_unique<TestClient>(port);
  EXPECT_EQ(c->Read(5), (Bytes{0x19, 0xC8, 0xDE, 0x00, 0x28}));
  ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 3; }));

  clock.Set(1000);
  Request(*a, 0x32);
  volume.Report({0, 50});
  EXPECT_EQ(b->ReadByte(), Byte(0x32));
  EXPECT_EQ(c->ReadByte(), Byte(0x32));

  clock.Set(2000);
  Request(*c, 0x3C);
  volume.Report({0, 60});
  EXPECT_EQ(a->ReadByte(), Byte(0x3C));
  EXPECT_EQ(b->ReadByte(), Byte(0x3C));

  clock.Set(2200);
  volume.Report({0, 70});
  EXPECT_EQ(a->ReadByte(), Byte(0x46));
  EXPECT_EQ(b->ReadByte(), Byte(0x46));
  EXPECT_EQ(retry.Arms(), 1);

  clock.Set(2700);
  EXPECT_FALSE(relay.BroadcastState());  // the retry's tick
  EXPECT_EQ(c->ReadByte(), Byte(0x46));

  relay.SendKeepAlive();
  for (auto* client : {a.get(), b.get(), c.get()}) EXPECT_EQ(client->ReadByte(), Byte(0xFF));
}

TEST_F(RelayTest, ABusyClientGetsNothingUntilItIsQuietThenOnlyWhatDiffers) {
  volume.echoSetState = true;
  auto busy = Connect();
  auto other = Connect();
  for (uint8_t v = 20; v < 30; ++v) {
    Request(*busy, v);
    EXPECT_EQ(other->ReadByte(), Byte(v));
    clock.Advance(50);
  }
  clock.Advance(1000);
  EXPECT_FALSE(relay.BroadcastState());
  ExpectNothingPending(*busy);
}

TEST_F(RelayTest, ADifferentReportedStateIsRetriedAfterTheHoldOff) {
  auto client = Connect();
  Request(*client, 29);
  clock.Advance(100);
  volume.Report({0, 28});
  EXPECT_EQ(retry.Arms(), 1);
  clock.Advance(399);
  EXPECT_TRUE(relay.BroadcastState()) << "still inside the hold-off";
  clock.Advance(1);
  EXPECT_FALSE(relay.BroadcastState());
  EXPECT_EQ(client->ReadByte(), Byte(28));
}

TEST_F(RelayTest, EveryDeferringReportArmsTheRetryAgain) {
  auto client = Connect();
  Request(*client, 10);
  for (int i = 1; i <= 4; ++i) {
    clock.Advance(100);
    volume.Report({0, 10 + i});
    EXPECT_EQ(retry.Arms(), i);
  }
  clock.Advance(100);  // 500 ms after the request: quiet now
  volume.Report({0, 15});
  EXPECT_EQ(retry.Arms(), 4);
  EXPECT_EQ(client->ReadByte(), Byte(15));
}

TEST_F(RelayTest, NothingToSendArmsNothing) {
  volume.Report({1, 5});  // nobody connected
  EXPECT_EQ(retry.Arms(), 0);
  auto client = Connect();
  EXPECT_EQ(client->ReadByte(), Byte(0x85));
  Request(*client, 0x85);  // asks for what it has: inside its hold-off now
  volume.Report({1, 5});   // a repeated report of an unchanged state
  EXPECT_EQ(retry.Arms(), 0);
  ExpectNothingPending(*client);
}

// B's change is written toward A; A sends its own request some time later. Soon after, the two
// may have crossed on the wire: A reads B's state after sending its own and believes it, so
// once A has been quiet for the hold-off it is told the true state. Later, A had read B's state
// before it asked, and hears nothing of its own request.
TEST_F(RelayTest, AClientWhoseRequestCrossedAStateByteIsToldTheTruth) {
  const struct {
    uint32_t gapMs;  // from the byte written toward A to A's request
    bool crossed;
  } cases[] = {{200, true}, {HOLD_OFF_MS - 1, true}, {HOLD_OFF_MS, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.gapMs);
    volume.SetDeviceState({});  // each pair is greeted alike, with no state byte
    ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 0; }));
    auto a = Connect();
    auto b = Connect();
    Request(*b, 10);
    volume.Report({0, 10});
    clock.Advance(c.gapMs);
    Request(*a, 20);
    volume.Report({0, 20});
    EXPECT_EQ(a->ReadByte(), Byte(10)) << "read only now, after A sent 20";
    clock.Advance(HOLD_OFF_MS);  // both are quiet now: the retry's tick
    relay.OnVolumeChanged();
    EXPECT_EQ(b->ReadByte(), Byte(20));
    if (c.crossed) {
      EXPECT_EQ(a->ReadByte(), Byte(20)) << "A shows 10 while the system is at 20";
    }
    ExpectNothingPending(*a);
  }
}

TEST_F(RelayTest, KeepAlivesIgnoreTheHoldOffAndLeaveTheRecordAlone) {
  auto client = Connect();
  Request(*client, 0x40);
  relay.SendKeepAlive();
  EXPECT_EQ(client->ReadByte(), Byte(0xFF));
  volume.SetDeviceState({0, 0x40});
  EXPECT_FALSE(relay.BroadcastState()) << "the keep-alive changed nothing: the state is known";
  volume.SetDeviceState({0, 0x41});
  EXPECT_TRUE(relay.BroadcastState()) << "and the hold-off still runs";
}

TEST_F(RelayTest, TheChangeCallbackBroadcastsWhatTheControlHoldsNow) {
  auto client = Connect();
  volume.SetDeviceState({0, 33});
  const VolumeState stale{1, 99};
  OnVolumeChanged(0, &stale);
  EXPECT_EQ(client->ReadByte(), Byte(33));
  OnVolumeChanged(0, nullptr);
  ExpectNothingPending(*client);
}

// A change whose own broadcast finished while an older broadcast was between its read and its
// pass must not be overwritten by that older pass.
TEST_F(RelayTest, ABroadcastOvertakenByAChangeEndsWithTheNewerState) {
  auto client = Connect();
  volume.SetDeviceState({0, 40});
  // Only the broadcast's own read counts: the accept thread may still be reading for the
  // newcomer.
  const std::thread::id broadcaster = std::this_thread::get_id();
  volume.SetAfterRead([&] {
    if (std::this_thread::get_id() != broadcaster) return;
    volume.SetAfterRead(nullptr);
    volume.SetDeviceState({0, 41});
  });
  OnVolumeChanged(0, nullptr);
  EXPECT_EQ(client->ReadByte(), Byte(40));
  EXPECT_EQ(client->ReadByte(), Byte(41));
}

TEST_F(RelayTest, ABroadcastFailingForOneClientServesTheRest) {
  auto first = Connect();
  auto leaving = Connect();
  auto last = Connect();
  // Its reader has not seen the end yet, so it is still listed when the broadcast sends.
  shutdown(leaving->Handle(), SHUT_RD);
  leaving->Close();
  volume.Report({0, 1});
  volume.Report({0, 2});  // the peer has reset by now, whatever the first send did
  EXPECT_EQ(first->Read(2), (Bytes{1, 2}));
  EXPECT_EQ(last->Read(2), (Bytes{1, 2}));
  EXPECT_EQ(retry.Arms(), 0);
  EXPECT_TRUE(Eventually([&] { return server.ClientCount() == 2; }));
}

// A client that stops reading must not stall the server: once its socket takes no more, it is
// shut down, and everyone else is served meanwhile.
TEST_F(RelayTest, AClientThatNeverReadsIsDroppedWhileOthersAreServed) {
  auto stalled = std::make_unique<TestClient>();
  ASSERT_TRUE(stalled->Connect(port, {.receiveBuffer = 1024}));
  ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 1; }));
  auto healthy = Connect();
  std::atomic<bool> sawFinal{false};
  std::thread reader([&] {
    for (;;) {
      auto bytes = healthy->ReadAvailable(std::chrono::seconds(30));
      if (bytes.empty()) return;
      if (std::find(bytes.begin(), bytes.end(), 0xCD) != bytes.end()) break;
    }
    sawFinal = true;
  });

  int reports = 0;
  while (server.ClientCount() == 2 && reports < 100000) {  // it holds a few thousand bytes
    volume.Report({0, reports % 2});
    relay.SendKeepAlive();
    ++reports;
  }
  EXPECT_EQ(server.ClientCount(), 1u) << "after " << reports << " reports";
  volume.Report({1, 77});
  reader.join();
  EXPECT_TRUE(sawFinal);
  EXPECT_TRUE(stalled->WaitForEnd());
}

// Enough clients that the pass is shared between threads (where the machine has a second core):
// every client still gets exactly the bytes due to it, and a deferral seen by any thread arms
// the retry.
TEST_F(RelayTest, ASharedPassServesEachClientOnceAndStillDefersTheBusyOnes) {
  ASSERT_TRUE(RaiseOpenFileLimit());
  const size_t count = 3 * SendPool::kMinItemsPerThread;
  std::vector<std::unique_ptr<TestClient>> clients;
  for (size_t i = 0; i < count; ++i) clients.push_back(Connect());
  // Busy ones spread through the list, so whichever thread takes them must report it.
  std::vector<size_t> busy = {1, count / 2, count - 2};
  for (size_t i : busy) Request(*clients[i], 0x21);

  volume.Report({0, 0x22});
  EXPECT_EQ(retry.Arms(), 1);
  clock.Advance(HOLD_OFF_MS);
  EXPECT_FALSE(relay.BroadcastState());
  relay.SendKeepAlive();
  for (size_t i = 0; i < count; ++i) {
    // The busy ones get it from the retry, the rest from the report; nobody gets it twice.
    EXPECT_EQ(clients[i]->Read(2), (Bytes{0x22, 0xFF})) << "client " << i;
  }
}

// A state source whose reading waits for the report its notifier is making (as a backend's
// reading waits for the lock its notifier holds: the lock order puts a backend's locks before the
// server mutex). The first time it is read, the device changes on another thread, and the older
// reading is returned once that report is over. A reader holding the server mutex would wait for
// the report, the report for the server mutex: the reading then gives up after 2 s and records
// the deadlock.
class ChangeWhileGreeting final : public IVolumeControl {
 public:
  InitResult Initialize() override { return device.Initialize(); }
  bool Shutdown() override { return device.Shutdown(); }
  bool SetState(const VolumeState* state) override { return device.SetState(state); }
  void SetChangeCallback(VolumeChangeCallback callback, int32_t userData) override {
    device.SetChangeCallback(callback, userData);
  }
  bool GetState(VolumeState* state) override {
    device.GetState(state);
    if (armed.exchange(false)) {
      reporter = std::thread([this] {
        device.Report(changed);  // the broadcast reads the state again, unarmed
        std::lock_guard hold(mutex);
        reported = true;
        done.notify_all();
      });
      std::unique_lock wait(mutex);
      if (!done.wait_for(wait, std::chrono::seconds(2), [&] { return reported; })) {
        deadlocked = true;
      }
    }
    return true;
  }

  FakeVolumeControl device;
  VolumeState changed{0, 77};
  std::atomic<bool> armed{false};
  std::atomic<bool> deadlocked{false};
  std::mutex mutex;
  std::condition_variable done;
  bool reported = false;  // guarded by mutex
  std::thread reporter;
};

// A change reported while a new client is being greeted still reaches that client, and the
// greeting reads the state without holding the server mutex.
TEST(RelayRace, AChangeDuringTheGreetingReachesTheNewClient) {
  FakeClock clock;
  FakeRetryTimer retry;
  ChangeWhileGreeting source;
  VolumeServer wired{clock, retry};
  source.device.SetDeviceState({0, 40});
  const uint16_t port = wired.Serve(&source);
  ASSERT_NE(port, 0);

  source.armed = true;
  TestClient client(port);
  EXPECT_EQ(client.Read(5), (Bytes{0x19, 0xC8, 0xDE, 0x00, 0x28}));
  EXPECT_EQ(client.ReadByte(), Byte(77));

  if (source.reporter.joinable()) source.reporter.join();
  EXPECT_FALSE(source.deadlocked) << "the state was read under the server mutex";
  wired.UnregisterChangeCallback();
  wired.Server().Stop();
}

}  // namespace
