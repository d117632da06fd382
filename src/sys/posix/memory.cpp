#include <sys/mman.h>

#include "sys/memory.h"

void* sys_exec_alloc(std::size_t size) {
  void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void sys_flush_icache(void* p, std::size_t size) {
  char* c = static_cast<char*>(p);
  __builtin___clear_cache(c, c + size);
}
