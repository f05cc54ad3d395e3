#include "base/ShownText.h"

#include <cstdio>

namespace {

// The length of the valid UTF-8 character at the start of `text`, 0 when it is not one.
size_t CharacterLength(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range: no overlong or surrogate
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

std::string Escape(const char* format, unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// What the character of `length` bytes at the start of `text` is shown as.
std::string Shown(std::string_view text, size_t length) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (length == 0) return Escape("\\x%02X", lead);
  if (length == 2 && lead == 0xC2 && static_cast<unsigned char>(text[1]) < 0xA0) {
    return Escape("\\u%04X", static_cast<unsigned char>(text[1]));  // C1: U+0080..U+009F
  }
  if (length > 1) return std::string(text.substr(0, length));
  switch (lead) {
    case '\t':
      return "\\t";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\\':
      return "\\\\";
    default:
      break;
  }
  if (lead < 0x20 || lead == 0x7F) return Escape("\\x%02X", lead);
  return std::string(1, static_cast<char>(lead));
}

}  // namespace

std::string ShownText(std::string_view text, size_t longest) {
  constexpr std::string_view kCut = "...";
  std::string shown;
  size_t cutAt = 0;  // the longest whole prefix that leaves room for the cut mark
  while (!text.empty()) {
    const size_t length = CharacterLength(text);
    shown += Shown(text, length);
    text.remove_prefix(length == 0 ? 1 : length);
    if (shown.size() + kCut.size() <= longest) cutAt = shown.size();
    if (shown.size() > longest) return shown.substr(0, cutAt).append(kCut);
  }
  return shown;
}
