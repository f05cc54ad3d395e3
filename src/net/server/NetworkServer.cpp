#include "net/server/NetworkServer.h"

#include <algorithm>
#include <chrono>
#include <iterator>

#include "base/Log.h"

namespace {

constexpr size_t kAcceptStackSize = 128 * 1024;

}  // namespace

NetworkServer::NetworkServer(IClock& clock) : clock_(clock) {}

NetworkServer::~NetworkServer() {
  Stop();
  // Readers left running by a bounded stop still call this object: wait for them, however long.
  {
    std::unique_lock lock(serverMutex_);
    drained_.wait(lock, [this] { return lingering_.empty(); });
  }
  ReapRetired();
}

void NetworkServer::SetStateSource(IVolumeControl* source) {
  stateSource_ = source;
}
void NetworkServer::SetExternalListener(IClientListener* listener) {
  externalListener_ = listener;
}

bool NetworkServer::Start() {
  // Without a listening socket (a failed bind) there is nothing to accept: as an accept thread
  // that ends at once.
  for (const auto& listener : listeners_) {
    if (listener->thread.Joinable()) return false;
  }
  ReapRetired();  // readers of an earlier stop that have ended since
  for (const auto& listener : listeners_) {
    if (!listener->thread.Start(&NetworkServer::AcceptLoop, listener.get(), kAcceptStackSize)) {
      return false;  // Stop ends the ones that did start
    }
  }
  return true;
}

bool NetworkServer::Stop() {
  stopping_.store(true);
  // Closing alone would leave a Linux accept blocked: shut down first, close after the join.
  for (const auto& listener : listeners_) ShutdownBoth(listener->socket.Get());
  for (const auto& listener : listeners_) listener->thread.Join();
  listeners_.clear();
  stopping_.store(false);
  DrainClients();
  return AllReadersEnded();
}

bool NetworkServer::AllReadersEnded() {
  for (;;) {
    ReapRetired();
    std::lock_guard lock(serverMutex_);
    if (!lingering_.empty()) return false;
    if (retired_.empty()) return true;  // else one more has just reported its end
  }
}

void NetworkServer::SetStopBound(std::chrono::milliseconds bound) {
  stopBound_ = bound;
}

void NetworkServer::SetDeadClientTimeout(std::chrono::milliseconds timeout) {
  deadPeerTimeout_ = timeout;
}

size_t NetworkServer::ClientCount() const {
  std::lock_guard lock(serverMutex_);
  return clients_.size();
}

size_t NetworkServer::RetiredCount() const {
  std::lock_guard lock(serverMutex_);
  return retired_.size();
}

void NetworkServer::ServeByteClient(SocketHandle accepted) {
  std::unique_ptr<ClientConnection> connection = NewConnection(accepted);
  ClientConnection* raw = connection.get();
  GreetAndList(raw, std::move(connection));
  if (StartReader(raw)) return;

  // No reader: unlist and free it (closing its socket); the client sees its connection end.
  std::unique_ptr<ClientConnection> failed;
  {
    std::lock_guard lock(serverMutex_);
    failed = TakeFrom(clients_, raw);
  }
}

std::unique_ptr<ClientConnection> NetworkServer::NewConnection(SocketHandle socket) {
  auto connection = std::make_unique<ClientConnection>(socket, clock_);
  connection->listener = externalListener_;
  connection->ended = [this](ClientConnection* ended) { Retire(ended); };
  return connection;
}

void NetworkServer::ServeTransport(std::unique_ptr<IClientTransport> transport) {
  // The transport owns the socket; the connection's own stays empty. Listed as opening before
  // its reader starts, so a drain reaches it and its end always finds it.
  std::unique_ptr<ClientConnection> connection = NewConnection(kInvalidSocket);
  ClientConnection* raw = connection.get();
  connection->transport = std::move(transport);
  connection->opened = [this](ClientConnection* opened) { GreetAndList(opened, nullptr); };
  {
    std::lock_guard lock(serverMutex_);
    opening_.push_back(std::move(connection));
  }
  if (StartReader(raw)) return;
  std::unique_ptr<ClientConnection> failed;
  {
    std::lock_guard lock(serverMutex_);
    failed = TakeFrom(opening_, raw);
  }
}

void NetworkServer::GreetAndList(ClientConnection* raw, std::unique_ptr<ClientConnection> owned) {
  // The state is read before the server mutex is taken (a backend's locks come first in the lock
  // order), then the client is greeted, given that state and listed in one step under the mutex.
  // A change stored after that reading may have been broadcast before the client was listed, so
  // the state is read again and offered until a reading after the offer matches it; any later
  // change is broadcast to the listed client. Listed before its reader starts, so the reader's
  // Retire always finds it, and nothing but this thread can unlist it meanwhile.
  // A transport's reader lists its own connection, which a drain may have taken off `opening_`
  // already (it is then shut down and left as it is).
  VolumeState offered = ReadState();
  {
    std::lock_guard lock(serverMutex_);
    if (owned == nullptr) owned = TakeFrom(opening_, raw);
    if (owned == nullptr) return;
    GreetClient(raw, offered);
    clients_.push_back(std::move(owned));
    if (LogVerbose())
      LogNote("a client connected; " + std::to_string(clients_.size()) + " connected");
  }
  for (VolumeState now = ReadState(); now != offered; now = ReadState()) {
    offered = now;
    std::lock_guard lock(serverMutex_);
    SendStateIfDue(raw, &offered);
  }
}

std::unique_ptr<ClientConnection> NetworkServer::TakeFrom(
    std::vector<std::unique_ptr<ClientConnection>>& list, ClientConnection* connection) {
  auto it = std::find_if(list.begin(), list.end(),
                         [connection](const auto& held) { return held.get() == connection; });
  if (it == list.end()) return nullptr;
  std::unique_ptr<ClientConnection> taken = std::move(*it);
  list.erase(it);
  return taken;
}

VolumeState NetworkServer::ReadState() const {
  VolumeState state;
  if (stateSource_ != nullptr) stateSource_->GetState(&state);
  return state;
}

void NetworkServer::DrainClients() {
  std::unique_lock lock(serverMutex_);
  for (const auto& connection : clients_) ShutdownClient(connection.get());
  for (const auto& connection : opening_) ShutdownClient(connection.get());
  // Nothing is accepted any more, so the lists only shrink, each reader unlisting its own (one
  // moving from opening to listed is shut down already and ends soon after).
  if (drained_.wait_for(lock, stopBound_,
                        [this] { return clients_.empty() && opening_.empty(); })) {
    return;
  }
  // The rest are inside a listener. Their sockets are shut down, so each reader ends as soon as
  // it returns; unlisted now, so no broadcast reaches them.
  for (auto& connection : clients_) lingering_.push_back(std::move(connection));
  for (auto& connection : opening_) lingering_.push_back(std::move(connection));
  clients_.clear();
  opening_.clear();
}

bool NetworkServer::StartReader(ClientConnection* connection) {
  if (!connection->readerThread.Start(&ReadLoop, connection, kReaderStackSize)) return false;
  std::lock_guard lock(serverMutex_);
  connection->readerStarted = true;
  return true;
}

void NetworkServer::ReapRetired() {
  std::vector<std::unique_ptr<ClientConnection>> reaped;
  {
    std::lock_guard lock(serverMutex_);
    // One whose starter has not yet recorded its thread stays for that starter's next reap.
    auto unstarted = std::partition(retired_.begin(), retired_.end(), [](const auto& connection) {
      return !connection->readerStarted;
    });
    std::move(unstarted, retired_.end(), std::back_inserter(reaped));
    retired_.erase(unstarted, retired_.end());
  }
  // Joined without the server mutex: broadcasts need not wait for leaving readers. A retired
  // reader has already returned from Retire, so nothing here can deadlock.
  for (auto& connection : reaped) connection->readerThread.Join();
}

void NetworkServer::Retire(ClientConnection* connection) {
  std::lock_guard lock(serverMutex_);
  std::unique_ptr<ClientConnection> ended = TakeFrom(clients_, connection);
  const bool wasListed = ended != nullptr;
  if (ended == nullptr) ended = TakeFrom(opening_, connection);
  if (ended == nullptr) ended = TakeFrom(lingering_, connection);
  if (ended != nullptr) retired_.push_back(std::move(ended));
  if (wasListed && LogVerbose())
    LogNote("a client left; " + std::to_string(clients_.size()) + " connected");
  // The drain waits for empty lists, the destructor for the last lingering reader.
  if (clients_.empty() && opening_.empty()) drained_.notify_all();
}
