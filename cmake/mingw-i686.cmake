# 32-bit Windows (Debian g++-mingw-w64-i686), tests under 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(AM_MINGW_TRIPLE i686-w64-mingw32)
set(AM_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
