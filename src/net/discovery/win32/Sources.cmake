# dnsapi.dll, looked up at run time.
quavix_platform_sources(quavix_discovery DnsSdServiceAnnouncer.cpp)
