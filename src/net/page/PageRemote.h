#pragma once
// The page's remote control: the player's buttons and the choice of output, beside the volume.
// It keeps the newest of each message the pages are sent (net/page/RemoteMessages.h), hands
// them to every open page that follows it, and carries out what a page asks for.
//
// Threads: the player's news arrives on the main thread, the devices' on the volume control's
// own; pages follow and ask on their reader threads. Nothing here waits for a player or the
// sound server: both seams hand requests on and return. The remote's mutex is held while a
// page's listener runs, which must only queue (it takes its transport's mutex after ours).

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "audio/IOutputDevices.h"
#include "base/Subscribers.h"
#include "media/IMediaControl.h"
#include "net/page/PageCommand.h"

// How often one page may have a request carried out: a person taps a few times a second, and a
// page that asks faster (a stuck key, a hostile script) must not flood the player's queue.
class RequestRate {
 public:
  static constexpr uint32_t kWindowMs = 1000;
  static constexpr int kPerWindow = 10;
  // The page's reader thread. Whether a request at `nowMs` (IClock) is within the rate; counts
  // it when it is.
  bool Allow(uint32_t nowMs);

 private:
  bool started_ = false;
  uint32_t windowStart_ = 0;
  int used_ = 0;
};

class PageRemote {
 public:
  enum class Topic : size_t { kMedia, kOutputs };
  static constexpr size_t kTopics = 2;
  using Listeners = Subscribers<Topic, const std::string&>;
  using Listener = Listeners::Callback;
  // While a Follower lives, its listener hears every change.
  using Follower = Listeners::Subscription;

  // Main thread. The player the buttons drive and the devices the choice lists; null: the page
  // offers none (and a request for it closes the page). Each one's current state becomes the
  // pages' message unless a change was reported meanwhile; the caller reports changes after
  // that. A new one only while no page is open; the same one again at any time.
  void SetMedia(IMediaControl* media);
  void SetOutputs(IOutputDevices* outputs);

  // Any thread, holding no lock the listeners take. The news the pages are sent.
  void MediaChanged(const MediaStatus& status);
  void OutputsChanged(const OutputList& outputs);

  // A page's reader thread, once the page is open. `listener` hears the current messages at
  // once, then each change, in order, under the remote's mutex. The Follower must not outlive
  // this object.
  Follower Follow(Listener listener);

  // A page's reader thread. Carries out a page's command when it is one of the remote's, and
  // the rate allows: false for any other (the page is then closed). A request the page's
  // controls may make in a race (a track ended, a device just unplugged) is no fault: the
  // seam refuses it and the page hears the news.
  bool Take(const PageCommand& command, RequestRate& rate, uint32_t nowMs);

 private:
  void Publish(Topic topic, std::string json);
  void PublishLocked(Topic topic, std::string json);  // under mutex_

  IMediaControl* media_ = nullptr;     // set while no page is open
  IOutputDevices* outputs_ = nullptr;  // likewise

  std::mutex mutex_;
  std::array<std::optional<std::string>, kTopics> latest_;  // guarded by mutex_
  uint64_t outputsReports_ = 0;                             // guarded by mutex_
  Listeners listeners_{mutex_};
};
