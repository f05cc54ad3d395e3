#include "net/discovery/linux/AvahiServiceAnnouncer.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/timeval.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>

#include "base/Log.h"
#include "net/HostName.h"
#include "net/discovery/DnsSdService.h"

namespace {

// A new client after the daemon went away, or after the system bus could not be reached.
constexpr int kReconnectMs = 0;
constexpr int kNoBusRetryMs = 5000;
// Another try after a call to the daemon failed.
constexpr int kRepublishMs = 2000;

}  // namespace

AvahiServiceAnnouncer::AvahiServiceAnnouncer(const std::string& hostName)
    : name_(ServiceInstanceName(hostName)) {
  poll_ = avahi_simple_poll_new();
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  const AvahiPoll* api = poll_ != nullptr ? avahi_simple_poll_get(poll_) : nullptr;
  if (api != nullptr && wakeFd_ >= 0) {
    wake_ = api->watch_new(api, wakeFd_, AVAHI_WATCH_IN, &OnWake, this);
  }
  if (wake_ == nullptr) {
    LogError("cannot announce the server on the network: Avahi's event loop failed to start");
    return;
  }
  // Connecting talks to the daemon and waits for its answers: that is done on the thread.
  RetryLater(0);
  if (!thread_.Start(&Run, this, 0)) {
    LogError("cannot announce the server on the network: its thread failed to start");
  }
}

AvahiServiceAnnouncer::~AvahiServiceAnnouncer() {
  Stop(-1);
  if (wake_ != nullptr && !thread_.Joinable()) avahi_simple_poll_get(poll_)->watch_free(wake_);
  if (retry_ != nullptr) avahi_simple_poll_get(poll_)->timeout_free(retry_);
  if (republish_ != nullptr) avahi_simple_poll_get(poll_)->timeout_free(republish_);
  if (poll_ != nullptr) avahi_simple_poll_free(poll_);
  if (wakeFd_ >= 0) close(wakeFd_);
}

void AvahiServiceAnnouncer::Want(std::optional<uint16_t> port) {
  {
    std::lock_guard lock(mutex_);
    wanted_ = port;
  }
  Wake();
}

void AvahiServiceAnnouncer::Wake() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = write(wakeFd_, &one, sizeof one);
}

bool AvahiServiceAnnouncer::Stop(int boundMs) {
  if (!thread_.Joinable()) return true;
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  Wake();
  std::unique_lock lock(mutex_);
  const auto finished = [this] { return finished_; };
  if (boundMs < 0) {
    ended_.wait(lock, finished);
  } else if (!ended_.wait_for(lock, std::chrono::milliseconds(boundMs), finished)) {
    return false;  // inside a call to a daemon that does not answer
  }
  lock.unlock();
  thread_.Join();
  return true;
}

void AvahiServiceAnnouncer::Run(void* self) {
  auto* announcer = static_cast<AvahiServiceAnnouncer*>(self);
  while (avahi_simple_poll_iterate(announcer->poll_, -1) == 0) {
  }
  // Here, not on the main thread: freeing the client tells the daemon, which may not answer.
  // Freeing it withdraws what it announced.
  if (announcer->client_ != nullptr) avahi_client_free(announcer->client_);
  announcer->client_ = nullptr;
  announcer->group_ = nullptr;
  std::lock_guard lock(announcer->mutex_);
  announcer->finished_ = true;
  announcer->ended_.notify_all();
}

void AvahiServiceAnnouncer::OnWake(AvahiWatch*, int fd, AvahiWatchEvent, void* self) {
  auto* announcer = static_cast<AvahiServiceAnnouncer*>(self);
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t ignored = read(fd, &count, sizeof count);
  std::optional<uint16_t> wanted;
  bool quit = false;
  {
    std::lock_guard lock(announcer->mutex_);
    wanted = announcer->wanted_;
    quit = announcer->quit_;
  }
  if (wanted != announcer->port_) {
    announcer->port_ = wanted;
    announcer->Publish();
  }
  if (quit) avahi_simple_poll_quit(announcer->poll_);
}

void AvahiServiceAnnouncer::Connect() {
  int error = 0;
  // NO_FAIL: a daemon that is missing now is waited for (state CONNECTING).
  AvahiClient* client = avahi_client_new(avahi_simple_poll_get(poll_), AVAHI_CLIENT_NO_FAIL,
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
  const AvahiPoll* api = avahi_simple_poll_get(poll_);
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
  // Not running: published anew once it runs (OnClientState).
  if (client_ == nullptr || avahi_client_get_state(client_) != AVAHI_CLIENT_S_RUNNING) return;
  if (PublishNow()) return;
  // A call that failed, or timed out on a daemon that hung, is made again: announcing catches
  // up once the daemon answers, and a withdrawal is never left undone.
  struct timeval when;
  avahi_elapse_time(&when, kRepublishMs, 0);
  const AvahiPoll* api = avahi_simple_poll_get(poll_);
  if (republish_ == nullptr) {
    republish_ = api->timeout_new(
        api, &when,
        [](AvahiTimeout*, void* self) { static_cast<AvahiServiceAnnouncer*>(self)->Publish(); },
        this);
  } else {
    api->timeout_update(republish_, &when);
  }
}

bool AvahiServiceAnnouncer::PublishNow() {
  const std::string cannot = "cannot announce the server on the network: ";
  if (group_ == nullptr) {
    group_ = avahi_entry_group_new(client_, &OnGroupState, this);
    if (group_ == nullptr) {
      TellOnce(cannot + avahi_strerror(avahi_client_errno(client_)));
      return false;
    }
  } else if (const int error = avahi_entry_group_reset(group_); error != AVAHI_OK) {
    // Resetting is also what withdrawing is.
    TellOnce(cannot + avahi_strerror(error));
    return false;
  }
  if (!port_) return true;
  int error = 0;
  while ((error = avahi_entry_group_add_service(
              group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, static_cast<AvahiPublishFlags>(0),
              name_.c_str(), kServiceType, nullptr, nullptr, *port_, kServiceTxt, nullptr)) ==
         AVAHI_ERR_COLLISION) {
    TakeAlternativeName();  // another program on this machine uses the name
  }
  if (error == AVAHI_OK) error = avahi_entry_group_commit(group_);
  if (error == AVAHI_OK) return true;
  TellOnce(cannot + avahi_strerror(error));
  avahi_entry_group_reset(group_);
  return false;
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
  return std::make_unique<AvahiServiceAnnouncer>(HostName());
}
