#include "net/page/pairing/FailedAttempts.h"

#include <string>

#include "base/Log.h"

namespace {

constexpr uint32_t kMinuteMs = 60000;
constexpr size_t kMostRemembered = 4096;

}  // namespace

bool FailedAttempts::Full(const Record& record, uint32_t now) {
  // With the ring full, `next` is its oldest entry.
  return record.count == kMostPerMinute && now - record.times[record.next] < kMinuteMs;
}

bool FailedAttempts::Stale(const Record& record, uint32_t now) {
  const uint32_t newest = record.times[(record.next + kMostPerMinute - 1) % kMostPerMinute];
  return now - newest >= kMinuteMs && (!record.logged || now - record.loggedAt >= kMinuteMs);
}

bool FailedAttempts::ShutOut(const IpAddress& peer) {
  std::lock_guard lock(mutex_);
  const auto found = records_.find(peer);
  return found != records_.end() && Full(found->second, clock_.NowMs());
}

void FailedAttempts::Count(const IpAddress& peer, std::string_view why) {
  std::unique_lock lock(mutex_);
  const uint32_t now = clock_.NowMs();
  auto found = records_.find(peer);
  if (found == records_.end()) {
    if (records_.size() >= kMostRemembered) {
      std::erase_if(records_, [now](const auto& entry) { return Stale(entry.second, now); });
      if (records_.size() >= kMostRemembered) return;
    }
    found = records_.emplace(peer, Record{}).first;
  }
  Record& record = found->second;
  record.times[record.next] = now;
  record.next = (record.next + 1) % kMostPerMinute;
  record.count = std::min(record.count + 1, kMostPerMinute);
  const bool due = !record.logged || now - record.loggedAt >= kMinuteMs;
  if (due) {
    record.logged = true;
    record.loggedAt = now;
  }
  lock.unlock();
  if (due) LogError("refused a page from " + IpAddressText(peer) + ": " + std::string(why));
}
