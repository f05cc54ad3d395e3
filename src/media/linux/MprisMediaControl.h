#pragma once
// Media control over MPRIS on the session bus: every program that owns a name
// "org.mpris.MediaPlayer2.*" is a player. The one controlled is the player that is playing (the
// one that started last, if several are), or else the one that played last, or else the one
// that appeared last.
//
// Everything is pushed by the bus, never polled: players coming and going (the bus's
// NameOwnerChanged), and their status and track (PropertiesChanged). Every call to a player is
// asynchronous with a bounded time-out, so a player that hangs (a stopped process) holds up
// nothing of ours; its answer, late or never, is only logged.
//
// Threads: the object lives on the main thread, whose Qt loop carries the bus's messages; every
// slot and the status callback run there. Send and Status may come from any thread: Status
// copies under the status mutex, Send queues the call to the main thread. The status mutex is a
// leaf, never held while the callback runs.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <cstdint>
#include <mutex>
#include <vector>

#include "media/IMediaControl.h"

class MprisMediaControl final : public QObject, public IMediaControl {
  Q_OBJECT

 public:
  // `bus`: the session bus in the program, a private one in tests.
  explicit MprisMediaControl(QDBusConnection bus);
  ~MprisMediaControl() override;

  bool Start() override;
  void Stop() override;
  bool Send(MediaCommand command) override;
  MediaStatus Status() override;
  void SetStatusCallback(MediaChangedCallback callback) override;

  // How long any call to a player or the bus may take before its answer is given up.
  static constexpr int kCallTimeoutMs = 2000;

 private slots:
  void OnNameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);
  void OnPropertiesChanged(const QString& interface, const QVariantMap& changed,
                           const QStringList& invalidated, const QDBusMessage& message);

 private:
  struct Player {
    QString name;   // its well-known name
    QString owner;  // its unique name, which signs its signals; empty until known
    bool playing = false;
    uint64_t playedAt = 0;  // when it last started playing, on our own count; 0: never seen so
    uint64_t seenAt = 0;
    QString title;
    QStringList artists;
  };

  void ListPlayers();
  void AddPlayer(const QString& name, const QString& owner);
  void ReadPlayer(const QString& name);
  void Apply(Player& player, const QVariantMap& properties);
  void SendNow(MediaCommand command);
  Player* Chosen();
  // Works out the status again and reports it when it changed.
  void Update();

  QDBusConnection bus_;
  bool started_ = false;           // main thread
  std::vector<Player> players_;    // main thread
  uint64_t clock_ = 0;             // main thread; counts events that order players
  MediaChangedCallback callback_;  // main thread

  std::mutex statusMutex_;
  MediaStatus status_;  // guarded by statusMutex_
  QString target_;      // guarded by statusMutex_: the chosen player's well-known name
};
