#include "net/page/JsonText.h"

#include <cstdio>

namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0. Overlong forms,
// surrogates and code points past U+10FFFF are not well-formed.
size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const auto continuation = [&](size_t i) { return i < text.size() && (byte(i) & 0xC0) == 0x80; };
  const uint8_t first = byte(0);
  if (first < 0x80) return 1;
  if (first >= 0xC2 && first <= 0xDF) return continuation(1) ? 2 : 0;
  if (first >= 0xE0 && first <= 0xEF) {
    if (!continuation(1) || !continuation(2)) return 0;
    if (first == 0xE0 && byte(1) < 0xA0) return 0;   // overlong
    if (first == 0xED && byte(1) >= 0xA0) return 0;  // a surrogate
    return 3;
  }
  if (first >= 0xF0 && first <= 0xF4) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
    if (first == 0xF0 && byte(1) < 0x90) return 0;   // overlong
    if (first == 0xF4 && byte(1) >= 0x90) return 0;  // past U+10FFFF
    return 4;
  }
  return 0;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  json.reserve(text.size() + 2);
  while (!text.empty()) {
    const size_t length = Utf8SequenceLength(text);
    if (length == 0) {
      json += "\\ufffd";
      text.remove_prefix(1);
      continue;
    }
    const char c = text[0];
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F || c == '<' || c == '>' || c == '&') {
      // Control characters must be escaped; the markup characters are too, so the text stays
      // inert should it ever be placed in a page.
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      json += escaped;
    } else {
      json.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return json + "\"";
}

void JsonObject::Name(std::string_view name) {
  if (text_.size() > 1) text_ += ',';
  text_ += JsonString(name);
  text_ += ':';
}

JsonObject& JsonObject::Add(std::string_view name, std::string_view text) {
  Name(name);
  text_ += JsonString(text);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view name, int64_t number) {
  Name(name);
  text_ += std::to_string(number);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view name, bool value) {
  Name(name);
  text_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::AddRaw(std::string_view name, std::string_view json) {
  Name(name);
  text_ += json;
  return *this;
}
