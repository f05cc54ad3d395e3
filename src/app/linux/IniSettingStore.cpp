#include "app/linux/IniSettingStore.h"

#include <pwd.h>
#include <unistd.h>

#include <QSettings>
#include <QStringList>
#include <cstdlib>

namespace {

constexpr const char* kGroup = "server";

QString Key(const std::string& key) {
  return QString::fromUtf8(kGroup) + QLatin1Char('/') + QString::fromStdString(key);
}

}  // namespace

std::string UserConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const passwd* entry = getpwuid(getuid());
    home = entry != nullptr ? entry->pw_dir : nullptr;
  }
  if (home == nullptr || home[0] != '/') return "";
  return std::string(home) + "/.config";
}

IniSettingStore::IniSettingStore(std::string path) : path_(std::move(path)) {
  if (path_.empty()) {
    const std::string folder = UserConfigFolder();
    if (!folder.empty()) path_ = folder + "/quavix/quavix-server.conf";
  }
}

std::string IniSettingStore::Location() const {
  return path_.empty() ? "the configuration folder (neither XDG_CONFIG_HOME nor HOME is set)"
                       : path_;
}

std::optional<std::string> IniSettingStore::Read(const std::string& key) {
  if (path_.empty()) return std::nullopt;
  const QSettings file(QString::fromStdString(path_), QSettings::IniFormat);
  const QVariant value = file.value(Key(key));
  if (!value.isValid()) return std::nullopt;
  // An unquoted value with commas comes back as a list.
  if (value.typeId() == QMetaType::QStringList) {
    return value.toStringList().join(QStringLiteral(", ")).toStdString();
  }
  return value.toString().toStdString();
}

bool IniSettingStore::Write(const std::string& key, const std::string& text) {
  if (path_.empty()) return false;
  QSettings file(QString::fromStdString(path_), QSettings::IniFormat);
  file.setValue(Key(key), QString::fromStdString(text));
  file.sync();
  return file.status() == QSettings::NoError;
}

bool IniSettingStore::Remove(const std::string& key) {
  if (path_.empty()) return false;
  QSettings file(QString::fromStdString(path_), QSettings::IniFormat);
  if (!file.contains(Key(key))) return true;
  file.remove(Key(key));
  file.sync();
  return file.status() == QSettings::NoError;
}
