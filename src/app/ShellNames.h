#pragma once
// The shell's timer periods and the names its platform services are keyed by, one copy for
// every platform.

#include <cstdint>

constexpr uint32_t kKeepAlivePeriodMs = 20000;

constexpr const char* kInstanceGuardName = "QuavixServer_INSTANCE_LIMITER";
constexpr const char* kSettingKey = "Software\\Marrowick\\Quavix";
constexpr const char* kSettingValueName = "ServerPort";
