# The Windows installer, QuavixServer-<version>-setup.exe beside the program: built by the
# "installer" target with NSIS's makensis (Debian package nsis) from res/windows/installer.nsi.
# The program goes in stripped; the debug information stays in the build.
find_program(QUAVIX_MAKENSIS makensis)
if(NOT TARGET QuavixServer)
  return()
endif()
if(NOT QUAVIX_MAKENSIS)
  add_custom_target(installer
    COMMAND ${CMAKE_COMMAND} -E echo "The installer needs makensis (apt-get install nsis)"
    COMMAND ${CMAKE_COMMAND} -E false)
  return()
endif()
set(quavix_setup ${CMAKE_BINARY_DIR}/QuavixServer-${PROJECT_VERSION}-setup.exe)
set(quavix_shipped ${CMAKE_BINARY_DIR}/installer/QuavixServer.exe)
add_custom_command(OUTPUT ${quavix_setup}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/installer
  COMMAND ${CMAKE_STRIP} -o ${quavix_shipped} $<TARGET_FILE:QuavixServer>
  COMMAND ${QUAVIX_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DEXE=${quavix_shipped}
          -DICON=${PROJECT_SOURCE_DIR}/res/QuavixServer.ico -DOUTFILE=${quavix_setup}
          ${PROJECT_SOURCE_DIR}/res/windows/installer.nsi
  DEPENDS QuavixServer ${PROJECT_SOURCE_DIR}/res/windows/installer.nsi
          ${PROJECT_SOURCE_DIR}/res/QuavixServer.ico
  VERBATIM)
add_custom_target(installer DEPENDS ${quavix_setup})
