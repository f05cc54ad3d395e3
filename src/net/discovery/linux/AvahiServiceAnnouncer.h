#pragma once
// IServiceAnnouncer over avahi-daemon, through Avahi's client library on a thread of its own.
// The client's calls wait for the daemon's answers (up to 25 s each when it hangs), so only
// that thread ever makes them: the main thread leaves what is to be announced under a mutex of
// ours and wakes the thread through an eventfd, and never waits for the daemon. The client
// waits for a daemon that is missing at start-up and connects again after a daemon restart,
// announcing anew each time; each kind of failure is logged once for the life of the object.

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/simple-watch.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "net/Thread.h"
#include "net/discovery/IServiceAnnouncer.h"

class AvahiServiceAnnouncer final : public IServiceAnnouncer {
 public:
  // Main thread. Starts the announcer's thread; `hostName` goes into the instance name.
  explicit AvahiServiceAnnouncer(const std::string& hostName);
  // Main thread. Stops as Stop does, without a bound.
  ~AvahiServiceAnnouncer() override;
  AvahiServiceAnnouncer(const AvahiServiceAnnouncer&) = delete;
  AvahiServiceAnnouncer& operator=(const AvahiServiceAnnouncer&) = delete;

  void Announce(uint16_t port) override { Want(port); }
  void Withdraw() override { Want(std::nullopt); }
  bool Stop(int boundMs) override;

 private:
  // Main thread: what is to be announced from now on.
  void Want(std::optional<uint16_t> port);
  void Wake();

  // The announcer's thread (and the constructor, before it starts).
  static void Run(void* self);
  static void OnWake(AvahiWatch* watch, int fd, AvahiWatchEvent event, void* self);
  static void OnClientState(AvahiClient* client, AvahiClientState state, void* self);
  static void OnGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self);
  static void OnRetry(AvahiTimeout* timeout, void* self);
  void Connect();
  void RetryLater(int delayMs);
  // Publishes what is wanted now, and again later when that failed.
  void Publish();
  // False when a call to the daemon failed.
  bool PublishNow();
  void TakeAlternativeName();
  void TellOnce(const std::string& line);

  // Between the main thread and the announcer's.
  std::mutex mutex_;
  std::condition_variable ended_;
  std::optional<uint16_t> wanted_;  // what the main thread wants announced
  bool quit_ = false;
  bool finished_ = false;  // the thread has let go of everything of Avahi's
  int wakeFd_ = -1;
  Thread thread_;

  // The announcer's thread only.
  AvahiSimplePoll* poll_ = nullptr;
  AvahiWatch* wake_ = nullptr;
  AvahiClient* client_ = nullptr;
  AvahiEntryGroup* group_ = nullptr;  // belongs to client_
  AvahiTimeout* retry_ = nullptr;
  AvahiTimeout* republish_ = nullptr;
  std::string name_;              // an alternative one after a collision
  std::optional<uint16_t> port_;  // what is announced, or being announced
  std::set<std::string> told_;
};
