#pragma once
// Asks the running QuavixServer.exe of this desktop through its hidden window (class
// QUAVIXSERVER): the request goes by WM_COPYDATA, and the reply comes back by WM_COPYDATA to a
// message-only window of the asker's while the asker's send waits.

#include <windows.h>

#include <optional>
#include <string>

#include "app/CommandLine.h"

class CopyDataRunningServer final : public IRunningServer {
 public:
  // `waitMs`: how long to wait for a reply, and for a server whose window takes no requests
  // yet (still starting up).
  explicit CopyDataRunningServer(int waitMs = kRequestWaitMs) : waitMs_(waitMs) {}
  // NoneRunning when no window of the class exists; Failed when it does not reply in time.
  AskResult Ask(const std::string& request, std::string* reply, std::string* reason) override;

 private:
  int waitMs_;
};

// The command line on Windows: GetCommandLineW, the registry store, this sender. The answer
// goes to the console the program was started from (cmd, PowerShell) or to a redirected
// output; started from Explorer or a shortcut, where there is no console, to a message box.
// Empty when the server should start, otherwise the exit code.
std::optional<int> RunWin32CommandLine();
