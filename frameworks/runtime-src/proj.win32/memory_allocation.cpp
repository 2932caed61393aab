// The launcher's global operator new and delete. Nothing in it can go on
// without the memory it asks for, so running out ends the process at once,
// as an uncaught std::bad_alloc would, without linking the C++ runtime's
// throwing allocator and the exception machinery that comes with it.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size) {
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  std::abort();
}
void* operator new[](std::size_t size) { return ::operator new(size); }

void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
