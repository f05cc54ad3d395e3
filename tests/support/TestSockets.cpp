#include "TestSockets.h"

#include "SocketCalls.h"  // this system's: linux/ or win32/, as the build picks

namespace testsocket {
namespace {

using native::Fd;

// The address of either family; length 0 when the text is none.
native::Length Fill(const std::string& text, uint16_t port, sockaddr_storage* address) {
  *address = {};
  auto* v4 = reinterpret_cast<sockaddr_in*>(address);
  if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    return sizeof *v4;
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(address);
  if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    return sizeof *v6;
  }
  return 0;
}

// True once a connect under way has succeeded within `timeout`.
bool AwaitConnected(Handle socket, std::chrono::milliseconds timeout) {
  std::vector<pollfd> fds = {{Fd(socket), POLLOUT, 0}};
  int error = -1;
  native::Length size = sizeof error;
  return native::Poll(fds, timeout) == 1 &&
         getsockopt(Fd(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) ==
             0 &&
         error == 0;
}

bool Bind(Handle socket, const std::string& address, uint16_t port) {
  sockaddr_storage storage;
  const native::Length length = Fill(address, port, &storage);
  return length != 0 && bind(Fd(socket), reinterpret_cast<sockaddr*>(&storage), length) == 0;
}

}  // namespace

Handle Open(const std::string& address) {
  sockaddr_storage storage;
  return Fill(address, 0, &storage) == 0 ? kNone : native::OpenStream(storage.ss_family);
}

bool BindSource(Handle socket, const std::string& source) {
  native::PortAtConnect(socket);
  return Bind(socket, source, 0);
}

void ShrinkBuffers(Handle socket, int receiveBuffer) {
  native::ShrinkBuffers(socket, receiveBuffer);
}

bool Connect(Handle socket, const std::string& address, uint16_t port,
             std::chrono::milliseconds timeout) {
  sockaddr_storage target;
  const native::Length length = Fill(address, port, &target);
  if (length == 0) return false;
  native::SetBlocking(socket, false);
  bool connected = connect(Fd(socket), reinterpret_cast<sockaddr*>(&target), length) == 0;
  if (!connected && native::ConnectUnderWay()) connected = AwaitConnected(socket, timeout);
  native::SetBlocking(socket, true);
  return connected;
}

bool SendAll(Handle socket, const uint8_t* data, size_t size) {
  while (size > 0) {
    const long sent = native::SendSome(socket, data, size);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

long Receive(Handle socket, uint8_t* buffer, size_t size, std::chrono::milliseconds timeout) {
  return WaitReadable({socket}, timeout) == 0 ? native::ReceiveNow(socket, buffer, size) : -1;
}

void ShutdownSend(Handle socket) {
  shutdown(Fd(socket), native::kShutdownSend);
}

void Close(Handle socket, bool reset) {
  if (socket == kNone) return;
  if (reset) {
    const linger abort{1, 0};
    setsockopt(Fd(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
               sizeof abort);
  }
  native::CloseSocket(socket);
}

Handle Listen(const std::string& address, uint16_t* port) {
  const Handle listener = Open(address);
  sockaddr_storage bound;
  native::Length length = sizeof bound;
  if (listener == kNone || !Bind(listener, address, *port) || listen(Fd(listener), 64) != 0 ||
      getsockname(Fd(listener), reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    Close(listener);
    return kNone;
  }
  *port = ntohs(reinterpret_cast<sockaddr_in&>(bound).sin_port);
  return listener;
}

int WaitReadable(const std::vector<Handle>& sockets, std::chrono::milliseconds timeout) {
  std::vector<pollfd> fds;
  for (Handle socket : sockets) fds.push_back({Fd(socket), POLLIN, 0});
  if (native::Poll(fds, timeout) <= 0) return -1;
  for (size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents != 0) return static_cast<int>(i);
  }
  return -1;
}

Handle Accept(Handle listener) {
  return native::AcceptOne(listener);
}

}  // namespace testsocket
