#include "app/ServerSettings.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>
#include <string>

#include "app/SettingTable.h"
#include "base/Log.h"
#include "base/ShownText.h"

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Items separated by commas or blanks, empty ones dropped.
std::vector<std::string> Items(const std::string& text) {
  std::vector<std::string> items;
  std::string item;
  for (char c : text + ",") {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!item.empty()) items.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  return items;
}

// A value as an error line shows it: quoted, cut short and escaped.
std::string Quoted(const std::string& text) {
  // Appended: GCC 12 at -O3 warns falsely on "literal" + temporary string.
  std::string quoted = "'";
  return quoted.append(ShownText(text, 60)).append("'");
}

bool IsLinkLocal(const IpAddress& address) {
  return !address.IsV4() && address.bytes[0] == 0xFE && (address.bytes[1] & 0xC0) == 0x80;
}

std::optional<bool> ParseSwitch(const std::string& text) {
  const std::string word = Lower(text);
  if (word == "true" || word == "yes" || word == "on" || word == "1") return true;
  if (word == "false" || word == "no" || word == "off" || word == "0") return false;
  return std::nullopt;
}

// Reads each setting by its kind's rule, naming what it refuses.
class Reader {
 public:
  Reader(ISettingStore& store, bool quiet) : store_(store), quiet_(quiet) {}

  uint32_t Number(const Setting& setting) {
    const uint32_t fallback = *ParseSettingNumber(setting, setting.defaultText);
    const std::optional<std::string> text = Text(setting);
    // A port the system picks is one no client can find: a stored 0 is "not set".
    if (!text || (setting.kind == SettingKind::Port && *text == "0")) return fallback;
    if (const std::optional<uint32_t> number = ParseSettingNumber(setting, *text)) return *number;
    const std::string range = setting.kind == SettingKind::Count
                                  ? "a number from 1 to " + std::to_string(setting.most)
                                  : "a port from 1 to 65535";
    Bad(setting,
        Quoted(*text) + " is not " + range + "; using " + std::string(setting.defaultText));
    return fallback;
  }

  bool Switch(const Setting& setting) {
    const bool fallback = *ParseSwitch(std::string(setting.defaultText));
    const std::optional<std::string> text = Text(setting);
    if (!text) return fallback;
    if (const std::optional<bool> on = ParseSwitch(*text)) return *on;
    Bad(setting,
        Quoted(*text) + " is neither true nor false; using " + std::string(setting.defaultText));
    return fallback;
  }

  std::vector<IpAddress> Addresses(const Setting& setting) {
    std::optional<std::string> text = Text(setting);
    if (!text) return {};
    // A link-local address is only one with its interface, which a listening socket here
    // cannot be given: said apart from the typos, since the address itself is right.
    std::string rest, linkLocal;
    for (const std::string& item : Items(*text)) {
      const std::optional<IpAddress> address = ParseIpAddress(item.substr(0, item.find('%')));
      if (address && IsLinkLocal(*address)) {
        linkLocal += (linkLocal.empty() ? "" : ", ") + Quoted(item);
      } else {
        rest += item + ",";
      }
    }
    if (!linkLocal.empty()) {
      Bad(setting, linkLocal +
                       ": link-local, which is listened on only with an interface this setting "
                       "cannot name (:: listens on every IPv6 address); " +
                       (rest.empty() ? std::string(setting.emptyMeans) : "ignored"));
    }
    if (rest.empty()) return {};
    return Folded(setting,
                  List<IpAddress>(setting, rest, "each a local IPv4 or IPv6 address",
                                  [](const std::string& item) { return ParseIpAddress(item); }));
  }

  void Networks(const Setting& setting, AccessPolicy* access) {
    const std::optional<std::string> text = Text(setting);
    if (text && Lower(*text) == "any") {
      access->anyone = true;
      return;
    }
    access->networks =
        List<IpNetwork>(setting, text, "each a network in CIDR notation, or the word any",
                        [](const std::string& item) { return ParseIpNetwork(item); });
  }

 private:
  // The trimmed text of the setting; none when unset or blank.
  std::optional<std::string> Text(const Setting& setting) {
    std::optional<std::string> text = store_.Read(setting);
    if (!text) return std::nullopt;
    *text = Trimmed(*text);
    if (text->empty()) return std::nullopt;
    return text;
  }

  // The items of a list that `parse` takes; each one it refuses is named. All refused: one
  // more line, and the default (empty).
  template <typename T>
  std::vector<T> List(const Setting& setting, const std::optional<std::string>& text,
                      const std::string& itemKind,
                      const std::function<std::optional<T>(const std::string&)>& parse) {
    std::vector<T> parsed;
    if (!text) return parsed;
    std::vector<std::string> refused;
    for (const std::string& item : Items(*text)) {
      if (std::optional<T> value = parse(item)) {
        parsed.push_back(*value);
      } else {
        refused.push_back(item);
      }
    }
    if (refused.empty()) return parsed;
    std::string named;
    for (const std::string& item : refused) named += (named.empty() ? "" : ", ") + Quoted(item);
    Bad(setting, (refused.size() == 1 ? "bad entry " : "bad entries ") + named + " (" + itemKind +
                     ")" + (parsed.empty() ? "; " + std::string(setting.emptyMeans) : "; ignored"));
    return parsed;
  }

  // Each address once: a repeated one, and one that a wildcard of its family (0.0.0.0, ::)
  // covers, would be a second socket on the same port, which the system refuses.
  std::vector<IpAddress> Folded(const Setting& setting, const std::vector<IpAddress>& addresses) {
    const uint8_t zero[4] = {};
    const IpAddress anyV4 = IpAddress::FromV4Bytes(zero), anyV6{};
    const auto has = [&](const IpAddress& address) {
      return std::find(addresses.begin(), addresses.end(), address) != addresses.end();
    };
    std::vector<IpAddress> folded;
    std::string dropped;
    for (const IpAddress& address : addresses) {
      const IpAddress& wildcard = address.IsV4() ? anyV4 : anyV6;
      const bool covered = address != wildcard && has(wildcard);
      if (covered || std::find(folded.begin(), folded.end(), address) != folded.end()) {
        dropped += (dropped.empty() ? "" : ", ") + Quoted(IpAddressText(address));
      } else {
        folded.push_back(address);
      }
    }
    if (!dropped.empty()) {
      Bad(setting, dropped +
                       " already listened on through the other entries; each address is "
                       "listened on once");
    }
    return folded;
  }

  void Bad(const Setting& setting, const std::string& what) const {
    if (!quiet_) LogError(store_.Location() + ": " + store_.StoredName(setting) + ": " + what);
  }

 public:
  // Names what the store holds that is no setting.
  void Strangers() const {
    if (quiet_) return;
    for (const std::string& name : store_.Unknown()) {
      LogError(store_.Location() + ": " + name + " is no setting of ours; ignored");
    }
  }

 private:
  ISettingStore& store_;
  bool quiet_;
};

}  // namespace

bool LoadServerSettings(ISettingStore& store, ServerSettings* settings, std::string* problem,
                        bool quiet) {
  std::string why;
  if (!store.Load(&why)) {
    *problem = store.Location() + ": " + why;
    return false;
  }
  Reader reader(store, quiet);
  reader.Strangers();
  ServerSettings read;
  read.port = static_cast<uint16_t>(reader.Number(kPortSetting));
  read.announce = reader.Switch(kAnnounceSetting);
  read.listen = reader.Addresses(kListenSetting);
  reader.Networks(kAllowSetting, &read.access);
  read.access.maxClients = reader.Number(kMaxClientsSetting);
  read.webPort = static_cast<uint16_t>(reader.Number(kWebPortSetting));
  read.pairing = reader.Switch(kPairingSetting);
  *settings = std::move(read);
  return true;
}

bool StorePort(ISettingStore& store, uint16_t port) {
  return store.Write(kPortSetting, std::to_string(port));
}

bool StoreAllowOutside(ISettingStore& store, bool allow) {
  return allow ? store.Write(kAllowSetting, "any") : store.Remove(kAllowSetting);
}
