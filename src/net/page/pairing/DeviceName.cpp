#include "net/page/pairing/DeviceName.h"

#include <span>

namespace {

struct Mark {
  std::string_view token;  // found anywhere in the User-Agent
  std::string_view name;
};

// First match wins, so a browser built on another, which names both (Edge says Chrome and
// Safari, Chrome says Safari), comes before it.
constexpr Mark kBrowsers[] = {
    {"EdgiOS/", "Edge"},       {"EdgA/", "Edge"},     {"Edg/", "Edge"},
    {"OPR/", "Opera"},         {"OPT/", "Opera"},     {"SamsungBrowser/", "Samsung Internet"},
    {"Firefox/", "Firefox"},   {"FxiOS/", "Firefox"}, {"CriOS/", "Chrome"},
    {"Chromium/", "Chromium"}, {"Chrome/", "Chrome"}, {"Version/", "Safari"},
};

constexpr Mark kSystems[] = {
    {"iPhone", "iPhone"},   {"iPad", "iPad"},     {"Android", "Android"}, {"CrOS", "ChromeOS"},
    {"Windows", "Windows"}, {"Macintosh", "Mac"}, {"Linux", "Linux"},
};

std::string_view Find(std::string_view userAgent, std::span<const Mark> marks) {
  for (const Mark& mark : marks) {
    if (userAgent.find(mark.token) != std::string_view::npos) return mark.name;
  }
  return {};
}

}  // namespace

std::string DeviceName(std::string_view userAgent) {
  const std::string_view browser = Find(userAgent, kBrowsers);
  const std::string_view system = Find(userAgent, kSystems);
  if (browser.empty() && system.empty()) return "A browser";
  if (system.empty()) return std::string(browser);
  if (browser.empty()) return "A browser on " + std::string(system);
  return std::string(browser) + " on " + std::string(system);
}
