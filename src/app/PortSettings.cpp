#include "app/PortSettings.h"

#include <cstring>

#include "app/ShellNames.h"
#include "base/Texts.h"
#include "base/Port.h"

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
  size_t start = 0;
  while (start < text.size() && IsConversionSpace(text[start])) ++start;
  // A minus sign makes any number 0 or less, which is no port.
  if (start < text.size() && text[start] == '-') return std::nullopt;
  if (start < text.size() && text[start] == '+') ++start;
  return ParsePort(std::string_view(text).substr(start));
}

int SettingsDialogLogic::OnOk(const std::string& text, IErrorReporter& dialogBoxes) {
  const std::optional<uint16_t> port = ParsePortText(text);
  if (!port) {
    dialogBoxes.ShowError(kTextBadPort, kTextBadPortTitle);
    return 0;
  }
  return *port;
}
