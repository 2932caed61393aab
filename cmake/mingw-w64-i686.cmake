# Cross-compiles for 32-bit Windows and runs the results under 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(PELTERIN_MINGW_TARGET i686-w64-mingw32)
set(PELTERIN_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
