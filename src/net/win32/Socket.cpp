// Winsock adapter of net/Socket.h.
//
// Two Linux behaviours the server relies on do not exist in Winsock: a send that never blocks on
// a socket that otherwise blocks (there is no MSG_DONTWAIT), and a shutdown that wakes a thread
// blocked in accept or recv on the same socket (shutdown of a listening socket fails with
// WSAENOTCONN, and only closesocket is documented to abort a blocking call). So every socket here
// runs in non-blocking mode, and the calls that must block wait on an event of their own that
// both the network (WSAEventSelect) and ShutdownBoth signal.
#include "net/Socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, whose types it uses.
#include <mstcpip.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "base/Log.h"
#include "base/win32/SystemErrorText.h"
#include "net/SocketAddress.h"
#include "net/win32/WinsockAccept.h"

namespace {

// For the calls whose failure the user may have to act on (a port taken, no sockets left).
bool Logged(bool succeeded, const std::string& what) {
  if (!succeeded) LogError(what + ": " + WindowsErrorText(WSAGetLastError()));
  return succeeded;
}

// The wait state of one socket that a thread blocks on.
struct Waiter {
  HANDLE event = nullptr;  // manual reset; set by network events and by ShutdownBoth
  bool shutDown = false;   // guarded by the table's mutex
  ~Waiter() {
    if (event != nullptr) CloseHandle(event);
  }
};

class WaiterTable {
 public:
  // The socket's waiter, created (and the socket's events routed to it) on first use.
  Waiter* Get(SocketHandle socket, long networkEvents) {
    std::lock_guard lock(mutex_);
    auto found = waiters_.find(socket);
    if (found != waiters_.end()) return found->second.get();
    auto waiter = std::make_unique<Waiter>();
    waiter->shutDown = shutBeforeWait_.count(socket) != 0;
    waiter->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (waiter->event == nullptr ||
        WSAEventSelect(Native(socket), waiter->event, networkEvents) != 0) {
      return nullptr;
    }
    return waiters_.emplace(socket, std::move(waiter)).first->second.get();
  }
  bool IsShutDown(Waiter* waiter) {
    std::lock_guard lock(mutex_);
    return waiter->shutDown;
  }
  // Marks the socket shut down and wakes its waiting thread; remembered for a first wait that
  // has not begun yet.
  void ShutDown(SocketHandle socket) {
    std::lock_guard lock(mutex_);
    auto found = waiters_.find(socket);
    if (found == waiters_.end()) {
      shutBeforeWait_[socket] = true;
      return;
    }
    found->second->shutDown = true;
    SetEvent(found->second->event);
  }
  void Forget(SocketHandle socket) {
    std::lock_guard lock(mutex_);
    waiters_.erase(socket);
    shutBeforeWait_.erase(socket);
  }

 private:
  std::mutex mutex_;
  std::map<SocketHandle, std::unique_ptr<Waiter>> waiters_;
  std::map<SocketHandle, bool> shutBeforeWait_;
};

WaiterTable& Waiters() {
  static WaiterTable table;
  return table;
}

bool MakeNonBlocking(SocketHandle socket) {
  u_long on = 1;
  return ioctlsocket(Native(socket), FIONBIO, &on) == 0;
}

void SetIntOption(SocketHandle socket, int level, int name, int value) {
  setsockopt(Native(socket), level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

// Network events are edges, and Wine 8 now and then loses an FD_ACCEPT one (a pending client
// is never signalled); the accept call is the level check, so a bounded wait caps what a lost
// edge costs. Readers wait without a bound: idle clients must not wake the process.
// ShutdownBoth and the network still wake the waiter at once.
constexpr DWORD kAcceptRecheckMs = 250;

// Blocks until the waiter's event is set (or `timeoutMs` passes), then clears it together with
// the recorded network events (WSAEnumNetworkEvents resets the event), so the caller retries.
void WaitAndReset(SocketHandle socket, Waiter* waiter, DWORD timeoutMs) {
  WaitForSingleObject(waiter->event, timeoutMs);
  WSANETWORKEVENTS events{};
  WSAEnumNetworkEvents(Native(socket), waiter->event, &events);
}

SocketHandle CreateFamilySocket(int family) {
  // WSA_FLAG_NO_HANDLE_INHERIT: not inherited by child processes. WSA_FLAG_OVERLAPPED, as socket()
  // gives: the control page's accepted sockets run on a completion port, which needs it.
  const SOCKET s = WSASocketW(family, SOCK_STREAM, 0, nullptr, 0,
                              WSA_FLAG_NO_HANDLE_INHERIT | WSA_FLAG_OVERLAPPED);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  if (!MakeNonBlocking(static_cast<SocketHandle>(s))) {
    closesocket(s);
    return kInvalidSocket;
  }
  return static_cast<SocketHandle>(s);
}

bool ListenOn(SocketHandle socket) {
  // Winsock's SOMAXCONN asks the provider for its own maximum.
  return Logged(::listen(Native(socket), SOMAXCONN) == 0, "listen");
}

}  // namespace

ListenResult OpenListenerAt(const SocketAddress& address, bool dualStack, SocketHandle* listener) {
  const SocketHandle socket = CreateFamilySocket(address.Family());
  if (socket == kInvalidSocket) {
    if (WSAGetLastError() == WSAEAFNOSUPPORT) return ListenResult::NotLocal;  // IPv4 alone then
    Logged(false, "socket");
    return ListenResult::Failed;
  }
  if (address.Family() == AF_INET6) {
    SetIntOption(socket, IPPROTO_IPV6, IPV6_V6ONLY, dualStack ? 0 : 1);
  }
  ListenResult result = ListenResult::Listening;
  if (::bind(Native(socket), address.Get(), address.length) != 0) {
    const int error = WSAGetLastError();
    result = error == WSAEADDRINUSE || error == WSAEACCES ? ListenResult::InUse
             : error == WSAEADDRNOTAVAIL                  ? ListenResult::NotLocal
                                                          : ListenResult::Failed;
    // A port in use or an address this computer lacks is the caller's to tell.
    if (result == ListenResult::Failed) Logged(false, "bind");
  } else if (!ListenOn(socket)) {
    result = ListenResult::Failed;
  }
  if (result != ListenResult::Listening) {
    CloseSocket(socket);
    return result;
  }
  *listener = socket;
  return result;
}

AcceptResult AcceptClient(SocketHandle listener, SocketHandle* accepted, IpAddress* peer) {
  return AcceptClientWith(listener, accepted, &::accept, peer);
}

AcceptResult AcceptClientWith(SocketHandle listener, SocketHandle* accepted,
                              WinsockAcceptCall acceptCall, IpAddress* peer) {
  Waiter* waiter = Waiters().Get(listener, FD_ACCEPT);
  if (waiter == nullptr) return AcceptResult::Closed;
  for (;;) {
    if (Waiters().IsShutDown(waiter)) return AcceptResult::Closed;
    SocketAddress address;
    const SOCKET s = acceptCall(Native(listener), address.Get(), &address.length);
    if (s != INVALID_SOCKET) {
      if (peer != nullptr) *peer = AddressOf(address);
      // An accepted socket takes over the listener's event selection; give it none of its own
      // until a reader waits on it, and keep it non-blocking for SendNow.
      WSAEventSelect(s, nullptr, 0);
      SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
      if (!MakeNonBlocking(static_cast<SocketHandle>(s))) {
        closesocket(s);
        return AcceptResult::Transient;
      }
      *accepted = static_cast<SocketHandle>(s);
      return AcceptResult::Accepted;
    }
    switch (WSAGetLastError()) {
      case WSAEWOULDBLOCK:
        WaitAndReset(listener, waiter, kAcceptRecheckMs);
        continue;
      // Only these say the listener itself is done: not listening, or no socket any more.
      case WSAEINVAL:
      case WSAENOTSOCK:
      case WSAEOPNOTSUPP:
      case WSAEFAULT:
      case WSANOTINITIALISED:
        return AcceptResult::Closed;
      case WSAECONNRESET:  // that client gave up before we took it
      case WSAEINTR:
      case WSAEINPROGRESS:
        return AcceptResult::Transient;
      default:
        // WSAEMFILE, WSAENOBUFS, WSAENETDOWN and anything unforeseen: the system may recover, so
        // the server waits a moment and tries again rather than give up its clients or spin.
        return AcceptResult::Exhausted;
    }
  }
}

int SendNow(SocketHandle socket, const uint8_t* data, size_t length) {
  const int sent =
      ::send(Native(socket), reinterpret_cast<const char*>(data), static_cast<int>(length), 0);
  if (sent >= 0) return sent;
  return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

int ReceiveByte(SocketHandle socket, uint8_t* byte) {
  Waiter* waiter = Waiters().Get(socket, FD_READ | FD_CLOSE);
  if (waiter == nullptr) return -1;
  for (;;) {
    if (Waiters().IsShutDown(waiter)) return 0;
    const int received = ::recv(Native(socket), reinterpret_cast<char*>(byte), 1, 0);
    if (received == 1) return 1;
    if (received == 0) return 0;
    switch (WSAGetLastError()) {
      case WSAEWOULDBLOCK:
        WaitAndReset(socket, waiter, INFINITE);
        continue;
      case WSAESHUTDOWN:
        return 0;
      default:
        return -1;
    }
  }
}

void ShutdownBoth(SocketHandle socket) {
  if (socket == kInvalidSocket) return;
  ::shutdown(Native(socket), SD_BOTH);  // fails (harmlessly) on a listening socket
  Waiters().ShutDown(socket);
}

void CloseSocket(SocketHandle socket) {
  if (socket == kInvalidSocket) return;
  Waiters().Forget(socket);
  closesocket(Native(socket));
}

void SetNoDelay(SocketHandle socket) {
  SetIntOption(socket, IPPROTO_TCP, TCP_NODELAY, 1);
}

void SetDeadPeerTimeout(SocketHandle socket, uint32_t timeoutMs) {
  // Idle for a third of the time, then the system's ten probes share the rest.
  tcp_keepalive values{};
  values.onoff = 1;
  values.keepalivetime = timeoutMs / 3;
  values.keepaliveinterval = std::max<ULONG>(1000, (timeoutMs - values.keepalivetime) / 10);
  DWORD returned = 0;
  WSAIoctl(Native(socket), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned,
           nullptr, nullptr);
}

void SetListenerOptions(SocketHandle listener) {
  SetIntOption(listener, IPPROTO_TCP, TCP_NODELAY, 1);
  // Option 8 at this level is set as the server always has, result ignored; Winsock documents
  // it as a read-only option, so the call has no effect there. (On Linux the same number is
  // TCP_WINDOW_CLAMP, which is why only this adapter sets it.)
  SetIntOption(listener, IPPROTO_TCP, 8, 1);
}
