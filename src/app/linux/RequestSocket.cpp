#include "app/linux/RequestSocket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include "app/Requests.h"
#include "app/ShellNames.h"
#include "app/linux/FlockInstanceGuard.h"
#include "base/Log.h"

namespace {

constexpr int kMostPeers = 8;
constexpr int kPeerDeadlineMs = 5000;

// Whether the peer runs as this user (the folder's mode keeps others out; this checks anyway).
bool SameUser(int fd) {
  ucred peer{};
  socklen_t length = sizeof peer;
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == geteuid();
}

}  // namespace

std::string RequestSocketPath(const std::string& folder, std::string* problem) {
  return GuardFilePath(folder, kRequestChannelName, problem);
}

bool RequestSocket::Open(Handler handler) {
  std::string problem;
  const std::string path = RequestSocketPath(folder_, &problem);
  const std::string cannot = "; quavix-server --set-port cannot reach this server";
  if (path.empty()) {
    LogError(problem + cannot);
    return false;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    LogError(path + ": too long a path for a socket" + cannot);
    return false;
  }
  path.copy(address.sun_path, path.size());
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  unlink(path.c_str());  // the guard is ours: whatever is there, an earlier holder left it
  if (!fd || bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd.get(), kMostPeers) != 0) {
    LogSystemError(path + ": cannot take requests" + cannot, errno);
    return false;
  }
  path_ = path;
  handler_ = std::move(handler);
  listener_ = std::move(fd);
  acceptable_ = std::make_unique<QSocketNotifier>(listener_.get(), QSocketNotifier::Read);
  QObject::connect(acceptable_.get(), &QSocketNotifier::activated, this, [this] { Accept(); });
  return true;
}

void RequestSocket::Close() {
  peers_.clear();
  acceptable_.reset();
  listener_.reset();
  if (!path_.empty()) unlink(path_.c_str());
  path_.clear();
  handler_ = nullptr;
}

void RequestSocket::Accept() {
  for (;;) {
    UniqueFd fd(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd) return;  // nothing more waiting, or an error that concerns one peer
    if (peers_.size() >= kMostPeers || !SameUser(fd.get())) continue;
    Peer& peer = peers_.emplace_back();
    peer.id = ++nextId_;
    peer.fd = std::move(fd);
    peer.readable = std::make_unique<QSocketNotifier>(peer.fd.get(), QSocketNotifier::Read);
    QObject::connect(peer.readable.get(), &QSocketNotifier::activated, this,
                     [this, &peer] { Read(peer); });
    peer.deadline = std::make_unique<QTimer>();
    peer.deadline->setSingleShot(true);
    const uint64_t id = peer.id;
    QObject::connect(peer.deadline.get(), &QTimer::timeout, this, [this, id] { Drop(id); });
    peer.deadline->start(kPeerDeadlineMs);
  }
}

void RequestSocket::Read(Peer& peer) {
  char buffer[512];
  for (;;) {
    const ssize_t got = recv(peer.fd.get(), buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (got <= 0) return Drop(peer.id);  // gone before a whole line
    peer.received.append(buffer, static_cast<size_t>(got));
    const size_t end = peer.received.find('\n');
    if (end != std::string::npos) return AnswerLater(peer, peer.received.substr(0, end));
    if (peer.received.size() > kLongestRequestLine) return Drop(peer.id);
  }
}

void RequestSocket::AnswerLater(Peer& peer, std::string request) {
  peer.readable->setEnabled(false);
  peer.deadline->stop();
  const uint64_t id = peer.id;
  QMetaObject::invokeMethod(
      this,
      [this, id, request = std::move(request)] {
        for (Peer& waiting : peers_) {
          if (waiting.id != id || !waiting.fd) continue;
          // One short line: the socket's buffer takes it whole, or the peer is gone.
          const std::string reply = (handler_ ? handler_(request) : "") + "\n";
          [[maybe_unused]] const ssize_t sent =
              send(waiting.fd.get(), reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
          return Drop(id);
        }
      },
      Qt::QueuedConnection);
}

void RequestSocket::Drop(uint64_t id) {
  for (Peer& peer : peers_) {
    if (peer.id != id || !peer.fd) continue;
    peer.readable->setEnabled(false);
    peer.deadline->stop();
    peer.fd.reset();
    // Freed from the loop: this may run inside a signal of the peer's own notifier or timer.
    QMetaObject::invokeMethod(
        this, [this] { peers_.remove_if([](const Peer& ended) { return !ended.fd; }); },
        Qt::QueuedConnection);
  }
}
