# Linux backends: the sound server (libpulse) when one answers, else ALSA's mixer.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QUAVIX_PULSE REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(QUAVIX_ALSA REQUIRED IMPORTED_TARGET alsa)
quavix_platform_sources(quavix_audio
  AlsaVolumeControl.cpp PulseVolumeControl.cpp VolumeControlFactory.cpp)
target_link_libraries(quavix_audio PUBLIC PkgConfig::QUAVIX_PULSE PkgConfig::QUAVIX_ALSA)
