#include <sys/mman.h>

#include <cstdint>
#include <cstdio>

#include "sys/memory.h"

void* sys_exec_alloc(std::size_t size) {
  void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void sys_flush_icache(void* p, std::size_t size) {
  char* c = static_cast<char*>(p);
  __builtin___clear_cache(c, c + size);
}

std::size_t sys_readable_extent(const void* p, std::size_t cap) {
  // The kernel's own list of mappings (qemu shows the guest's).
  const auto addr = reinterpret_cast<std::uintptr_t>(p);
  FILE* f = std::fopen("/proc/self/maps", "r");
  if (!f) return 0;
  std::size_t extent = 0;
  char line[512];
  while (std::fgets(line, sizeof line, f)) {
    unsigned long long lo = 0, hi = 0;
    char perms[8] = {};
    if (std::sscanf(line, "%llx-%llx %7s", &lo, &hi, perms) != 3) continue;
    if (addr < lo || addr >= hi) continue;
    if (perms[0] == 'r') extent = static_cast<std::size_t>(hi - addr);
    break;
  }
  std::fclose(f);
  return extent < cap ? extent : cap;
}
