#include "TestClient.h"

#include <thread>
#include <utility>

#include "net/Protocol.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

TestClient::Ms Left(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<TestClient::Ms>(deadline - Clock::now());
  return left.count() > 0 ? left : TestClient::Ms(0);
}

}  // namespace

TestClient::TestClient(TestClient&& other) noexcept {
  *this = std::move(other);
}

TestClient& TestClient::operator=(TestClient&& other) noexcept {
  if (this != &other) {
    Close();
    socket_ = std::exchange(other.socket_, testsocket::kNone);
    connected_ = std::exchange(other.connected_, false);
    sourceRefused_ = other.sourceRefused_;
    ended_ = other.ended_;
  }
  return *this;
}

bool TestClient::Open(const std::string& address) {
  Close();
  socket_ = testsocket::Open(address);
  return socket_ != testsocket::kNone;
}

bool TestClient::Connect(uint16_t port, const Options& options) {
  const auto deadline = Clock::now() + options.retryFor;
  while (!ConnectOnce(port, options)) {
    if (sourceRefused_ || Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);  // the server is still starting: nothing else to await
  }
  return true;
}

bool TestClient::ConnectOnce(uint16_t port, const Options& options) {
  ended_ = false;
  sourceRefused_ = false;
  connected_ = false;
  if (socket_ == testsocket::kNone && !Open(options.address)) return false;
  if (!options.source.empty() && !testsocket::BindSource(socket_, options.source)) {
    sourceRefused_ = true;
  } else {
    if (options.receiveBuffer > 0) testsocket::ShrinkBuffers(socket_, options.receiveBuffer);
    connected_ = testsocket::Connect(socket_, options.address, port, options.connectFor);
  }
  if (!connected_) Close();  // a socket whose connect failed takes no second one
  return connected_;
}

bool TestClient::Send(const Bytes& bytes) {
  return socket_ != testsocket::kNone && testsocket::SendAll(socket_, bytes.data(), bytes.size());
}

bool TestClient::SendText(std::string_view text) {
  return Send(Bytes(text.begin(), text.end()));
}

std::optional<uint8_t> TestClient::ReadByte(Ms timeout) {
  const Bytes byte = Read(1, timeout);
  if (byte.empty()) return std::nullopt;
  return byte[0];
}

TestClient::Bytes TestClient::Read(size_t count, Ms timeout) {
  const auto deadline = Clock::now() + timeout;
  Bytes bytes(count);
  size_t have = 0;
  while (have < count && socket_ != testsocket::kNone) {
    // Never more than asked for: the rest stays for the next read.
    const long got =
        testsocket::Receive(socket_, bytes.data() + have, count - have, Left(deadline));
    ended_ = ended_ || got == 0;
    if (got <= 0) break;
    have += static_cast<size_t>(got);
  }
  bytes.resize(have);
  return bytes;
}

TestClient::Bytes TestClient::ReadAvailable(Ms timeout) {
  Bytes bytes(65536);
  const long got = socket_ == testsocket::kNone
                       ? -1
                       : testsocket::Receive(socket_, bytes.data(), bytes.size(), timeout);
  ended_ = ended_ || got == 0;
  bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return bytes;
}

std::optional<uint8_t> TestClient::NextState(Ms timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const std::optional<uint8_t> byte = ReadByte(Left(deadline));
    if (byte != kKeepAliveByte) return byte;
  }
}

TestClient::Bytes TestClient::ReadToEnd(Ms timeout) {
  const auto deadline = Clock::now() + timeout;
  Bytes all;
  while (!ended_) {
    const Bytes some = ReadAvailable(Left(deadline));
    if (some.empty()) break;
    all.insert(all.end(), some.begin(), some.end());
  }
  return all;
}

bool TestClient::WaitForEnd(Ms timeout) {
  ReadToEnd(timeout);
  return ended_;
}

void TestClient::CloseWith(bool reset) {
  testsocket::Close(std::exchange(socket_, testsocket::kNone), reset);
  connected_ = false;
}
