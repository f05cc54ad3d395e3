#pragma once
// IRequestChannel on Linux: a Unix stream socket named kRequestChannelName beside the instance
// guard, in the guard's private folder (the user's own, mode 0700), served by Qt's loop on the
// main thread. A connection carries one request line and gets one reply line back. A peer of
// another user is refused; one that sends no whole line within 5 s, or a longer one than a
// request may be, is dropped; at most 8 are served at once.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "app/IRequestChannel.h"
#include "app/linux/UniqueFd.h"

class RequestSocket final : public QObject, public IRequestChannel {
 public:
  // `folder` empty: the guard's own (GuardFolder), looked up at Open.
  explicit RequestSocket(std::string folder = "") : folder_(std::move(folder)) {}
  ~RequestSocket() override { Close(); }

  // Replaces a socket that an earlier holder of the guard left behind.
  bool Open(Handler handler) override;
  // Removes the socket.
  void Close() override;

 private:
  struct Peer {
    uint64_t id = 0;
    UniqueFd fd;
    std::unique_ptr<QSocketNotifier> readable;
    std::unique_ptr<QTimer> deadline;
    std::string received;
  };

  void Accept();
  void Read(Peer& peer);
  // From the loop, never inside the notifier's call: a handler may take its time.
  void AnswerLater(Peer& peer, std::string request);
  void Drop(uint64_t id);

  std::string folder_;
  std::string path_;  // while open
  Handler handler_;
  UniqueFd listener_;
  std::unique_ptr<QSocketNotifier> acceptable_;
  std::list<Peer> peers_;
  uint64_t nextId_ = 0;
};

// The socket's path in `folder`, or in the guard's folder when `folder` is empty; empty when
// there is no safe folder (`problem` then says why).
std::string RequestSocketPath(const std::string& folder, std::string* problem = nullptr);
