#pragma once
// The shell's timer periods and the names its platform services are keyed by, one copy for
// every platform.

#include <cstdint>

constexpr uint32_t kKeepAlivePeriodMs = 20000;

constexpr const char* kInstanceGuardName = "QuavixServer_INSTANCE_LIMITER";
// Where a socket carries requests to the running server, beside the guard (Linux).
constexpr const char* kRequestChannelName = "QuavixServer_REQUESTS";
constexpr const char* kSettingKey = "Software\\Marrowick\\Quavix";
