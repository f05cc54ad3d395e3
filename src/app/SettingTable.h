#pragma once
// Every setting of the server, in one table: its key (also its name in the settings file), the
// name of its value in the registry, its kind (how its text is checked and how a store keeps
// it) and its default. The stores, the loader (ServerSettings.h) and the settings dialog know a
// setting only from here: adding one is a row here, plus its use.

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/Port.h"

enum class SettingKind {
  Port,       // a TCP port from 1 to 65535; a stored 0 means not set
  PortOrOff,  // a TCP port from 1 to 65535, or 0 for off
  Count,      // a whole number from 1 to the row's `most`
  Switch,     // true, yes, on or 1; false, no, off or 0 (any case)
  Addresses,  // IPv4 or IPv6 addresses, separated by commas or blanks
  Networks,   // the word any, or networks in CIDR notation separated by commas or blanks
};

struct Setting {
  std::string_view key;
  std::string_view registryName;
  SettingKind kind;
  // What applies when the setting is unset, blank or refused; it passes the kind's check.
  std::string_view defaultText = "";
  // A list's default is empty; this says what that means, in the line that names a bad list.
  std::string_view emptyMeans = "";
  uint32_t most = 0;  // a Count's largest value
};

// clang-format off
// key, registry name, kind, default, what an empty list means, a count's largest value
constexpr Setting kPortSetting{"port", "ServerPort", SettingKind::Port, "17495"};
constexpr Setting kAnnounceSetting{"announce", "Announce", SettingKind::Switch, "true"};
constexpr Setting kListenSetting{"listen", "Listen", SettingKind::Addresses, "",
                                 "listening on every address"};
constexpr Setting kAllowSetting{"allow", "Allow", SettingKind::Networks, "",
                                "the local networks apply"};
constexpr Setting kMaxClientsSetting{"max_clients", "MaxClients", SettingKind::Count, "4096", "",
                                     1000000};
constexpr Setting kWebPortSetting{"web_port", "WebPort", SettingKind::PortOrOff, "17496"};
constexpr Setting kPairingSetting{"pairing", "Pairing", SettingKind::Switch, "true"};
// clang-format on

// Every row above, for a store that meets a name and asks whether it is a setting.
constexpr const Setting* kSettings[] = {&kPortSetting,  &kAnnounceSetting,   &kListenSetting,
                                        &kAllowSetting, &kMaxClientsSetting, &kWebPortSetting};
// The row whose key is `key`; null for none.
constexpr const Setting* FindSetting(std::string_view key) {
  for (const Setting* setting : kSettings) {
    if (setting->key == key) return setting;
  }
  return nullptr;
}

// Whether a store that has numbers (the registry's DWORD) keeps the setting as one.
constexpr bool IsNumber(SettingKind kind) {
  return kind == SettingKind::Port || kind == SettingKind::PortOrOff || kind == SettingKind::Count;
}

// A number setting's text, checked by its kind's rule (a Port's "0", which means not set, is
// refused here); empty when refused, or when the setting is no number.
constexpr std::optional<uint32_t> ParseSettingNumber(const Setting& setting,
                                                     std::string_view text) {
  std::optional<long> number;
  switch (setting.kind) {
    case SettingKind::PortOrOff:
      if (text == "0") return 0;
      [[fallthrough]];
    case SettingKind::Port:
      number = ParseDecimal(text, 1, 65535);
      break;
    case SettingKind::Count:
      number = ParseDecimal(text, 1, setting.most);
      break;
    default:
      break;
  }
  if (!number) return std::nullopt;
  return static_cast<uint32_t>(*number);
}

// The remote tool finds the server where it listens unless told otherwise.
static_assert(ParseSettingNumber(kPortSetting, kPortSetting.defaultText) == kDefaultPort);
