#pragma once
// The socket calls under TestClient and ScriptedTcpServer, written once per system
// (linux/TestSockets.cpp, win32/TestSockets.cpp) on its own API rather than on the adapter the
// tests exercise, so that a fault of the adapter cannot hide on both ends of a test's
// connection. No call throws or blocks beyond its bound; a call a signal interrupts (libFuzzer's
// alarm) is resumed. A handle is used by one thread at a time.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testsocket {

// A descriptor on Linux, a SOCKET on Windows, widened (INVALID_SOCKET is all ones: -1).
using Handle = std::intptr_t;
constexpr Handle kNone = -1;

// A TCP socket of `address`'s family ("127.0.0.1", "::1"); kNone when the text is no address or
// the system refuses. On Linux child processes do not inherit it.
Handle Open(const std::string& address);

// Binds to `source`, an IPv4 address of this side; the port is chosen when connecting, so many
// sources share no port range. False when the address is not this side's.
bool BindSource(Handle socket, const std::string& source);

// Before connecting: shrinks the receive buffer to `receiveBuffer` bytes and, where the system
// lets a client choose it (Linux), the segment size it announces, which sizes the server's send
// buffer for it too. A client that stops reading then fills both after a few thousand bytes,
// not the megabytes loopback allows.
void ShrinkBuffers(Handle socket, int receiveBuffer);

// Connects to `address`:`port`; false when refused, unreachable or not done within `timeout`.
// The socket blocks afterwards.
bool Connect(Handle socket, const std::string& address, uint16_t port,
             std::chrono::milliseconds timeout);

// Sends every byte; false when the connection failed first. Never raises SIGPIPE.
bool SendAll(Handle socket, const uint8_t* data, size_t size);

// Waits up to `timeout` for data and takes what arrived, up to `size` bytes: the count; 0 at the
// end of the stream or on a reset; -1 when nothing came in time.
long Receive(Handle socket, uint8_t* buffer, size_t size, std::chrono::milliseconds timeout);

// Ends this side's sending (the peer reads the end of the stream); reading goes on.
void ShutdownSend(Handle socket);

// Closes the socket: orderly, or with a reset (linger 0) when `reset`. Nothing for kNone.
void Close(Handle socket, bool reset = false);

// A socket listening on `address` (IPv4) and *port (0: the system picks; *port is set to the
// port). kNone on failure.
Handle Listen(const std::string& address, uint16_t* port);

// The index of a socket of `sockets` that is readable (for a listener: a client waits) within
// `timeout`, or -1.
int WaitReadable(const std::vector<Handle>& sockets, std::chrono::milliseconds timeout);

// A client that WaitReadable found waiting on `listener`; kNone on failure.
Handle Accept(Handle listener);

}  // namespace testsocket
