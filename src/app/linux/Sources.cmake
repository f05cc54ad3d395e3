# Linux: Qt 6 for the loop, tray, menu and dialogs; files for the setting and the guard.
find_package(Qt6 REQUIRED COMPONENTS Widgets)

add_library(quavix_shell_linux STATIC
  ${CMAKE_CURRENT_LIST_DIR}/FileSettingStore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FlockInstanceGuard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LocalAddresses.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtMainLoop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtShellWidgets.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RunningServer.cpp)
target_link_libraries(quavix_shell_linux PUBLIC quavix_shell Qt6::Widgets)
set(QUAVIX_ICON_SIZES 16 32 48 64 256)
set(QUAVIX_ICON_FILES)
foreach(size ${QUAVIX_ICON_SIZES})
  list(APPEND QUAVIX_ICON_FILES ${PROJECT_SOURCE_DIR}/res/icons/quavix-${size}.png)
endforeach()
qt_add_resources(quavix_shell_linux quavix_icons PREFIX /icons
  BASE ${PROJECT_SOURCE_DIR}/res/icons FILES ${QUAVIX_ICON_FILES})

add_executable(quavix-server ${CMAKE_CURRENT_LIST_DIR}/main.cpp
               ${CMAKE_CURRENT_LIST_DIR}/../QuavixMain.cpp)
target_link_libraries(quavix-server PRIVATE quavix_shell_linux quavix_net quavix_audio xcb)
install(TARGETS quavix-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
include(${PROJECT_SOURCE_DIR}/res/linux/Install.cmake)
