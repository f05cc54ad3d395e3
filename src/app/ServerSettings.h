#pragma once
// Every setting of the server, with its default, read from the per-user store. A value that is
// wrong never stops the server, never opens it wider and never picks a random port: it is named
// in one line (where, which setting, what was wrong) and the setting's default applies.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/ISettingStore.h"
#include "base/Port.h"
#include "net/ClientGate.h"
#include "net/IpAddress.h"

constexpr uint16_t kDefaultWebPort = 17496;

struct ServerSettings {
  uint16_t port = kDefaultPort;    // "port"; a stored 0 means not set
  bool announce = true;            // "announce": tell the local network by name
  std::vector<IpAddress> listen;   // "listen": local addresses; empty means every address
  AccessPolicy access;             // "allow" (CIDR list or "any") and "max_clients"
  uint16_t webPort = kDefaultWebPort;  // "web_port"; 0 turns the page off
};

// Main thread. Reads every setting; each bad one is logged once per call (unless `quiet`) and
// replaced by its default.
ServerSettings LoadServerSettings(ISettingStore& store, bool quiet = false);

// Main thread. The dialog's and --set-port's writes. False when the store refused.
bool StorePort(ISettingStore& store, uint16_t port);
// On: "allow = any". Off: the setting is removed, so the local networks apply again.
bool StoreAllowOutside(ISettingStore& store, bool allow);
