# Windows: USER32 window, timers, menu, dialog and boxes; SHELL32 tray icon; the registry;
# IPHLPAPI for the addresses we listen on.
add_library(quavix_shell_win32 STATIC)
quavix_platform_sources(quavix_shell_win32
  LocalAddresses.cpp RegistrySettingStore.cpp RunningServer.cpp RunValueStartAtLogin.cpp
  Win32MainLoop.cpp Win32SettingsDialog.cpp Win32ShellServices.cpp)
target_link_libraries(quavix_shell_win32 PUBLIC quavix_shell user32 shell32 advapi32 iphlpapi ws2_32)

add_executable(QuavixServer WIN32
  ${CMAKE_CURRENT_LIST_DIR}/WinMain.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../QuavixMain.cpp
  ${PROJECT_SOURCE_DIR}/res/QuavixServer.rc)
# wWinMain is the entry point.
target_link_options(QuavixServer PRIVATE -municode)
set_target_properties(QuavixServer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_libraries(QuavixServer PRIVATE quavix_shell_win32 quavix_net quavix_audio quavix_media)
