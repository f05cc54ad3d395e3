// The sound server's backend when one answers for this user, else ALSA's mixer.
#include "audio/VolumeControlFactory.h"

#include <memory>

#include "audio/linux/AlsaVolumeControl.h"
#include "audio/linux/PulseVolumeControl.h"
#include "base/Log.h"

bool CreateVolumeControl(IPollTimer& pollTimer, IErrorReporter& reporter) {
  std::unique_ptr<IVolumeControl> control = std::make_unique<PulseVolumeControl>();
  InitResult result = control->Initialize();
  // No sound server answered: the bare mixer is the machine's own.
  if (result == InitResult::NoInterface) {
    LogNote("no sound server; using the ALSA mixer");
    control = std::make_unique<AlsaVolumeControl>(pollTimer);
    result = control->Initialize();
  }
  return InstallVolumeControl(std::move(control), result, reporter);
}
