#include "net/page/HtmlText.h"

#include <algorithm>

std::string HtmlEscaped(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string FillSlots(std::string_view page, std::span<const PageSlot> slots) {
  std::string filled;
  for (size_t at = 0; at < page.size();) {
    const size_t open = page.find("{{", at);
    filled.append(page.substr(at, open - at));
    if (open == std::string_view::npos) break;
    const auto slot = std::find_if(slots.begin(), slots.end(), [&](const PageSlot& candidate) {
      return page.substr(open).starts_with(candidate.first);
    });
    if (slot == slots.end()) {
      filled += "{{";
      at = open + 2;
    } else {
      filled += slot->second;
      at = open + slot->first.size();
    }
  }
  return filled;
}
