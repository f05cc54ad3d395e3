#pragma once
// IServiceAnnouncer over avahi-daemon, through Avahi's client library on its own thread (the
// library's threaded poll). The client waits for a daemon that is missing at start-up and
// connects again after a daemon restart, announcing anew each time; each kind of failure is
// logged once for the life of the object.

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/thread-watch.h>

#include <optional>
#include <set>
#include <string>

#include "app/IServiceAnnouncer.h"

class AvahiServiceAnnouncer final : public IServiceAnnouncer {
 public:
  // Main thread. Starts the library's thread; `hostName` goes into the instance name.
  explicit AvahiServiceAnnouncer(const std::string& hostName);
  // Main thread. Stops the thread, then drops the client, which withdraws the announcement.
  ~AvahiServiceAnnouncer() override;
  AvahiServiceAnnouncer(const AvahiServiceAnnouncer&) = delete;
  AvahiServiceAnnouncer& operator=(const AvahiServiceAnnouncer&) = delete;

  void Announce(uint16_t port) override;
  void Withdraw() override;

 private:
  // Everything below runs with the poll's lock held: on the library's thread, in a callback,
  // or on the main thread inside a Lock.
  class Lock;
  static void OnClientState(AvahiClient* client, AvahiClientState state, void* self);
  static void OnGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self);
  static void OnRetry(AvahiTimeout* timeout, void* self);
  void Connect();
  void RetryLater(int delayMs);
  // Publish on the library's thread, at once.
  void PublishSoon();
  void Publish();
  void TakeAlternativeName();
  void TellOnce(const std::string& line);

  AvahiThreadedPoll* poll_ = nullptr;
  AvahiClient* client_ = nullptr;
  AvahiEntryGroup* group_ = nullptr;  // belongs to client_
  AvahiTimeout* retry_ = nullptr;
  AvahiTimeout* publishSoon_ = nullptr;
  std::string name_;              // an alternative one after a collision
  std::optional<uint16_t> port_;  // what is to be announced
  std::set<std::string> told_;
};
