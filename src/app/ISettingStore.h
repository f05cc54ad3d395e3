#pragma once
// The per-user setting store: a key file a person edits on Linux
// ($XDG_CONFIG_HOME/quavix/quavix-server.conf, section [server]), the registry's current-user
// hive on Windows (values beside ServerPort under Software\Marrowick\Quavix). Each setting is a
// row of SettingTable.h, which says where and under which name it lives, so a message can point
// the user at it. Main thread only; no call creates anything but Write.

#include <optional>
#include <string>
#include <vector>

#include "app/SettingTable.h"

class ISettingStore {
 public:
  virtual ~ISettingStore() = default;
  // Where the settings live, as the user should read it (a file path, a registry key).
  virtual std::string Location() const = 0;
  // The name the setting has there ("port" in the file, "ServerPort" in the registry).
  virtual std::string StoredName(const Setting& setting) const = 0;
  // Reads the store afresh, for Read and Unknown until the next Load. A store that does not
  // exist holds nothing, and that is no failure. False when it exists but cannot be read or
  // understood: `problem` then says why, short and with control characters escaped (the
  // caller names Location()), and what the last Load read is kept.
  virtual bool Load(std::string* problem) = 0;
  // The setting's text as the last Load read it; empty when it is not set. A value the store
  // keeps as a number comes back in decimal.
  virtual std::optional<std::string> Read(const Setting& setting) = 0;
  // What the last Load found that is no setting of ours, each as the user should read it
  // ("section [Server]", "key Port"); empty where the store leaves such things alone unseen.
  virtual std::vector<std::string> Unknown() const = 0;
  // Stores `text` (a number where the store keeps the setting as one), creating what is
  // missing and changing nothing else: the store is read afresh, and a store that cannot be
  // read is not written. A reader sees the old or the new value, never part of one. False on
  // failure, which the store logs once with its reason.
  virtual bool Write(const Setting& setting, const std::string& text) = 0;
  // Removes the setting, so its default applies; otherwise as Write. True when it is gone (or
  // never was).
  virtual bool Remove(const Setting& setting) = 0;
};
