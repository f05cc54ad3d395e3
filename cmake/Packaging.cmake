# The Debian package: `cpack -G DEB` in the build directory makes quavix-server_<version>_<arch>.deb
# from what `cmake --install` puts in place (under /usr), with stripped programs and the
# dependencies that dpkg-shlibdeps finds for them.
set(CPACK_PACKAGE_NAME quavix-server)
set(CPACK_PACKAGE_VENDOR Marrowick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "system volume and mute for network clients")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Packs the install rules' one component, "Unspecified" (they name none), rather than "ALL":
# then the package's install writes install_manifest_Unspecified.txt and leaves alone the
# install_manifest.txt of a `cmake --install` from the same build directory, which the README's
# uninstall reads.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};Unspecified;/")
set(CPACK_PACKAGE_CONTACT "${QUAVIX_MAINTAINER}")

set(CPACK_DEBIAN_PACKAGE_NAME quavix-server)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)  # matches res/debian/changelog.in
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUAVIX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The server announces itself, and quavix-remote list finds servers, through this daemon.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS avahi-daemon)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The long text under the summary; CPack indents it and marks the empty line as Debian wants.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quavix Server sits in the notification area and lets clients on the network
watch and change this computer's master output volume and mute switch over
TCP (port 17495 by default). quavix-remote is its command-line client.

There is no authentication: use it on networks you trust.")

include(CPack)
