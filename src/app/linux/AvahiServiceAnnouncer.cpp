#include "app/linux/AvahiServiceAnnouncer.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/timeval.h>
#include <unistd.h>

#include "base/Log.h"

namespace {

// A new client after the daemon went away, or after the system bus could not be reached.
constexpr int kReconnectMs = 0;
constexpr int kNoBusRetryMs = 5000;

}  // namespace

class AvahiServiceAnnouncer::Lock {
 public:
  explicit Lock(AvahiThreadedPoll* poll) : poll_(poll) { avahi_threaded_poll_lock(poll_); }
  ~Lock() { avahi_threaded_poll_unlock(poll_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  AvahiThreadedPoll* poll_;
};

AvahiServiceAnnouncer::AvahiServiceAnnouncer(const std::string& hostName)
    : name_(ServiceInstanceName(hostName)) {
  poll_ = avahi_threaded_poll_new();
  if (poll_ == nullptr) {
    LogError("cannot announce the server on the network: Avahi's event loop failed to start");
    return;
  }
  // Connecting talks to the daemon and waits for its answers: that is done on the library's
  // thread, so the main thread never waits for a slow daemon. Likewise every change below.
  RetryLater(0);  // before the thread starts, so no lock is needed yet
  if (avahi_threaded_poll_start(poll_) < 0) {
    LogError("cannot announce the server on the network: Avahi's thread failed to start");
  }
}

AvahiServiceAnnouncer::~AvahiServiceAnnouncer() {
  if (poll_ == nullptr) return;
  avahi_threaded_poll_stop(poll_);  // joins the thread; nothing runs on it afterwards
  if (retry_ != nullptr) avahi_threaded_poll_get(poll_)->timeout_free(retry_);
  if (publishSoon_ != nullptr) avahi_threaded_poll_get(poll_)->timeout_free(publishSoon_);
  if (client_ != nullptr) avahi_client_free(client_);  // frees the group: the daemon drops it
  avahi_threaded_poll_free(poll_);
}

void AvahiServiceAnnouncer::Announce(uint16_t port) {
  if (poll_ == nullptr) return;
  Lock lock(poll_);
  if (port_ == port) return;
  port_ = port;
  PublishSoon();
}

void AvahiServiceAnnouncer::Withdraw() {
  if (poll_ == nullptr) return;
  Lock lock(poll_);
  if (!port_) return;
  port_.reset();
  PublishSoon();
}

void AvahiServiceAnnouncer::PublishSoon() {
  struct timeval now;
  avahi_elapse_time(&now, 0, 0);
  const AvahiPoll* api = avahi_threaded_poll_get(poll_);
  if (publishSoon_ == nullptr) {
    publishSoon_ = api->timeout_new(
        api, &now,
        [](AvahiTimeout*, void* self) { static_cast<AvahiServiceAnnouncer*>(self)->Publish(); },
        this);
  } else {
    api->timeout_update(publishSoon_, &now);
  }
}

void AvahiServiceAnnouncer::Connect() {
  int error = 0;
  // NO_FAIL: a daemon that is missing now is waited for (state CONNECTING).
  AvahiClient* client = avahi_client_new(avahi_threaded_poll_get(poll_), AVAHI_CLIENT_NO_FAIL,
                                         &OnClientState, this, &error);
  if (client == nullptr) {
    // Only the system bus itself can be missing here; it may come up later.
    TellOnce(std::string("cannot announce the server on the network: ") + avahi_strerror(error));
    RetryLater(kNoBusRetryMs);
    return;
  }
  client_ = client;
}

void AvahiServiceAnnouncer::RetryLater(int delayMs) {
  struct timeval when;
  avahi_elapse_time(&when, delayMs, 0);
  const AvahiPoll* api = avahi_threaded_poll_get(poll_);
  if (retry_ == nullptr) {
    retry_ = api->timeout_new(api, &when, &OnRetry, this);
  } else {
    api->timeout_update(retry_, &when);
  }
}

// A timeout is disarmed before its callback runs.
void AvahiServiceAnnouncer::OnRetry(AvahiTimeout*, void* self) {
  auto* announcer = static_cast<AvahiServiceAnnouncer*>(self);
  if (announcer->client_ != nullptr) {
    avahi_client_free(announcer->client_);
    announcer->client_ = nullptr;
  }
  announcer->Connect();
}

void AvahiServiceAnnouncer::OnClientState(AvahiClient* client, AvahiClientState state, void* self) {
  auto* announcer = static_cast<AvahiServiceAnnouncer*>(self);
  // Also called from inside avahi_client_new, before Connect has stored the client.
  announcer->client_ = client;
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      LogNote("avahi-daemon is running");
      announcer->Publish();
      break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
      // The host's own name is being registered anew; the service follows once it runs.
      if (announcer->group_ != nullptr) avahi_entry_group_reset(announcer->group_);
      break;
    case AVAHI_CLIENT_CONNECTING:
      announcer->TellOnce(
          "avahi-daemon is not running: the server is announced on the network once it starts");
      break;
    case AVAHI_CLIENT_FAILURE:
      // The group went with the daemon's side of the client.
      announcer->group_ = nullptr;
      if (avahi_client_errno(client) == AVAHI_ERR_DISCONNECTED) {
        // The daemon stopped or restarted. The client cannot be freed inside its own callback,
        // so a new one is made from the loop, and it waits for the daemon to come back.
        LogNote("avahi-daemon went away; waiting for it");
        announcer->RetryLater(kReconnectMs);
      } else {
        announcer->TellOnce(std::string("cannot announce the server on the network: ") +
                            avahi_strerror(avahi_client_errno(client)));
      }
      break;
  }
}

void AvahiServiceAnnouncer::Publish() {
  if (client_ == nullptr || avahi_client_get_state(client_) != AVAHI_CLIENT_S_RUNNING) return;
  if (group_ == nullptr) {
    group_ = avahi_entry_group_new(client_, &OnGroupState, this);
    if (group_ == nullptr) {
      TellOnce(std::string("cannot announce the server on the network: ") +
               avahi_strerror(avahi_client_errno(client_)));
      return;
    }
  } else {
    avahi_entry_group_reset(group_);  // also what withdrawing is
  }
  if (!port_) return;
  int error = 0;
  while ((error = avahi_entry_group_add_service(
              group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, static_cast<AvahiPublishFlags>(0),
              name_.c_str(), kServiceType, nullptr, nullptr, *port_, kServiceTxt, nullptr)) ==
         AVAHI_ERR_COLLISION) {
    TakeAlternativeName();  // another program on this machine uses the name
  }
  if (error == AVAHI_OK) error = avahi_entry_group_commit(group_);
  if (error != AVAHI_OK) {
    TellOnce(std::string("cannot announce the server on the network: ") + avahi_strerror(error));
    avahi_entry_group_reset(group_);
  }
}

void AvahiServiceAnnouncer::OnGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state,
                                         void* self) {
  auto* announcer = static_cast<AvahiServiceAnnouncer*>(self);
  switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
      LogNote("announced on the network as \"" + announcer->name_ + "\"");
      break;
    case AVAHI_ENTRY_GROUP_COLLISION:
      // Another machine on the network uses the name.
      announcer->TakeAlternativeName();
      announcer->Publish();
      break;
    case AVAHI_ENTRY_GROUP_FAILURE:
      announcer->TellOnce(std::string("cannot announce the server on the network: ") +
                          avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))));
      break;
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
      break;
  }
}

void AvahiServiceAnnouncer::TakeAlternativeName() {
  char* alternative = avahi_alternative_service_name(name_.c_str());
  LogNote("the name \"" + name_ + "\" is taken; announcing as \"" + alternative + "\"");
  name_ = alternative;
  avahi_free(alternative);
}

void AvahiServiceAnnouncer::TellOnce(const std::string& line) {
  if (told_.insert(line).second) LogError(line);
}

std::unique_ptr<IServiceAnnouncer> CreateServiceAnnouncer() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  return std::make_unique<AvahiServiceAnnouncer>(host);
}
