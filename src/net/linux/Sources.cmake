quavix_platform_sources(quavix_net
  HostName.cpp IpText.cpp Networking.cpp OpenFileLimit.cpp Socket.cpp SystemClock.cpp Thread.cpp)
