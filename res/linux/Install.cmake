# Installs, beside quavix-server: the icon, the desktop entry, the systemd user unit, the manual
# pages and the copyright and changelog files that a Debian package carries.
foreach(size 16 32 48 64 256)
  install(FILES ${PROJECT_SOURCE_DIR}/res/icons/quavix-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME quavix-server.png)
endforeach()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/quavix-server.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# Manual pages and the changelog go in compressed as Debian wants them: gzip -9n (no name, no
# time stamp, so that equal sources give equal files). Made when configuring, so that installing
# needs no build target; a changed page reconfigures.
set(quavix_gz_dir ${CMAKE_CURRENT_BINARY_DIR}/gz)
file(MAKE_DIRECTORY ${quavix_gz_dir})
function(quavix_gzip source output)
  execute_process(COMMAND gzip -9n -c ${source} OUTPUT_FILE ${output}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip failed on ${source}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()
foreach(page quavix-server quavix-remote)
  quavix_gzip(${PROJECT_SOURCE_DIR}/res/man/${page}.1 ${quavix_gz_dir}/${page}.1.gz)
  install(FILES ${quavix_gz_dir}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

configure_file(${PROJECT_SOURCE_DIR}/res/debian/changelog.in ${quavix_gz_dir}/changelog.Debian
               @ONLY)
quavix_gzip(${quavix_gz_dir}/changelog.Debian ${quavix_gz_dir}/changelog.Debian.gz)
install(FILES ${PROJECT_SOURCE_DIR}/res/debian/copyright ${quavix_gz_dir}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quavix-server)

# The unit names the installed program, so it is written at install time, when the prefix (also
# one given with --prefix, or the package's /usr) is known. systemd finds user units of packages
# in <prefix>/lib/systemd/user. Listed in install_manifest.txt like every other file, so that
# removing the listed files removes it too.
install(CODE "
  set(unit \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/user/quavix-server.service\")
  file(READ \"${CMAKE_CURRENT_LIST_DIR}/quavix-server.service.in\" text)
  string(REPLACE \"@QUAVIX_SERVER_PATH@\"
         \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quavix-server\" text \"\${text}\")
  message(STATUS \"Installing: \$ENV{DESTDIR}\${unit}\")
  file(WRITE \"\$ENV{DESTDIR}\${unit}\" \"\${text}\")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${unit}\")
")
