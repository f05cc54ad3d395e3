// The sound server's backend when one answers for this user, else ALSA's mixer.
#include "audio/VolumeControlFactory.h"

#include <alsa/asoundlib.h>

#include <cstring>
#include <memory>

#include "audio/linux/AlsaVolumeControl.h"
#include "audio/linux/PulseVolumeControl.h"
#include "base/Log.h"

namespace {

constexpr const char* kAlsaDevice = "default";

// Whether ALSA's configuration defines `kind` device `name` (a "ctl" or a "pcm") as the sound
// server's plugin. Read from the configuration, never by opening the device: the plugin would
// connect to that server and may wait on it without a bound.
bool IsSoundServerPlugin(const char* kind, const char* name) {
  if (snd_config_update() < 0) return false;
  snd_config_t* definition = nullptr;
  if (snd_config_search_definition(snd_config, kind, name, &definition) < 0) return false;
  snd_config_t* typeNode = nullptr;
  const char* type = nullptr;
  const bool plugin = snd_config_search(definition, "type", &typeNode) >= 0 &&
                      snd_config_get_string(typeNode, &type) >= 0 &&
                      std::strcmp(type, "pulse") == 0;
  snd_config_delete(definition);
  return plugin;
}

}  // namespace

bool CreateVolumeControl(IPollTimer& pollTimer, IErrorReporter& reporter) {
  std::unique_ptr<IVolumeControl> control = std::make_unique<PulseVolumeControl>();
  InitResult result = control->Initialize();
  // No sound server answered: the bare mixer is the machine's own, unless ALSA's device is
  // the sound server's plugin, which would only reach the server that just failed us.
  if (result == InitResult::NoInterface) {
    if (IsSoundServerPlugin("ctl", kAlsaDevice) || IsSoundServerPlugin("pcm", kAlsaDevice)) {
      LogError(std::string("ALSA's \"") + kAlsaDevice +
               "\" device goes through the sound server, which did not answer; not used");
      control.reset();
      result = InitResult::NoDevice;
    } else {
      control = std::make_unique<AlsaVolumeControl>(pollTimer, kAlsaDevice);
      result = control->Initialize();
    }
  }
  return InstallVolumeControl(std::move(control), result, reporter);
}
