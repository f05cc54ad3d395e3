#include "net/page/PageHttp.h"

#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <chrono>
#include <utility>

#include "base/Log.h"
#include "net/page/PageAssets.h"
#include "net/page/PageRequest.h"
#include "net/page/pairing/PairingSite.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using ErrorCode = beast::error_code;

namespace {

// A browser's request for the page is well under 2 KiB; a longer head is refused, and so is a
// request that has not arrived whole in time (a slow sender holding a thread).
constexpr size_t kHeaderLimit = 8 * 1024;
// After an answer that ends the connection: how long unread input is drained so the peer gets
// the answer rather than a reset.
constexpr auto kLingerTime = std::chrono::seconds(2);

std::string_view View(beast::string_view text) {
  return {text.data(), text.size()};
}

}  // namespace

PageHttp::PageHttp(beast::tcp_stream& stream, const PageSite& site, std::string localAddress,
                   const IpAddress& peer, Upgrade upgrade, End end)
    : stream_(stream),
      site_(site),
      localAddress_(std::move(localAddress)),
      peer_(peer),
      upgrade_(std::move(upgrade)),
      end_(std::move(end)),
      buffer_(kHeaderLimit + 1024) {}

void PageHttp::Start() {
  parser_.emplace();
  parser_->header_limit(kHeaderLimit);
  stream_.expires_after(site_.requestTime);
  http::async_read(stream_, buffer_, *parser_,
                   [this](ErrorCode error, size_t) { OnRequest(error); });
}

PageHttp::Route PageHttp::RouteFor(std::string_view target) {
  // Everything the page serves; any other target is not found.
  static constexpr std::pair<std::string_view, Route> kRoutes[] = {
      {"/", &PageHttp::ServePage},
      {"/index.html", &PageHttp::ServePage},
      {"/ws", &PageHttp::ServeWebSocket},
  };
  for (const auto& [path, route] : kRoutes) {
    if (path == target) return route;
  }
  return nullptr;
}

void PageHttp::OnRequest(ErrorCode error) {
  if (error == http::error::header_limit || error == http::error::buffer_overflow) {
    return Refuse(http::status::request_header_fields_too_large, "Request header too large.");
  }
  if (error == beast::error::timeout) {
    return Refuse(http::status::request_timeout, "The request took too long.");
  }
  if (error && error.category() != http::make_error_code(http::error::bad_target).category()) {
    return end_();  // the peer left or reset, or Shutdown: nobody to answer
  }
  if (error == http::error::end_of_stream || error == http::error::partial_message) return end_();
  if (error) return Refuse(http::status::bad_request, "Malformed request.");

  const Request& request = parser_->get();
  if (request.count(http::field::host) != 1) {
    return Refuse(http::status::bad_request, "One Host header is required.");
  }
  const std::string_view host = View(request[http::field::host]);
  if (!HostIsOurs(host, site_, localAddress_)) {
    LogNote("control page: refused a request for host " + std::string(host));
    return Refuse(http::status::misdirected_request,
                  "This server answers only to its own names and addresses.");
  }
  if (ServePairing(request, host)) return;
  if (request.method() != http::verb::get && request.method() != http::verb::head) {
    return Refuse(http::status::method_not_allowed, "Only GET is served.");
  }
  const std::string_view target = View(request.target());
  if (std::optional<PageAsset> asset = FindPageAsset(target, site_.computerName)) {
    return Answer(http::status::ok, asset->contentType, std::move(asset->body),
                  request.method() == http::verb::head);
  }
  const Route route = RouteFor(target);
  if (route == nullptr) return Refuse(http::status::not_found, "Not found.");
  (this->*route)(request, host);
}

bool PageHttp::ServePairing(const Request& request, std::string_view host) {
  if (site_.pairing == nullptr) return false;
  const auto origin = request.find(http::field::origin);
  const bool hasOrigin = origin != request.end();
  std::optional<PairingReply> reply = site_.pairing->Answer(
      {View(request.method_string()), View(request.target()), peer_.IsLoopback(),
       OriginIsOurs(hasOrigin ? View(origin->value()) : std::string_view(), hasOrigin, host)});
  if (!reply) return false;
  Answer(static_cast<http::status>(reply->status), reply->contentType, std::move(reply->body),
         request.method() == http::verb::head, reply->allow);
  return true;
}

void PageHttp::ServePage(const Request& request, std::string_view) {
  Answer(http::status::ok, "text/html; charset=utf-8", PageHtml(site_.computerName),
         request.method() == http::verb::head);
}

void PageHttp::ServeWebSocket(const Request& request, std::string_view host) {
  if (!beast::websocket::is_upgrade(request)) {
    return Refuse(http::status::upgrade_required, "This address takes a WebSocket.");
  }
  const auto origin = request.find(http::field::origin);
  const bool hasOrigin = origin != request.end();
  if (!OriginIsOurs(hasOrigin ? View(origin->value()) : std::string_view(), hasOrigin, host)) {
    LogNote("control page: refused a WebSocket from another site");
    return Refuse(http::status::forbidden, "Only this server's own page may connect.");
  }
  stream_.expires_never();  // the WebSocket keeps its own handshake timer
  upgrade_(request);
}

void PageHttp::Refuse(http::status status, std::string text) {
  Answer(status, "text/plain; charset=utf-8", std::move(text) + "\n", false);
}

void PageHttp::Answer(http::status status, std::string_view type, std::string body, bool headOnly,
                      std::string_view allow) {
  response_ = {};
  response_.result(status);
  response_.version(11);
  response_.set(http::field::content_type, beast::string_view(type.data(), type.size()));
  response_.set(http::field::cache_control, "no-store");
  response_.set("X-Content-Type-Options", "nosniff");
  response_.set("X-Frame-Options", "DENY");
  response_.set("Referrer-Policy", "no-referrer");
  response_.set("Content-Security-Policy",
                "default-src 'self'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                "frame-ancestors 'none'");
  if (status == http::status::method_not_allowed) {
    response_.set(http::field::allow, beast::string_view(allow.data(), allow.size()));
  }
  response_.keep_alive(false);
  response_.body() = std::move(body);
  response_.prepare_payload();
  if (headOnly) response_.body().clear();
  stream_.expires_after(site_.requestTime);
  http::async_write(stream_, response_, [this](ErrorCode error, size_t) {
    if (error) return end_();
    Linger();
  });
}

void PageHttp::Linger() {
  ErrorCode ignored;
  stream_.socket().shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
  stream_.expires_after(kLingerTime);
  DrainInput();
}

void PageHttp::DrainInput() {
  stream_.async_read_some(asio::buffer(scratch_), [this](ErrorCode error, size_t) {
    if (error) return end_();
    DrainInput();
  });
}
