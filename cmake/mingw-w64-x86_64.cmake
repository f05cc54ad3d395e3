# Cross-build for 64-bit Windows with Debian's mingw-w64 (POSIX thread model, so std::thread and
# std::mutex work). Everything is linked statically: one self-contained .exe per target.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUAVIX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUAVIX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUAVIX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUAVIX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUAVIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under Wine; CTest puts this in front of every test command.
find_program(QUAVIX_WINE NAMES wine wine64)
if(QUAVIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUAVIX_WINE})
endif()
