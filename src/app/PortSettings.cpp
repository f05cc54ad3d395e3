#include "app/PortSettings.h"

#include <cstring>

#include "app/ShellIds.h"

namespace {

constexpr size_t kBoxCharacters = 9;  // a 10-character buffer with its terminator

// The first `count` characters of UTF-8 `text` (a character is a code point, so a multi-byte
// character is never cut in half).
std::string FirstCharacters(const std::string& text, size_t count) {
  size_t end = 0;
  size_t characters = 0;
  while (end < text.size() && characters < count) {
    ++end;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    ++characters;
  }
  return text.substr(0, end);
}

bool IsConversionSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::optional<uint16_t> ParsePortText(const std::string& boxText) {
  const std::string text = FirstCharacters(boxText, kBoxCharacters);
  size_t i = 0;
  while (i < text.size() && IsConversionSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const size_t firstDigit = i;
  int64_t value = 0;  // nine characters cannot overflow it
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + (text[i] - '0');
    ++i;
  }
  // Without digits the conversion stops at the very start, so only an empty text would "end"
  // there; it converts to 0 and is refused by the range test below.
  if (i == firstDigit) return std::nullopt;
  if (i != text.size()) return std::nullopt;
  if (negative) value = -value;
  if (value < 1 || value > 65535) return std::nullopt;
  return static_cast<uint16_t>(value);
}

int SettingsDialogLogic::OnOk(const std::string& text, IErrorReporter& dialogBoxes) {
  const std::optional<uint16_t> port = ParsePortText(text);
  if (!port) {
    dialogBoxes.ShowError(kTextBadPort, kTextBadPortTitle);
    return 0;
  }
  return *port;
}
