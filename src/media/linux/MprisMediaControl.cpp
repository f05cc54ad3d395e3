#include "media/linux/MprisMediaControl.h"

#include <QDBusArgument>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <algorithm>
#include <tuple>
#include <utility>

#include "base/Log.h"

namespace {
const QString kBusService = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
const QString kPlayerPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kPlayerPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// Nested containers arrive as QDBusArgument inside a variant, or already converted.
QVariantMap MapOf(const QVariant& value) {
  if (value.canConvert<QDBusArgument>()) return qdbus_cast<QVariantMap>(value);
  return value.toMap();
}

QStringList StringsOf(const QVariant& value) {
  if (value.canConvert<QDBusArgument>()) return qdbus_cast<QStringList>(value);
  if (value.typeId() == QMetaType::QString) return {value.toString()};  // some players do
  return value.toStringList();
}

const char* MethodOf(MediaCommand command) {
  switch (command) {
    case MediaCommand::Previous:
      return "Previous";
    case MediaCommand::Next:
      return "Next";
    default:
      return "PlayPause";
  }
}

void LogCallError(const QString& what, const QDBusError& error) {
  LogError("media player: " + what.toStdString() + ": " + error.message().toStdString());
}
}  // namespace

MprisMediaControl::MprisMediaControl(QDBusConnection bus) : bus_(std::move(bus)) {}

MprisMediaControl::~MprisMediaControl() {
  Stop();
}

bool MprisMediaControl::Start() {
  if (!bus_.isConnected()) {
    std::string why = bus_.lastError().isValid() ? bus_.lastError().message().toStdString()
                                                 : std::string("none is named in the environment");
    LogError(std::string("media control: no session bus: ").append(why));
    return false;
  }
  const bool watching =
      bus_.connect(kBusService, kBusPath, kBusService, QStringLiteral("NameOwnerChanged"), this,
                   SLOT(OnNameOwnerChanged(QString, QString, QString))) &&
      bus_.connect(QString(), kPlayerPath, kProperties, QStringLiteral("PropertiesChanged"), this,
                   SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList, QDBusMessage)));
  if (!watching) {
    LogError("media control: cannot follow the players: " +
             bus_.lastError().message().toStdString());
    Stop();
    return false;
  }
  started_ = true;
  ListPlayers();
  return true;
}

void MprisMediaControl::Stop() {
  if (!started_) return;
  started_ = false;
  bus_.disconnect(kBusService, kBusPath, kBusService, QStringLiteral("NameOwnerChanged"), this,
                  SLOT(OnNameOwnerChanged(QString, QString, QString)));
  bus_.disconnect(QString(), kPlayerPath, kProperties, QStringLiteral("PropertiesChanged"), this,
                  SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList, QDBusMessage)));
  // Answers still on their way land in watchers that are children of this object: destroyed
  // with it, or ignored below while it lives on.
  players_.clear();
  std::lock_guard lock(statusMutex_);
  status_ = {};
  target_.clear();
}

void MprisMediaControl::ListPlayers() {
  const QDBusMessage call = QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService,
                                                           QStringLiteral("ListNames"));
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    const QDBusPendingReply<QStringList> reply = *w;
    if (!started_) return;
    if (reply.isError()) {
      LogCallError(QStringLiteral("listing the players"), reply.error());
      return;
    }
    for (const QString& name : reply.value()) {
      if (name.startsWith(kPlayerPrefix)) AddPlayer(name, QString());
    }
  });
}

void MprisMediaControl::OnNameOwnerChanged(const QString& name, const QString& oldOwner,
                                           const QString& newOwner) {
  if (!started_ || !name.startsWith(kPlayerPrefix)) return;
  if (!oldOwner.isEmpty()) {
    std::erase_if(players_, [&](const Player& player) { return player.name == name; });
  }
  if (!newOwner.isEmpty()) AddPlayer(name, newOwner);
  Update();
}

void MprisMediaControl::AddPlayer(const QString& name, const QString& owner) {
  std::erase_if(players_, [&](const Player& player) { return player.name == name; });
  Player player;
  player.name = name;
  player.owner = owner;
  player.seenAt = ++clock_;
  players_.push_back(std::move(player));
  ReadPlayer(name);
}

void MprisMediaControl::ReadPlayer(const QString& name) {
  QDBusMessage call =
      QDBusMessage::createMethodCall(name, kPlayerPath, kProperties, QStringLiteral("GetAll"));
  call << kPlayerInterface;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, name](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            const QDBusPendingReply<QVariantMap> reply = *w;
            auto player = std::find_if(players_.begin(), players_.end(),
                                       [&](const Player& known) { return known.name == name; });
            if (player == players_.end()) return;  // gone meanwhile
            if (reply.isError()) {
              LogCallError(name + QStringLiteral(": reading its state"), reply.error());
              return;
            }
            // The answer comes from the player's unique name, which signs its signals too.
            player->owner = reply.reply().service();
            Apply(*player, reply.value());
            Update();
          });
}

void MprisMediaControl::OnPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                            const QStringList& invalidated,
                                            const QDBusMessage& message) {
  if (!started_ || interface != kPlayerInterface) return;
  for (Player& player : players_) {
    if (player.owner.isEmpty() || player.owner != message.service()) continue;
    Apply(player, changed);
    // A player may only say that a property changed; its value is then asked for.
    if (invalidated.contains(QStringLiteral("PlaybackStatus")) ||
        invalidated.contains(QStringLiteral("Metadata"))) {
      ReadPlayer(player.name);
    }
  }
  Update();
}

void MprisMediaControl::Apply(Player& player, const QVariantMap& properties) {
  if (const auto status = properties.find(QStringLiteral("PlaybackStatus"));
      status != properties.end()) {
    const bool playing = status->toString() == QStringLiteral("Playing");
    if (playing && !player.playing) player.playedAt = ++clock_;
    player.playing = playing;
  }
  if (const auto metadata = properties.find(QStringLiteral("Metadata"));
      metadata != properties.end()) {
    const QVariantMap track = MapOf(*metadata);
    player.title = track.value(QStringLiteral("xesam:title")).toString();
    player.artists = StringsOf(track.value(QStringLiteral("xesam:artist")));
  }
}

MprisMediaControl::Player* MprisMediaControl::Chosen() {
  // Ordered by: playing, then when it last started playing, then when it appeared.
  auto rank = [](const Player& player) {
    return std::tuple(player.playing, player.playedAt, player.seenAt);
  };
  auto best = std::max_element(players_.begin(), players_.end(),
                               [&](const Player& a, const Player& b) { return rank(a) < rank(b); });
  return best == players_.end() ? nullptr : &*best;
}

void MprisMediaControl::Update() {
  MediaStatus status;
  QString target;
  if (const Player* player = Chosen()) {
    status.controllable = true;
    status.title = player->title.toStdString();
    status.artist = player->artists.join(QStringLiteral(", ")).toStdString();
    status.playing = player->playing;
    target = player->name;
  }
  {
    std::lock_guard lock(statusMutex_);
    target_ = target;
    if (status_ == status) return;
    status_ = status;
  }
  if (callback_) callback_(status);
}

bool MprisMediaControl::Send(MediaCommand command) {
  {
    std::lock_guard lock(statusMutex_);
    if (target_.isEmpty()) return false;
  }
  // The bus is driven from the main thread; this thread only hands the command over.
  return QMetaObject::invokeMethod(
      this, [this, command] { SendNow(command); }, Qt::QueuedConnection);
}

void MprisMediaControl::SendNow(MediaCommand command) {
  QString target;
  {
    std::lock_guard lock(statusMutex_);
    target = target_;
  }
  if (!started_ || target.isEmpty()) return;
  const QString method = QString::fromLatin1(MethodOf(command));
  const QDBusMessage call =
      QDBusMessage::createMethodCall(target, kPlayerPath, kPlayerInterface, method);
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [target, method](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            if (w->isError()) LogCallError(target + QStringLiteral(": ") + method, w->error());
          });
}

MediaStatus MprisMediaControl::Status() {
  std::lock_guard lock(statusMutex_);
  return status_;
}

void MprisMediaControl::SetStatusCallback(MediaChangedCallback callback) {
  callback_ = std::move(callback);
}
