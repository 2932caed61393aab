// Forced into every C++ file that cmake/clang-mingw-w64-i686.cmake compiles
// (see there why). libstdc++'s configuration header marks its std::string
// and std::wstring as instantiated in the prebuilt library; -1 withdraws
// that for basic_string only, so clang instantiates the string code it
// uses in the program's own objects. The configuration header is guarded
// against a second inclusion, so this value stays.
//
// The configuration header also switches MinGW's stdio.h to MinGW's own
// printf family. A file built with __USE_MINGW_ANSI_STDIO=0 asks for the C
// runtime's instead, and gets it only if stdio.h comes first.
#if defined(__USE_MINGW_ANSI_STDIO) && !__USE_MINGW_ANSI_STDIO
#include <stdio.h>
#endif
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1
