#include "ClientFleet.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/Protocol.h"

namespace {

using Clock = std::chrono::steady_clock;

int MsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

int ConnectLoopbackClient(uint16_t port, int receiveBuffer, uint32_t* sourceCounter,
                          bool nonBlocking) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
  if (fd < 0) return -1;
  if (receiveBuffer > 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  }
  // 127.0.0.2 .. 127.0.0.251; the port is chosen at connect time, per destination.
  const int one = 1;
  setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
  sockaddr_in source{};
  source.sin_family = AF_INET;
  source.sin_addr.s_addr = htonl(0x7F000002u + ((*sourceCounter)++ % 250));
  bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source);
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

ClientFleet::ClientFleet(int receiveBuffer)
    : receiveBuffer_(receiveBuffer), epoll_(epoll_create1(EPOLL_CLOEXEC)) {}

ClientFleet::~ClientFleet() {
  CloseAll();
  if (epoll_ >= 0) close(epoll_);
}

void ClientFleet::Watch(size_t index) {
  epoll_event event{};
  event.events = EPOLLIN | EPOLLRDHUP;
  event.data.u64 = index;
  epoll_ctl(epoll_, EPOLL_CTL_ADD, clients_[index].fd, &event);
}

size_t ClientFleet::Connect(uint16_t port, size_t count, std::chrono::milliseconds timeout,
                            size_t window) {
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
      PumpUntil([&] { return waiting() < window; }, std::chrono::milliseconds(MsUntil(deadline)));
      continue;
    }
    if (Open(port, 1) != 1) break;
    ++started;
  }
  PumpUntil([&] { return waiting() == 0; }, std::chrono::milliseconds(MsUntil(deadline)));
  size_t greeted = 0;
  for (size_t i = first; i < clients_.size(); ++i) greeted += clients_[i].greeted ? 1 : 0;
  return greeted;
}

size_t ClientFleet::Open(uint16_t port, size_t count) {
  size_t opened = 0;
  for (; opened < count; ++opened) {
    FleetClient client;
    client.fd = ConnectLoopbackClient(port, receiveBuffer_, &nextSource_, true);
    if (client.fd < 0) break;
    client.openedAt = Clock::now();
    clients_.push_back(client);
    Watch(clients_.size() - 1);
  }
  return opened;
}

void ClientFleet::ReadFrom(size_t index) {
  FleetClient& c = clients_[index];
  uint8_t buffer[4096];
  for (;;) {
    const ssize_t got = recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
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

bool ClientFleet::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  epoll_event events[256];
  for (;;) {
    if (done()) return true;
    const int wait = MsUntil(deadline);
    if (wait == 0 && Clock::now() >= deadline) return done();
    // Short slices, so `done` is looked at again even while nothing arrives.
    const int ready = epoll_wait(epoll_, events, 256, wait < 50 ? wait : 50);
    for (int i = 0; i < ready; ++i) ReadFrom(static_cast<size_t>(events[i].data.u64));
  }
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

size_t ClientFleet::CountEnded() const {
  size_t count = 0;
  for (const FleetClient& c : clients_) count += c.ended ? 1 : 0;
  return count;
}

size_t ClientFleet::CountWithState(uint8_t byte) const {
  size_t count = 0;
  for (const FleetClient& c : clients_) {
    count += c.fd >= 0 && !c.ended && c.lastState == byte ? 1 : 0;
  }
  return count;
}
