// Built without exceptions, libstdc++'s inline string and allocator code
// still reports impossible requests (a size beyond max_size(), a null
// character pointer, a position past the end) by calling these functions.
// The library's own definitions throw, and would link the C++ exception
// runtime, the unwinder and the thread library into the launcher. These end
// the process instead, as the uncaught exception would. Only the ones that
// the launcher's code calls are here: if its code comes to call another,
// the library's throwing one is linked, and the binary check's limit on
// unwind tables fails.
#include <cstdlib>  // also tells which C++ library this is

#if defined(__GLIBCXX__)
namespace std {
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
}  // namespace std

// Called from a vtable slot of a pure virtual function (tinyxml2 has some).
// GCC leaves the reference weak; clang makes it a hard one, and the
// library's definition would bring its terminate handler, demangler,
// unwinder and thread library. Such a call is a bug that ends the process
// either way.
extern "C" void __cxa_pure_virtual() { std::abort(); }
#endif
