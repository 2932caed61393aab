# Cross-compiles for 32-bit Windows with Debian's clang and lld instead of
# GCC, against the same MinGW-w64 headers, C runtime and GCC runtime libraries
# as cmake/mingw-w64-i686.cmake; the rest is the shared MinGW-w64 set-up.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(PELTERIN_MINGW_TARGET i686-w64-mingw32)
set(PELTERIN_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${PELTERIN_MINGW_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${PELTERIN_MINGW_TARGET})

# Clang finds the MinGW-w64 headers and import libraries below the sysroot
# (without one it would also search the build machine's own /usr/include),
# but not Debian's GCC runtime for the target: it looks for
# /usr/lib/gcc/i686-w64-mingw32/<version>, and Debian names those folders
# after the version and the thread model (12-posix, 12-win32), which clang
# does not read as a version. So the C++ headers, libstdc++, libgcc and the
# crtbegin/crtend objects are named here, from the folder of the posix GCC
# that cmake/mingw-w64-i686.cmake builds with; -B finds the objects, -L the
# libraries. Its libgcc needs winpthreads, hence -pthread.
set(CMAKE_SYSROOT /usr/${PELTERIN_MINGW_TARGET})
execute_process(COMMAND ${PELTERIN_MINGW_TARGET}-gcc-posix -print-libgcc-file-name
                OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
if(failed OR NOT EXISTS "${libgcc}")
  message(FATAL_ERROR "${PELTERIN_MINGW_TARGET}-gcc-posix is missing: run scripts/install-deps")
endif()
get_filename_component(PELTERIN_GCC_RUNTIME "${libgcc}" DIRECTORY)
set(cxx_headers ${PELTERIN_GCC_RUNTIME}/include/c++)

# Clang and GCC pass an empty class by value (an iterator tag) differently on
# 32-bit x86, so a thiscall from one's code into the other's copy of such a
# function leaves the stack 4 bytes off (docs/building.md, "A second compiler"). The
# header forced in here makes clang instantiate all of std::string and
# std::wstring itself, so that none of libstdc++'s prebuilt string code, GCC's,
# is linked and the two never meet.
string(JOIN " " CMAKE_CXX_FLAGS_INIT
  "-stdlib++-isystem ${cxx_headers}"
  "-stdlib++-isystem ${cxx_headers}/${PELTERIN_MINGW_TARGET}"
  "-stdlib++-isystem ${cxx_headers}/backward"
  "-include ${CMAKE_CURRENT_LIST_DIR}/clang-mingw-w64-own-strings.h")
set(runtime_link_flags "-fuse-ld=lld -B${PELTERIN_GCC_RUNTIME}/ -L${PELTERIN_GCC_RUNTIME} -pthread")
string(PREPEND CMAKE_EXE_LINKER_FLAGS_INIT "${runtime_link_flags} ")
string(PREPEND CMAKE_SHARED_LINKER_FLAGS_INIT "${runtime_link_flags} ")
