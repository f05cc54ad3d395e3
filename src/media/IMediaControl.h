#pragma once
// The media player the person is listening to: previous track, play or pause, next track, and
// what is playing where the system says.

#include <functional>
#include <memory>
#include <string>

enum class MediaCommand { Previous, PlayPause, Next };

struct MediaStatus {
  bool controllable = false;  // a command reaches a player; false: nothing is playing
  std::string title;          // UTF-8; empty where the system does not say
  std::string artist;         // UTF-8, several artists joined by ", "; empty likewise
  bool playing = false;       // as the player reports it; false where the system does not say
  friend bool operator==(const MediaStatus&, const MediaStatus&) = default;
};

using MediaChangedCallback = std::function<void(const MediaStatus& status)>;

class IMediaControl {
 public:
  virtual ~IMediaControl() = default;

  // Main thread, once, with the main loop (which carries the system's messages) running or
  // about to. False: media control is not available on this desktop (logged); the object then
  // reports nothing controllable and ignores commands.
  virtual bool Start() = 0;

  // Main thread, once, after the callback was cleared. Returns at once, whatever the player
  // does; nothing is called afterwards.
  virtual void Stop() = 0;

  // Any thread. Hands the command on without waiting for the player. False when there is no
  // player to send it to or it could not be sent (logged).
  virtual bool Send(MediaCommand command) = 0;

  // Any thread. What is known now; never waits for a player.
  virtual MediaStatus Status() = 0;

  // Main thread. The callback runs on the main thread, with no lock of ours held, after the
  // status changed.
  virtual void SetStatusCallback(MediaChangedCallback callback) = 0;
};

// Each platform's folder implements this: the system's media control, not yet started.
std::unique_ptr<IMediaControl> CreateMediaControl();
