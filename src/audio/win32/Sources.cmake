# Windows backends: Core Audio (endpoint) from major version 6, the winmm mixer before; the
# factory picks one by the OS version.
target_sources(quavix_audio PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/EndpointVolumeCallback.cpp
  ${CMAKE_CURRENT_LIST_DIR}/EndpointVolumeControl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VolumeControlFactory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WaveOutVolumeControl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Win32AudioPlatform.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Win32EndpointDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Win32MixerDevice.cpp)
target_link_libraries(quavix_audio PUBLIC ole32 winmm)
