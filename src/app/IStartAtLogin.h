#pragma once
// Whether this program starts when the user logs in: the desktop's autostart entry on Linux,
// the Run value that the installer also writes on Windows.

#include <memory>

class IStartAtLogin {
 public:
  virtual ~IStartAtLogin() = default;
  // Main thread. Whether the program is set to start at login now.
  virtual bool Enabled() = 0;
  // Main thread. Sets it up or takes it away; false, after logging why, when that failed.
  virtual bool SetEnabled(bool enabled) = 0;
};

// linux/ or win32/: for this program, as the running executable's path names it.
std::unique_ptr<IStartAtLogin> CreateStartAtLogin();
