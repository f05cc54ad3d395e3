#pragma once
// What lets a phone's page in: the codes, the paired phones and the failed tries, one set per
// server. A page socket that must prove a key is let in by a PageAdmission over this.
// Any thread.

#include <cstdint>
#include <functional>

#include "net/page/pairing/FailedAttempts.h"
#include "net/page/pairing/PairedDevices.h"
#include "net/page/pairing/PairingCodes.h"

// Seconds since the Unix epoch, for when a phone paired.
using WallClock = std::function<int64_t()>;
WallClock SystemWallClock();

struct Pairing {
  Pairing(IClock& clock, IPairedDeviceStore& store, WallClock wallClock = SystemWallClock())
      : codes(clock), devices(store), failures(clock), now(std::move(wallClock)) {}

  PairingCodes codes;
  PairedDevices devices;
  FailedAttempts failures;
  WallClock now;
};
