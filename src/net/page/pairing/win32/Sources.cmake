# Windows: BCrypt for randomness and HMAC; the registry for the paired phones; the QR code
# library compiled from Debian's source package (cmake/QrCodeLibrary.cmake).
include(${PROJECT_SOURCE_DIR}/cmake/QrCodeLibrary.cmake)
target_sources(quavix_net PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/RegistryPairedDeviceStore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Secrets.cpp)
target_link_libraries(quavix_net PUBLIC quavix_qrcodegen bcrypt advapi32)
