#pragma once
// Every setting of the server (SettingTable.h) read from the per-user store. A value that is
// wrong never stops the server, never opens it wider and never picks a random port: it is named
// in one line (where, which setting, what was wrong, cut short and escaped) and the setting's
// default applies. What the store holds that is no setting is named too. A store that cannot
// be read at all is another matter: its defaults could serve more widely than the user wrote,
// so nothing is taken from it.

#include <cstdint>
#include <string>
#include <vector>

#include "app/ISettingStore.h"
#include "net/ClientGate.h"
#include "net/IpAddress.h"

// Filled by LoadServerSettings, from the store or from the table's defaults.
struct ServerSettings {
  uint16_t port = 0;              // "port"
  bool announce = false;          // "announce": tell the local network by name
  std::vector<IpAddress> listen;  // "listen": local addresses; empty means every address
  AccessPolicy access;            // "allow" (CIDR list or "any") and "max_clients"
  uint16_t webPort = 0;           // "web_port"; 0 turns the page off
  // "pairing": a phone's page proves its key (or pairs) before it is served; off serves every
  // page the gate lets in, as the computer's own browser always is.
  bool pairing = true;
};

// Main thread. Reads every setting into `settings`; each bad one is logged once per call (unless
// `quiet`) and replaced by its default. False, with `settings` untouched, when the store cannot
// be read; `problem` then names it and says why.
bool LoadServerSettings(ISettingStore& store, ServerSettings* settings, std::string* problem,
                        bool quiet = false);

// Main thread. The dialog's and --set-port's writes. False when the store refused.
bool StorePort(ISettingStore& store, uint16_t port);
// On: "allow = any". Off: the setting is removed, so the local networks apply again.
bool StoreAllowOutside(ISettingStore& store, bool allow);

// The settings the running server goes by: read from the store once at start-up, and again
// only when asked (a port change announced from outside, the dialog's own writes). Main thread.
class SettingsSnapshot {
 public:
  explicit SettingsSnapshot(ISettingStore& store) : store_(store) {}
  // Before the first Reload: every member as ServerSettings leaves it.
  const ServerSettings& Current() const { return current_; }
  // Reads the store again; a bad value is named unless `quiet`. False when the store cannot be
  // read: what was read before stays, and `problem` says why.
  bool Reload(std::string* problem, bool quiet = false) {
    return LoadServerSettings(store_, &current_, problem, quiet);
  }
  // The dialog's writes, each read back quietly once stored. False when the store refused.
  bool StorePort(uint16_t port) { return Reloaded(::StorePort(store_, port)); }
  bool StoreAllowOutside(bool allow) { return Reloaded(::StoreAllowOutside(store_, allow)); }

 private:
  bool Reloaded(bool stored) {
    std::string ignored;  // read a moment ago, by the write itself
    if (stored) Reload(&ignored, true);
    return stored;
  }

  ISettingStore& store_;
  ServerSettings current_;
};
