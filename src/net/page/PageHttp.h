#pragma once
// The control page's HTTP side: the one request a connection makes, and its answer. The request
// must name this computer in its Host, use GET or HEAD and ask for one of the routes (the page
// itself, its icons and manifest, or the WebSocket), or be one of pairing's requests from the
// computer itself (net/page/pairing/PairingSite.h); every answer carries the security headers,
// and a refusal says why. A WebSocket request that passes the checks is handed on; any other answer
// ends the connection after a bounded linger, so the peer reads it rather than a reset.
//
// Runs on the connection's I/O thread (its reader), in the stream's handlers. Bounded in time
// (the site's request time) and memory (the head's size).

#include <array>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "net/IpAddress.h"
#include "net/page/PageSite.h"

class PageHttp {
 public:
  using Request = boost::beast::http::request<boost::beast::http::empty_body>;
  // Takes a WebSocket request that passed every check. The request stays valid while this
  // object lives.
  using Upgrade = std::function<void(const Request& request)>;
  // Ends the connection: the exchange is over without a WebSocket (answered and lingered, or
  // the peer left, failed or was too slow).
  using End = std::function<void()>;

  // `stream` and `site` outlive this object. `localAddress`: the address the request came in
  // on, which a Host may name (see HostIsOurs); `peer`: the address it came from.
  PageHttp(boost::beast::tcp_stream& stream, const PageSite& site, std::string localAddress,
           const IpAddress& peer, Upgrade upgrade, End end);

  // Reads the request and answers it.
  void Start();

 private:
  // Answers a request that named this computer and used an allowed method; `host` is its Host.
  using Route = void (PageHttp::*)(const Request& request, std::string_view host);
  // The route for `target`; null when nothing is served there.
  static Route RouteFor(std::string_view target);
  void ServePage(const Request& request, std::string_view host);
  void ServeWebSocket(const Request& request, std::string_view host);
  // Pairing's paths, when pairing is on; false when `request` is for none of them.
  bool ServePairing(const Request& request, std::string_view host);

  void OnRequest(boost::beast::error_code error);
  void Refuse(boost::beast::http::status status, std::string text);
  void Answer(boost::beast::http::status status, std::string_view type, std::string body,
              bool headOnly, std::string_view allow = "GET, HEAD");
  // Half-closes and reads what the peer still sends until it closes too, for a bounded time,
  // so that closing with unread input does not reset the connection before the answer is read.
  void Linger();
  void DrainInput();

  boost::beast::tcp_stream& stream_;
  const PageSite& site_;
  const std::string localAddress_;
  const IpAddress peer_;
  const Upgrade upgrade_;
  const End end_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::empty_body>> parser_;
  boost::beast::http::response<boost::beast::http::string_body> response_;
  std::array<char, 512> scratch_{};
};
