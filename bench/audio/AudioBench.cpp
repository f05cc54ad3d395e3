// Measures, against the running sound server (run it under tests/fixtures/with-sound-server.sh):
//  1. the time from another client's volume change on the server to our change callback,
//     through the endpoint backend (p50 / p99 / max over the changes);
//  2. the mixer backend's idle cost: the time one quiet poll takes over ALSA "default"
//     (4 such polls a second once backed off to 250 ms).
#include <pulse/introspect.h>
#include <pulse/volume.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include "audio/EndpointVolumeControl.h"
#include "audio/WaveOutVolumeControl.h"
#include "audio/linux/AlsaMixerDevice.h"
#include "audio/linux/PulseConnection.h"
#include "audio/linux/PulseEndpointDevice.h"

namespace {
using Clock = std::chrono::steady_clock;

std::mutex g_mutex;
std::condition_variable g_changed;
int32_t g_lastVolume = -1;
Clock::time_point g_lastAt;

void OnChange(int32_t, const VolumeState* state) {
  const Clock::time_point now = Clock::now();
  std::lock_guard lock(g_mutex);
  g_lastVolume = state->volume;
  g_lastAt = now;
  g_changed.notify_all();
}

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * values.size()));
  return values[index];
}

void OnSuccess(pa_context*, int, void* connection) {
  static_cast<PulseConnection*>(connection)->Signal();
}

bool MeasureEndpointLatency(int changes) {
  EndpointVolumeControl control(std::make_unique<PulseEndpointDevice>());
  if (control.Initialize() != InitResult::Ok) {
    std::fprintf(stderr, "endpoint backend did not start (is a sound server running?)\n");
    return false;
  }
  control.SetChangeCallback(&OnChange, 0);
  PulseConnection other;  // the "other program"
  if (!other.Connect("bench writer")) return false;
  std::vector<double> latenciesMs;
  for (int i = 0; i < changes; ++i) {
    const int32_t percent = 10 + (i % 2) * 50 + (i % 7);
    pa_cvolume volume;
    pa_cvolume_set(&volume, 2, static_cast<pa_volume_t>(percent / 100.0 * PA_VOLUME_NORM + 0.5));
    Clock::time_point sent;
    {
      PulseLock lock(other.Mainloop());
      sent = Clock::now();
      other.Await(pa_context_set_sink_volume_by_name(other.Context(), "@DEFAULT_SINK@", &volume,
                                                     &OnSuccess, &other));
    }
    std::unique_lock lock(g_mutex);
    if (!g_changed.wait_for(lock, std::chrono::seconds(2),
                            [&] { return g_lastVolume == percent; })) {
      std::fprintf(stderr, "change %d (%d %%) never arrived\n", i, percent);
      continue;
    }
    latenciesMs.push_back(std::chrono::duration<double, std::milli>(g_lastAt - sent).count());
  }
  control.SetChangeCallback(nullptr, 0);
  control.Shutdown();
  if (latenciesMs.empty()) return false;
  std::printf(
      "endpoint: server change -> callback over %zu changes: p50 %.3f ms, p99 %.3f ms, max %.3f "
      "ms\n",
      latenciesMs.size(), Percentile(latenciesMs, 0.5), Percentile(latenciesMs, 0.99),
      *std::max_element(latenciesMs.begin(), latenciesMs.end()));
  return true;
}

class IdleTimer final : public IPollTimer {
 public:
  void Set(uint32_t periodMs, PollTimerProcedure) override { period = periodMs; }
  void Kill() override {}
  uint32_t period = 0;
};

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

bool MeasureMixerIdleCost(int polls) {
  IdleTimer timer;
  WaveOutVolumeControl control(std::make_unique<AlsaMixerDevice>(), timer);
  if (control.Initialize() != InitResult::Ok) {
    std::fprintf(stderr, "mixer backend did not start on ALSA \"default\"\n");
    return false;
  }
  for (int i = 0; i < 8; ++i) control.Poll();  // back off to the idle period
  const double cpuStart = ThreadCpuMs();
  const Clock::time_point wallStart = Clock::now();
  for (int i = 0; i < polls; ++i) control.Poll();
  const double wallUs =
      std::chrono::duration<double, std::micro>(Clock::now() - wallStart).count() / polls;
  const double cpuUs = (ThreadCpuMs() - cpuStart) * 1e3 / polls;
  const double perSecond = 1000.0 / timer.period;
  std::printf(
      "mixer: idle period %u ms; one quiet poll %.1f us wall, %.1f us CPU; "
      "%.1f polls/s -> %.3f ms CPU per second (%.4f %% of one core)\n",
      timer.period, wallUs, cpuUs, perSecond, cpuUs * perSecond / 1e3, cpuUs * perSecond / 1e4);
  control.Shutdown();
  return true;
}
}  // namespace

int main() {
  const bool endpoint = MeasureEndpointLatency(500);
  const bool mixer = MeasureMixerIdleCost(2000);
  return endpoint && mixer ? 0 : 1;
}
