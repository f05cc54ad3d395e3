// Linux: the players on the user's session bus.
#include <QFileInfo>
#include <QString>
#include <memory>

#include "base/Log.h"
#include "media/IMediaControl.h"
#include "media/linux/MprisMediaControl.h"

namespace {

// Whether the environment names a session bus: its address, or the user's bus in the runtime
// folder. Without one, libdbus would autolaunch a bus through dbus-launch: a daemon that
// outlives us, on a display that may be gone.
bool SessionBusNamed() {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

// No session bus: no player to reach. Made without touching Qt's D-Bus, which would start its
// connection thread all the same.
class WithoutSessionBus final : public IMediaControl {
 public:
  bool Start() override {
    LogError("media control: no session bus is named in the environment");
    return false;
  }
  void Stop() override {}
  bool Send(MediaCommand) override { return false; }
  MediaStatus Status() override { return {}; }
  void SetStatusCallback(MediaChangedCallback) override {}
};

}  // namespace

std::unique_ptr<IMediaControl> CreateMediaControl() {
  if (!SessionBusNamed()) return std::make_unique<WithoutSessionBus>();
  return std::make_unique<MprisMediaControl>(QDBusConnection::sessionBus());
}
