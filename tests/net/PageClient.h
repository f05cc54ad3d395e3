#pragma once
// A WebSocket client of the control page for tests, on Boost.Beast's synchronous calls, with
// every read bounded by a receive time-out. The binary messages it receives are read as one
// byte stream, as the page's script reads them.

#include <sys/socket.h>
#include <sys/time.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "LoopbackClient.h"

class PageClient {
 public:
  explicit PageClient(uint16_t port) : port_(port) {}

  // Connects and asks for /ws with `host` as Host (127.0.0.1:PORT when empty) and `origin` when
  // given. True when the WebSocket is open.
  bool Open(std::string host = "", std::optional<std::string> origin = std::nullopt) {
    namespace http = boost::beast::http;
    boost::beast::error_code error;
    auto& socket = ws_.next_layer();
    socket.connect({boost::asio::ip::make_address_v4("127.0.0.1"), port_}, error);
    if (error) return false;
    timeval bound{5, 0};
    setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    if (host.empty()) host = "127.0.0.1:" + std::to_string(port_);
    if (origin) {
      ws_.set_option(boost::beast::websocket::stream_base::decorator(
          [origin](boost::beast::websocket::request_type& request) {
            request.set(http::field::origin, *origin);
          }));
    }
    ws_.handshake(host, "/ws", error);
    ws_.binary(true);
    return !error;
  }

  bool Send(std::vector<uint8_t> bytes, bool binary = true) {
    boost::beast::error_code error;
    ws_.binary(binary);
    ws_.write(boost::asio::buffer(bytes), error);
    return !error;
  }

  // The next byte, or nothing when the connection ended or nothing came within 5 s.
  std::optional<uint8_t> ReadByte() {
    if (pending_.empty() && !ReadMessage()) return std::nullopt;
    const uint8_t byte = pending_.front();
    pending_.pop_front();
    return byte;
  }

  std::vector<uint8_t> Read(size_t count) { return ReadUpTo(*this, count); }

  // True when the server ended the connection within the read bound, skipping bytes in flight.
  // closeCode then holds the code of the server's close frame, if it sent one.
  bool WaitForEnd() {
    while (ReadMessage()) pending_.clear();
    return !timedOut_;
  }

  uint16_t closeCode = 0;

 private:
  bool ReadMessage() {
    boost::beast::flat_buffer buffer;
    boost::beast::error_code error;
    ws_.read(buffer, error);
    if (error) {
      timedOut_ =
          error == boost::asio::error::would_block || error == boost::asio::error::timed_out;
      closeCode = ws_.reason().code;
      return false;
    }
    const auto* data = static_cast<const uint8_t*>(buffer.data().data());
    pending_.insert(pending_.end(), data, data + buffer.size());
    return true;
  }

  uint16_t port_;
  boost::asio::io_context io_;
  boost::beast::websocket::stream<boost::asio::ip::tcp::socket> ws_{io_};
  std::deque<uint8_t> pending_;
  bool timedOut_ = false;
};
