// Pelterin is built without exceptions: nothing in it can recover from a
// failed allocation, and an exception escaping wWinMain ends the process
// anyway. GCC's C++ runtime would still link its whole throwing machinery
// for the few places in std::string that can throw, and a verbose
// terminate handler with a symbol demangler. These replacements end the
// process at the same points, directly, and keep all of that out of the
// launcher, about a third of its size.
#include <cstdlib>  // also tells which C++ library this is

#if defined(__GLIBCXX__)

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
}  // namespace std

#endif
