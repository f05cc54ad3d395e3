# Windows adapters: Core Audio for the endpoint backend, the winmm mixer for the mixer backend.
target_sources(quavix_audio PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/EndpointVolumeCallback.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Win32AudioPlatform.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Win32EndpointDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Win32MixerDevice.cpp)
target_link_libraries(quavix_audio PUBLIC ole32 winmm)
