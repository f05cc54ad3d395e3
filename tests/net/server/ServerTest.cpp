#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "net/ServerFixture.h"

namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kGreetingBytes(kGreeting.begin(), kGreeting.end());

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

using ServerTest = ServerFixture;

// Stop on another thread; whether it returned within `limit`, and its result. Joins it either
// way, after `unblock`; a Stop that still has not returned 20 s on ends the test program with a
// message rather than leave it hanging until the test runner's limit.
struct TimedStop {
  bool inTime = false;
  bool result = false;
  TimedStop(
      NetworkServer& server, std::chrono::milliseconds limit,
      const std::function<void()>& unblock = [] {}) {
    std::atomic<bool> done{false};
    std::thread stopper([&] {
      result = server.Stop();
      done = true;
    });
    inTime = Eventually([&] { return done.load(); }, limit);
    if (!inTime) unblock();
    if (!Eventually([&] { return done.load(); }, std::chrono::seconds(20))) {
      std::fprintf(stderr, "NetworkServer::Stop has not returned: giving up\n");
      std::fflush(stderr);
      std::_Exit(1);
    }
    stopper.join();
  }
};

TEST_F(ServerTest, GreetsWithoutAStateWhenTheSystemIsAtTheDefault) {
  auto client = Connect();
  ExpectNothingPending(*client);
}

TEST_F(ServerTest, GreetsThenSendsTheCurrentState) {
  volume.SetDeviceState({1, 30});
  TestClient client(port);
  EXPECT_EQ(client.Read(5), (Bytes{0x19, 0xC8, 0xDE, 0x00, 0x9E}));
}

TEST_F(ServerTest, SendsTheInitialStateEvenWhileTheClockReadsBelowTheHoldOff) {
  volume.SetDeviceState({0, 40});
  for (uint32_t now : {0u, 250u, 499u}) {
    clock.Set(now);
    TestClient client(port);
    EXPECT_EQ(client.Read(5), (Bytes{0x19, 0xC8, 0xDE, 0x00, 0x28})) << now;
  }
}

TEST_F(ServerTest, AnInvalidByteClosesOnlyThatClient) {
  auto good = Connect();
  for (uint8_t invalid : {0x65, 0x7F, 0xE5, 0xFE}) {
    auto bad = Connect();
    ASSERT_TRUE(bad->Send({0x20, invalid}));
    EXPECT_TRUE(bad->WaitForEnd()) << int(invalid);
    EXPECT_TRUE(Eventually([&] { return server.ClientCount() == 1; }));
  }
  // Only the valid requests reached the volume control.
  EXPECT_EQ(volume.Requests().size(), 4u);
  ExpectNothingPending(*good);
}

TEST_F(ServerTest, StopsWithNoClient) {
  ASSERT_TRUE(TimedStop(server, std::chrono::seconds(2)).inTime);
  TestClient late(port);
  EXPECT_FALSE(late.Connected());
}

TEST_F(ServerTest, StopEndsEveryClientAndFreesEveryRecordAtOnce) {
  // A long bound, so a stop that waits it out instead of the readers' ends shows.
  ASSERT_TRUE(TimedStop(server, std::chrono::seconds(2)).inTime);
  server.SetStopBound(std::chrono::seconds(10));
  ASSERT_TRUE(server.BindAndListen(0));
  ASSERT_TRUE(server.Start());
  port = server.ListeningPort();
  std::vector<std::unique_ptr<TestClient>> clients;
  for (int i = 0; i < 8; ++i) clients.push_back(Connect());
  // One has left: unlisted, and retired until the next accept or the stop frees it.
  clients.back()->Close();
  ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 7; }));

  // Quitting or changing the port with clients connected is as quick as without.
  const auto begin = std::chrono::steady_clock::now();
  const TimedStop stop(server, std::chrono::seconds(1));
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - begin);
  EXPECT_TRUE(stop.inTime) << "Stop with clients took " << took.count() << " ms";
  EXPECT_TRUE(stop.result);
  EXPECT_EQ(server.ClientCount(), 0u);
  EXPECT_EQ(server.RetiredCount(), 0u);
  for (int i = 0; i < 7; ++i) EXPECT_TRUE(clients[i]->WaitForEnd()) << i;
}

TEST_F(ServerTest, ALeftClientIsFreedAtTheNextAccept) {
  auto leaving = Connect();
  leaving->Close();
  // It may be freed at once by the reaping that follows its own accept, or wait for the next.
  ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 0; }));
  auto next = Connect();
  EXPECT_TRUE(Eventually([&] { return server.RetiredCount() == 0; }));
}

TEST_F(ServerTest, RestartsOnAnotherPortWithClientsDrained) {
  auto old = Connect();
  const uint16_t oldPort = port;
  ASSERT_TRUE(TimedStop(server, std::chrono::seconds(2)).inTime);
  EXPECT_TRUE(old->WaitForEnd());

  ASSERT_TRUE(server.BindAndListen(0));
  ASSERT_TRUE(server.Start());
  port = server.ListeningPort();
  EXPECT_NE(port, oldPort);
  volume.SetDeviceState({0, 10});
  TestClient fresh(port);
  EXPECT_EQ(fresh.Read(5), (Bytes{0x19, 0xC8, 0xDE, 0x00, 0x0A}));
  TestClient stale(oldPort);
  EXPECT_FALSE(stale.Connected());
}

TEST_F(ServerTest, RebindsTheSamePortRightAfterDroppingItsClients) {
  // The server closes first, so its side of each connection lingers; quitting and starting
  // again, or moving back to this port, must still bind it.
  auto old = Connect();
  ASSERT_TRUE(TimedStop(server, std::chrono::seconds(2)).inTime);
  EXPECT_TRUE(old->WaitForEnd());
  ASSERT_TRUE(server.BindAndListen(port));
  ASSERT_TRUE(server.Start());
  auto fresh = Connect();
}

TEST_F(ServerTest, ClientsThatLeaveAtOnceAreRetiredNormally) {
  for (int i = 0; i < 20; ++i) {
    TestClient client(port);
    if (i % 2 == 0) client.Send({0xFA});  // invalid at once
  }
  EXPECT_TRUE(Eventually([&] { return server.ClientCount() == 0; }));
  auto survivor = Connect();
  ExpectNothingPending(*survivor);
}

TEST_F(ServerTest, ABusyPortFailsToBindAndTheFailedServerStopsCleanly) {
  NetworkServer second(clock);
  second.SetStateSource(&volume);
  EXPECT_FALSE(second.BindAndListen(port));
  EXPECT_TRUE(second.Start());  // accepts nothing and ends at once
  EXPECT_TRUE(TimedStop(second, std::chrono::seconds(2)).inTime);
  EXPECT_EQ(second.ListeningPort(), 0);
  // The first server is untouched.
  auto client = Connect();
}

// Running out of descriptors makes accept fail; the service must outlive it.
TEST_F(ServerTest, KeepsAcceptingAfterRunningOutOfDescriptors) {
  // One full accept first: UBSan's type checks open a pipe the first time a call site runs,
  // and would misreport when that happens with no descriptor left.
  auto early = Connect();
  rlimit original{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &original), 0);
  rlimit low = original;
  low.rlim_cur = 256;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  // The clients' sockets exist before the descriptors run out; connecting needs none.
  TestClient first, starved;
  ASSERT_TRUE(first.Open() && starved.Open());
  std::vector<int> fillers;
  for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers.push_back(fd);
  ASSERT_FALSE(fillers.empty());
  // Linux reserves the descriptor of an accept that is already waiting, so the first client may
  // still be accepted; the second cannot be.
  ASSERT_TRUE(first.Connect(port));
  ASSERT_TRUE(starved.Connect(port));
  // Meanwhile the accept thread retries calmly: it must not take a core while it waits.
  const double cpuBefore = ProcessCpuSeconds();
  const auto wallBefore = std::chrono::steady_clock::now();
  EXPECT_FALSE(starved.ReadByte(std::chrono::milliseconds(500)).has_value());
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();

  for (int fd : fillers) close(fd);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &original), 0);
  std::printf("%.1f ms of CPU in %.0f ms while out of descriptors\n", cpu * 1000, wall * 1000);
  EXPECT_LT(cpu, wall / 10) << "accept spins while no descriptor is left: " << cpu
                            << " s of CPU in " << wall << " s";
  EXPECT_EQ(first.Read(4), kGreetingBytes);
  EXPECT_EQ(starved.Read(4), kGreetingBytes);
  ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 3; }));
  auto later = Connect();
}

TEST_F(ServerTest, RandomBytesFromManyClientsDisturbNobodyElse) {
  auto watcher = Connect();
  std::vector<std::jthread> noisy;  // joined on every path, also a failed assertion's
  for (int i = 0; i < 6; ++i) {
    noisy.emplace_back([this, i] {
      std::mt19937 random(static_cast<unsigned>(i));
      for (int round = 0; round < 10; ++round) {
        TestClient client(port);
        Bytes bytes(200);
        for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
        client.Send(bytes);
        if (round % 3 == 0) client.Close();
      }
    });
  }
  for (int change = 1; change <= 20; ++change) {
    volume.Report({0, change});
    // The watcher is quiet, so it must get every change, in order, whatever the noise does.
    std::optional<uint8_t> byte;
    do {
      byte = watcher->ReadByte();
    } while (byte == kKeepAliveByte);
    ASSERT_EQ(byte, std::optional<uint8_t>(static_cast<uint8_t>(change)));
  }
  for (auto& thread : noisy) thread.join();
  EXPECT_TRUE(Eventually([&] { return server.ClientCount() == 1; }));
}

}  // namespace

namespace {

// A volume control whose SetState does not return until released, as while the sound server is
// slow or reconnecting.
class StuckVolumeControl final : public IVolumeControl {
 public:
  InitResult Initialize() override { return InitResult::Ok; }
  bool Shutdown() override { return true; }
  bool GetState(VolumeState* state) override { return device.GetState(state); }
  bool SetState(const VolumeState*) override {
    std::unique_lock lock(mutex);
    ++inside;
    changed.notify_all();
    changed.wait(lock, [this] { return released; });
    --inside;
    return true;
  }
  void SetChangeCallback(VolumeChangeCallback callback, int32_t userData) override {
    device.SetChangeCallback(callback, userData);
  }
  bool WaitInside() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(5), [this] { return inside > 0; });
  }
  void Release() {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }

  FakeVolumeControl device;
  std::mutex mutex;
  std::condition_variable changed;
  int inside = 0;
  bool released = false;
};

}  // namespace

// Quit, a port change or SIGTERM must not hang on a reader stuck in the volume control: Stop
// gives up on it after its bound, the server can start again elsewhere at once, and the reader is
// joined once it comes back.
TEST(ServerStop, LeavesAReaderStuckInTheVolumeControlAndJoinsItLater) {
  FakeClock clock{100000};
  FakeRetryTimer retry;
  StuckVolumeControl volume;
  VolumeServer wired{clock, retry};
  // Released before the server is destroyed, also when an assertion ends the test early: its
  // destructor waits for the stuck reader.
  const std::unique_ptr<StuckVolumeControl, void (*)(StuckVolumeControl*)> release{
      &volume, [](StuckVolumeControl* stuck) { stuck->Release(); }};
  NetworkServer& server = wired.Server();
  server.SetStopBound(std::chrono::milliseconds(200));
  const uint16_t oldPort = wired.Serve(&volume);

  TestClient stuck(oldPort);
  TestClient idle(oldPort);
  ASSERT_EQ(stuck.Read(4), kGreetingBytes);
  ASSERT_EQ(idle.Read(4), kGreetingBytes);
  ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 2; }));
  ASSERT_TRUE(stuck.Send({0x20}));
  ASSERT_TRUE(volume.WaitInside());

  const auto begin = std::chrono::steady_clock::now();
  TimedStop stop(server, std::chrono::seconds(2), [&] { volume.Release(); });
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
  ASSERT_TRUE(stop.inTime) << "Stop waited for the stuck reader";
  EXPECT_FALSE(stop.result) << "a reader is still running";
  EXPECT_FALSE(server.AllReadersEnded());
  EXPECT_TRUE(idle.WaitForEnd());
  EXPECT_TRUE(stuck.WaitForEnd()) << "its connection is ended, though its reader is busy";
  std::printf("Stop with a stuck reader returned after %.0f ms\n", ms);

  // A port change while the reader is still stuck.
  ASSERT_TRUE(server.BindAndListen(0));
  ASSERT_TRUE(server.Start());
  TestClient fresh(server.ListeningPort());
  ASSERT_EQ(fresh.Read(4), kGreetingBytes);
  ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 1; }));
  volume.device.Report({0, 33});
  EXPECT_EQ(fresh.ReadByte(), std::optional<uint8_t>(33));

  volume.Release();
  EXPECT_TRUE(Eventually([&] { return server.AllReadersEnded(); }));
  EXPECT_TRUE(TimedStop(server, std::chrono::seconds(2)).result);
  EXPECT_EQ(server.ClientCount(), 0u);
  EXPECT_EQ(server.RetiredCount(), 0u);
  wired.UnregisterChangeCallback();
}
