// A burst of changes on the sound server while the change callback is busy (a broadcast pass
// over many clients takes tens of milliseconds): the backend must hand over the newest state
// next, not every reading queued behind the busy one, or clients hear the final state only after
// a backlog of stale passes.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "audio/linux/PulseVolumeControl.h"
#include "support/SoundServer.h"

namespace {

using namespace std::chrono_literals;

// Blocks inside its first call until released, as a long broadcast would. A plain function
// takes the callback, so the recorder is global.
struct BusyCallback {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<VolumeState> seen;
  bool released = false;
};
BusyCallback g_busy;

void OnChange(int32_t, const VolumeState* state) {
  std::unique_lock lock(g_busy.mutex);
  g_busy.seen.push_back(*state);
  g_busy.changed.notify_all();
  g_busy.changed.wait_for(lock, 30s, [] { return g_busy.released; });
}

bool Await(const std::function<bool()>& condition) {
  std::unique_lock lock(g_busy.mutex);
  return g_busy.changed.wait_for(lock, 10s, condition);
}

void Release() {
  std::lock_guard lock(g_busy.mutex);
  g_busy.released = true;
  g_busy.changed.notify_all();
}

}  // namespace

TEST(NotificationBurst, TheNewestStateComesNextNotABacklog) {
  QUAVIX_NEED_SOUND_SERVER();
  soundserver::PrivatePulse pulse;
  ASSERT_TRUE(pulse.Start());
  setenv("PULSE_SERVER", pulse.Server().c_str(), 1);
  {
    PulseVolumeControl control;
    // Released on every path before the control ends: its thread may be held in the callback.
    struct ReleaseOnExit {
      ~ReleaseOnExit() { Release(); }
    } releaseOnExit;
    ASSERT_EQ(control.Initialize(), InitResult::Ok);
    control.SetChangeCallback(&OnChange, 0);
    ASSERT_TRUE(pulse.Pactl("set-sink-volume @DEFAULT_SINK@ 5%"));
    ASSERT_TRUE(Await([] { return !g_busy.seen.empty(); }));  // now busy with it

    // pactl, not a second libpulse connection in this process: two of them share memory
    // blocks in ways TSan cannot follow.
    constexpr int kChanges = 40;
    for (int i = 0; i < kChanges; ++i) {
      ASSERT_TRUE(pulse.Pactl("set-sink-volume @DEFAULT_SINK@ " + std::to_string(10 + i) + "%"));
    }
    // The cache follows the server while the callback is held up.
    ASSERT_TRUE(Eventually([&] {
      VolumeState state;
      control.GetState(&state);
      return state.volume == 49;
    }));
    Release();
    EXPECT_TRUE(Await([] { return g_busy.seen.back().volume == 49; }))
        << "the final state never arrived";
    // The busy one, then the newest; a straggler event may add one more.
    const size_t count = g_busy.seen.size();
    EXPECT_LE(count, 3u) << count - 1 << " notifications queued behind a busy one";
    control.SetChangeCallback(nullptr, 0);
    control.Shutdown();
  }
  unsetenv("PULSE_SERVER");
}
