#include "ClientFleet.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "TestSockets.h"
#include "net/Protocol.h"

namespace {

using Clock = ClientFleet::Clock;
constexpr int kMaxEvents = 512;

int MsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Receives into `buffer`; `stamp` gets the kernel's receive time (wall clock) when it gave one.
ssize_t ReceiveStamped(int fd, uint8_t* buffer, size_t size, timespec* stamp) {
  iovec vector{buffer, size};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
  msghdr message{};
  message.msg_iov = &vector;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t got = recvmsg(fd, &message, MSG_DONTWAIT);
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); got > 0 && c != nullptr;
       c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
      std::memcpy(stamp, CMSG_DATA(c), sizeof *stamp);
    }
  }
  return got;
}

// A kernel stamp on the steady clock (the stamps are wall-clock times).
Clock::time_point SteadyFromStamp(const timespec& stamp, Clock::time_point now) {
  using Wall = std::chrono::system_clock;
  const Wall::time_point at{std::chrono::duration_cast<Wall::duration>(
      std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec))};
  return std::min(now, now - std::chrono::duration_cast<Clock::duration>(Wall::now() - at));
}

// A non-blocking socket connecting to 127.0.0.1:port from the next source address; -1 on failure.
int ConnectFrom(uint16_t port, int receiveBuffer, uint32_t* sourceCounter) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (receiveBuffer > 0) testsocket::ShrinkBuffers(fd, receiveBuffer);
  testsocket::BindSource(fd, LoopbackSource((*sourceCounter)++));
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  server.sin_port = htons(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0 &&
      errno != EINPROGRESS) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::string LoopbackSource(uint32_t index) {
  return "127.0.0." + std::to_string(2 + index % 250);
}

ClientFleet::ClientFleet(FleetOptions options)
    : options_(options), epoll_(epoll_create1(EPOLL_CLOEXEC)) {}

ClientFleet::~ClientFleet() {
  CloseAll();
  if (epoll_ >= 0) close(epoll_);
}

size_t ClientFleet::Connect(uint16_t port, size_t count, Clock::duration timeout, size_t window) {
  const Clock::time_point deadline = Clock::now() + timeout;
  const size_t first = clients_.size();
  size_t started = 0;
  auto waiting = [&] {
    size_t pending = 0;
    for (size_t i = first; i < clients_.size(); ++i) {
      const FleetClient& c = clients_[i];
      if (!c.greeted && !c.ended && !c.badGreeting) ++pending;
    }
    return pending;
  };
  while (started < count && Clock::now() < deadline) {
    if (waiting() >= window) {
      PumpUntil([&] { return waiting() < window; }, deadline - Clock::now());
      continue;
    }
    const size_t burst = std::min(count - started, window - waiting());
    const size_t opened = Open(port, burst);
    started += opened;
    if (opened < burst) break;  // out of descriptors: wait for those under way
  }
  PumpUntil([&] { return waiting() == 0; }, deadline - Clock::now());
  size_t greeted = 0;
  for (size_t i = first; i < clients_.size(); ++i) greeted += clients_[i].greeted ? 1 : 0;
  return greeted;
}

size_t ClientFleet::Open(uint16_t port, size_t count) {
  size_t opened = 0;
  for (; opened < count; ++opened) {
    FleetClient client;
    client.fd = ConnectFrom(port, options_.receiveBuffer, &nextSource_);
    if (client.fd < 0) break;
    if (options_.stampArrivals) {
      const int one = 1;
      setsockopt(client.fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    }
    client.openedAt = Clock::now();
    clients_.push_back(client);
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP;
    event.data.u64 = clients_.size() - 1;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, client.fd, &event);
  }
  return opened;
}

void ClientFleet::ReadFrom(size_t index) {
  FleetClient& c = clients_[index];
  uint8_t buffer[4096];
  for (;;) {
    timespec stamp{0, 0};
    const ssize_t got = ReceiveStamped(c.fd, buffer, sizeof buffer, &stamp);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (got <= 0) {
      c.ended = true;
      epoll_ctl(epoll_, EPOLL_CTL_DEL, c.fd, nullptr);
      return;
    }
    const Clock::time_point now = Clock::now();
    for (ssize_t i = 0; i < got; ++i) {
      const uint8_t byte = buffer[i];
      if (c.greetingBytes < 4) {
        c.greeting[c.greetingBytes++] = byte;
        if (c.greetingBytes == 4) {
          c.greeted = std::memcmp(c.greeting, kGreeting.data(), 4) == 0;
          c.badGreeting = !c.greeted;
        }
        continue;
      }
      if (byte == awaited_ && !c.sawAwaited) {
        c.sawAwaited = true;
        c.awaitedReadAt = now;
        c.awaitedArrivedAt = stamp.tv_sec != 0 ? SteadyFromStamp(stamp, now) : now;
      }
      VolumeState state;
      switch (DecodeClientByte(byte, &state)) {
        case ClientByteKind::KeepAlive:
          ++c.keepAlives;
          break;
        case ClientByteKind::Invalid:
          ++c.invalidBytes;
          break;
        case ClientByteKind::StateRequest:
          c.lastState = byte;
          c.lastStateAt = now;
          ++c.stateBytes;
          break;
      }
    }
  }
}

bool ClientFleet::PumpUntil(const std::function<bool()>& done, Clock::duration timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  epoll_event events[kMaxEvents];
  for (;;) {
    if (done()) return true;
    const int wait = MsUntil(deadline);
    if (wait == 0 && Clock::now() >= deadline) return done();
    // Short slices, so `done` is looked at again even while nothing arrives.
    const int ready = epoll_wait(epoll_, events, kMaxEvents, std::min(wait, 50));
    for (int i = 0; i < ready; ++i) ReadFrom(static_cast<size_t>(events[i].data.u64));
  }
}

std::vector<ClientFleet::Arrival> ClientFleet::AwaitByte(uint8_t value, Clock::time_point since,
                                                         Clock::duration timeout) {
  awaited_ = value;
  for (FleetClient& c : clients_) c.sawAwaited = false;
  PumpUntil(
      [&] {
        return std::all_of(clients_.begin(), clients_.end(),
                           [&](const FleetClient& c) { return c.sawAwaited || !Live(c); });
      },
      since + timeout - Clock::now());
  awaited_ = -1;
  std::vector<Arrival> arrivals;
  for (const FleetClient& c : clients_) {
    if (c.sawAwaited) arrivals.push_back({c.awaitedArrivedAt - since, c.awaitedReadAt - since});
  }
  return arrivals;
}

void ClientFleet::Close(size_t index, bool reset) {
  FleetClient& c = clients_[index];
  if (c.fd < 0) return;
  if (reset) {
    const linger abort{1, 0};
    setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  }
  epoll_ctl(epoll_, EPOLL_CTL_DEL, c.fd, nullptr);
  close(c.fd);
  c.fd = -1;
}

void ClientFleet::CloseAll(bool reset) {
  for (size_t i = 0; i < clients_.size(); ++i) Close(i, reset);
}

bool ClientFleet::Send(size_t index, uint8_t byte) {
  return clients_[index].fd >= 0 && send(clients_[index].fd, &byte, 1, MSG_NOSIGNAL) == 1;
}

bool ClientFleet::Live(const FleetClient& c) const {
  return c.fd >= 0 && c.greeted && !c.ended;
}

size_t ClientFleet::CountEnded() const {
  size_t count = 0;
  for (const FleetClient& c : clients_) count += c.ended ? 1 : 0;
  return count;
}

size_t ClientFleet::CountLive() const {
  size_t count = 0;
  for (const FleetClient& c : clients_) count += Live(c) ? 1 : 0;
  return count;
}

size_t ClientFleet::CountWithState(uint8_t byte) const {
  size_t count = 0;
  for (const FleetClient& c : clients_) {
    count += c.fd >= 0 && !c.ended && c.lastState == byte ? 1 : 0;
  }
  return count;
}
