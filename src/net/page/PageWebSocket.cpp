#include "net/page/PageWebSocket.h"

#include <array>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "net/page/PageCommand.h"
#include "net/page/PageHttp.h"
#include "net/page/PageRemote.h"
#include "net/page/pairing/PageAdmission.h"
#include "net/page/pairing/PairingSite.h"
#include "net/server/ClientConnection.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using ErrorCode = beast::error_code;

namespace {

// Every protocol item is at most 4 bytes; a few bytes more in one binary message are allowed,
// more is a protocol error that closes the socket. A text message is a command, at most
// kLongestPageCommand bytes; a longer message of either kind is cut off unread.
constexpr size_t kBinaryLimit = 8;
constexpr size_t kMessageLimit = kLongestPageCommand;
// Items waiting for a client that does not read. Past this it has fallen behind as a byte
// client whose socket buffer is full, and is ended the same way.
constexpr size_t kQueueLimit = 32;

struct Item {
  std::array<uint8_t, 4> bytes{};
  size_t length = 0;
};

class PageWebSocket final : public IClientTransport {
 public:
  PageWebSocket(SocketHandle accepted, const PageSite& site) : site_(site) {
    const std::optional<LocalEnd> local = LocalEndOf(accepted);
    ErrorCode error;
    // Asio is told the socket's real family: a dual-stack listener's connections are IPv6,
    // IPv4 clients included.
    if (local) {
      Socket().assign(local->ipv6Socket ? tcp::v6() : tcp::v4(),
                      static_cast<tcp::socket::native_handle_type>(accepted), error);
    }
    if (!local || error) {
      CloseSocket(accepted);
      ended_ = true;
      return;
    }
    // The address the request came in on, as a Host names it: an IPv4 client of a dual-stack
    // socket in dotted form, an IPv6 address without its scope (a Host never carries one).
    peer_ = PeerOf(accepted).value_or(IpAddress{});
    http_.emplace(
        Stream(), site_, IpAddressText(local->address), peer_,
        [this](const PageHttp::Request& request) { Accept(request); }, [this] { End(); });
  }

  bool Send(const uint8_t* data, size_t length) override {
    if (length == 0 || length > Item{}.bytes.size()) return false;
    std::lock_guard lock(mutex_);
    if (ended_ || queued_ == queue_.size()) return false;
    Item& item = queue_[(first_ + queued_++) % queue_.size()];
    std::memcpy(item.bytes.data(), data, length);
    item.length = length;
    if (!wakePosted_) {
      wakePosted_ = true;
      asio::post(io_, [this] { WriteNext(); });
    }
    return true;
  }

  void Shutdown() override {
    asio::post(io_, [this] { End(); });
  }

  void Serve(ClientConnection* connection) override {
    connection_ = connection;
    if (!Ended()) http_->Start();
    io_.run();
    End();
  }

 private:
  tcp::socket& Socket() { return beast::get_lowest_layer(ws_).socket(); }
  beast::tcp_stream& Stream() { return beast::get_lowest_layer(ws_); }

  bool Ended() {
    std::lock_guard lock(mutex_);
    return ended_;
  }

  // Ends every operation: run() returns once their handlers have seen it.
  void End() {
    {
      std::lock_guard lock(mutex_);
      ended_ = true;
      queued_ = 0;
      for (std::optional<std::string>& waiting : texts_) waiting.reset();
    }
    ErrorCode ignored;
    Socket().shutdown(tcp::socket::shutdown_both, ignored);
    Stream().cancel();
    // A close we started waits for the peer's answer on the WebSocket's own timer, which
    // cancelling the stream leaves running: turning the time-outs off cancels it too.
    ws_.set_option(websocket::stream_base::timeout{websocket::stream_base::none(),
                                                   websocket::stream_base::none(), false});
    answerTimer_.cancel();
  }

  // The HTTP side found a WebSocket request fit to open.
  void Accept(const PageHttp::Request& request) {
    websocket::stream_base::timeout timeouts{};
    timeouts.handshake_timeout = site_.requestTime;
    timeouts.idle_timeout = websocket::stream_base::none();
    timeouts.keep_alive_pings = false;  // the protocol's own keep-alives go both ways
    ws_.set_option(timeouts);
    ws_.read_message_max(kMessageLimit);
    ws_.auto_fragment(false);
    ws_.binary(true);
    const auto agent = request.find(beast::http::field::user_agent);
    std::string userAgent =
        agent == request.end() ? "" : std::string(agent->value().data(), agent->value().size());
    ws_.async_accept(request, [this, userAgent = std::move(userAgent)](ErrorCode error) {
      if (error) return End();
      // The computer's own browser, and every page with pairing off, are in at once.
      if (site_.pairing == nullptr || peer_.IsLoopback()) return Open({});
      Challenge(userAgent);
    });
  }

  // --- Pairing: nothing but the challenge goes out until the page proves a key or pairs ---

  void Challenge(const std::string& userAgent) {
    admission_.emplace(site_.pairing->Parts(), peer_, userAgent);
    if (admission_->Challenge().empty()) return Close("server-error");
    // A page that does not answer in time costs its thread no longer than a slow request.
    answerTimer_.expires_after(site_.requestTime);
    answerTimer_.async_wait([this](ErrorCode error) {
      if (!error) End();
    });
    WriteText(admission_->Challenge(), [this] { ReadMessage(); });
  }

  // The page's answer to the challenge.
  void OnAnswer(std::string_view text) {
    PageAdmission::Step step = admission_->Take(text);
    admission_.reset();
    switch (step.verdict) {
      case PageAdmission::Verdict::kAdmitted:
        if (step.message.empty()) return Open(step.deviceId);
        return WriteText(std::move(step.message), [this, id = step.deviceId] { Open(id); });
      case PageAdmission::Verdict::kRefused:
        return WriteText(std::move(step.message), [this] { Close("refused"); });
      case PageAdmission::Verdict::kWaiting:
      case PageAdmission::Verdict::kProtocolError:
        return Close("");
    }
  }

  // The only write before the connection opens, so nothing else is being written meanwhile.
  void WriteText(std::string text, std::function<void()> then) {
    text_ = std::move(text);
    ws_.text(true);
    ws_.async_write(asio::buffer(text_), [this, then = std::move(then)](ErrorCode error, size_t) {
      ws_.binary(true);
      if (error) return End();
      then();
    });
  }

  // The connection carries the byte protocol from now on: the server greets and lists it.
  // `device`: the paired phone it proved, whose forgetting closes it at once.
  void Open(const std::string& device) {
    answerTimer_.cancel();
    if (!device.empty()) {
      PairedDevices& devices = site_.pairing->Parts().devices;
      forgetWatch_ = devices.OnForget([this, device](const std::string& forgotten) {
        if (forgotten == device) asio::post(io_, [this] { Close("forgotten"); });
      });
      // Forgotten between its answer and the watch: as if the watch had seen it.
      if (!devices.Known(device)) return Close("forgotten");
    }
    if (connection_->opened) connection_->opened(connection_);
    // After the greeting: the remote's messages follow it.
    if (site_.remote != nullptr) {
      remoteFollower_ = site_.remote->Follow(
          [this](PageRemote::Topic topic, const std::string& json) { QueueText(topic, json); });
    }
    ReadMessage();
  }

  // Closes the WebSocket as a protocol error (1008), with `reason` for the page to show; End
  // follows. Once: a second close would overlap the first.
  void Close(const char* reason) {
    if (closing_) return;
    closing_ = true;
    ws_.async_close(websocket::close_reason(websocket::close_code::policy_error, reason),
                    [this](ErrorCode) { End(); });
  }

  void ReadMessage() {
    ws_.async_read(frames_, [this](ErrorCode error, size_t) { OnMessage(error); });
  }

  void OnMessage(ErrorCode error) {
    if (error) return End();  // closed by the peer or by us, or a broken or oversized frame
    const auto data = frames_.data();
    const std::string_view text(static_cast<const char*>(data.data()), data.size());
    if (admission_) {
      if (ws_.got_binary()) return Close("");
      const std::string answer(text);
      frames_.consume(frames_.size());
      return OnAnswer(answer);
    }
    const bool valid = ws_.got_binary()
                           ? OnBinary(static_cast<const uint8_t*>(data.data()), data.size())
                           : OnText(text);
    frames_.consume(frames_.size());
    // As on the byte port an invalid byte ends the connection; a close frame says why.
    if (!valid) return Close("");
    ReadMessage();
  }

  // Protocol bytes, as a byte client sends them. False at the first invalid one.
  bool OnBinary(const uint8_t* bytes, size_t size) {
    if (size > kBinaryLimit) return false;
    for (size_t i = 0; i < size; ++i) {
      if (!HandleClientByte(connection_, bytes[i])) return false;
    }
    return true;
  }

  // A text message: a command of the remote's. Anything else, like an invalid byte, ends the
  // connection.
  bool OnText(std::string_view text) {
    const std::optional<PageCommand> command = ParsePageCommand(text);
    if (!command || site_.remote == nullptr) return false;
    return site_.remote->Take(*command, requestRate_, connection_->clock->NowMs());
  }

  // Under the remote's mutex: only the newest message of each topic waits, so a page that
  // reads slowly is sent the present, never a backlog.
  void QueueText(PageRemote::Topic topic, const std::string& json) {
    std::lock_guard lock(mutex_);
    if (ended_) return;
    texts_[static_cast<size_t>(topic)] = json;
    if (!wakePosted_) {
      wakePosted_ = true;
      asio::post(io_, [this] { WriteNext(); });
    }
  }

  // I/O thread. Writes the oldest queued item, else a waiting text, unless a write is under
  // way.
  void WriteNext() {
    bool text = false;
    {
      std::lock_guard lock(mutex_);
      wakePosted_ = false;
      if (writing_ || ended_) return;
      if (queued_ > 0) {
        outgoing_ = queue_[first_];
        first_ = (first_ + 1) % queue_.size();
        --queued_;
      } else {
        for (std::optional<std::string>& waiting : texts_) {
          if (!waiting) continue;
          outgoingText_ = std::move(*waiting);
          waiting.reset();
          text = true;
          break;
        }
        if (!text) return;
      }
      writing_ = true;
    }
    ws_.text(text);
    const asio::const_buffer buffer =
        text ? asio::buffer(outgoingText_) : asio::buffer(outgoing_.bytes.data(), outgoing_.length);
    ws_.async_write(buffer, [this](ErrorCode error, size_t) {
      {
        std::lock_guard lock(mutex_);
        writing_ = false;
      }
      if (error) return End();
      WriteNext();
    });
  }

  PageSite site_;
  IpAddress peer_;
  ClientConnection* connection_ = nullptr;

  // Destroyed after the stream and the HTTP side that use it.
  asio::io_context io_{1};
  websocket::stream<beast::tcp_stream> ws_{io_};
  std::optional<PageHttp> http_;  // empty when the socket could not be taken
  beast::flat_buffer frames_{kMessageLimit * 2};
  asio::steady_timer answerTimer_{io_};

  // I/O thread only. While the page has a challenge to answer: what it is checked against.
  std::optional<PageAdmission> admission_;
  std::string text_;  // the text message being written
  bool closing_ = false;

  // Guards the queue and the flags; senders take it under the server mutex, never the reverse.
  std::mutex mutex_;
  std::array<Item, kQueueLimit> queue_{};
  size_t first_ = 0;
  size_t queued_ = 0;
  bool wakePosted_ = false;
  bool writing_ = false;
  bool ended_ = false;
  std::array<std::optional<std::string>, PageRemote::kTopics> texts_;  // the remote's, newest
  Item outgoing_;             // I/O thread only: the item being written
  std::string outgoingText_;  // I/O thread only: the text being written
  RequestRate requestRate_;   // I/O thread only

  // Last, so it is gone before anything its callback posts to: a forgotten phone's socket is
  // closed while it is open, never after.
  PairedDevices::Watch forgetWatch_;
  PageRemote::Follower remoteFollower_;
};

}  // namespace

std::unique_ptr<IClientTransport> MakePageTransport(SocketHandle accepted, const PageSite& site) {
  return std::make_unique<PageWebSocket>(accepted, site);
}
