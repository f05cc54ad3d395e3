# The QR code library for the Windows build, compiled from Debian's source package (the Linux
# build links Debian's libqrcodegencpp-dev). scripts/install-deps.sh windows unpacks it.
set(QUAVIX_QRCODEGEN_SOURCE /usr/local/src/qr-code-generator CACHE PATH
    "Debian's qr-code-generator source, unpacked")
if(NOT EXISTS ${QUAVIX_QRCODEGEN_SOURCE}/cpp/qrcodegen.cpp)
  message(FATAL_ERROR "The QR code library's source is missing from ${QUAVIX_QRCODEGEN_SOURCE}: "
                      "run scripts/install-deps.sh windows")
endif()
if(NOT TARGET quavix_qrcodegen)
  add_library(quavix_qrcodegen STATIC ${QUAVIX_QRCODEGEN_SOURCE}/cpp/qrcodegen.cpp)
  target_include_directories(quavix_qrcodegen SYSTEM PUBLIC ${QUAVIX_QRCODEGEN_SOURCE}/cpp)
endif()
