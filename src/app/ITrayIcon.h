#pragma once
// The icon in the notification area. A left or right press on it reaches the window procedure
// as WM_TRAY_NOTIFY with wParam kTrayIconId and lParam kWmLButtonDown / kWmRButtonDown; other
// mouse events may arrive with other lParam values and are ignored there.

class ITrayIcon {
 public:
  virtual ~ITrayIcon() = default;
  // Main thread. Shows icon kIconResourceId as kTrayIconId of the hidden window. False when
  // there is no notification area (the adapter says so once on stderr); nobody acts on it.
  virtual bool Add() = 0;
  // Main thread. Removes the icon; nothing happens when it is not shown.
  virtual void Delete() = 0;
};
