#pragma once
// A WebSocket client of the control page for tests, on Boost.Beast, with every wait bounded:
// each operation runs for at most the client's bound and is then cancelled. (A receive time-out
// on the socket would not do: Asio's blocking calls wait out EAGAIN in a poll without limit.)
// The binary messages it receives are read as one byte stream, as the page's script reads them;
// text messages are kept apart, in order.

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

class PageClient {
 public:
  using ErrorCode = boost::beast::error_code;

  explicit PageClient(uint16_t port, std::chrono::milliseconds bound = std::chrono::seconds(5))
      : port_(port), bound_(bound) {}

  // Connects and asks for /ws with `host` as Host (127.0.0.1:PORT when empty) and `origin` when
  // given. True when the WebSocket is open.
  bool Open(std::string host = "", std::optional<std::string> origin = std::nullopt) {
    namespace http = boost::beast::http;
    const boost::asio::ip::tcp::endpoint server{boost::asio::ip::make_address_v4("127.0.0.1"),
                                                port_};
    if (Run([&](auto done) { ws_.next_layer().async_connect(server, done); })) return false;
    if (host.empty()) host = "127.0.0.1:" + std::to_string(port_);
    if (origin) {
      ws_.set_option(boost::beast::websocket::stream_base::decorator(
          [origin](boost::beast::websocket::request_type& request) {
            request.set(http::field::origin, *origin);
          }));
    }
    if (Run([&](auto done) { ws_.async_handshake(host, "/ws", done); })) return false;
    ws_.binary(true);
    return true;
  }

  bool Send(std::vector<uint8_t> bytes, bool binary = true) {
    ws_.binary(binary);
    return !Run([&](auto done) { ws_.async_write(boost::asio::buffer(bytes), done); });
  }

  bool SendText(const std::string& text) {
    return Send(std::vector<uint8_t>(text.begin(), text.end()), false);
  }

  // The next text message, or nothing when the connection ended or none came within the
  // bound (binary messages read meanwhile are kept for ReadByte).
  std::optional<std::string> ReadText() {
    while (texts_.empty()) {
      if (!ReadMessage()) return std::nullopt;
    }
    std::string text = std::move(texts_.front());
    texts_.pop_front();
    return text;
  }

  // The next byte, or nothing when the connection ended or nothing came within the bound.
  std::optional<uint8_t> ReadByte() {
    while (pending_.empty()) {
      if (!ReadMessage()) return std::nullopt;
    }
    const uint8_t byte = pending_.front();
    pending_.pop_front();
    return byte;
  }

  // Up to `count` bytes, fewer when the connection ends or a read times out.
  std::vector<uint8_t> Read(size_t count) {
    std::vector<uint8_t> bytes;
    for (std::optional<uint8_t> byte; bytes.size() < count && (byte = ReadByte());) {
      bytes.push_back(*byte);
    }
    return bytes;
  }

  // True when the server ended the connection within the read bound, skipping bytes in flight.
  // closeCode then holds the code of the server's close frame, if it sent one.
  bool WaitForEnd() {
    while (ReadMessage()) {
      pending_.clear();
      texts_.clear();
    }
    return !timedOut_;
  }

  // The first byte of the server's next frame (0x88 for a close), read beneath the WebSocket so
  // that nothing answers it: a peer that ignores a close. Only while no message is half read.
  std::optional<uint8_t> ReadFrameStartUnanswered() {
    uint8_t first = 0;
    if (Run([&](auto done) {
          boost::asio::async_read(ws_.next_layer(), boost::asio::buffer(&first, 1), done);
        })) {
      return std::nullopt;
    }
    return first;
  }

  uint16_t closeCode = 0;

 private:
  bool ReadMessage() {
    boost::beast::flat_buffer buffer;
    if (const ErrorCode error = Run([&](auto done) { ws_.async_read(buffer, done); })) {
      timedOut_ = error == boost::asio::error::timed_out;
      closeCode = ws_.reason().code;
      return false;
    }
    const auto* data = static_cast<const char*>(buffer.data().data());
    if (ws_.got_text()) {
      texts_.emplace_back(data, buffer.size());
    } else {
      pending_.insert(pending_.end(), data, data + buffer.size());
    }
    return true;
  }

  // Starts one operation with `start(handler)` and runs it to its end or for the bound, after
  // which it is cancelled: its error, timed_out then.
  template <typename Start>
  ErrorCode Run(Start start) {
    std::optional<ErrorCode> result;
    start([&result](ErrorCode error, auto&&...) { result = error; });
    io_.restart();
    io_.run_for(bound_);
    if (result) return *result;
    // A composed operation may start another after the cancel (a close's teardown); closing
    // the socket ends that too.
    ErrorCode ignored;
    ws_.next_layer().cancel(ignored);
    io_.restart();
    io_.run_for(bound_);
    if (!result) {
      ws_.next_layer().close(ignored);
      io_.restart();
      io_.run();
    }
    return boost::asio::error::timed_out;
  }

  uint16_t port_;
  std::chrono::milliseconds bound_;
  boost::asio::io_context io_;
  boost::beast::websocket::stream<boost::asio::ip::tcp::socket> ws_{io_};
  std::deque<uint8_t> pending_;
  std::deque<std::string> texts_;
  bool timedOut_ = false;
};
