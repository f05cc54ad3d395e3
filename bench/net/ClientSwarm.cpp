#include "ClientSwarm.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
constexpr int kMaxEvents = 512;
}

ClientSwarm::ClientSwarm(std::string host, uint16_t port)
    : host_(std::move(host)), port_(port), epoll_(epoll_create1(EPOLL_CLOEXEC)) {}

ClientSwarm::~ClientSwarm() {
  CloseAll();
  if (epoll_ >= 0) close(epoll_);
}

void ClientSwarm::CloseAll() {
  for (Client& client : clients_) {
    if (client.fd >= 0) close(client.fd);
  }
  clients_.clear();
  ended_ = 0;
}

int ClientSwarm::OpenOne() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // The kernel stamps each received segment, so arrival is known however late it is read.
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port_);
  inet_pton(AF_INET, host_.c_str(), &address.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
      errno != EINPROGRESS) {
    close(fd);
    return -1;
  }
  return fd;
}

size_t ClientSwarm::Connect(size_t count, size_t window, size_t greetingBytes,
                            Clock::duration timeout) {
  const auto deadline = Clock::now() + timeout;
  const size_t first = clients_.size();
  size_t opened = 0, greeted = 0, waiting = 0;
  epoll_event events[kMaxEvents];
  while (greeted < count && (opened < count || waiting > 0) && Clock::now() < deadline) {
    while (opened < count && waiting < window) {
      const int fd = OpenOne();
      if (fd < 0) {
        count = opened;  // out of descriptors: wait for those under way, then tidy up
        break;
      }
      epoll_event event{};
      event.events = EPOLLIN;
      event.data.u64 = clients_.size();
      epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
      clients_.push_back({fd, 0, true});
      ++opened;
      ++waiting;
    }
    const int n = epoll_wait(epoll_, events, kMaxEvents, 10);
    for (int i = 0; i < n; ++i) {
      Client& client = clients_[events[i].data.u64];
      uint8_t buffer[64];
      const ssize_t got = recv(client.fd, buffer, sizeof buffer, 0);
      if (got <= 0) {
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
          if (client.alive && client.received < greetingBytes) --waiting;
          client.alive = false;
          epoll_ctl(epoll_, EPOLL_CTL_DEL, client.fd, nullptr);
        }
        continue;
      }
      const bool wasWaiting = client.received < greetingBytes;
      client.received += static_cast<size_t>(got);
      if (wasWaiting && client.received >= greetingBytes) {
        --waiting;
        ++greeted;
      }
    }
  }
  // Drop the ones that never completed, so the swarm holds only greeted clients.
  size_t kept = first;
  for (size_t i = first; i < clients_.size(); ++i) {
    if (clients_[i].alive && clients_[i].received >= greetingBytes) {
      clients_[kept] = clients_[i];
      epoll_event event{};
      event.events = EPOLLIN;
      event.data.u64 = kept;
      epoll_ctl(epoll_, EPOLL_CTL_MOD, clients_[kept].fd, &event);
      ++kept;
    } else {
      close(clients_[i].fd);
    }
  }
  clients_.resize(kept);
  return greeted;
}

namespace {

// Receives into `buffer`; `stamp` gets the kernel's receive time of the data (wall clock), or
// stays as it was when the kernel gave none.
ssize_t ReceiveStamped(int fd, uint8_t* buffer, size_t size, timespec* stamp) {
  iovec vector{buffer, size};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
  msghdr message{};
  message.msg_iov = &vector;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t got = recvmsg(fd, &message, 0);
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); got > 0 && c != nullptr;
       c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
      std::memcpy(stamp, CMSG_DATA(c), sizeof *stamp);
    }
  }
  return got;
}

}  // namespace

std::vector<ClientSwarm::Arrival> ClientSwarm::AwaitByte(uint8_t value, Clock::time_point since,
                                                         Clock::duration timeout) {
  using Wall = std::chrono::system_clock;
  // The kernel's stamps are wall-clock times: find `since` on that clock.
  const auto sinceWall =
      Wall::now() - std::chrono::duration_cast<Wall::duration>(Clock::now() - since);
  std::vector<Arrival> arrivals;
  arrivals.reserve(clients_.size());
  std::vector<bool> seen(clients_.size(), false);
  size_t alive = 0;
  for (const Client& client : clients_) alive += client.alive ? 1 : 0;
  const auto deadline = since + timeout;
  epoll_event events[kMaxEvents];
  while (arrivals.size() < alive && Clock::now() < deadline) {
    const int n = epoll_wait(epoll_, events, kMaxEvents, 10);
    const auto now = Clock::now();
    for (int i = 0; i < n; ++i) {
      const size_t index = events[i].data.u64;
      Client& client = clients_[index];
      uint8_t buffer[256];
      timespec stamp{0, 0};
      const ssize_t got = ReceiveStamped(client.fd, buffer, sizeof buffer, &stamp);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
        client.alive = false;
        ++ended_;
        --alive;
        epoll_ctl(epoll_, EPOLL_CTL_DEL, client.fd, nullptr);
        continue;
      }
      for (ssize_t b = 0; b < got && !seen[index]; ++b) {
        if (buffer[b] == value) {
          seen[index] = true;
          const Clock::duration read = now - since;
          Clock::duration arrived = read;
          if (stamp.tv_sec != 0) {
            const Wall::time_point at{std::chrono::duration_cast<Wall::duration>(
                std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec))};
            arrived = std::min(read, std::chrono::duration_cast<Clock::duration>(at - sinceWall));
          }
          arrivals.push_back({arrived, read});
        }
      }
    }
  }
  return arrivals;
}
