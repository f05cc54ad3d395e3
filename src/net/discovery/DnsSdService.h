#pragma once
// What the server is on the local network, for the announcers and for clients that browse for
// it: its DNS-SD service type, its TXT record and its instance name.

#include <string>

constexpr const char* kServiceType = "_quavix._tcp";
// The TXT record's one entry, key=value.
constexpr const char* kServiceTxt = "txtvers=1";

// "Quavix Server on HOST", HOST being `hostName` up to its first dot; cut to the 63 bytes a DNS
// label holds, never inside a UTF-8 character.
std::string ServiceInstanceName(const std::string& hostName);
