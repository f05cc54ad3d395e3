#pragma once
// One end of a test's TCP connection, with every wait bounded: a client of the server under
// test (either IP family, from a source address of the test's choosing), or in a
// ScriptedTcpServer's script the server's end. ClientFleet drives many clients at once.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TestSockets.h"

class TestClient {
 public:
  using Bytes = std::vector<uint8_t>;
  using Ms = std::chrono::milliseconds;

  struct Options {
    std::string address = "127.0.0.1";  // the server's, IPv4 or IPv6
    std::string source{};               // this side's IPv4 address; the system's choice if empty
    int receiveBuffer = 0;              // > 0: see testsocket::ShrinkBuffers (to stall quickly)
    Ms retryFor{0};                     // keeps trying while the server may still be starting
    Ms connectFor = std::chrono::seconds(10);  // the bound on one attempt
  };
  // A connection a listener accepted.
  struct Accepted {
    testsocket::Handle handle;
  };

  TestClient() = default;
  // Connects to 127.0.0.1:port at once; Connected() tells whether that worked.
  explicit TestClient(uint16_t port) { Connect(port); }
  explicit TestClient(Accepted accepted) : socket_(accepted.handle), connected_(true) {}
  ~TestClient() { Close(); }
  TestClient(TestClient&& other) noexcept;
  TestClient& operator=(TestClient&& other) noexcept;

  // Only makes the socket, for `address`'s family; Connect then uses it. For tests that must
  // hold their sockets before descriptors run out.
  bool Open(const std::string& address = "127.0.0.1");
  // False when refused, unanswered in time, or (SourceRefused) the source is not this side's.
  bool Connect(uint16_t port, const Options& options);
  bool Connect(uint16_t port) { return Connect(port, Options{}); }
  bool Connected() const { return connected_; }
  bool SourceRefused() const { return sourceRefused_; }

  bool Send(uint8_t byte) { return Send(Bytes{byte}); }
  bool Send(const Bytes& bytes);
  bool SendText(std::string_view text);

  // The next byte, or nothing at the end of the stream or when none came within `timeout`.
  std::optional<uint8_t> ReadByte(Ms timeout = std::chrono::seconds(5));
  // Up to `count` bytes within `timeout` in all; fewer at the end of the stream.
  Bytes Read(size_t count, Ms timeout = std::chrono::seconds(5));
  // Whatever has arrived, waiting up to `timeout` for the first byte; empty at the end of the
  // stream or on a time-out.
  Bytes ReadAvailable(Ms timeout);
  // The next byte that is not a keep-alive, if one comes within `timeout`.
  std::optional<uint8_t> NextState(Ms timeout = std::chrono::seconds(5));
  // Everything until the peer ends the stream, or until `timeout` passes (Ended() tells which).
  Bytes ReadToEnd(Ms timeout = std::chrono::seconds(5));
  // True when the peer ended the stream (or reset it) within `timeout`, skipping bytes in flight.
  bool WaitForEnd(Ms timeout = std::chrono::seconds(10));
  // A read met the end of the stream or a reset.
  bool Ended() const { return ended_; }

  void ShutdownSend() { testsocket::ShutdownSend(socket_); }
  void Close() { CloseWith(false); }
  // Closes with a reset instead of an orderly end.
  void Reset() { CloseWith(true); }
  testsocket::Handle Handle() const { return socket_; }

 private:
  bool ConnectOnce(uint16_t port, const Options& options);
  void CloseWith(bool reset);

  testsocket::Handle socket_ = testsocket::kNone;
  bool connected_ = false;
  bool sourceRefused_ = false;
  bool ended_ = false;
};
