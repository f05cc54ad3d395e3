#pragma once
// Start-up, the message loop and shut-down, over seams only.

#include "app/ShellServices.h"

// Main thread. Runs the whole program; returns its exit code: 0 after a quit or
// when another instance runs, 1 when start-up failed.
int RunShell(ShellServices& services);
