#pragma once
// The one composition of the network server, the relay, the control page and a volume control,
// as start-up and every test fixture build it: the server greets clients with the control's
// state and hands their requests to the relay, which applies them and broadcasts the control's
// changes. The page's remote control follows the control's output devices and, once one is
// connected, the media player.
// Main thread for every call; threads and locks as in NetworkServer.h and VolumeRelay.h. The
// volume control and the retry timer must outlive this object.

#include <utility>
#include <vector>

#include "net/VolumeRelay.h"
#include "net/page/PageService.h"

class VolumeServer {
 public:
  VolumeServer(IClock& clock, IRetryTimer& retryTimer)
      : relay_(server_, retryTimer), server_(clock) {
    server_.SetExternalListener(&relay_);
  }
  // Readers that a bounded stop left inside the volume control are waited for by the server's
  // destructor, with the relay still in place under them.
  ~VolumeServer() {
    DisconnectMedia();
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
    outputs_ = control != nullptr ? control->OutputDevices() : nullptr;
    remote_.SetOutputs(outputs_);
  }
  // While the server is stopped, once: the player the page's buttons drive, started. Its news
  // reaches the pages from now on. It must outlive this object.
  void ConnectMedia(IMediaControl* media) {
    media_ = media;
    remote_.SetMedia(media);
    media->SetStatusCallback([this](const MediaStatus& status) { remote_.MediaChanged(status); });
  }
  // Before the player stops, and before it is destroyed when this object outlives it: its
  // news no longer comes. The buttons still hand it commands, which a stopped player ignores,
  // until the server stops.
  void DisconnectMedia() {
    if (media_ != nullptr) media_->SetStatusCallback(nullptr);
    media_ = nullptr;
  }
  // OnVolumeChanged (user data 0) on the connected control, reaching this relay. After
  // BindAndListen and before Start, so no change after a client's greeting is missed.
  void RegisterChangeCallback() {
    if (control_ == nullptr || registered_) return;
    SetVolumeChangedRelay(&relay_);
    control_->SetChangeCallback(&OnVolumeChanged, 0);
    if (outputs_ != nullptr) {
      outputs_->SetOutputsCallback(
          [this](const OutputList& outputs) { remote_.OutputsChanged(outputs); });
      remote_.SetOutputs(outputs_);  // a change before the callback was set
    }
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
    if (outputs_ != nullptr) outputs_->SetOutputsCallback(nullptr);
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
    if (page != nullptr && !page_.Listen(0, *page)) return 0;
    RegisterChangeCallback();
    return server_.Start() ? server_.ListeningPort() : 0;
  }

  NetworkServer& Server() { return server_; }
  MyClientListener& Relay() { return relay_; }
  PageService& Page() { return page_; }
  PageRemote& Remote() { return remote_; }

 private:
  MyClientListener relay_;  // first: it outlives the server, whose readers may be inside it
  PageRemote remote_;       // likewise, for the page's readers
  NetworkServer server_;
  PageService page_{server_, &remote_};  // its listeners end with the server's Stop
  IVolumeControl* control_ = nullptr;
  IOutputDevices* outputs_ = nullptr;
  IMediaControl* media_ = nullptr;
  bool registered_ = false;
};
