// The sound-server backend on a real server: the shared private daemon of
// with-sound-server.sh, and for restarts and stops a daemon of the test's own.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/linux/PulseVolumeControl.h"
#include "support/ServerSettings.h"
#include "support/SoundServer.h"

using namespace soundserver;

namespace {
// What the change callback saw; the callback is a plain function, so this is global.
struct Seen {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<VolumeState> states;
  std::thread::id lastThread;
  std::atomic<IVolumeControl*> control{nullptr};  // when set, the callback also calls GetState
  bool holdReports = false;  // when set, every report waits in the callback until it is cleared
  int heldReports = 0;
  std::vector<int32_t> heldVolumes;  // what was held since holding began
};
Seen g_seen;

void OnChange(int32_t, const VolumeState* state) {
  if (IVolumeControl* control = g_seen.control.load()) {
    VolumeState copy;
    control->GetState(&copy);
  }
  {
    std::unique_lock lock(g_seen.mutex);
    if (g_seen.holdReports) {
      ++g_seen.heldReports;
      g_seen.heldVolumes.push_back(state->volume);
      g_seen.changed.notify_all();
      g_seen.changed.wait_for(lock, std::chrono::seconds(10), [] { return !g_seen.holdReports; });
      --g_seen.heldReports;
    }
    g_seen.states.push_back(*state);
    g_seen.lastThread = std::this_thread::get_id();
  }
  g_seen.changed.notify_all();
}

void HoldReports(bool hold) {
  {
    std::lock_guard lock(g_seen.mutex);
    g_seen.holdReports = hold;
    g_seen.heldVolumes.clear();
  }
  g_seen.changed.notify_all();
}

// A report of `volume` held up: a late report of an earlier change does not count. Such a late
// one, held in its turn, may hold up the report awaited for its own 10 s: hence 20.
bool AwaitHeldReport(int32_t volume) {
  std::unique_lock lock(g_seen.mutex);
  return g_seen.changed.wait_for(lock, std::chrono::seconds(20), [volume] {
    return std::find(g_seen.heldVolumes.begin(), g_seen.heldVolumes.end(), volume) !=
           g_seen.heldVolumes.end();
  });
}

bool AwaitState(VolumeState wanted) {
  std::unique_lock lock(g_seen.mutex);
  return g_seen.changed.wait_for(lock, std::chrono::seconds(10), [&] {
    return !g_seen.states.empty() && g_seen.states.back() == wanted;
  });
}

VolumeState LastSeen() {
  std::lock_guard lock(g_seen.mutex);
  return g_seen.states.empty() ? VolumeState{} : g_seen.states.back();
}

size_t SeenCount() {
  std::lock_guard lock(g_seen.mutex);
  return g_seen.states.size();
}

void ClearSeen() {
  std::lock_guard lock(g_seen.mutex);
  g_seen.states.clear();
  g_seen.control = nullptr;
}

bool Set(IVolumeControl& control, uint8_t muted, int32_t volume) {
  const VolumeState request{muted, volume};
  return control.SetState(&request);
}

VolumeState StateOf(IVolumeControl& control) {
  VolumeState state;
  control.GetState(&state);
  return state;
}

class PulseVolume : public ::testing::Test {
 protected:
  void SetUp() override {
    QUAVIX_NEED_SOUND_SERVER();
    lock_ = std::make_unique<SoundServerLock>();
    ASSERT_TRUE(ResetServer());
    ClearSeen();
  }
  void TearDown() override {
    if (control_ != nullptr) {
      control_->SetChangeCallback(nullptr, 0);
      EXPECT_TRUE(control_->Shutdown());
      control_.reset();
    }
    if (lock_ != nullptr) ResetServer();
  }
  void Start() {
    control_ = std::make_unique<PulseVolumeControl>();
    ASSERT_EQ(control_->Initialize(), InitResult::Ok);
    control_->SetChangeCallback(&OnChange, 0);
  }

  std::unique_ptr<SoundServerLock> lock_;
  std::unique_ptr<PulseVolumeControl> control_;
};

// A null sink loaded for one test and unloaded after it.
class ExtraSink {
 public:
  ExtraSink(const std::string& name, const std::string& options)
      : module_(Output("pactl load-module module-null-sink sink_name=" + name + " " + options)) {
    while (!module_.empty() && module_.back() == '\n') module_.pop_back();
  }
  ~ExtraSink() {
    if (Loaded()) Shell("pactl unload-module " + module_);
  }
  ExtraSink(const ExtraSink&) = delete;
  ExtraSink& operator=(const ExtraSink&) = delete;
  bool Loaded() const {
    return !module_.empty() && module_.find_first_not_of("0123456789") == std::string::npos;
  }

 private:
  std::string module_;
};

// A listener on a sound server's socket path while the server is away: accepts and drops each
// connection attempt, and notes when it came.
class AttemptListener {
 public:
  explicit AttemptListener(const std::string& path) : path_(path) {
    ::unlink(path_.c_str());  // the killed server's socket stays behind
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    listening_ = fd_ >= 0 && ::pipe(stop_) == 0 &&
                 ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 ::listen(fd_, 8) == 0;
    if (listening_) thread_ = std::thread([this] { Loop(); });
  }
  ~AttemptListener() {
    if (thread_.joinable()) {
      [[maybe_unused]] const ssize_t woken = ::write(stop_[1], "x", 1);
      thread_.join();
    }
    for (int fd : {fd_, stop_[0], stop_[1]}) {
      if (fd >= 0) ::close(fd);
    }
    ::unlink(path_.c_str());
  }
  AttemptListener(const AttemptListener&) = delete;
  AttemptListener& operator=(const AttemptListener&) = delete;

  bool Listening() const { return listening_; }
  bool AwaitCount(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return times_.size() >= count; });
  }
  std::vector<std::chrono::steady_clock::time_point> Times() {
    std::lock_guard lock(mutex_);
    return times_;
  }

 private:
  void Loop() {
    for (;;) {
      pollfd fds[2] = {{stop_[0], POLLIN, 0}, {fd_, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 || fds[0].revents != 0) return;
      const int accepted = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (accepted < 0) continue;
      ::close(accepted);
      {
        std::lock_guard lock(mutex_);
        times_.push_back(std::chrono::steady_clock::now());
      }
      changed_.notify_all();
    }
  }

  std::string path_;
  int fd_ = -1;
  int stop_[2] = {-1, -1};
  bool listening_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::chrono::steady_clock::time_point> times_;
  std::thread thread_;
};

// A loopback TCP relay between our backend and a daemon's TCP port that can hold back what the
// backend sends, so the test decides when the daemon reads it. One connection.
class HoldingRelay {
 public:
  explicit HoldingRelay(uint16_t daemonPort) : daemonPort_(daemonPort) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::pipe(stop_) == 0 &&
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(listenFd_, 1) == 0 &&
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
      thread_ = std::thread([this] { Loop(); });
    }
  }
  ~HoldingRelay() {
    if (thread_.joinable()) {
      [[maybe_unused]] const ssize_t woken = ::write(stop_[1], "x", 1);
      thread_.join();
    }
    for (int fd : {listenFd_, stop_[0], stop_[1], client_.load(), daemon_}) {
      if (fd >= 0) ::close(fd);
    }
  }
  HoldingRelay(const HoldingRelay&) = delete;
  HoldingRelay& operator=(const HoldingRelay&) = delete;

  uint16_t Port() const { return port_; }
  void Hold(bool hold) {
    held_ = hold;
    [[maybe_unused]] const ssize_t woken = ::write(stop_[1], "w", 1);
  }
  // Bytes the backend sent that are held back.
  int Held() const {
    int pending = 0;
    return client_ >= 0 && ::ioctl(client_, FIONREAD, &pending) == 0 ? pending : 0;
  }

 private:
  void Loop() {
    for (;;) {
      std::vector<pollfd> fds = {{stop_[0], POLLIN, 0}};
      if (client_ < 0) fds.push_back({listenFd_, POLLIN, 0});
      if (client_ >= 0 && !held_) fds.push_back({client_, POLLIN, 0});
      if (daemon_ >= 0) fds.push_back({daemon_, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), -1) < 0) return;
      for (const pollfd& ready : fds) {
        if (ready.revents == 0) continue;
        if (ready.fd == stop_[0]) {
          char byte = 0;
          if (::read(stop_[0], &byte, 1) != 1 || byte == 'x') return;
        } else if (ready.fd == listenFd_) {
          Connect();
        } else if (!Pass(ready.fd, ready.fd == daemon_ ? client_.load() : daemon_)) {
          return;
        }
      }
    }
  }
  void Connect() {
    client_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    daemon_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(daemonPort_);
    ::connect(daemon_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  static bool Pass(int from, int to) {
    char buffer[65536];
    const ssize_t got = ::recv(from, buffer, sizeof buffer, 0);
    return got > 0 && ::send(to, buffer, static_cast<size_t>(got), MSG_NOSIGNAL) == got;
  }

  const uint16_t daemonPort_;
  uint16_t port_ = 0;
  int listenFd_ = -1;
  int stop_[2] = {-1, -1};
  std::atomic<int> client_{-1};
  int daemon_ = -1;
  std::atomic<bool> held_{false};
  std::thread thread_;
};

// Points libpulse at a daemon of the test's own for the test's lifetime.
class OwnDaemon {
 public:
  OwnDaemon() : old_(std::getenv("PULSE_SERVER") != nullptr ? std::getenv("PULSE_SERVER") : "") {
    ::setenv("PULSE_SERVER", pulse.Server().c_str(), 1);
  }
  // From now on libpulse reaches it at `server` instead.
  void Through(const std::string& server) { ::setenv("PULSE_SERVER", server.c_str(), 1); }
  ~OwnDaemon() {
    if (old_.empty()) {
      ::unsetenv("PULSE_SERVER");
    } else {
      ::setenv("PULSE_SERVER", old_.c_str(), 1);
    }
  }
  soundserver::PrivatePulse pulse;

 private:
  std::string old_;
};

// A daemon of the test's own, started, and the backend on it: the tests of what the backend
// does when its sound server goes away or misbehaves.
class PulseVolumeOwnDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    QUAVIX_NEED_SOUND_SERVER();
    ClearSeen();
    ASSERT_TRUE(daemon.pulse.Start());
  }
  // The backend on the daemon libpulse reaches now, reporting to OnChange.
  void StartBackend() {
    ASSERT_EQ(control.Initialize(), InitResult::Ok);
    control.SetChangeCallback(&OnChange, 0);
  }
  void StopBackend() {
    control.SetChangeCallback(nullptr, 0);
    EXPECT_TRUE(control.Shutdown());
  }

  OwnDaemon daemon;
  PulseVolumeControl control;
};
}  // namespace

TEST_F(PulseVolume, FirstReadingThenChangesMadeElsewhere) {
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 37% && pactl set-sink-mute " +
                    TestSink() + " 1"));
  Start();
  EXPECT_EQ(StateOf(*control_), (VolumeState{1, 37}));
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 45%"));
  EXPECT_TRUE(AwaitState({1, 45}));
  ASSERT_TRUE(Shell("pactl set-sink-mute " + TestSink() + " 0"));
  EXPECT_TRUE(AwaitState({0, 45}));
  EXPECT_EQ(StateOf(*control_), (VolumeState{0, 45}));
}

TEST_F(PulseVolume, SetStateKeepsTheBalanceAndTheLayoutTheSinkHasNow) {
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 52428 26214"));  // 80 %, 40 %
  Start();
  EXPECT_EQ(StateOf(*control_), (VolumeState{0, 80}));  // the loudest channel is the level
  ASSERT_TRUE(Set(*control_, 1, 50));
  EXPECT_TRUE(Eventually([] { return RawChannelVolumes(TestSink()) == "32768 16384"; }));
  EXPECT_TRUE(IsMuted(TestSink()));
  // The user moves the balance later: the next write keeps the new one.
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 32768 65536"));  // 50 %, 100 %
  ASSERT_TRUE(AwaitState({1, 100}));
  ASSERT_TRUE(Set(*control_, 1, 25));
  EXPECT_TRUE(Eventually([] { return RawChannelVolumes(TestSink()) == "8192 16384"; }))
      << RawChannelVolumes(TestSink());

  // A mono and a 5.1 sink become the default in turn: each write fits the sink it lands on.
  ExtraSink mono("quavix_mono", "channels=1");
  ExtraSink surround("quavix_surround",
                     "channels=6 channel_map=front-left,front-right,rear-left,rear-right,"
                     "front-center,lfe");
  ASSERT_TRUE(mono.Loaded() && surround.Loaded());
  ASSERT_TRUE(
      Shell("pactl set-sink-volume quavix_mono 26214 && pactl set-default-sink quavix_mono"));
  ASSERT_TRUE(AwaitState({0, 40}));
  ASSERT_TRUE(Set(*control_, 0, 75));
  EXPECT_TRUE(Eventually([] { return RawChannelVolumes("quavix_mono") == "49152"; }))
      << RawChannelVolumes("quavix_mono");
  ASSERT_TRUE(
      Shell("pactl set-sink-volume quavix_surround 65536 32768 65536 32768 16384 0 && "
            "pactl set-default-sink quavix_surround"));
  ASSERT_TRUE(AwaitState({0, 100}));
  ASSERT_TRUE(Set(*control_, 0, 50));
  EXPECT_TRUE(Eventually([] {
    return RawChannelVolumes("quavix_surround") == "32768 16384 32768 16384 8192 0";
  })) << RawChannelVolumes("quavix_surround");
}

TEST_F(PulseVolume, ARequestIsReportedBeforeSetStateReturnsAndOtherChangesStillAre) {
  Start();
  ASSERT_TRUE(Set(*control_, 1, 30));
  EXPECT_EQ(LastSeen(), (VolumeState{1, 30}));
  EXPECT_EQ(g_seen.lastThread, std::this_thread::get_id());
  EXPECT_EQ(StateOf(*control_), (VolumeState{1, 30}));
  // Repeating the cached state is no news.
  ASSERT_TRUE(Set(*control_, 1, 30));
  EXPECT_EQ(SeenCount(), 1u);
  EXPECT_TRUE(Eventually([] { return IsMuted(TestSink()); }));
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 45%"));
  EXPECT_TRUE(AwaitState({1, 45}));
}

// Two changes arrive while an older report is still under way, from our requests or from
// another program. However the reporters wake, the last report comes after the cache took the
// newest state, or the clients stay one state behind.
TEST_F(PulseVolume, TheLastReportComesAfterTheNewestStateWhileReportsAreHeldUp) {
  Start();
  g_seen.control = control_.get();  // the relay reads the state in the callback
  const struct {
    const char* source;
    std::function<void(int32_t percent)> change;
  } sources[] = {
      {"requests", [&](int32_t percent) { Set(*control_, 0, percent); }},
      {"another program",
       [](int32_t percent) {
         Shell("pactl set-sink-volume " + TestSink() + " " + std::to_string(percent) + "%");
       }},
  };
  for (const auto& source : sources) {
    for (int round = 0; round < 5; ++round) {
      SCOPED_TRACE(std::string(source.source) + ", round " + std::to_string(round));
      HoldReports(true);
      std::thread stalled([&] { source.change(10 + round % 2); });
      const bool held = AwaitHeldReport(10 + round % 2);
      std::thread older([&] { source.change(50); });
      const bool olderCached = Eventually([&] { return StateOf(*control_) == VolumeState{0, 50}; });
      std::thread newer([&] { source.change(60); });
      const bool newerCached = Eventually([&] { return StateOf(*control_) == VolumeState{0, 60}; });
      HoldReports(false);
      for (std::thread* thread : {&stalled, &older, &newer}) thread->join();
      ASSERT_TRUE(held && olderCached && newerCached);
      EXPECT_TRUE(AwaitState({0, 60})) << "last reported " << LastSeen();
    }
  }
}

TEST_F(PulseVolume, EveryPercentWrittenReadsBackUnchanged) {
  Start();
  for (int32_t percent = 0; percent <= 100; ++percent) {
    ASSERT_TRUE(Set(*control_, 0, percent));
    // A change made elsewhere has the backend read the sink: the level must read back as sent.
    ASSERT_TRUE(Pactl("set-sink-mute " + TestSink() + " 1"));
    ASSERT_TRUE(AwaitState({1, percent})) << percent;
    // And the sound server's own reading agrees (one call in ten: each costs a process).
    const std::string shown = std::to_string(percent) + " " + std::to_string(percent);
    if (percent % 10 == 7) {
      EXPECT_EQ(ChannelPercents(TestSink()), shown);
    }
  }
  EXPECT_EQ(RawChannelVolumes(TestSink()), "65536 65536");
}

TEST_F(PulseVolume, ARampIsReportedInOrderAndEndsWhereTheSinkDoes) {
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 0%"));
  Start();
  // Up and down, paced as a dragged slider sends: the server's reading of one step arrives
  // after the next was reported, and must not move the reports back.
  std::vector<VolumeState> requests;
  for (int32_t percent = 1; percent <= 100; ++percent) requests.push_back({0, percent});
  for (int32_t percent = 99; percent >= 0; --percent) requests.push_back({0, percent});
  for (size_t i = 0; i < requests.size(); ++i) {
    ASSERT_TRUE(control_->SetState(&requests[i]));
    std::this_thread::sleep_for(std::chrono::microseconds(100 * (i % 8)));
  }
  EXPECT_TRUE(Eventually([] { return RawChannelVolumes(TestSink()) == "0 0"; }));
  // The reading after the last write agrees with the cache, so nothing more is reported.
  ASSERT_TRUE(Shell("pactl set-sink-mute " + TestSink() + " 1"));
  EXPECT_TRUE(AwaitState({1, 0}));
  requests.push_back({1, 0});
  std::lock_guard lock(g_seen.mutex);
  EXPECT_EQ(g_seen.states, requests);
}

TEST_F(PulseVolume, ASwitchOfDefaultSinkIsFollowed) {
  ASSERT_TRUE(Shell("pactl set-sink-volume " + OtherSink() + " 20%"));
  Start();
  ASSERT_TRUE(Shell("pactl set-default-sink " + OtherSink()));
  EXPECT_TRUE(AwaitState({0, 20}));
  ASSERT_TRUE(Set(*control_, 1, 60));
  EXPECT_TRUE(Eventually([] { return IsMuted(OtherSink()); }));
  EXPECT_FALSE(IsMuted(TestSink()));
  // Events of the sink that is no longer the default are not ours.
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 10%"));
  ASSERT_TRUE(Shell("pactl set-sink-volume " + OtherSink() + " 61%"));
  EXPECT_TRUE(AwaitState({1, 61}));
  std::lock_guard lock(g_seen.mutex);
  for (const VolumeState& s : g_seen.states) EXPECT_NE(s.volume, 10);
}

TEST_F(PulseVolume, ReadersWritersAndShutdownRaceCleanly) {
  Start();
  g_seen.control = control_.get();
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int t = 0; t < 2; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; !stop; ++i) {
        Set(*control_, static_cast<uint8_t>(i & 1), (i * 13 + t * 7) % 101);
      }
    });
  }
  // Another program keeps changing the sink, so notifications are in flight at Shutdown.
  std::thread outsider([] {
    Shell("for i in $(seq 40); do pactl set-sink-volume " + TestSink() + " $((i * 2))%; done");
  });
  EXPECT_TRUE(Eventually([] {
    std::lock_guard lock(g_seen.mutex);
    return g_seen.states.size() >= 20;
  }));
  // Our own writers end before Shutdown, as the server stops first; the outsider does not.
  stop = true;
  for (std::thread& w : writers) w.join();
  control_->SetChangeCallback(nullptr, 0);
  EXPECT_TRUE(control_->Shutdown());
  control_.reset();
  outsider.join();
}

TEST(PulseVolumeNoDaemon, NoServerIsNoInterface) {
  OwnDaemon daemon;  // never started: nothing may be spawned or found
  PulseVolumeControl control;
  EXPECT_EQ(control.Initialize(), InitResult::NoInterface);
}

TEST_F(PulseVolumeOwnDaemon, TheBackendComesBackSoonAfterEveryRestart) {
  ASSERT_NO_FATAL_FAILURE(StartBackend());
  const std::string socketPath = daemon.pulse.Server().substr(std::string("unix:").size());

  // Twice: after a success the pauses between attempts start short again.
  for (int outage = 1; outage <= 2; ++outage) {
    ASSERT_TRUE(daemon.pulse.Pactl("set-sink-volume @DEFAULT_SINK@ 42%"));
    ASSERT_TRUE(AwaitState({0, 42})) << "outage " << outage;
    // It dies with one of our writes unanswered: that write is gone with it, and must not hold
    // back what the new server reports.
    daemon.pulse.Pause();
    ASSERT_TRUE(Set(control, 1, 20));
    daemon.pulse.Kill();
    const auto lost = std::chrono::steady_clock::now();
    EXPECT_TRUE(Eventually([&] { return !Set(control, 1, 10); }));  // nobody to take it
    {
      // While it is away, a listener of our own on its socket sees each attempt; four of them
      // take the pause between attempts to over a second.
      AttemptListener attempts(socketPath);
      ASSERT_TRUE(attempts.Listening());
      ASSERT_TRUE(attempts.AwaitCount(4, std::chrono::seconds(10))) << "outage " << outage;
      const auto first =
          std::chrono::duration_cast<std::chrono::milliseconds>(attempts.Times().front() - lost);
      std::printf("outage %d: first attempt after %lld ms\n", outage,
                  static_cast<long long>(first.count()));
      EXPECT_LT(first, std::chrono::seconds(1))
          << "outage " << outage << ": a sound server restarted at once must be found at once";
    }
    ASSERT_TRUE(daemon.pulse.Start());
    const auto back = std::chrono::steady_clock::now();
    // The new server starts at 100 %: that is reported once the backend is back, at the latest
    // one longest pause after the server is.
    ASSERT_TRUE(AwaitState({0, 100})) << "outage " << outage;
    const auto reconnect = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - back);
    std::printf("outage %d: back %lld ms after the server\n", outage,
                static_cast<long long>(reconnect.count()));
    EXPECT_LT(reconnect, std::chrono::seconds(4)) << "outage " << outage;
  }
  ASSERT_TRUE(daemon.pulse.Pactl("set-sink-volume @DEFAULT_SINK@ 33%"));
  EXPECT_TRUE(AwaitState({0, 33}));
  EXPECT_TRUE(Set(control, 1, 60));
  EXPECT_TRUE(AwaitState({1, 60}));

  StopBackend();
}

// Another program switches the default sink while our writes are under way: its reading comes
// in while a write is still unanswered and is held back, and our own write lands on the sink
// that was the default. The reading after our last write must still report the new sink.
TEST_F(PulseVolumeOwnDaemon, ADefaultSinkSwitchedBetweenOurWritesIsReported) {
  const uint16_t tcpPort = FreeLoopbackPort();
  ASSERT_TRUE(daemon.pulse.Pactl("load-module module-native-protocol-tcp listen=127.0.0.1 port=" +
                                 std::to_string(tcpPort) + " auth-anonymous=1"));
  ASSERT_TRUE(daemon.pulse.Pactl("load-module module-null-sink sink_name=quavix_b"));
  ASSERT_TRUE(daemon.pulse.Pactl("set-sink-volume quavix_b 30%"));
  HoldingRelay relay(tcpPort);
  ASSERT_NE(relay.Port(), 0);
  daemon.Through("tcp:127.0.0.1:" + std::to_string(relay.Port()));
  ASSERT_NO_FATAL_FAILURE(StartBackend());

  relay.Hold(true);
  ASSERT_TRUE(Set(control, 0, 60));  // sent, held back: unanswered
  ASSERT_TRUE(Eventually([&] { return relay.Held() > 0; }));
  const int firstWrite = relay.Held();
  ASSERT_TRUE(daemon.pulse.Pactl("set-default-sink quavix_b"));
  // Our backend heard of the switch and asked for the default sink behind the held write.
  ASSERT_TRUE(Eventually([&] { return relay.Held() > firstWrite; })) << "no reading asked for";
  ASSERT_TRUE(Set(control, 0, 70));  // waits behind the first write
  relay.Hold(false);
  EXPECT_TRUE(AwaitState({0, 30}))
      << "the new default sink was never reported; last seen " << LastSeen();
  EXPECT_EQ(StateOf(control), (VolumeState{0, 30}));

  StopBackend();
}

TEST_F(PulseVolumeOwnDaemon, AStoppedServerHoldsUpNeitherSetStateNorShutdown) {
  ASSERT_NO_FATAL_FAILURE(StartBackend());

  // Reader threads writing to the stopped server, round after round: every call comes back (a
  // hang fails the bounded wait, however long the server stays stopped), and each request is
  // reported. Without the server nothing can correct the cache: it and the last report must
  // already be the request queued last, the one the server applies once it runs again.
  for (int round = 0; round < 10; ++round) {
    daemon.pulse.Pause();
    constexpr int kThreads = 2;
    constexpr int kCalls = 5;
    std::atomic<int> returned{0};
    // Every call of a round races the other thread's: each starts at the same moment.
    std::barrier step(kThreads);
    std::vector<std::thread> readers;
    for (int t = 0; t < kThreads; ++t) {
      readers.emplace_back([&, t] {
        for (int i = 0; i < kCalls; ++i) {
          step.arrive_and_wait();
          Set(control, static_cast<uint8_t>(t & 1), (round * 37 + i * kThreads + t) % 101);
          ++returned;
        }
      });
    }
    // Broadcasts read the cache meanwhile, as the relay does.
    std::thread broadcaster([&] {
      while (returned < kThreads * kCalls) StateOf(control);
    });
    const bool allReturned = Eventually([&] { return returned == kThreads * kCalls; });
    const VolumeState cached = StateOf(control);
    const VolumeState reported = LastSeen();
    daemon.pulse.Resume();
    for (std::thread& reader : readers) reader.join();
    broadcaster.join();
    ASSERT_TRUE(allReturned) << "round " << round;
    EXPECT_EQ(reported, cached) << "round " << round;
    EXPECT_GE(SeenCount(), 2u);
    ASSERT_TRUE(Eventually([&] {
      const std::string percent = std::to_string(cached.volume);
      return ChannelPercents("@DEFAULT_SINK@", daemon.pulse.Server()) == percent + " " + percent &&
             IsMuted("@DEFAULT_SINK@", daemon.pulse.Server()) == (cached.muted != 0);
    })) << "round "
        << round << ": the sink never reached the cached " << cached;
    EXPECT_EQ(StateOf(control), cached);
  }
  control.SetChangeCallback(nullptr, 0);

  daemon.pulse.Pause();
  std::atomic<bool> shutDown{false};
  std::thread closer([&] {
    control.Shutdown();
    shutDown = true;
  });
  const bool closed = Eventually([&] { return shutDown.load(); });
  daemon.pulse.Resume();
  closer.join();
  EXPECT_TRUE(closed);
}

namespace {
// What the outputs callback saw, with the time of each report.
struct SeenOutputs {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<OutputList> lists;
  IOutputDevices* watched = nullptr;

  ~SeenOutputs() {
    if (watched != nullptr) watched->SetOutputsCallback(nullptr);
  }
  void Watch(IOutputDevices& outputs) {
    watched = &outputs;
    outputs.SetOutputsCallback([this](const OutputList& list) {
      {
        std::lock_guard lock(mutex);
        lists.push_back(list);
      }
      changed.notify_all();
    });
  }
  template <typename Condition>
  bool Await(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, limit, [&] { return !lists.empty() && condition(lists.back()); });
  }
};

bool Lists(const OutputList& list, const std::string& id) {
  for (const OutputDevice& device : list.devices) {
    if (device.id == id) return !device.description.empty();
  }
  return false;
}
}  // namespace

TEST_F(PulseVolume, ChoosingASinkMakesItTheDefaultAndTheVolumeFollowsIt) {
  ASSERT_TRUE(Shell("pactl set-sink-volume " + OtherSink() + " 20%"));
  Start();
  IOutputDevices* outputs = control_->OutputDevices();
  ASSERT_NE(outputs, nullptr);
  SeenOutputs seen;
  seen.Watch(*outputs);
  ASSERT_TRUE(Eventually([&] { return Lists(outputs->List(), OtherSink()); }));
  OutputList list = outputs->List();
  EXPECT_TRUE(Lists(list, TestSink()));
  EXPECT_EQ(list.defaultId, TestSink());
  EXPECT_TRUE(list.canChoose);

  // Only a listed device, named as one word, is asked for.
  for (const std::string& wrong :
       {std::string(), std::string("quavix_absent"), OtherSink() + " x", std::string(200, 'a')}) {
    EXPECT_FALSE(outputs->MakeDefault(wrong)) << wrong;
  }
  ASSERT_TRUE(outputs->MakeDefault(OtherSink()));
  EXPECT_TRUE(Eventually([] { return Output("pactl get-default-sink") == OtherSink() + "\n"; }));
  EXPECT_TRUE(seen.Await([](const OutputList& now) { return now.defaultId == OtherSink(); }));
  EXPECT_TRUE(AwaitState({0, 20}));  // the slider shows the new default's volume
}

TEST_F(PulseVolume, ASinkThatGoesLeavesTheListWithinASecond) {
  Start();
  SeenOutputs seen;
  seen.Watch(*control_->OutputDevices());
  {
    ExtraSink headphones("quavix_headphones", "sink_properties=device.description=Headphones");
    ASSERT_TRUE(headphones.Loaded());
    ASSERT_TRUE(seen.Await([](const OutputList& now) { return Lists(now, "quavix_headphones"); }));
    std::lock_guard lock(seen.mutex);
    for (const OutputDevice& device : seen.lists.back().devices) {
      if (device.id == "quavix_headphones") {
        EXPECT_EQ(device.description, "Headphones");
      }
    }
  }
  const auto unplugged = std::chrono::steady_clock::now();
  EXPECT_TRUE(seen.Await([](const OutputList& now) { return !Lists(now, "quavix_headphones"); },
                         std::chrono::seconds(1)));
  std::printf("a removed sink left the list after %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - unplugged)
                                         .count()));
  EXPECT_FALSE(Lists(control_->OutputDevices()->List(), "quavix_headphones"));
}
