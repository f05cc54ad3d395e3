#pragma once
// Tells the running QuavixServer.exe of this desktop that the stored port changed: the
// registered message "QuavixServer_PortChanged" posted to its hidden window (class
// QUAVIXSERVER), which reads the port again and moves.

#include <windows.h>

#include <optional>
#include <string>

#include "app/CommandLine.h"

class PostRunningServer final : public IRunningServer {
 public:
  // NoneRunning when no window of the class exists; Failed when the message could not be
  // registered or posted (GetLastError's code in `reason`).
  TellResult TellPortChanged(std::string* reason) override;
  bool AwaitGreeting(uint16_t port, int limitMs, std::string* reason) override;
};

// The command line on Windows: GetCommandLineW, the registry store, this sender. The answer
// goes to the console the program was started from (cmd, PowerShell) or to a redirected
// output; started from Explorer or a shortcut, where there is no console, to a message box.
// Empty when the server should start, otherwise the exit code.
std::optional<int> RunWin32CommandLine();
