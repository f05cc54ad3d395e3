#pragma once
// The per-user setting store: a text file a person can edit on Linux
// ($XDG_CONFIG_HOME/quavix/quavix-server.conf, section [server]), the registry's current-user
// hive on Windows (values beside ServerPort under Software\Marrowick\Quavix). Settings are
// named by portable keys ("port", "allow", ...); the store says where and under which name each
// lives, so a message can point the user at it. Main thread only; no call creates anything but
// Write.

#include <optional>
#include <string>

class ISettingStore {
 public:
  virtual ~ISettingStore() = default;
  // Where the settings live, as the user should read it (a file path, a registry key).
  virtual std::string Location() const = 0;
  // The name setting `key` has there ("port" in the file, "ServerPort" in the registry).
  virtual std::string StoredName(const std::string& key) const = 0;
  // The setting's text; empty when it is not set or cannot be read. A value the store keeps as
  // a number comes back in decimal, a list as its items joined by ", ".
  virtual std::optional<std::string> Read(const std::string& key) = 0;
  // Stores `text` (a number where the store keeps the setting as one), creating what is
  // missing. A reader sees the old or the new value, never part of one. False on failure.
  virtual bool Write(const std::string& key, const std::string& text) = 0;
  // Removes the setting, so its default applies. True when it is gone (or never was).
  virtual bool Remove(const std::string& key) = 0;
};
