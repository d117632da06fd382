// Executable memory for generated code (the API trampolines).
#pragma once

#include <cstddef>

// A block that is readable, writable and executable, never freed; null when
// the system refuses.
void* sys_exec_alloc(std::size_t size);
// Makes freshly written code in [p, p + size) visible to instruction fetch.
void sys_flush_icache(void* p, std::size_t size);

// How many bytes from `p` on are readable (up to `cap`): to the end of its
// memory region when that region is committed and readable; 0 otherwise.
std::size_t sys_readable_extent(const void* p, std::size_t cap);
