#include "net/PageTransport.h"

#include <array>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/host_name.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "base/Log.h"
#include "net/ClientConnection.h"
#include "net/PageRequest.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using ErrorCode = beast::error_code;

namespace {

// A browser's request for the page is well under 2 KiB; a longer head is refused, and so is a
// request that has not arrived whole in time (a slow sender holding a thread).
constexpr size_t kHeaderLimit = 8 * 1024;
// After an answer that ends the connection: how long unread input is drained so the peer gets
// the answer rather than a reset.
constexpr auto kLingerTime = std::chrono::seconds(2);
// Every protocol item is at most 4 bytes; a few bytes more in one message are allowed, more is
// a protocol error that closes the socket.
constexpr size_t kMessageLimit = 8;
// Items waiting for a client that does not read. Past this it has fallen behind as a byte
// client whose socket buffer is full, and is ended the same way.
constexpr size_t kQueueLimit = 32;

std::string_view View(beast::string_view text) {
  return {text.data(), text.size()};
}

struct Item {
  std::array<uint8_t, 4> bytes{};
  size_t length = 0;
};

class PageTransport final : public IClientTransport {
 public:
  PageTransport(SocketHandle accepted, const PageSite& site, PageOpened opened)
      : site_(site), opened_(std::move(opened)) {
    ErrorCode error;
    Socket().assign(asio::ip::tcp::v4(),
                    static_cast<asio::ip::tcp::socket::native_handle_type>(accepted), error);
    if (error) {
      CloseSocket(accepted);
      ended_ = true;
      return;
    }
    // A dual-stack socket reports an IPv4 peer's connection as IPv4-mapped IPv6; its Host is the
    // dotted form. A scope (link-local) never appears in a Host.
    const auto local = Socket().local_endpoint(error);
    if (!error) {
      asio::ip::address address = local.address();
      if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
      } else if (address.is_v6()) {
        asio::ip::address_v6 v6 = address.to_v6();
        v6.scope_id(0);
        address = v6;
      }
      localAddress_ = address.to_string(error);
    }
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
    if (!Ended()) ReadRequest();
    io_.run();
    End();
  }

 private:
  asio::ip::tcp::socket& Socket() { return beast::get_lowest_layer(ws_).socket(); }
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
    }
    ErrorCode ignored;
    Socket().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    Stream().cancel();
  }

  // --- HTTP: one request, one answer ---

  void ReadRequest() {
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    Stream().expires_after(site_.requestTime);
    http::async_read(Stream(), buffer_, *parser_,
                     [this](ErrorCode error, size_t) { OnRequest(error); });
  }

  void OnRequest(ErrorCode error) {
    if (error == http::error::header_limit || error == http::error::buffer_overflow) {
      return Refuse(http::status::request_header_fields_too_large, "Request header too large.");
    }
    if (error == beast::error::timeout) {
      return Refuse(http::status::request_timeout, "The request took too long.");
    }
    if (error && error.category() != http::make_error_code(http::error::bad_target).category()) {
      return End();  // the peer left or reset, or Shutdown: nobody to answer
    }
    if (error == http::error::end_of_stream || error == http::error::partial_message) return End();
    if (error) return Refuse(http::status::bad_request, "Malformed request.");

    const auto& request = parser_->get();
    if (request.count(http::field::host) != 1) {
      return Refuse(http::status::bad_request, "One Host header is required.");
    }
    const std::string_view host = View(request[http::field::host]);
    if (!HostIsOurs(host, site_, localAddress_)) {
      LogNote("control page: refused a request for host " + std::string(host));
      return Refuse(http::status::misdirected_request,
                    "This server answers only to its own names and addresses.");
    }
    if (request.method() != http::verb::get && request.method() != http::verb::head) {
      return Refuse(http::status::method_not_allowed, "Only GET is served.");
    }
    const std::string_view target = View(request.target());
    if (target == "/ws") return OnSocketRequest(host);
    if (target != "/" && target != "/index.html") {
      return Refuse(http::status::not_found, "Not found.");
    }
    Answer(http::status::ok, "text/html; charset=utf-8", PageHtml(site_.computerName),
           request.method() == http::verb::head);
  }

  void OnSocketRequest(std::string_view host) {
    const auto& request = parser_->get();
    if (!websocket::is_upgrade(request)) {
      return Refuse(http::status::upgrade_required, "This address takes a WebSocket.");
    }
    const auto origin = request.find(http::field::origin);
    const bool hasOrigin = origin != request.end();
    if (!OriginIsOurs(hasOrigin ? View(origin->value()) : std::string_view(), hasOrigin, host)) {
      LogNote("control page: refused a WebSocket from another site");
      return Refuse(http::status::forbidden, "Only this server's own page may connect.");
    }
    Stream().expires_never();  // the WebSocket keeps its own handshake timer
    websocket::stream_base::timeout timeouts{};
    timeouts.handshake_timeout = site_.requestTime;
    timeouts.idle_timeout = websocket::stream_base::none();
    timeouts.keep_alive_pings = false;  // the protocol's own keep-alives go both ways
    ws_.set_option(timeouts);
    ws_.read_message_max(kMessageLimit);
    ws_.auto_fragment(false);
    ws_.binary(true);
    ws_.async_accept(request, [this](ErrorCode error) {
      if (error) return End();
      opened_(connection_);
      ReadMessage();
    });
  }

  void Refuse(http::status status, std::string text) {
    Answer(status, "text/plain; charset=utf-8", std::move(text) + "\n", false);
  }

  void Answer(http::status status, const char* type, std::string body, bool headOnly) {
    response_ = {};
    response_.result(status);
    response_.version(11);
    response_.set(http::field::content_type, type);
    response_.set(http::field::cache_control, "no-store");
    response_.set("X-Content-Type-Options", "nosniff");
    response_.set("X-Frame-Options", "DENY");
    response_.set("Referrer-Policy", "no-referrer");
    response_.set("Content-Security-Policy",
                  "default-src 'self'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                  "frame-ancestors 'none'");
    if (status == http::status::method_not_allowed) response_.set(http::field::allow, "GET, HEAD");
    response_.keep_alive(false);
    response_.body() = std::move(body);
    response_.prepare_payload();
    if (headOnly) response_.body().clear();
    Stream().expires_after(site_.requestTime);
    http::async_write(Stream(), response_, [this](ErrorCode error, size_t) {
      if (error) return End();
      Linger();
    });
  }

  // Half-closes and reads what the peer still sends until it closes too, for a bounded time,
  // so that closing with unread input does not reset the connection before the answer is read.
  void Linger() {
    ErrorCode ignored;
    Socket().shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    Stream().expires_after(kLingerTime);
    DrainInput();
  }

  void DrainInput() {
    Stream().async_read_some(asio::buffer(scratch_), [this](ErrorCode error, size_t) {
      if (error) return End();
      DrainInput();
    });
  }

  // --- WebSocket: the byte protocol ---

  void ReadMessage() {
    ws_.async_read(frames_, [this](ErrorCode error, size_t) { OnMessage(error); });
  }

  void OnMessage(ErrorCode error) {
    if (error) return End();  // closed by the peer or by us, or a broken or oversized frame
    const auto data = frames_.data();
    const auto* bytes = static_cast<const uint8_t*>(data.data());
    bool valid = ws_.got_binary();
    for (size_t i = 0; valid && i < data.size(); ++i) {
      valid = HandleClientByte(connection_, bytes[i]);
    }
    frames_.consume(frames_.size());
    if (!valid) {
      // As on the byte port an invalid byte ends the connection; a close frame says why.
      ws_.async_close(websocket::close_code::policy_error, [this](ErrorCode) { End(); });
      return;
    }
    ReadMessage();
  }

  // I/O thread. Writes the oldest queued item unless a write is under way.
  void WriteNext() {
    {
      std::lock_guard lock(mutex_);
      wakePosted_ = false;
      if (writing_ || queued_ == 0 || ended_) return;
      writing_ = true;
      outgoing_ = queue_[first_];
      first_ = (first_ + 1) % queue_.size();
      --queued_;
    }
    ws_.async_write(asio::buffer(outgoing_.bytes.data(), outgoing_.length),
                    [this](ErrorCode error, size_t) {
                      {
                        std::lock_guard lock(mutex_);
                        writing_ = false;
                      }
                      if (error) return End();
                      WriteNext();
                    });
  }

  PageSite site_;
  PageOpened opened_;
  std::string localAddress_;
  ClientConnection* connection_ = nullptr;

  // Destroyed after the stream that uses it.
  asio::io_context io_{1};
  websocket::stream<beast::tcp_stream> ws_{io_};
  beast::flat_buffer buffer_{kHeaderLimit + 1024};
  std::optional<http::request_parser<http::empty_body>> parser_;
  http::response<http::string_body> response_;
  std::array<char, 512> scratch_{};
  beast::flat_buffer frames_{kMessageLimit * 2};

  // Guards the queue and the flags; senders take it under the server mutex, never the reverse.
  std::mutex mutex_;
  std::array<Item, kQueueLimit> queue_{};
  size_t first_ = 0;
  size_t queued_ = 0;
  bool wakePosted_ = false;
  bool writing_ = false;
  bool ended_ = false;
  Item outgoing_;  // I/O thread only: the item being written
};

}  // namespace

std::unique_ptr<IClientTransport> MakePageTransport(SocketHandle accepted, const PageSite& site,
                                                    PageOpened opened) {
  return std::make_unique<PageTransport>(accepted, site, std::move(opened));
}

PageSite LocalPageSite() {
  PageSite site;
  ErrorCode error;
  std::string name = asio::ip::host_name(error);
  if (error) name.clear();
  site.computerName = name;
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!name.empty()) {
    site.hostNames.push_back(name);
    site.hostNames.push_back(name + ".local");
  }
  site.hostNames.push_back("localhost");
  return site;
}
