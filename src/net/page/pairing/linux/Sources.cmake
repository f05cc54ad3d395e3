# Linux: getrandom and OpenSSL's libcrypto; GLib's key file for the paired phones; the QR code
# library from Debian's libqrcodegencpp-dev.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(PkgConfig REQUIRED)
pkg_check_modules(QUAVIX_GLIB REQUIRED IMPORTED_TARGET glib-2.0)
pkg_check_modules(QUAVIX_QRCODEGEN REQUIRED IMPORTED_TARGET qrcodegencpp)
target_sources(quavix_net PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/FilePairedDeviceStore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Secrets.cpp)
target_link_libraries(quavix_net PUBLIC OpenSSL::Crypto PkgConfig::QUAVIX_GLIB
                      PkgConfig::QUAVIX_QRCODEGEN)
