#pragma once
// The name a paired phone is listed under, from its browser's User-Agent: "Chrome on Android",
// "Safari on iPhone", "Firefox on Windows". Printable ASCII, at most PairedDevice::kLongestName
// bytes, never empty ("A browser" when nothing is recognised). Any thread; no state.

#include <string>
#include <string_view>

std::string DeviceName(std::string_view userAgent);
