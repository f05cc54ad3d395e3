#include "app/SettingsFlow.h"

#include <string_view>

#include "app/SettingTable.h"
#include "base/Texts.h"

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
  const std::optional<uint32_t> port =
      ParseSettingNumber(kPortSetting, std::string_view(text).substr(start));
  if (!port) return std::nullopt;
  return static_cast<uint16_t>(*port);
}

int SettingsDialogLogic::OnOk(const std::string& text, IErrorReporter& dialogBoxes) {
  const std::optional<uint16_t> port = ParsePortText(text);
  if (!port) {
    dialogBoxes.ShowError(kTextBadPort, kTextBadPortTitle);
    return 0;
  }
  return *port;
}

void SettingsFlow::Run() {
  // A copy: the writes below read the store again.
  const ServerSettings shown = settings_.Current();
  IStartAtLogin* login = services_.startAtLogin;
  const bool startsAtLogin = login != nullptr && login->Enabled();
  const std::optional<uint16_t> running = listening_.Running();
  SettingsDialogLogic logic(running ? *running : shown.port, startsAtLogin);
  logic.allowOutside = shown.access.anyone;
  const int result = services_.platform.dialog.Run(logic);
  if (result == -1) return;
  const uint16_t port = static_cast<uint16_t>(result & 0xFFFF);
  if (port == 0) return;
  if (logic.allowOutside != shown.access.anyone) ApplyAllowOutside(logic.allowOutside);
  if (login != nullptr && logic.StartAtLogin() != startsAtLogin &&
      !login->SetEnabled(logic.StartAtLogin())) {
    boxes_.ShowError(kTextStartAtLoginFailed, kTextErrorTitle);
  }
  if (port == running) {
    // Only the store may lag behind (a move announced from outside that was refused).
    if (shown.port == port) return;
  } else if (!listening_.MoveTo(port)) {
    return;
  }
  if (!settings_.StorePort(port)) boxes_.Report(kTextStoreFailed, kTextErrorTitle, port);
}

void SettingsFlow::ApplyAllowOutside(bool allow) {
  if (!settings_.StoreAllowOutside(allow)) {
    boxes_.ShowError(kTextStoreFailed, kTextErrorTitle);
    return;
  }
  services_.server.SetAccess(settings_.Current().access);
}
