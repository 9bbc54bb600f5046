# 64-bit Windows (Debian g++-mingw-w64-x86-64), tests under 64-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(AM_MINGW_TRIPLE x86_64-w64-mingw32)
set(AM_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
