#include <windows.h>

#include <cstdint>

#include "sys/memory.h"

void* sys_exec_alloc(std::size_t size) {
  return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
}

void sys_flush_icache(void* p, std::size_t size) { FlushInstructionCache(GetCurrentProcess(), p, size); }

std::size_t sys_readable_extent(const void* p, std::size_t cap) {
  MEMORY_BASIC_INFORMATION mbi;
  if (!p || VirtualQuery(p, &mbi, sizeof mbi) != sizeof mbi) return 0;
  constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                              PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  if (mbi.State != MEM_COMMIT || (mbi.Protect & PAGE_GUARD) || !(mbi.Protect & kReadable)) return 0;
  const auto end = reinterpret_cast<std::uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
  const std::size_t extent = end - reinterpret_cast<std::uintptr_t>(p);
  return extent < cap ? extent : cap;
}
