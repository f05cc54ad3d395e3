#pragma once
// A TCP server (on 127.0.0.1 unless told otherwise) for testing clients, on a thread of its own.
// Either it plays a script written by the test (exact server byte sequences, wrong ones included),
// or it relays as a volume server in miniature (clients that use more than one connection). Every
// wait is bounded; the destructor stops and joins it. Without a script it listens and never
// answers, as another program holding a port would.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestClient.h"

class ScriptedTcpServer {
 public:
  explicit ScriptedTcpServer(const std::string& address = "127.0.0.1");
  ~ScriptedTcpServer();
  ScriptedTcpServer(const ScriptedTcpServer&) = delete;
  ScriptedTcpServer& operator=(const ScriptedTcpServer&) = delete;

  // 0 when the socket could not be set up.
  uint16_t Port() const { return port_; }

  // Runs `script` on the server's thread; it takes its clients with Accept.
  void Run(std::function<void()> script);
  // Server thread only: the next client within `timeout`, or an unconnected TestClient when none
  // came or the server is stopping.
  TestClient Accept(TestClient::Ms timeout = std::chrono::seconds(5));
  // Accepts one client and runs `script` on it; the connection is closed after the script.
  void Serve(std::function<void(TestClient& client)> script);

  // Serves every client as a volume server would: greets it and sends it `stateByte` (not
  // when that is unmuted at 100). When it `applies` requests, a client's state byte becomes
  // the state and goes to every other client, never back to the sender; otherwise (a sound
  // server that ignores the change) nobody hears of it. Received() has every byte sent.
  void Relay(uint8_t stateByte, bool applies);
  std::vector<uint8_t> Received();

  void Join();

 private:
  void RelayLoop(uint8_t state, bool applies);

  uint16_t port_ = 0;  // before listener_, which sets it
  testsocket::Handle listener_ = testsocket::kNone;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::vector<uint8_t> received_;
  std::thread thread_;
};
