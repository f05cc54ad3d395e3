# Linux adapters: the endpoint device on the sound server (libpulse), the mixer device on ALSA.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QUAVIX_PULSE REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(QUAVIX_ALSA REQUIRED IMPORTED_TARGET alsa)
target_sources(quavix_audio PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/AlsaMixerDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LinuxAudioPlatform.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PulseConnection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PulseEndpointDevice.cpp)
target_link_libraries(quavix_audio PUBLIC PkgConfig::QUAVIX_PULSE PkgConfig::QUAVIX_ALSA)
