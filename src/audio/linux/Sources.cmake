# Linux backends: the sound server (libpulse) when one answers, else ALSA's mixer.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QUAVIX_PULSE REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(QUAVIX_ALSA REQUIRED IMPORTED_TARGET alsa)
target_sources(quavix_audio PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/AlsaVolumeControl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PulseVolumeControl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VolumeControlFactory.cpp)
target_link_libraries(quavix_audio PUBLIC PkgConfig::QUAVIX_PULSE PkgConfig::QUAVIX_ALSA)
