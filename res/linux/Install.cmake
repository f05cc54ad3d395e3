# Installs the icon, the desktop entry and the systemd user unit beside quavix-server.
foreach(size 16 32 48 64 256)
  install(FILES ${PROJECT_SOURCE_DIR}/res/icons/quavix-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME quavix-server.png)
endforeach()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/quavix-server.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The unit names the installed program, so it is written at install time, when the prefix
# (also one given with --prefix) is known. systemd finds user units of packages in
# <prefix>/lib/systemd/user.
install(CODE "
  set(unit_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/user\")
  file(READ \"${CMAKE_CURRENT_LIST_DIR}/quavix-server.service.in\" unit)
  string(REPLACE \"@QUAVIX_SERVER_PATH@\"
         \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quavix-server\" unit \"\${unit}\")
  message(STATUS \"Installing: \${unit_dir}/quavix-server.service\")
  file(MAKE_DIRECTORY \"\${unit_dir}\")
  file(WRITE \"\${unit_dir}/quavix-server.service\" \"\${unit}\")
")
