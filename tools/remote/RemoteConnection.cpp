#include "remote/RemoteConnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "net/Protocol.h"
#include "remote/ChildStep.h"

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, -1 for none; never below 0 otherwise.
int RemainingMs(bool unlimited, Clock::time_point deadline) {
  if (unlimited) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

std::string HexBytes(const uint8_t* bytes, size_t count) {
  std::string text;
  char item[8];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(item, sizeof item, "%s0x%02X", i == 0 ? "" : " ", bytes[i]);
    text += item;
  }
  return text;
}

// Closes a descriptor on every path out of Connect's attempt loop.
struct FdGuard {
  int fd;
  ~FdGuard() {
    if (fd >= 0) close(fd);
  }
  int Release() {
    const int released = fd;
    fd = -1;
    return released;
  }
};

}  // namespace

std::string FormatState(const VolumeState& state) {
  return std::string(state.muted != 0 ? "muted, " : "unmuted, ") + std::to_string(state.volume);
}

RemoteConnection::~RemoteConnection() {
  if (fd_ >= 0) close(fd_);
}

RemoteStatus RemoteConnection::Resolve(const std::string& host, uint16_t port, int timeoutMs,
                                       std::vector<Address>* addresses, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  const std::string service = std::to_string(port);
  // An address needs no resolver.
  addrinfo numericHints = hints;
  numericHints.ai_flags |= AI_NUMERICHOST;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), service.c_str(), &numericHints, &found) == 0) {
    for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
      Address& address = addresses->emplace_back();
      std::memcpy(&address.storage, ai->ai_addr, ai->ai_addrlen);
      address.length = ai->ai_addrlen;
    }
    freeaddrinfo(found);
    return RemoteStatus::Ok;
  }
  // A name: the resolver may wait on a DNS server that never answers, for longer than any
  // command may take, and a signal does not end its wait.
  std::string answer;
  const ChildStepResult result = RunChildStep(
      [&](int fd) {
        addrinfo* list = nullptr;
        const int resolved = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
        std::string reply = resolved == 0 ? "A" : std::string("E") + gai_strerror(resolved);
        for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
          if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
          const auto length = static_cast<uint8_t>(ai->ai_addrlen);
          reply += static_cast<char>(length);
          reply.append(reinterpret_cast<const char*>(ai->ai_addr), length);
        }
        if (list != nullptr) freeaddrinfo(list);
        return write(fd, reply.data(), reply.size()) == static_cast<ssize_t>(reply.size()) ? 0 : 1;
      },
      timeoutMs < 0 ? std::numeric_limits<int>::max() : timeoutMs, stopFd_, &answer);
  if (result == ChildStepResult::Stopped) {
    *error = "interrupted";
    return RemoteStatus::Stopped;
  }
  const std::string cannot = "cannot resolve '" + host + "': ";
  if (result == ChildStepResult::TimedOut) {
    *error = cannot + "no answer in time";
    return RemoteStatus::NoServer;
  }
  if (result != ChildStepResult::Done || answer.empty() || answer[0] != 'A') {
    *error = cannot + (answer.size() > 1 ? answer.substr(1) : "the resolver failed");
    return RemoteStatus::NoServer;
  }
  for (size_t at = 1; at < answer.size();) {
    const size_t length = static_cast<uint8_t>(answer[at++]);
    if (at + length > answer.size()) break;
    Address& address = addresses->emplace_back();
    std::memcpy(&address.storage, answer.data() + at, length);
    address.length = static_cast<socklen_t>(length);
    at += length;
  }
  return RemoteStatus::Ok;
}

RemoteStatus RemoteConnection::Connect(const std::string& host, uint16_t port, int timeoutMs,
                                       std::string* error) {
  // An IPv6 literal is shown in brackets, as it is typed.
  peer_ =
      (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
  const bool unlimited = timeoutMs < 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::vector<Address> addresses;
  RemoteStatus status = Resolve(host, port, timeoutMs, &addresses, error);
  if (status != RemoteStatus::Ok) return status;
  std::string reason = "no address";
  status = RemoteStatus::NoServer;
  for (const Address& address : addresses) {
    const auto* socketAddress = reinterpret_cast<const sockaddr*>(&address.storage);
    FdGuard socketFd{
        socket(socketAddress->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)};
    if (socketFd.fd < 0) {
      reason = std::strerror(errno);
      continue;
    }
    if (connect(socketFd.fd, socketAddress, address.length) != 0) {
      if (errno != EINPROGRESS) {
        reason = std::strerror(errno);
        continue;
      }
      fd_ = socketFd.fd;
      status = Wait(POLLOUT, RemainingMs(unlimited, deadline), &reason);
      fd_ = -1;
      if (status == RemoteStatus::Stopped) break;
      if (status != RemoteStatus::Ok) {
        if (status == RemoteStatus::TimedOut) reason = "timed out";
        status = RemoteStatus::NoServer;
        continue;
      }
      int soError = 0;
      socklen_t length = sizeof soError;
      getsockopt(socketFd.fd, SOL_SOCKET, SO_ERROR, &soError, &length);
      if (soError != 0) {
        reason = std::strerror(soError);
        status = RemoteStatus::NoServer;
        continue;
      }
    }
    fd_ = socketFd.Release();
    status = RemoteStatus::Ok;
    break;
  }
  if (status == RemoteStatus::Stopped) *error = "interrupted";
  if (status == RemoteStatus::NoServer) *error = "cannot connect to " + peer_ + ": " + reason;
  return status;
}

RemoteStatus RemoteConnection::Wait(short events, int timeoutMs, std::string* error) {
  pollfd fds[2] = {{fd_, events, 0}, {stopFd_, POLLIN, 0}};
  const nfds_t count = stopFd_ >= 0 ? 2 : 1;
  for (;;) {
    const int ready = poll(fds, count, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;  // the stop descriptor reports the signal
    if (ready < 0) {
      *error = std::string("poll: ") + std::strerror(errno);
      return RemoteStatus::Failed;
    }
    if (ready == 0) return RemoteStatus::TimedOut;
    if (count == 2 && fds[1].revents != 0) return RemoteStatus::Stopped;
    return RemoteStatus::Ok;
  }
}

bool RemoteConnection::StopRequested() {
  if (stopFd_ < 0) return false;
  pollfd stop{stopFd_, POLLIN, 0};
  return poll(&stop, 1, 0) == 1;
}

RemoteStatus RemoteConnection::Fill(int timeoutMs, std::string* error) {
  if (begin_ < end_) return RemoteStatus::Ok;
  // A peer that never pauses keeps recv busy and the wait below unused: look first.
  if (StopRequested()) return RemoteStatus::Stopped;
  const bool unlimited = timeoutMs < 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const ssize_t got = recv(fd_, buffer_, sizeof buffer_, 0);
    if (got > 0) {
      begin_ = 0;
      end_ = static_cast<size_t>(got);
      return RemoteStatus::Ok;
    }
    if (got == 0) {
      *error = "connection closed by " + peer_;
      return RemoteStatus::Closed;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      *error = "connection to " + peer_ + " failed: " + std::strerror(errno);
      return RemoteStatus::Failed;
    }
    const RemoteStatus waited = Wait(POLLIN, RemainingMs(unlimited, deadline), error);
    if (waited != RemoteStatus::Ok) return waited;
  }
}

RemoteStatus RemoteConnection::ReadGreeting(int timeoutMs, std::string* error) {
  const bool unlimited = timeoutMs < 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  uint8_t greeting[kGreeting.size()];
  for (size_t got = 0; got < kGreeting.size(); ++got) {
    const RemoteStatus status = Fill(RemainingMs(unlimited, deadline), error);
    if (status == RemoteStatus::TimedOut) *error = "no greeting from " + peer_;
    if (status == RemoteStatus::Closed && got == 0) {
      *error = peer_ + " closed the connection before the greeting";
    } else if (status == RemoteStatus::Closed) {
      *error = peer_ + " closed the connection inside the greeting: " + HexBytes(greeting, got);
      return RemoteStatus::BadGreeting;
    }
    if (status != RemoteStatus::Ok) return status;
    greeting[got] = buffer_[begin_++];
  }
  if (std::memcmp(greeting, kGreeting.data(), kGreeting.size()) != 0) {
    *error = "wrong greeting from " + peer_ + ": " + HexBytes(greeting, kGreeting.size()) +
             " (not a volume server?)";
    return RemoteStatus::BadGreeting;
  }
  return RemoteStatus::Ok;
}

RemoteStatus RemoteConnection::ReadState(int timeoutMs, VolumeState* state, std::string* error) {
  const bool unlimited = timeoutMs < 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const RemoteStatus status = Fill(RemainingMs(unlimited, deadline), error);
    if (status != RemoteStatus::Ok) return status;
    const uint8_t byte = buffer_[begin_++];
    // A server's bytes classify like a client's: 0xFF keep-alive, the rest a state or nothing.
    VolumeState decoded;
    switch (DecodeClientByte(byte, &decoded)) {
      case ClientByteKind::KeepAlive:
        // Endless keep-alives must not outlast the time-out: the bytes in hand are looked at,
        // no more are fetched after it.
        if (begin_ == end_ && !unlimited && Clock::now() >= deadline) {
          return RemoteStatus::TimedOut;
        }
        continue;
      case ClientByteKind::Invalid:
        *error = "unexpected byte " + HexBytes(&byte, 1) + " from " + peer_;
        return RemoteStatus::BadByte;
      case ClientByteKind::StateRequest:
        *state = decoded;
        return RemoteStatus::Ok;
    }
  }
}

RemoteStatus RemoteConnection::SendState(const VolumeState& state, int timeoutMs,
                                         std::string* error) {
  const uint8_t byte = EncodeStateByte(state);
  for (;;) {
    const ssize_t sent = send(fd_, &byte, 1, MSG_NOSIGNAL);
    if (sent == 1) return RemoteStatus::Ok;
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const RemoteStatus waited = Wait(POLLOUT, timeoutMs, error);
      if (waited == RemoteStatus::TimedOut) *error = "could not send to " + peer_;
      if (waited != RemoteStatus::Ok) return waited;
      continue;
    }
    *error = "sending to " + peer_ + " failed: " + std::strerror(errno);
    return errno == EPIPE || errno == ECONNRESET ? RemoteStatus::Closed : RemoteStatus::Failed;
  }
}
