// A burst of changes on the sound server while the change callback is busy (a broadcast pass
// over many clients takes tens of milliseconds): the adapter must hand over the newest state
// next, not every reading queued behind the busy one, or clients hear the final state only after
// a backlog of stale passes.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "PrivatePulse.h"
#include "audio/linux/PulseEndpointDevice.h"
#include "fixtures/SoundServer.h"

namespace {

using namespace std::chrono_literals;

// Blocks inside its first notification until released, as a long broadcast would.
class BusyTarget final : public IEndpointNotifyTarget {
 public:
  int32_t OnNotify(const EndpointNotification* notification) override {
    std::unique_lock lock(mutex_);
    seen_.push_back(*notification);
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_; });
    return kNotifyOk;
  }
  bool AwaitCount(size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return seen_.size() >= count; });
  }
  bool AwaitVolume(float volume) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] {
      return !seen_.empty() && seen_.back().masterVolume > volume - 0.001f &&
             seen_.back().masterVolume < volume + 0.001f;
    });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  size_t Count() {
    std::lock_guard lock(mutex_);
    return seen_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<EndpointNotification> seen_;
  bool released_ = false;
};

}  // namespace

TEST(NotificationBurst, TheNewestStateComesNextNotABacklog) {
  QUAVIX_NEED_SOUND_SERVER();
  PrivatePulse pulse;
  ASSERT_TRUE(pulse.Start());
  setenv("PULSE_SERVER", pulse.Server().c_str(), 1);
  {
    // Declared in this order so that on any early return the target is released first (the
    // device's thread may be held inside it), then the device ends, then the target goes.
    BusyTarget target;
    PulseEndpointDevice device;
    struct ReleaseOnExit {
      BusyTarget& target;
      ~ReleaseOnExit() { target.Release(); }
    } releaseOnExit{target};
    ASSERT_TRUE(device.CreateEnumerator());
    ASSERT_TRUE(device.GetDefaultRenderEndpoint());
    ASSERT_TRUE(device.ActivateEndpointVolume());
    ASSERT_TRUE(device.RegisterNotify(&target));
    ASSERT_TRUE(target.AwaitCount(1));  // the first reading; the target is now busy with it

    // pactl, not a second libpulse connection in this process: two of them share memory
    // blocks in ways TSan cannot follow.
    constexpr int kChanges = 40;
    for (int i = 0; i < kChanges; ++i) {
      ASSERT_TRUE(pulse.Pactl("set-sink-volume @DEFAULT_SINK@ " + std::to_string(10 + i) + "%"));
    }
    // The adapter reads each change back asynchronously; the device's own read of the sink
    // goes through the same connection after them, so once it shows the last value every
    // event before it has been handled.
    float scalar = 0;
    ASSERT_TRUE(Eventually(
        [&] { return device.GetMasterScalar(&scalar) && scalar > 0.485f && scalar < 0.495f; }));
    target.Release();
    EXPECT_TRUE(target.AwaitVolume(0.49f)) << "the final state never arrived";
    // The busy one, then the newest; a straggler event may add one more.
    EXPECT_LE(target.Count(), 3u) << target.Count() - 1
                                  << " notifications queued behind a busy one";
    device.UnregisterNotify(&target);
    device.ReleaseEndpointVolume();
    device.ReleaseEnumerator();
  }
  unsetenv("PULSE_SERVER");
}
