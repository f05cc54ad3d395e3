#pragma once
// Windows failures in words, for the log: the code as Windows shows it and the system's message.

#include <string>

// "0x88890008 (The requested sharing mode is not supported.)"; the message is left out when
// the system has none.
std::string HResultText(long result);
// "error 5 (Access is denied.)", for GetLastError's and the registry's codes.
std::string WindowsErrorText(unsigned long code);
// "WHAT: 0x80070005 (Access is denied.)" as an error.
void LogHResult(const std::string& what, long result);
