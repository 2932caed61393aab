// Forced into every C++ file that cmake/clang-mingw-w64-i686.cmake compiles
// (see there why). libstdc++'s configuration header marks its std::string
// and std::wstring as instantiated in the prebuilt library; -1 withdraws
// that for basic_string only, so clang instantiates the string code it
// uses in the program's own objects. The configuration header is guarded
// against a second inclusion, so this value stays.
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1
