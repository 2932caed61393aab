# What both Windows toolchains share: Debian's MinGW-w64 cross compilers
# (posix threads, which googletest needs) for the target named by
# PELTERIN_MINGW_TARGET, a static runtime, and Wine as the emulator that runs
# the built programs, in the Wine architecture PELTERIN_WINE_ARCH.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${PELTERIN_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELTERIN_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${PELTERIN_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PELTERIN_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages (tinyxml2) also from the folders named in CMAKE_PREFIX_PATH as
# they are, not only below the root.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Static runtime: the programs import nothing but system DLLs. No time stamp
# in the PE header, so that two builds of the same sources are identical.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,--no-insert-timestamp")

set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run --arch ${PELTERIN_WINE_ARCH})
