#pragma once
// A connection flood: waves of attempts against one port, far more than a server can hold.

#include <algorithm>
#include <chrono>
#include <functional>

#include "support/ClientFleet.h"

struct FloodResult {
  long attempts = 0;
  double seconds = 0;
  bool serverSurvived = true;
};

// Makes at least `attempts`, then drains (for at most 30 s more) until `wantHeld` clients are
// held. While flooding, attempts not greeted within two seconds are given up. The listen
// backlog is first in, first out, so a server slower than the flood (a sanitizer build) would
// only ever reach attempts already given up: draining opens just what is still missing and
// waits for it, as a patient client would.
// `serverAlive` is asked after every wave; the flood stops early when it says no.
inline FloodResult Flood(ClientFleet& fleet, uint16_t port, long attempts, size_t heldAtOnce,
                         size_t wantHeld, const std::function<bool()>& serverAlive) {
  using Clock = std::chrono::steady_clock;
  FloodResult result;
  const auto start = Clock::now();
  auto extraUntil = Clock::time_point::max();
  for (;;) {
    const bool draining = result.attempts >= attempts;
    const size_t held = fleet.CountLive();
    if (draining) {
      if (held >= wantHeld) break;
      if (extraUntil == Clock::time_point::max())
        extraUntil = Clock::now() + std::chrono::seconds(30);
      if (Clock::now() >= extraUntil) break;
    }
    size_t open = 0;
    size_t pending = 0;  // not yet greeted
    for (size_t i = 0; i < fleet.Size(); ++i) {
      open += fleet[i].fd >= 0 ? 1 : 0;
      pending += fleet[i].fd >= 0 && !fleet[i].greeted ? 1 : 0;
    }
    const long room = draining ? static_cast<long>(wantHeld) - static_cast<long>(held + pending)
                               : static_cast<long>(heldAtOnce) - static_cast<long>(open);
    const long wave = std::min<long>(500, room);
    if (wave > 0) result.attempts += static_cast<long>(fleet.Open(port, static_cast<size_t>(wave)));
    fleet.PumpUntil([] { return false; }, std::chrono::milliseconds(100));
    const auto now = Clock::now();
    for (size_t i = 0; i < fleet.Size(); ++i) {
      if (!draining && fleet[i].fd >= 0 && !fleet[i].greeted &&
          now - fleet[i].openedAt > std::chrono::seconds(2)) {
        fleet.Close(i);
      }
    }
    if (!serverAlive()) {
      result.serverSurvived = false;
      break;
    }
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return result;
}

// One client asks for `request` and another hears it, before any flood: the whole path runs
// once while descriptors are plenty. (UBSan checks a virtual call's object the first time through
// a pipe of its own, which a process out of descriptors cannot open; it then reports a false
// "invalid vptr". Once checked, a type is cached.)
inline bool WarmUp(uint16_t port, uint8_t request) {
  ClientFleet pair;
  // One accept thread lists each client before it accepts the next: once the second is greeted,
  // the first is listed and hears the second's request.
  if (pair.Connect(port, 1, std::chrono::seconds(10)) != 1) return false;
  if (pair.Connect(port, 1, std::chrono::seconds(10)) != 1) return false;
  return pair.Send(1, request) &&
         pair.PumpUntil([&] { return pair[0].lastState == request; }, std::chrono::seconds(10));
}
