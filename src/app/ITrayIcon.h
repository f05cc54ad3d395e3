#pragma once
// The program's icon in the notification area.

#include <string>

class IShellEvents;

class ITrayIcon {
 public:
  virtual ~ITrayIcon() = default;
  // Main thread. Shows the icon; a left or right press on it reaches
  // events.OnTrayIconPressed. False when there is no notification area now; the adapter then
  // reports events.OnNotificationAreaAppeared once one comes up.
  virtual bool Add(IShellEvents& events) = 0;
  // Main thread. Removes the icon; nothing happens when it is not shown.
  virtual void Remove() = 0;
  // Main thread. The text shown when the pointer rests on the icon, kept for a later Add.
  virtual void SetToolTip(const std::string& text) = 0;
};
