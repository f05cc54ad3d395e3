# Windows: the media keys through SendInput (user32).
quavix_platform_sources(quavix_media MediaKeys.cpp)
target_link_libraries(quavix_media PUBLIC user32)
