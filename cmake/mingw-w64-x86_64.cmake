# Cross build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64).
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The POSIX thread model of the compiler: std::thread and std::mutex need it
# with GCC 12. The programs run here under Wine (the emulator CTest uses).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VARNIS_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VARNIS_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARNIS_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VARNIS_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VARNIS_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(VARNIS_WINE NAMES wine)
if(VARNIS_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VARNIS_WINE})
endif()
