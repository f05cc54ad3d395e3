#pragma once
// The JSON objects the server sends the page as WebSocket text messages, one flat object each
// ({"type":"challenge","nonce":"..."}). Strings are escaped, and a text that is not valid UTF-8
// has its broken bytes replaced by U+FFFD: a browser fails the whole connection on a text
// message that is not UTF-8. Any thread; each object is used by one.

#include <cstdint>
#include <string>
#include <string_view>

// A JSON string literal, quotes included.
std::string JsonString(std::string_view text);

class JsonObject {
 public:
  JsonObject& Add(std::string_view name, std::string_view text);
  JsonObject& Add(std::string_view name, const char* text) {
    return Add(name, std::string_view(text));
  }
  JsonObject& Add(std::string_view name, int64_t number);
  JsonObject& Add(std::string_view name, int number) { return Add(name, int64_t{number}); }
  JsonObject& Add(std::string_view name, bool value);
  // `json` is written as it is: an array or object the caller built from these parts.
  JsonObject& AddRaw(std::string_view name, std::string_view json);
  std::string Text() const { return text_ + "}"; }

 private:
  void Name(std::string_view name);

  std::string text_ = "{";
};
