#include "ScriptedTcpServer.h"

#include <algorithm>

#include "net/Protocol.h"

namespace {

using Clock = std::chrono::steady_clock;
// How soon a waiting server thread notices that it is to stop.
constexpr std::chrono::milliseconds kStopCheck(20);

}  // namespace

ScriptedTcpServer::ScriptedTcpServer(const std::string& address)
    : listener_(testsocket::Listen(address, &port_)) {}

ScriptedTcpServer::~ScriptedTcpServer() {
  stopping_ = true;
  Join();
  testsocket::Close(listener_);
}

void ScriptedTcpServer::Run(std::function<void()> script) {
  thread_ = std::thread(std::move(script));
}

TestClient ScriptedTcpServer::Accept(TestClient::Ms timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!stopping_ && Clock::now() < deadline && listener_ != testsocket::kNone) {
    if (testsocket::WaitReadable({listener_}, kStopCheck) == 0) {
      const testsocket::Handle accepted = testsocket::Accept(listener_);
      if (accepted != testsocket::kNone) return TestClient(TestClient::Accepted{accepted});
    }
  }
  return TestClient();
}

void ScriptedTcpServer::Serve(std::function<void(TestClient& client)> script) {
  Run([this, script = std::move(script)] {
    TestClient client = Accept();
    if (client.Connected()) script(client);
  });
}

void ScriptedTcpServer::Relay(uint8_t stateByte, bool applies) {
  Run([this, stateByte, applies] { RelayLoop(stateByte, applies); });
}

std::vector<uint8_t> ScriptedTcpServer::Received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

void ScriptedTcpServer::Join() {
  if (thread_.joinable()) thread_.join();
}

void ScriptedTcpServer::RelayLoop(uint8_t state, bool applies) {
  std::vector<TestClient> clients;
  auto idleUntil = Clock::now() + std::chrono::seconds(10);
  while (!stopping_ && Clock::now() < idleUntil) {
    std::vector<testsocket::Handle> sockets = {listener_};
    for (const TestClient& client : clients) sockets.push_back(client.Handle());
    const int ready = testsocket::WaitReadable(sockets, kStopCheck);
    if (ready < 0) continue;
    idleUntil = Clock::now() + std::chrono::seconds(10);
    if (ready == 0) {
      TestClient client = Accept();
      std::vector<uint8_t> hello(kGreeting.begin(), kGreeting.end());
      if (state != 0x64) hello.push_back(state);
      if (client.Send(hello)) clients.push_back(std::move(client));
      continue;
    }
    TestClient& sender = clients[static_cast<size_t>(ready - 1)];
    const std::vector<uint8_t> bytes = sender.ReadAvailable(TestClient::Ms(0));
    if (bytes.empty()) {
      clients.erase(clients.begin() + (ready - 1));
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    received_.insert(received_.end(), bytes.begin(), bytes.end());
    if (!applies || bytes.back() == state) continue;
    state = bytes.back();
    for (TestClient& other : clients) {
      if (&other != &sender) other.Send(state);
    }
  }
}
