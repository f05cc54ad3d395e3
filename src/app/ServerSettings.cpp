#include "app/ServerSettings.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <functional>
#include <optional>
#include <string>

#include "base/Log.h"

namespace {

constexpr size_t kMaxClientsLimit = 1000000;

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

class Reader {
 public:
  Reader(ISettingStore& store, bool quiet) : store_(store), quiet_(quiet) {}

  // The trimmed text of `key`; empty when unset or blank.
  std::optional<std::string> Text(const std::string& key) {
    std::optional<std::string> text = store_.Read(key);
    if (!text) return std::nullopt;
    *text = Trimmed(*text);
    if (text->empty()) return std::nullopt;
    return text;
  }

  void Bad(const std::string& key, const std::string& what) const {
    if (!quiet_) LogError(store_.Location() + ": " + store_.StoredName(key) + ": " + what);
  }

 private:
  ISettingStore& store_;
  bool quiet_;
};

void ReadPort(Reader& reader, const char* key, uint16_t* port, bool zeroTurnsOff) {
  const std::optional<std::string> text = reader.Text(key);
  if (!text) return;
  if (*text == "0") {
    // A port the system picks is one no client can find: 0 is "not set", or "off".
    if (zeroTurnsOff) *port = 0;
    return;
  }
  if (const std::optional<uint16_t> parsed = ParsePort(*text)) {
    *port = *parsed;
    return;
  }
  reader.Bad(key, "'" + *text + "' is not a port from 1 to 65535; using " +
                      std::to_string(*port));
}

void ReadAnnounce(Reader& reader, bool* announce) {
  const std::optional<std::string> text = reader.Text("announce");
  if (!text) return;
  const std::string word = Lower(*text);
  if (word == "true" || word == "yes" || word == "on" || word == "1") {
    *announce = true;
  } else if (word == "false" || word == "no" || word == "off" || word == "0") {
    *announce = false;
  } else {
    reader.Bad("announce", "'" + *text + "' is neither true nor false; using true");
  }
}

// The items of a list setting that `parse` takes; each one it refuses is named. All refused:
// one more line, and the default (empty).
template <typename T>
std::vector<T> ReadList(Reader& reader, const char* key, const std::string& itemKind,
                        const std::string& fallback,
                        const std::function<std::optional<T>(const std::string&)>& parse) {
  std::vector<T> parsed;
  const std::optional<std::string> text = reader.Text(key);
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
  for (const std::string& item : refused) named += (named.empty() ? "'" : ", '") + item + "'";
  reader.Bad(key, (refused.size() == 1 ? "bad entry " : "bad entries ") + named + " (" +
                      itemKind + ")" + (parsed.empty() ? "; " + fallback : "; ignored"));
  return parsed;
}

void ReadAllow(Reader& reader, AccessPolicy* access) {
  const std::optional<std::string> text = reader.Text("allow");
  if (text && Lower(*text) == "any") {
    access->anyone = true;
    return;
  }
  access->networks = ReadList<IpNetwork>(
      reader, "allow", "each a network in CIDR notation, or the word any", "the local networks apply",
      [](const std::string& item) { return ParseIpNetwork(item); });
}

void ReadMaxClients(Reader& reader, size_t* maxClients) {
  const std::optional<std::string> text = reader.Text("max_clients");
  if (!text) return;
  size_t value = 0;
  const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (ec == std::errc() && end == text->data() + text->size() && value >= 1 &&
      value <= kMaxClientsLimit) {
    *maxClients = value;
    return;
  }
  reader.Bad("max_clients", "'" + *text + "' is not a number from 1 to " +
                                std::to_string(kMaxClientsLimit) + "; using " +
                                std::to_string(*maxClients));
}

}  // namespace

ServerSettings LoadServerSettings(ISettingStore& store, bool quiet) {
  Reader reader(store, quiet);
  ServerSettings settings;
  ReadPort(reader, "port", &settings.port, false);
  ReadAnnounce(reader, &settings.announce);
  settings.listen = ReadList<IpAddress>(
      reader, "listen", "each a local IPv4 or IPv6 address", "listening on every address",
      [](const std::string& item) { return ParseIpAddress(item); });
  ReadAllow(reader, &settings.access);
  ReadMaxClients(reader, &settings.access.maxClients);
  ReadPort(reader, "web_port", &settings.webPort, true);
  return settings;
}

bool StorePort(ISettingStore& store, uint16_t port) {
  return store.Write("port", std::to_string(port));
}

bool StoreAllowOutside(ISettingStore& store, bool allow) {
  return allow ? store.Write("allow", "any") : store.Remove("allow");
}
