#pragma once
// One client connection to a volume server, seen from the client's side: connect, check the
// greeting, read the server's state bytes (keep-alives skipped), send a state byte.
// Single-threaded; every wait is bounded by the caller's time-out and can be cut short by a
// "stop" descriptor becoming readable (a signal's self-pipe, or a test's pipe).

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/VolumeState.h"

enum class RemoteStatus {
  Ok,
  NoServer,     // the name did not resolve, or nothing accepted the connection
  BadGreeting,  // the first four bytes were not the greeting
  BadByte,      // the server sent a byte that is neither a state nor a keep-alive
  Closed,       // the server ended the stream
  Failed,       // a socket error
  TimedOut,
  Stopped,  // the stop descriptor became readable
};

// "muted, 30" / "unmuted, 100": how states are printed.
std::string FormatState(const VolumeState& state);

class RemoteConnection {
 public:
  // A negative time-out waits without limit. A negative stopFd means no stop descriptor.
  explicit RemoteConnection(int stopFd = -1) : stopFd_(stopFd) {}
  ~RemoteConnection();
  RemoteConnection(const RemoteConnection&) = delete;
  RemoteConnection& operator=(const RemoteConnection&) = delete;

  // Tries every address the name resolves to (IPv4 and IPv6), resolving and connecting within
  // the time-out together. On failure `error` says why.
  RemoteStatus Connect(const std::string& host, uint16_t port, int timeoutMs, std::string* error);
  RemoteStatus ReadGreeting(int timeoutMs, std::string* error);
  // The next state byte, skipping keep-alives. TimedOut when none came in time, also while
  // keep-alives keep coming.
  RemoteStatus ReadState(int timeoutMs, VolumeState* state, std::string* error);
  RemoteStatus SendState(const VolumeState& state, int timeoutMs, std::string* error);

 private:
  struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
  };
  // The addresses `host` names: an address at once, a name through the system's resolver in a
  // child process (ChildStep.h), so that neither a resolver that never answers nor one that
  // ignores signals holds the command up. NoServer or Stopped on failure.
  RemoteStatus Resolve(const std::string& host, uint16_t port, int timeoutMs,
                       std::vector<Address>* addresses, std::string* error);
  // Whether the stop descriptor is readable now.
  bool StopRequested();
  // Ensures at least one unread byte in the buffer; Ok, Closed, Failed, TimedOut or Stopped.
  RemoteStatus Fill(int timeoutMs, std::string* error);
  // Waits for `events` on the socket; Ok, TimedOut, Stopped or Failed.
  RemoteStatus Wait(short events, int timeoutMs, std::string* error);

  int fd_ = -1;
  int stopFd_;
  std::string peer_;
  uint8_t buffer_[512];
  size_t begin_ = 0;
  size_t end_ = 0;
};
