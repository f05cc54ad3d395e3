// NetworkServer's listening half: where it listens and for which service, and the accept
// threads that pass each connection through the gate to its listener's service.
#include <chrono>
#include <thread>

#include "net/server/NetworkServer.h"

namespace {

// Out of descriptors or buffers, or the network is down: give the system a moment before the
// next attempt instead of spinning on the same error.
constexpr auto kExhaustedPause = std::chrono::milliseconds(20);

}  // namespace

void NetworkServer::SetListenAddresses(std::vector<IpAddress> addresses) {
  listenAddresses_ = std::move(addresses);
}

void NetworkServer::SetAccessPolicy(AccessPolicy policy) {
  gate_.SetPolicy(std::move(policy));
}

bool NetworkServer::BindAndListen(uint16_t port) {
  listeners_.clear();
  listenResult_ = OpenListeners(port, byteProtocol_);
  return listenResult_ == ListenResult::Listening;
}

bool NetworkServer::ListenFor(uint16_t port, IConnectionService& service) {
  return OpenListeners(port, service) == ListenResult::Listening;
}

bool NetworkServer::CanListen(uint16_t port) const {
  std::vector<Socket> probes;
  std::optional<IpAddress> failed;
  return OpenSockets(port, &probes, &failed) == ListenResult::Listening;
}

ListenResult NetworkServer::OpenSockets(uint16_t port, std::vector<Socket>* sockets,
                                        std::optional<IpAddress>* failed) const {
  failed->reset();
  const size_t count = listenAddresses_.empty() ? 1 : listenAddresses_.size();
  for (size_t i = 0; i < count; ++i) {
    const IpAddress* address = listenAddresses_.empty() ? nullptr : &listenAddresses_[i];
    SocketHandle handle = kInvalidSocket;
    const ListenResult result = OpenListener(address, port, &handle);
    if (result != ListenResult::Listening) {
      if (address != nullptr) *failed = *address;
      sockets->clear();
      return result;
    }
    sockets->emplace_back(handle);
    if (port == 0) port = LocalPort(handle);  // the others share the port the system chose
  }
  return ListenResult::Listening;
}

ListenResult NetworkServer::OpenListeners(uint16_t port, IConnectionService& service) {
  std::vector<Socket> sockets;
  const ListenResult result = OpenSockets(port, &sockets, &failedAddress_);
  for (Socket& socket : sockets) {
    auto listener = std::make_unique<Listener>();
    listener->server = this;
    listener->service = &service;
    listener->socket = std::move(socket);
    listeners_.push_back(std::move(listener));
  }
  return result;
}

uint16_t NetworkServer::ListeningPort() const {
  return ListeningPort(byteProtocol_);
}

uint16_t NetworkServer::ListeningPort(const IConnectionService& service) const {
  for (const auto& listener : listeners_) {
    if (listener->service == &service) return LocalPort(listener->socket.Get());
  }
  return 0;
}

void NetworkServer::AcceptLoop(void* parameter) {
  auto* own = static_cast<Listener*>(parameter);
  NetworkServer* server = own->server;
  const SocketHandle listener = own->socket.Get();
  for (;;) {
    SocketHandle accepted = kInvalidSocket;
    IpAddress peer;
    const AcceptResult result = AcceptClient(listener, &accepted, &peer);
    if (result == AcceptResult::Accepted) {
      server->AdmitAccepted(*own, accepted, peer);
      server->ReapRetired();
      continue;
    }
    // Only the end of the listener stops the service; one client's failure does not.
    if (result == AcceptResult::Closed || server->stopping_.load()) break;
    if (result == AcceptResult::Exhausted) std::this_thread::sleep_for(kExhaustedPause);
    server->ReapRetired();  // after every attempt, as after a success
  }
  server->ReapRetired();
}

void NetworkServer::AdmitAccepted(const Listener& listener, SocketHandle accepted,
                                  const IpAddress& peer) {
  // Before a byte is sent and before a reader exists: a refused client costs one close.
  // Connections a transport carries hold a reader each before they open, so they count too.
  size_t held = 0;
  {
    std::lock_guard lock(serverMutex_);
    held = clients_.size() + opening_.size();
  }
  if (!gate_.Admit(peer, held)) {
    CloseSocket(accepted);
    return;
  }
  SetListenerOptions(listener.socket.Get());
  // The listener's TCP_NODELAY is not inherited on every platform; the first client needs it too.
  SetNoDelay(accepted);
  // A client that vanishes without a FIN would otherwise keep its record and reader for as long
  // as TCP retransmits (15 minutes and more), or for ever while nothing is sent to it.
  SetDeadPeerTimeout(accepted, static_cast<uint32_t>(deadPeerTimeout_.count()));
  listener.service->ServeAccepted(accepted);
}
