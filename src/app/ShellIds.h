#pragma once
// Message numbers, ids and user-visible texts of the shell. One copy for every platform; texts
// are UTF-8.

#include <cstdint>

// Window messages the tray window handles. The platform's own numbers, under our own names so
// that they never collide with a platform header's macros.
constexpr uint32_t kWmDestroy = 2;
constexpr uint32_t kWmClose = 16;
constexpr uint32_t kWmCommand = 273;
constexpr uint32_t kWmTimer = 275;
constexpr uint32_t kWmQuit = 18;
constexpr intptr_t kWmLButtonDown = 513;
constexpr intptr_t kWmRButtonDown = 516;

// Private messages of the hidden window.
constexpr uint32_t WM_TRAY_NOTIFY = 1025;
constexpr uint32_t WM_SHOW_SETTINGS = 1026;
constexpr uint32_t WM_ADD_TRAY_ICON = 1027;

constexpr uint32_t kTrayIconId = 1000;
constexpr uint32_t kIconResourceId = 107;
constexpr uint32_t kMenuCommandSettings = WM_SHOW_SETTINGS;  // 1026
constexpr uint32_t kMenuCommandQuit = kWmClose;              // 16
constexpr uint32_t kCommandExit = 105;

// Window timers.
constexpr uint32_t TIMER_BROADCAST_RETRY = 1;
constexpr uint32_t TIMER_MIXER_POLL = 2;
constexpr uint32_t TIMER_KEEPALIVE = 3;
constexpr uint32_t kRetryPeriodMs = 500;
constexpr uint32_t kKeepAlivePeriodMs = 20000;

constexpr uint16_t kDefaultServerPort = 17495;

// Names the platform services are keyed by.
constexpr const char* kInstanceGuardName = "QuavixServer_INSTANCE_LIMITER";
constexpr const char* kSettingKey = "Software\\Marrowick\\Quavix";
constexpr const char* kSettingValueName = "ServerPort";
constexpr const char* kWindowClassName = "QUAVIXSERVER";

// Texts.
constexpr const char* kTextAppTitle = "Quavix Server";
constexpr const char* kTextErrorTitle = "Quavix Server Error";
constexpr const char* kTextAlreadyRunning = "Quavix Server already running";
constexpr const char* kTextAlreadyRunningTitle = "Error";
constexpr const char* kTextNetworkingFailed = "Could not start Windows networking.";
constexpr const char* kTextBindFailed = "Couldn't bind and listen to network port";
constexpr const char* kTextThreadFailed = "Couldn't create server thread";
constexpr const char* kTextMenuSettings = "&Settings";
constexpr const char* kTextMenuQuit = "&Quit Quavix";
constexpr const char* kTextDialogCaption = "Quavix Server Settings";
constexpr const char* kTextDialogLabel = "Server Port:";
constexpr const char* kTextDialogOk = "&OK";
constexpr const char* kTextDialogCancel = "&Cancel";
constexpr const char* kTextBadPortTitle = "Bad Port";
constexpr const char* kTextBadPort = "Port must be an integer within the range 1 to 65535.";
