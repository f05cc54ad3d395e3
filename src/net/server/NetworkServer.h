#pragma once
// The listening sockets, their accept threads and every client connection. It greets each
// client and offers it the state source's state; what clients ask for goes to the external listener
// (the relay). Wired with the relay and a volume control by VolumeServer.
//
// Lock order: a backend's callback mutex, then its state mutex (inside GetState), then the
// server mutex, then one connection's mutex. The server never asks the state source for the
// state while it holds the server mutex, so a backend may report changes with any of its own
// locks held.
//
// Listeners: the byte protocol's own, and those of other services (the control page) on the same
// addresses and behind the same gate. Each carries the service that takes what it accepts.
//
// Threads: one accept thread per listening socket while the server runs, one reader per client;
// a connection that a transport carries runs the transport on its reader (the page's answers
// its HTTP request there before its WebSocket opens). Every thread is joined, never detached;
// a client never frees itself. Readers that a bounded Stop left running are joined later (see
// Stop), at the latest by the destructor. A reader tells the external
// listener of its end before the server retires it, so the listener may take no lock of ours.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "audio/IVolumeControl.h"
#include "net/ClientGate.h"
#include "net/IClientListener.h"
#include "net/IClock.h"
#include "net/Socket.h"
#include "net/Thread.h"
#include "net/server/ClientConnection.h"
#include "net/server/IConnectionService.h"
#include "net/server/SendPool.h"

class NetworkServer {
 public:
  explicit NetworkServer(IClock& clock);
  // Stops the server if it still runs, then waits without a bound for readers that a bounded
  // Stop left running, and joins them: no thread outlives the object. Those readers may still
  // call the external listener and the volume control, so both must outlive this object.
  ~NetworkServer();
  NetworkServer(const NetworkServer&) = delete;
  NetworkServer& operator=(const NetworkServer&) = delete;

  // Main thread, before Start; not changed while the accept thread runs. The state source is
  // only read, for each new client's first state; the listener hears every request and end.
  void SetStateSource(IVolumeControl* source);
  void SetExternalListener(IClientListener* listener);

  // Main thread, before BindAndListen. The local addresses to listen on; empty (the default)
  // means every address of both families.
  void SetListenAddresses(std::vector<IpAddress> addresses);
  // Any thread. Whom the server serves; a change applies to the next client that connects.
  void SetAccessPolicy(AccessPolicy policy);

  // Main thread. Only on a server that never ran or was stopped. Listens on every set address
  // (all on the same port; port 0 takes the one the system gives the first). On failure nothing
  // listens, and FailedAddress says which address failed (empty: every address).
  bool BindAndListen(uint16_t port);
  ListenResult LastListenResult() const { return listenResult_; }
  std::optional<IpAddress> FailedAddress() const { return failedAddress_; }
  // Main thread. Whether BindAndListen(port) would listen now: a socket on every set address,
  // all held at once as the server holds them, closed again at once.
  bool CanListen(uint16_t port) const;
  // Main thread, after BindAndListen, only on a server that never ran or was stopped. Listens
  // for `service` on `port` too (0 asks the system), on the same addresses and behind the same
  // gate, until the next Stop. False on failure (nothing of `service` listens then); the byte
  // protocol's port is not affected. `service` must outlive the next Stop.
  bool ListenFor(uint16_t port, IConnectionService& service);
  // Accept thread, inside a service's ServeAccepted. Serves a connection that `transport`
  // carries: from now on it counts toward the client bound and Stop ends it; its reader runs
  // the transport, and once the transport reports it open (ClientConnection::opened) it is
  // greeted, offered the state and listed, a client like any other.
  void ServeTransport(std::unique_ptr<IClientTransport> transport);
  // Main thread. Starts the accept threads.
  bool Start();
  // Main thread. Ends the accept threads and every connection, closes the listening sockets
  // (every service's).
  // BindAndListen + Start may follow. Bounded: every client is shut down, and its reader is given
  // the stop bound to end. A reader still inside a listener then (the volume control slow or
  // reconnecting) is unlisted and left to finish by itself; it is never detached: once it has
  // reported its end it is joined by the next Start, Stop, accept or AllReadersEnded, or by the
  // destructor. True when every reader has ended and been joined.
  // While a reader may still run (false here, until AllReadersEnded says true), the external
  // listener and the volume control it calls must not be destroyed.
  bool Stop();
  // Main thread. Joins the readers of earlier stops that have ended since; true when none is
  // left running.
  bool AllReadersEnded();
  // Main thread, before Start. How long Stop waits for readers (1.5 s unless set).
  void SetStopBound(std::chrono::milliseconds bound);
  // Main thread, before Start. How long a client may stop acknowledging before its connection
  // is ended, as if it had closed it (about a minute unless set; whole seconds).
  void SetDeadClientTimeout(std::chrono::milliseconds timeout);

  // Main thread. The port the byte protocol listens on, 0 when it does not (port 0 asks the
  // system).
  uint16_t ListeningPort() const;
  // Main thread. The port `service` listens on, 0 when it does not.
  uint16_t ListeningPort(const IConnectionService& service) const;

  // Any thread, holding no lock of ours (the lock order puts the server mutex after a backend's
  // callback mutex only). Runs `visit(ClientConnection*)` once on every listed connection,
  // holding the server mutex for the whole pass: a connection cannot be unlisted or have its
  // socket closed meanwhile. With many clients the visits are shared with the send pool's
  // helpers, so several run at once, in no set order. `visit` may take a connection's mutex and
  // send on its socket; it must not take the server mutex.
  template <typename Visit>
  void ForEachClient(Visit&& visit) {
    std::lock_guard lock(serverMutex_);
    sendPool_.ForEachIndex(clients_.size(), [&](size_t i) { visit(clients_[i].get()); });
  }

  // Any thread. Listed connections (those a transport carries count once it reports them open),
  // and connections that left but are not freed yet.
  size_t ClientCount() const;
  size_t RetiredCount() const;

 private:
  struct Listener {
    NetworkServer* server = nullptr;
    IConnectionService* service = nullptr;  // takes what the gate admits
    Socket socket;
    Thread thread;
  };

  // The byte protocol: every connection is a client from its first byte on.
  class ByteProtocol final : public IConnectionService {
   public:
    explicit ByteProtocol(NetworkServer& server) : server_(server) {}
    void ServeAccepted(SocketHandle accepted) override { server_.ServeByteClient(accepted); }

   private:
    NetworkServer& server_;
  };

  // Reader thread, last thing before its socket closes: unlists the ended connection and hands
  // it to the reaper.
  void Retire(ClientConnection* connection);
  static void AcceptLoop(void* listener);
  // A listening socket on every set address on `port` (the others take the port the system
  // chose for the first when it is 0), in `sockets`; on failure none, and `failed` says which
  // address failed (empty: every address).
  ListenResult OpenSockets(uint16_t port, std::vector<Socket>* sockets,
                           std::optional<IpAddress>* failed) const;
  // Listens for `service` on every set address on `port`, adding to `listeners_`; the result
  // and `failedAddress_` as for BindAndListen.
  ListenResult OpenListeners(uint16_t port, IConnectionService& service);
  // Closes `accepted` before the greeting when the gate refuses its peer, else sets its options
  // and hands it to the listener's service.
  void AdmitAccepted(const Listener& listener, SocketHandle accepted, const IpAddress& peer);
  void ServeByteClient(SocketHandle accepted);
  std::unique_ptr<ClientConnection> NewConnection(SocketHandle socket);
  // Greets `raw`, offers it the state and lists it. `owned` holds it, or is null for one a
  // transport carries, which is taken off `opening_` (and left alone when a drain has taken it
  // already).
  void GreetAndList(ClientConnection* raw, std::unique_ptr<ClientConnection> owned);
  // The state source's current state (the default without one). Takes none of our locks.
  VolumeState ReadState() const;
  // Stop, once nothing accepts any more. Shuts every listed connection down and waits,
  // up to the stop bound, until each has reported its end; the rest are moved to `lingering_`.
  void DrainClients();
  // Starts the connection's reader and records, under the server mutex, that it holds it.
  bool StartReader(ClientConnection* connection);
  // Joins and frees the retired connections whose reader's start has been recorded.
  void ReapRetired();
  // Under the server mutex: removes `connection` from `list` and hands it over; null when it
  // is not there.
  static std::unique_ptr<ClientConnection> TakeFrom(
      std::vector<std::unique_ptr<ClientConnection>>& list, ClientConnection* connection);

  IClock& clock_;
  IVolumeControl* stateSource_ = nullptr;
  IClientListener* externalListener_ = nullptr;
  std::vector<IpAddress> listenAddresses_;
  std::vector<std::unique_ptr<Listener>> listeners_;
  ListenResult listenResult_ = ListenResult::Listening;
  std::optional<IpAddress> failedAddress_;
  ClientGate gate_{clock_};
  ByteProtocol byteProtocol_{*this};
  // Set by Stop before it wakes the accept thread, so no accept error is mistaken for it.
  std::atomic<bool> stopping_{false};
  std::chrono::milliseconds stopBound_{1500};
  std::chrono::milliseconds deadPeerTimeout_{60000};

  // Lives as long as the object, so a broadcast from the audio thread is safe across Stop and
  // Start. Guards the lists below and is the lock `drained_` waits with.
  mutable std::mutex serverMutex_;
  std::vector<std::unique_ptr<ClientConnection>> clients_;
  // Connections a transport carries, before it reports them open (the page's while it answers
  // HTTP): drained like clients, never broadcast to.
  std::vector<std::unique_ptr<ClientConnection>> opening_;
  std::vector<std::unique_ptr<ClientConnection>> retired_;
  // Connections whose reader was still inside a listener when a drain gave up on it: shut down
  // and unlisted, still owned here. Its reader moves it to `retired_` when it ends.
  std::vector<std::unique_ptr<ClientConnection>> lingering_;
  // Signalled when a disconnection leaves no client listed or opening (the end of a drain, or a
  // lingering reader's end once the server has stopped). Not a std::counting_semaphore: libstdc++'s
  // (GCC 12) waits without a futex on Windows check the count outside the lock that the
  // wake-up needs, so a release can be lost and Stop hang.
  std::condition_variable drained_;
  // Used only under the server mutex, so its helpers never touch an unlisted connection.
  SendPool sendPool_{SendPool::DefaultHelpers()};
};
