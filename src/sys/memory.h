// Executable memory for generated code (the API trampolines).
#pragma once

#include <cstddef>

// A block that is readable, writable and executable, never freed; null when
// the system refuses.
void* sys_exec_alloc(std::size_t size);
// Makes freshly written code in [p, p + size) visible to instruction fetch.
void sys_flush_icache(void* p, std::size_t size);
