#pragma once
// UTF-8 (the portable code's texts) to and from UTF-16 (the Unicode Win32 calls).

#include <string>

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);
