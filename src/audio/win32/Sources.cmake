# Windows backends: Core Audio (endpoint) from major version 6, the winmm mixer before; the
# factory picks one by the OS version.
quavix_platform_sources(quavix_audio
  EndpointOutputs.cpp EndpointVolumeCallback.cpp EndpointVolumeControl.cpp VolumeControlFactory.cpp
  WaveOutVolumeControl.cpp Win32AudioPlatform.cpp Win32EndpointDevice.cpp Win32MixerDevice.cpp)
target_link_libraries(quavix_audio PUBLIC ole32 winmm)
