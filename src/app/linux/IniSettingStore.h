#pragma once
// The settings as a text file a person can read and edit, in Qt's INI format, section [server]:
//   [server]
//   port = 17495
// The file is $XDG_CONFIG_HOME/quavix/quavix-server.conf (~/.config/... by default). Every call
// opens it afresh, so an edit made meanwhile is seen. Works without a QApplication.

#include <string>

#include "app/ISettingStore.h"

class IniSettingStore final : public ISettingStore {
 public:
  // `path` empty: the file in the user's configuration folder (empty again when that is
  // unknown, and then nothing is read or written).
  explicit IniSettingStore(std::string path = "");

  std::string Location() const override;
  std::string StoredName(const std::string& key) const override { return key; }
  std::optional<std::string> Read(const std::string& key) override;
  // QSettings writes a whole new file and renames it into place.
  bool Write(const std::string& key, const std::string& text) override;
  bool Remove(const std::string& key) override;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// $XDG_CONFIG_HOME when set to an absolute path, else $HOME/.config (the password database's
// home when HOME is unset). Empty when neither is known.
std::string UserConfigFolder();
