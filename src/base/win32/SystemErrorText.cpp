#include "base/win32/SystemErrorText.h"

#include <windows.h>

#include <cstdio>

#include "base/Log.h"

namespace {

// The system's message for `code` in UTF-8, without its closing line break; empty when none.
std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message;
  if (length > 0) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                         nullptr, nullptr);
    message.resize(static_cast<size_t>(size));
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), message.data(), size, nullptr,
                        nullptr);
  }
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message;
}

std::string WithMessage(std::string code, DWORD value) {
  const std::string message = SystemMessage(value);
  return message.empty() ? code : code + " (" + message + ")";
}

}  // namespace

std::string HResultText(long result) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(result) & 0xFFFFFFFFul);
  return WithMessage(hex, static_cast<DWORD>(result));
}

std::string WindowsErrorText(unsigned long code) {
  return WithMessage("error " + std::to_string(code), static_cast<DWORD>(code));
}

void LogHResult(const std::string& what, long result) {
  LogError(what + ": " + HResultText(result));
}
