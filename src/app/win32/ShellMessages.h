#pragma once
// The hidden window's message numbers, tray icon id, menu command ids and timer ids. Other
// programs and the tests drive the window with these, so they never change.

#include <windows.h>

// Private messages of the hidden window.
constexpr UINT WM_TRAY_NOTIFY = WM_USER + 1;    // 1025: the icon's callback, version-0 form
constexpr UINT WM_SHOW_SETTINGS = WM_USER + 2;  // 1026
constexpr UINT WM_ADD_TRAY_ICON = WM_USER + 3;  // 1027
// Runs the tasks queued for the main thread.
constexpr UINT WM_RUN_TASKS = WM_APP + 1;

constexpr UINT kTrayIconId = 1000;
// The menu's commands carry the numbers of the messages that once carried them out.
constexpr UINT kMenuCommandSettings = WM_SHOW_SETTINGS;  // 1026
constexpr UINT kMenuCommandQuit = WM_CLOSE;              // 16
constexpr UINT kMenuCommandOpenPage = WM_USER + 4;       // 1028, a command only
constexpr UINT kMenuCommandPairPhone = WM_USER + 5;      // 1029, a command only

// Window timers.
constexpr UINT_PTR TIMER_BROADCAST_RETRY = 1;
constexpr UINT_PTR TIMER_MIXER_POLL = 2;
constexpr UINT_PTR TIMER_KEEPALIVE = 3;

// WM_COPYDATA tags of the request channel: a request to the hidden window, whose wParam is the
// asker's window, and the reply the hidden window sends back to that window (app/Requests.h).
constexpr ULONG_PTR kRequestCopyData = 0x51565251;  // "QVRQ"
constexpr ULONG_PTR kReplyCopyData = 0x51565250;    // "QVRP"

// Registered messages: the shell's "the taskbar was (re)created", and ours for a port that
// was stored by `quavix-server --set-port`.
constexpr const wchar_t* kTaskbarCreatedMessage = L"TaskbarCreated";
constexpr const wchar_t* kPortChangedMessage = L"QuavixServer_PortChanged";
