# Cross-compiles for 64-bit (x86-64) Windows and runs the results under
# 64-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(PELTERIN_MINGW_TARGET x86_64-w64-mingw32)
set(PELTERIN_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
