// Measures, against the running sound server (run it under tests/fixtures/with-sound-server.sh):
//  1. the sound-server backend: how long SetState holds up the calling reader thread, and the
//     time from another client's volume change on the server to our change callback
//     (p50 / p99 / max over the changes);
//  2. the ALSA backend's idle cost: the time one quiet poll takes over ALSA "default"
//     (4 such polls a second once backed off to 250 ms).
//   audio_bench [changes=500] [polls=2000]
// Exits 1 when a backend did not start or no change arrived.
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "audio/linux/AlsaVolumeControl.h"
#include "audio/linux/PulseVolumeControl.h"

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

void PrintPercentiles(const char* what, const char* unit, const std::vector<double>& values) {
  std::printf("%s over %zu: p50 %.3f %s, p99 %.3f %s, max %.3f %s\n", what, values.size(),
              Percentile(values, 0.5), unit, Percentile(values, 0.99), unit,
              *std::max_element(values.begin(), values.end()), unit);
}

bool MeasureSoundServer(int changes) {
  PulseVolumeControl control;
  PulseVolumeControl other;  // the "other program"
  if (control.Initialize() != InitResult::Ok || other.Initialize() != InitResult::Ok) {
    std::fprintf(stderr, "sound-server backend did not start (is a sound server running?)\n");
    return false;
  }
  control.SetChangeCallback(&OnChange, 0);
  std::vector<double> latenciesMs;
  std::vector<double> setStateUs;
  for (int i = 0; i < changes; ++i) {
    const int32_t percent = 10 + (i % 2) * 50 + (i % 7);
    const VolumeState request{0, percent};
    const Clock::time_point sent = Clock::now();
    other.SetState(&request);
    setStateUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
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
  other.Shutdown();
  if (latenciesMs.empty()) return false;
  PrintPercentiles("sound server: SetState on the calling thread", "us", setStateUs);
  PrintPercentiles("sound server: server change -> callback", "ms", latenciesMs);
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
  AlsaVolumeControl control(timer);
  if (control.Initialize() != InitResult::Ok) {
    std::fprintf(stderr, "ALSA backend did not start on \"default\"\n");
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

int main(int argc, char** argv) {
  const int changes = argc > 1 ? std::atoi(argv[1]) : 500;
  const int polls = argc > 2 ? std::atoi(argv[2]) : 2000;
  const bool soundServer = MeasureSoundServer(changes);
  const bool mixer = MeasureMixerIdleCost(polls);
  return soundServer && mixer ? 0 : 1;
}
