#pragma once
// Two network namespaces of the test's own, "server" and "client", joined by a veth pair: vs on
// the server's side, vc on the client's. Nothing is sent on the machine's own interfaces. Needs
// root and iproute2; Ready() is false where namespaces cannot be made.

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class VethPair {
 public:
  // `addresses`: pairs of the server's and the client's address with prefix ("10.0.0.1/24").
  VethPair(const std::string& tag,
           const std::vector<std::pair<std::string, std::string>>& addresses)
      : server_("quavix-" + tag + "-srv-" + std::to_string(getpid())),
        client_("quavix-" + tag + "-cli-" + std::to_string(getpid())) {
    ready_ = Run("ip netns add " + server_) && Run("ip netns add " + client_) &&
             Run("ip -n " + server_ + " link add vs type veth peer name vc netns " + client_);
    for (const auto& [server, client] : addresses) {
      ready_ = ready_ && Run("ip -n " + server_ + " addr add " + server + " dev vs") &&
               Run("ip -n " + client_ + " addr add " + client + " dev vc");
    }
    ready_ = ready_ && Run("ip -n " + server_ + " link set vs up") &&
             Run("ip -n " + server_ + " link set lo up") &&
             Run("ip -n " + client_ + " link set vc up");
  }
  ~VethPair() {
    Run("ip netns del " + client_);
    Run("ip netns del " + server_);
  }
  VethPair(const VethPair&) = delete;
  VethPair& operator=(const VethPair&) = delete;

  bool Ready() const { return ready_; }
  // The client's side of the link goes down: from now on nothing of its connections arrives
  // anywhere, and nothing it would send leaves.
  bool Cut() { return Run("ip -n " + client_ + " link set vc down"); }

  // Run `body` on a thread inside the server's or the client's namespace; false when it could
  // not be entered. Sockets made there stay there, whichever thread uses them later.
  template <typename Body>
  bool InServer(Body body) {
    return In(server_, body);
  }
  template <typename Body>
  bool InClient(Body body) {
    return In(client_, body);
  }

  template <typename Body>
  static bool In(const std::string& name, Body body) {
    bool entered = false;
    std::thread thread([&] {
      const int ns = open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
      entered = ns >= 0 && setns(ns, CLONE_NEWNET) == 0;
      if (ns >= 0) close(ns);
      if (entered) body();
    });
    thread.join();
    return entered;
  }
  static bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  }

 private:
  std::string server_, client_;
  bool ready_ = false;
};
