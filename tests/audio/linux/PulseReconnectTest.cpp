// The endpoint adapter across a restart of the sound server: a daemon of the test's own, on a
// socket of its own, is stopped and started again under the backend.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "audio/EndpointVolumeControl.h"
#include "audio/linux/PulseEndpointDevice.h"
#include "fixtures/SoundServer.h"

extern char** environ;

using namespace soundserver;

namespace {
struct Seen {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<VolumeState> states;
};
Seen g_seen;

void OnChange(int32_t, const VolumeState* state) {
  {
    std::lock_guard lock(g_seen.mutex);
    g_seen.states.push_back(*state);
  }
  g_seen.changed.notify_all();
}

bool AwaitState(VolumeState wanted) {
  std::unique_lock lock(g_seen.mutex);
  return g_seen.changed.wait_for(lock, std::chrono::seconds(15), [&] {
    return !g_seen.states.empty() && g_seen.states.back() == wanted;
  });
}

// One private PulseAudio daemon; Start and Stop may be called again for a restart.
class PrivateDaemon {
 public:
  PrivateDaemon() {
    char dir[] = "/tmp/quavix-restart-XXXXXX";
    dir_ = ::mkdtemp(dir) != nullptr ? dir : "";
    ::mkdir((dir_ + "/rt").c_str(), 0700);
  }
  ~PrivateDaemon() {
    Stop();
    Shell("rm -rf " + dir_);
  }
  std::string Server() const { return "unix:" + dir_ + "/native"; }

  bool Start() {
    const std::string runtime = "PULSE_RUNTIME_PATH=" + dir_ + "/rt";
    const std::string state = "PULSE_STATE_PATH=" + dir_ + "/rt";
    std::vector<std::string> env{runtime, state};
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      if (entry.rfind("PULSE_", 0) != 0) env.push_back(entry);
    }
    const std::vector<std::string> args{
        "pulseaudio",
        "-n",
        "--daemonize=no",
        "--exit-idle-time=-1",
        "--disallow-exit",
        "--use-pid-file=no",
        "--load=module-null-sink sink_name=restart_sink",
        "--load=module-native-protocol-unix auth-anonymous=1 socket=" + dir_ + "/native",
        "--log-target=file:" + dir_ + "/log"};
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    if (::posix_spawnp(&pid_, "pulseaudio", nullptr, nullptr, argv.data(), envp.data()) != 0) {
      pid_ = -1;
      return false;
    }
    return Eventually([] { return Shell("pactl info >/dev/null 2>&1"); }, std::chrono::seconds(10));
  }
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  std::string dir_;
  pid_t pid_ = -1;
};
}  // namespace

TEST(PulseReconnect, TheBackendComesBackAfterTheServerRestarts) {
  QUAVIX_NEED_SOUND_SERVER();
  const char* old = std::getenv("PULSE_SERVER");
  const std::string saved = old != nullptr ? old : "";
  PrivateDaemon daemon;
  ::setenv("PULSE_SERVER", daemon.Server().c_str(), 1);
  ASSERT_TRUE(daemon.Start());

  {
    EndpointVolumeControl control(std::make_unique<PulseEndpointDevice>());
    ASSERT_EQ(control.Initialize(), InitResult::Ok);
    control.SetChangeCallback(&OnChange, 0);
    ASSERT_TRUE(Shell("pactl set-sink-volume @DEFAULT_SINK@ 42%"));
    EXPECT_TRUE(AwaitState({0, 42}));

    daemon.Stop();
    const VolumeState request{1, 10};
    EXPECT_FALSE(control.SetState(&request));  // nobody to take it

    ASSERT_TRUE(daemon.Start());
    // The new server starts at 100 %; a change made there reaches the callback again.
    ASSERT_TRUE(Shell("pactl set-sink-volume @DEFAULT_SINK@ 33%"));
    EXPECT_TRUE(AwaitState({0, 33}));
    // Writes work again too (once the reconnection is through, which the state above proves).
    const VolumeState again{1, 60};
    EXPECT_TRUE(control.SetState(&again));
    EXPECT_TRUE(AwaitState(again));
    EXPECT_TRUE(IsMuted("@DEFAULT_SINK@"));

    control.SetChangeCallback(nullptr, 0);
    EXPECT_TRUE(control.Shutdown());
  }

  {
    // Shutdown while the server is away and the backend keeps trying: it returns promptly.
    EndpointVolumeControl control(std::make_unique<PulseEndpointDevice>());
    ASSERT_EQ(control.Initialize(), InitResult::Ok);
    daemon.Stop();
    EXPECT_FALSE(control.Shutdown());  // unsubscribing could not reach the server
  }

  if (old != nullptr) {
    ::setenv("PULSE_SERVER", saved.c_str(), 1);
  } else {
    ::unsetenv("PULSE_SERVER");
  }
}
