#pragma once
// Every text the user sees in a window, a box or the tray, one copy for every module and
// platform. UTF-8.

constexpr const char* kTextAppTitle = "Quavix Server";
constexpr const char* kTextErrorTitle = "Quavix Server Error";
constexpr const char* kTextAlreadyRunning = "Quavix Server already running";
constexpr const char* kTextAlreadyRunningTitle = "Error";
constexpr const char* kTextNetworkingFailed = "Could not start Windows networking.";
constexpr const char* kTextWindowFailed = "Couldn't create the hidden window";
constexpr const char* kTextBindFailed = "Couldn't bind and listen to network port";
constexpr const char* kTextThreadFailed = "Couldn't create server thread";
constexpr const char* kTextSettingsUnreadable = "Couldn't read the settings";
constexpr const char* kTextStoreFailed = "Couldn't store the network port";
constexpr const char* kTextStartAtLoginFailed =
    "Couldn't change whether Quavix Server starts at login";
constexpr const char* kTextPagePortClash = "Couldn't move to the control page's own port";
constexpr const char* kTextNotServing = "Couldn't listen again on the previous network port";
constexpr const char* kTextNoInterface = "Could not find volume control interface.";
constexpr const char* kTextNoDevice = "Could not locate audio device.";
constexpr const char* kTextInitFailed = "Initializing the audio control failed.";
constexpr const char* kTextMenuSettings = "&Settings";
constexpr const char* kTextMenuOpenPage = "&Open control page";
constexpr const char* kTextMenuPairPhone = "&Pair a phone\u2026";
constexpr const char* kTextMenuQuit = "&Quit Quavix";
constexpr const char* kTextPageBindFailed = "Couldn't listen for the control page on port";
constexpr const char* kTextDialogCaption = "Quavix Server Settings";
constexpr const char* kTextDialogLabel = "Server Port:";
constexpr const char* kTextDialogStartAtLogin = "Start Quavix Server when I log in";
constexpr const char* kTextDialogOk = "&OK";
constexpr const char* kTextDialogCancel = "&Cancel";
constexpr const char* kTextDialogAllowOutside = "Allow clients from outside the local network";
constexpr const char* kTextAddressNotLocal = "This computer has no network address";
constexpr const char* kTextBadPortTitle = "Bad Port";
constexpr const char* kTextBadPort = "Port must be an integer within the range 1 to 65535.";
