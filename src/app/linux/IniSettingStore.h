#pragma once
// The settings as a key file a person reads and edits (GLib's GKeyFile, the XDG format),
// section [server]:
//   [server]
//   port = 17495
// The file is $XDG_CONFIG_HOME/quavix/quavix-server.conf (~/.config/... by default). A write
// changes only the key it sets and keeps every comment (# and ;), the order and what it does
// not know; values are plain text, never anything else. Only a regular file is read, so a
// folder, a FIFO or a device in its place is refused and never waited on.

#include <glib.h>

#include <functional>
#include <memory>
#include <string>

#include "app/ISettingStore.h"

class IniSettingStore final : public ISettingStore {
 public:
  // `path` empty: the file in the user's configuration folder (empty again when that is
  // unknown, and then nothing is read or written).
  explicit IniSettingStore(std::string path = "");

  std::string Location() const override;
  std::string StoredName(const Setting& setting) const override { return std::string(setting.key); }
  bool Load(std::string* problem) override;
  std::optional<std::string> Read(const Setting& setting) override;
  std::vector<std::string> Unknown() const override;
  // The file is written whole to a new file that then takes the old one's place, with its mode.
  bool Write(const Setting& setting, const std::string& text) override;
  bool Remove(const Setting& setting) override;

  const std::string& Path() const { return path_; }

 private:
  struct FreeKeyFile {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
  };
  using KeyFile = std::unique_ptr<GKeyFile, FreeKeyFile>;

  // The file as it is now; null with `problem` when it cannot be read or understood. `mode`
  // gets the file's permissions (0600 for a file that does not exist yet).
  KeyFile ReadFile(std::string* problem, int* mode) const;
  // Reads the file, lets `change` change it and writes it back; false, logged, on failure.
  // `change` says whether it changed anything; when not, nothing is written.
  bool Change(const std::string& what, const std::function<bool(GKeyFile*)>& change);

  std::string path_;
  KeyFile loaded_;  // what the last Load read
};

// $XDG_CONFIG_HOME when set to an absolute path, else $HOME/.config (the password database's
// home when HOME is unset). Empty when neither is known.
std::string UserConfigFolder();
