# Avahi's client library, talking to avahi-daemon.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QUAVIX_AVAHI REQUIRED IMPORTED_TARGET avahi-client)
quavix_platform_sources(quavix_discovery AvahiServiceAnnouncer.cpp)
target_link_libraries(quavix_discovery PUBLIC PkgConfig::QUAVIX_AVAHI)
