# Installs the icon, the desktop entry and the systemd user unit beside quavix-server.
foreach(size 16 32 48 64 256)
  install(FILES ${PROJECT_SOURCE_DIR}/res/icons/quavix-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME quavix-server.png)
endforeach()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/quavix-server.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
set(QUAVIX_SERVER_PATH ${CMAKE_INSTALL_FULL_BINDIR}/quavix-server)
configure_file(${CMAKE_CURRENT_LIST_DIR}/quavix-server.service.in
               ${CMAKE_BINARY_DIR}/quavix-server.service @ONLY)
# systemd looks for user units of packages in lib/systemd/user under the prefix.
install(FILES ${CMAKE_BINARY_DIR}/quavix-server.service
        DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/user)
