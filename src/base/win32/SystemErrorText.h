#pragma once
// Windows failures in words, for the log: the code as Windows shows it and the system's message.

#include <string>

// "0x88890008 (The requested sharing mode is not supported.)"; no brackets when the system has
// no message.
std::string HResultText(long result);
// "error 5 (Access is denied.)", for GetLastError's and Winsock's codes.
std::string WindowsErrorText(unsigned long code);
