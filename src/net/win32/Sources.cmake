target_sources(quavix_net PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SystemClock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IpText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Networking.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Socket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Thread.cpp)
target_link_libraries(quavix_net PUBLIC ws2_32 mswsock winmm)
