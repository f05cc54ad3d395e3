#pragma once
// Start-up, the message loop and shut-down, over seams only.

#include "app/ShellServices.h"

// Main thread. Runs the whole program; returns its exit code (0 on every path).
int RunShell(ShellServices& services);
