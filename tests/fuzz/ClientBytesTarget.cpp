// Fuzz target: one client of the real in-process server sends arbitrary bytes.
//
// Input: the first byte picks how the client behaves (the device state it finds, whether it
// sends byte by byte, whether it leaves with a reset, whether it talks to the control page's
// port, there after a valid WebSocket handshake or not); the rest is what it sends. Checked on
// every input: the server sends exactly the greeting and the initial state; every state byte
// up to the first invalid one reaches the volume control, in order, and nothing after it;
// the connection is ended and retired; the server keeps serving. On the page's port the HTTP
// and WebSocket parsers take the bytes: the connection must end within its bounds and be
// retired, whatever was sent.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <vector>

#include "fakes/FakeRetryTimer.h"
#include "fakes/FakeVolumeControl.h"
#include "net/IClock.h"
#include "net/NetworkServer.h"
#include "net/Protocol.h"
#include "net/VolumeRelay.h"
#include "net/VolumeServer.h"

namespace {

#define FUZZ_CHECK(condition, message)                                           \
  do {                                                                           \
    if (!(condition)) {                                                          \
      std::fprintf(stderr, "fuzz check failed: %s (%s)\n", message, #condition); \
      std::abort();                                                              \
    }                                                                            \
  } while (0)

// The relay, as the server's external listener, behind a counter of ended connections: a
// connection has ended for good (its requests all made) once its reader reported the end.
class CountingListener final : public IClientListener {
 public:
  explicit CountingListener(IClientListener& inner) : inner_(inner) {}
  void OnVolumeReceived(ClientConnection* connection, const VolumeState* state) override {
    inner_.OnVolumeReceived(connection, state);
  }
  void OnClientDisconnected(ClientConnection* connection) override {
    inner_.OnClientDisconnected(connection);
    ended_.fetch_add(1);
  }
  uint64_t Ended() const { return ended_.load(); }

 private:
  IClientListener& inner_;
  std::atomic<uint64_t> ended_{0};
};

struct Harness {
  Harness() {
    volume.echoSetState = true;  // each request reported back as applied
    wired.Server().SetExternalListener(&counting);
    port = wired.Serve(&volume, 0, &site);
    FUZZ_CHECK(port != 0, "server starts");
    pagePort = server.PagePort();
  }
  // Before `counting` goes: readers may still call it until the server has stopped.
  ~Harness() {
    wired.UnregisterChangeCallback();
    wired.Server().Stop();
  }

  FakeVolumeControl volume;
  FakeRetryTimer retryTimer;
  VolumeServer wired{SystemClock(), retryTimer};
  NetworkServer& server = wired.Server();
  CountingListener counting{wired.Relay()};
  // A short request time, so a partial request ends soon.
  const PageSite site{"fuzz", {"localhost"}, std::chrono::milliseconds(200)};
  uint16_t port = 0;
  uint16_t pagePort = 0;
  uint64_t connections = 0;  // fuzzing thread only
};

Harness& TheHarness() {
  static Harness harness;
  return harness;
}

using Clock = std::chrono::steady_clock;

// Everything the server sends until it ends the stream; false when it did not end in time.
bool ReadToEnd(int fd, std::vector<uint8_t>* received) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd ready{fd, POLLIN, 0};
    if (left <= 0) return false;
    // libFuzzer's time-out alarm interrupts waits now and then.
    const int polled = poll(&ready, 1, static_cast<int>(left));
    if (polled < 0 && errno == EINTR) continue;
    if (polled != 1) return false;
    uint8_t chunk[256];
    const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return true;  // end of stream, or the reset of a server closing early
    received->insert(received->end(), chunk, chunk + got);
  }
}

// True once every connection made so far has ended and left the client list.
bool AllEnded(Harness& harness) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (harness.counting.Ended() < harness.connections || harness.server.ClientCount() != 0) {
    if (Clock::now() >= deadline) return false;
    usleep(100);
  }
  return true;
}

constexpr VolumeState kStartStates[4] = {{0, 100}, {1, 30}, {0, 0}, {1, 100}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Harness& harness = TheHarness();
  const uint8_t how = data[0];
  const VolumeState start = kStartStates[how & 3];
  const bool byteByByte = (how & 4) != 0;
  const bool reset = (how & 8) != 0;
  const bool page = (how & 16) != 0;
  std::vector<uint8_t> sent(data + 1, data + size);
  if (page && (how & 32) != 0) {
    constexpr std::string_view kHandshake =
        "GET /ws HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    sent.insert(sent.begin(), kHandshake.begin(), kHandshake.end());
  }
  harness.volume.SetDeviceState(start);
  harness.volume.ClearRequests();

  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  FUZZ_CHECK(fd >= 0, "client socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(page ? harness.pagePort : harness.port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    // Interrupted by libFuzzer's alarm, the connection goes on: wait for it.
    FUZZ_CHECK(errno == EINTR, "connect");
    pollfd ready{fd, POLLOUT, 0};
    while (poll(&ready, 1, 10000) < 0 && errno == EINTR) {
    }
    int error = -1;
    socklen_t length = sizeof error;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    FUZZ_CHECK(error == 0, "connect completes");
  }
  ++harness.connections;

  // Stops early only when the server has closed (after an invalid byte).
  const size_t chunk = byteByByte ? 1 : sent.size();
  for (size_t offset = 0; offset < sent.size();) {
    const ssize_t n =
        send(fd, sent.data() + offset, std::min(chunk, sent.size() - offset), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    offset += static_cast<size_t>(n);
  }

  if (page) {
    if (reset) {
      const linger abort{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    } else {
      shutdown(fd, SHUT_WR);
      std::vector<uint8_t> received;
      FUZZ_CHECK(ReadToEnd(fd, &received), "the page's connection ends after the client");
    }
    close(fd);
    FUZZ_CHECK(AllEnded(harness), "the page's connection is retired");
    return 0;
  }

  // What the server must have taken: every request up to the first invalid byte.
  std::vector<VolumeState> expected;
  bool endsItself = false;
  for (uint8_t byte : sent) {
    VolumeState request;
    const ClientByteKind kind = DecodeClientByte(byte, &request);
    if (kind == ClientByteKind::Invalid) {
      endsItself = true;
      break;
    }
    if (kind == ClientByteKind::StateRequest) expected.push_back(request);
  }

  if (reset) {
    // Gone at once: the server may lose any part of what was sent, but never invent any.
    const linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(fd);
    FUZZ_CHECK(AllEnded(harness), "a reset client is retired");
    const std::vector<VolumeState> got = harness.volume.Requests();
    FUZZ_CHECK(got.size() <= expected.size(), "no request beyond those sent");
    for (size_t i = 0; i < got.size(); ++i) FUZZ_CHECK(got[i] == expected[i], "request order");
    return 0;
  }

  shutdown(fd, SHUT_WR);
  std::vector<uint8_t> received;
  FUZZ_CHECK(ReadToEnd(fd, &received), "the server ends the connection after the client");
  close(fd);
  std::vector<uint8_t> greeting(kGreeting.begin(), kGreeting.end());
  if (start != VolumeState{}) greeting.push_back(EncodeStateByte(start));
  // A server that closes on an invalid byte with unread bytes behind it resets the connection,
  // which may cut what is still in flight to us; otherwise the stream is exact.
  if (endsItself) {
    FUZZ_CHECK(received.size() <= greeting.size(), "nothing beyond greeting and initial state");
    for (size_t i = 0; i < received.size(); ++i) FUZZ_CHECK(received[i] == greeting[i], "bytes");
  } else {
    FUZZ_CHECK(received == greeting, "exactly the greeting and the initial state, no echo");
  }
  FUZZ_CHECK(harness.volume.Requests() == expected, "every request, in order, nothing more");
  FUZZ_CHECK(AllEnded(harness), "the ended client is retired");
  return 0;
}
