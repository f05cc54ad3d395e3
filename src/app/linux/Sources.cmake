# Linux: Qt 6 for the loop, tray, menu and dialogs; GLib's key file for the settings file;
# files for the guard and its request socket.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
find_package(PkgConfig REQUIRED)
pkg_check_modules(QUAVIX_GLIB REQUIRED IMPORTED_TARGET glib-2.0)

add_library(quavix_shell_linux STATIC)
quavix_platform_sources(quavix_shell_linux
  FlockInstanceGuard.cpp IniSettingStore.cpp LocalAddresses.cpp QtMainLoop.cpp RequestSocket.cpp
  QtShellWidgets.cpp RunningServer.cpp XdgStartAtLogin.cpp)
target_link_libraries(quavix_shell_linux PUBLIC quavix_shell Qt6::Widgets PkgConfig::QUAVIX_GLIB)
set(QUAVIX_ICON_SIZES 16 32 48 64 256)
set(QUAVIX_ICON_FILES)
foreach(size ${QUAVIX_ICON_SIZES})
  list(APPEND QUAVIX_ICON_FILES ${PROJECT_SOURCE_DIR}/res/icons/quavix-${size}.png)
endforeach()
qt_add_resources(quavix_shell_linux quavix_icons PREFIX /icons
  BASE ${PROJECT_SOURCE_DIR}/res/icons FILES ${QUAVIX_ICON_FILES})
# The autostart entry is the installed desktop entry with this program's path.
qt_add_resources(quavix_shell_linux quavix_desktop_entry PREFIX /
  BASE ${PROJECT_SOURCE_DIR}/res/linux FILES ${PROJECT_SOURCE_DIR}/res/linux/quavix-server.desktop)

add_executable(quavix-server ${CMAKE_CURRENT_LIST_DIR}/main.cpp
               ${CMAKE_CURRENT_LIST_DIR}/../QuavixMain.cpp)
target_link_libraries(quavix-server PRIVATE quavix_shell_linux quavix_net quavix_audio quavix_media xcb)
install(TARGETS quavix-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
include(${PROJECT_SOURCE_DIR}/res/linux/Install.cmake)
