#pragma once
// The per-user setting store as a file tree: key "A\B\C", value "V" is the file
// <root>/A/B/C/V holding the value's raw bytes. The root is $XDG_CONFIG_HOME, or ~/.config.

#include <string>

#include "app/ISettingStore.h"

class FileSettingStore final : public ISettingStore {
 public:
  // `root` empty: the XDG configuration folder of the user.
  explicit FileSettingStore(std::string root = "");

  bool Read(const std::string& key, const std::string& name, uint8_t* buffer,
            size_t* size) override;
  // Creates missing folders (0700), writes a temporary file beside the value and renames it
  // into place, so a crash leaves either the old value or the new one.
  bool WriteUint32(const std::string& key, const std::string& name, uint32_t value) override;

  // The file a value lives in; empty when the key or name cannot be a path.
  std::string ValuePath(const std::string& key, const std::string& name) const;

 private:
  std::string root_;
};

// $XDG_CONFIG_HOME when set to an absolute path, else $HOME/.config (the password database's
// home when HOME is unset). Empty when neither is known.
std::string UserConfigFolder();
