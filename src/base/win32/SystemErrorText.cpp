#include "base/win32/SystemErrorText.h"

#include <windows.h>

#include <cctype>
#include <cstdio>

#include "base/win32/WideText.h"

namespace {

std::string WithMessage(const std::string& code, DWORD value) {
  wchar_t* text = nullptr;
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  const DWORD length =
      FormatMessageW(flags, nullptr, value, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = length > 0 ? Narrow(std::wstring(text, length)) : "";
  LocalFree(text);
  while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back()))) {
    message.pop_back();  // the message ends with a line break
  }
  return message.empty() ? code : code + " (" + message + ")";
}

}  // namespace

std::string HResultText(long result) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(result) & 0xFFFFFFFFul);
  return WithMessage(hex, static_cast<DWORD>(result));
}

std::string WindowsErrorText(unsigned long code) {
  return WithMessage("error " + std::to_string(code), code);
}
