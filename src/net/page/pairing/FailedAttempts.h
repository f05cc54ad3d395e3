#pragma once
// Failed tries to get in, counted per source address: a wrong answer, an unknown phone, a used,
// lapsed or wrong code. Ten failures within a minute shut that address out until the oldest of
// them is a minute old, whatever it tries. Each failure is logged, but never more than one
// line per address a minute, so a guesser cannot flood the log.
//
// Any thread.

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string_view>

#include "net/IClock.h"
#include "net/IpAddress.h"

class FailedAttempts {
 public:
  static constexpr size_t kMostPerMinute = 10;

  explicit FailedAttempts(IClock& clock) : clock_(clock) {}

  // Whether `peer` has failed kMostPerMinute times within the last minute.
  bool ShutOut(const IpAddress& peer);
  // Counts a failure and logs "refused a page from PEER: WHY" when a line for `peer` is due.
  void Count(const IpAddress& peer, std::string_view why);

 private:
  struct Record {
    std::array<uint32_t, kMostPerMinute> times{};  // a ring of the latest failures
    size_t count = 0;                              // how many of them are filled
    size_t next = 0;
    uint32_t loggedAt = 0;
    bool logged = false;
  };
  // Under the mutex: whether `record` holds kMostPerMinute failures of the last minute.
  static bool Full(const Record& record, uint32_t now);
  // Under the mutex: whether nothing about `record` matters any more.
  static bool Stale(const Record& record, uint32_t now);

  IClock& clock_;
  std::mutex mutex_;
  // Bounded: stale records are dropped when it fills, and a source beyond the bound goes
  // uncounted (its tries still have to beat a 128-bit secret).
  std::map<IpAddress, Record> records_;
};
