#pragma once
// Picks the one backend of the run, installs it as the current volume control and initialises
// it. Each platform's folder (linux/, win32/) implements these.

#include <memory>

#include "audio/IErrorReporter.h"
#include "audio/IPollTimer.h"
#include "audio/IVolumeControl.h"

// Main thread, once, before any other thread of ours exists. True: a backend is initialised
// and is the current volume control. False: the user has been told why through `reporter`,
// nothing is installed. pollTimer and reporter outlive the backend.
bool CreateVolumeControl(IPollTimer& pollTimer, IErrorReporter& reporter);
IVolumeControl* CurrentVolumeControl();  // null before Create and after Destroy/failure
void DestroyCurrentVolumeControl();      // destroys it (Shutdown first is the caller's job)

// For the platforms' CreateVolumeControl: installs `control` when `result` (its Initialize) is
// Ok; otherwise tells the user why through `reporter` and destroys it without Shutdown.
bool InstallVolumeControl(std::unique_ptr<IVolumeControl> control, InitResult result,
                          IErrorReporter& reporter);
