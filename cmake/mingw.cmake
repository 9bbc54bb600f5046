# Cross build for Windows with mingw-w64, for the architecture the thin
# toolchain file in front of this one names (AM_MINGW_TRIPLE, AM_WINE_ARCH).
# The posix thread-model compilers are required: the win32-model g++ has no
# std::thread / std::mutex, and GoogleTest does not build without them.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${AM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${AM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${AM_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${AM_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump for PE images")

set(CMAKE_FIND_ROOT_PATH /usr/${AM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables run under Wine through this wrapper. It is told the build
# tree so it can use the Wine prefix, the architecture and the temporary
# folder kept there, which makes a plain `ctest` in the build tree need
# nothing else.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh;--build-dir;${CMAKE_BINARY_DIR}")
