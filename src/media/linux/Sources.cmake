# Linux: MPRIS over the session bus with Qt DBus, on the main thread's Qt loop.
find_package(Qt6 REQUIRED COMPONENTS DBus)
quavix_platform_sources(quavix_media
  MediaControlFactory.cpp MprisMediaControl.cpp MprisMediaControl.h)
set_target_properties(quavix_media PROPERTIES AUTOMOC ON)
target_link_libraries(quavix_media PUBLIC Qt6::DBus)
