quavix_platform_sources(quavix_net
  HostName.cpp IpText.cpp Networking.cpp Socket.cpp SystemClock.cpp Thread.cpp)
target_link_libraries(quavix_net PUBLIC ws2_32 mswsock winmm)
