# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads: std::thread and
# std::mutex work). Programs and tests run under Wine through scripts/wine.sh.
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARVIX_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARVIX_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVIX_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVIX_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVIX_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest and the test discovery run the programs through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine.sh)

# -O2 as the Linux build has it: GCC 12 at -O3 inlines std::copy and std::string deep enough to
# raise false array-bounds warnings, which -Werror makes fatal.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of a release build")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of a release build")
