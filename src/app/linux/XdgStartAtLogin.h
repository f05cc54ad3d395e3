#pragma once
// IStartAtLogin as an XDG autostart entry: <config>/autostart/quavix-server.desktop, which the
// desktop starts inside the graphical session (where the tray and DISPLAY are). The entry is the
// installed desktop entry with Exec naming this program's own path.

#include <string>

#include "app/IStartAtLogin.h"

class XdgStartAtLogin final : public IStartAtLogin {
 public:
  // `configFolder`: the user's configuration folder (UserConfigFolder()); `program`: the path
  // the entry starts.
  XdgStartAtLogin(const std::string& configFolder, const std::string& program);
  // An entry that the desktop is told to skip (Hidden=true, or GNOME's own switch set off)
  // counts as off.
  bool Enabled() override;
  bool SetEnabled(bool enabled) override;
  const std::string& EntryPath() const { return entryPath_; }

 private:
  std::string entryPath_;
  std::string program_;
};

// `path` as one argument of a desktop entry's Exec key: quoted, with its escapes, where it has
// a reserved character.
std::string DesktopExecArgument(const std::string& path);
