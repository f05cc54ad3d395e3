#pragma once
// The one composition of the network server, the relay and a volume control, as start-up and
// every test fixture build it: the server greets clients with the control's state and hands
// their requests to the relay, which applies them and broadcasts the control's changes.
// Main thread for every call; threads and locks as in NetworkServer.h and VolumeRelay.h. The
// volume control and the retry timer must outlive this object.

#include <utility>
#include <vector>

#include "net/VolumeRelay.h"

class VolumeServer {
 public:
  VolumeServer(IClock& clock, IRetryTimer& retryTimer)
      : relay_(server_, retryTimer), server_(clock) {
    server_.SetExternalListener(&relay_);
  }
  // Readers that a bounded stop left inside the volume control are waited for by the server's
  // destructor, with the relay still in place under them.
  ~VolumeServer() {
    UnregisterChangeCallback();
    server_.Stop();
  }
  VolumeServer(const VolumeServer&) = delete;
  VolumeServer& operator=(const VolumeServer&) = delete;

  // While the server is stopped and no callback is registered: the control that new clients
  // are offered and that their requests change.
  void Connect(IVolumeControl* control) {
    control_ = control;
    server_.SetStateSource(control);
    relay_.SetVolumeControl(control);
  }
  // OnVolumeChanged (user data 0) on the connected control, reaching this relay. After
  // BindAndListen and before Start, so no change after a client's greeting is missed.
  void RegisterChangeCallback() {
    if (control_ == nullptr || registered_) return;
    SetVolumeChangedRelay(&relay_);
    control_->SetChangeCallback(&OnVolumeChanged, 0);
    registered_ = true;
  }
  // Where the server listens (empty: every address; takes effect at the next BindAndListen) and
  // whom it serves (from the next client that connects).
  void Configure(std::vector<IpAddress> listen, AccessPolicy access) {
    server_.SetListenAddresses(std::move(listen));
    server_.SetAccessPolicy(std::move(access));
  }
  // Before the server stops. Waits for a callback running on another thread.
  void UnregisterChangeCallback() {
    if (!registered_) return;
    control_->SetChangeCallback(nullptr, 0);
    SetVolumeChangedRelay(nullptr);
    registered_ = false;
  }
  // For fixtures, the steps of start-up in order, with the control page on a port the system
  // chooses when `page` is given. The port listened on (0 asks the system for one); 0 when a
  // step failed.
  uint16_t Serve(IVolumeControl* control, uint16_t port = 0, const PageSite* page = nullptr) {
    Connect(control);
    if (!server_.BindAndListen(port)) return 0;
    if (page != nullptr && !server_.BindAndListenPage(0, *page)) return 0;
    RegisterChangeCallback();
    return server_.Start() ? server_.ListeningPort() : 0;
  }

  NetworkServer& Server() { return server_; }
  MyClientListener& Relay() { return relay_; }

 private:
  MyClientListener relay_;  // first: it outlives the server, whose readers may be inside it
  NetworkServer server_;
  IVolumeControl* control_ = nullptr;
  bool registered_ = false;
};
