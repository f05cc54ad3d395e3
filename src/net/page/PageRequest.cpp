#include "net/page/PageRequest.h"

#include <algorithm>
#include <cctype>

#include "net/page/HtmlText.h"
#include "net/page/PageAssets.h"
#include "net/page/PageHtml.h"
#include "net/page/pairing/PagePairingScript.h"

namespace {

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// "name:port" -> "name"; "name" stays; "[v6]:port" and "[v6]" -> "v6". Empty when the port
// part is not a port number.
std::string_view WithoutPort(std::string_view host) {
  std::string_view name = host;
  std::string_view port;
  if (host.starts_with('[')) {
    const size_t close = host.find(']');
    if (close == std::string_view::npos) return {};
    name = host.substr(1, close - 1);
    const std::string_view rest = host.substr(close + 1);
    if (rest.empty()) return name;
    if (rest.front() != ':') return {};
    port = rest.substr(1);
  } else {
    const size_t colon = host.rfind(':');
    if (colon == std::string_view::npos) return host;
    name = host.substr(0, colon);
    port = host.substr(colon + 1);
  }
  const bool numeric =
      !port.empty() && port.size() <= 5 &&
      std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
  return numeric ? name : std::string_view();
}

}  // namespace

bool HostIsOurs(std::string_view host, const PageSite& site, std::string_view localAddress) {
  const std::string_view name = WithoutPort(host);
  if (name.empty()) return false;
  if (!localAddress.empty() && SameText(name, localAddress)) return true;
  return std::any_of(site.hostNames.begin(), site.hostNames.end(),
                     [name](const std::string& ours) { return SameText(name, ours); });
}

bool OriginIsOurs(std::string_view origin, bool hasOrigin, std::string_view host) {
  if (!hasOrigin) return true;
  constexpr std::string_view kScheme = "http://";
  return origin.size() > kScheme.size() && SameText(origin.substr(0, kScheme.size()), kScheme) &&
         SameText(origin.substr(kScheme.size()), host);
}

std::string PageHtml(std::string_view computerName) {
  const PageSlot slots[] = {
      {"{{NAME}}", HtmlEscaped(computerName.empty() ? "Quavix" : computerName)},
      {"{{LINKS}}", std::string(kPageAssetLinks)},
      {"{{PAIRING}}", PagePairingScript()},
  };
  return FillSlots(kPageTemplate, slots);
}
