target_sources(quavix_net PRIVATE ${CMAKE_CURRENT_LIST_DIR}/SystemClock.cpp)
