#include <windows.h>

#include "sys/memory.h"

void* sys_exec_alloc(std::size_t size) {
  return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
}

void sys_flush_icache(void* p, std::size_t size) { FlushInstructionCache(GetCurrentProcess(), p, size); }
