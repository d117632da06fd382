// Dynamic libraries: plugin DLLs on Windows, shared objects elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// An opaque handle; 0 means none.
using SysLib = std::intptr_t;

// The file extension of libraries: ".dll" on Windows, ".so" elsewhere.
extern const char SYS_DL_EXT[];
// Loads a library (all symbols resolved now); 0 with `error` filled on failure.
SysLib sys_dl_open(std::string_view path, std::string* error);
// The platform's own export lookup; null when absent.
void* sys_dl_sym(SysLib lib, const char* name);
// The PE image the library is mapped as (Windows), or null where libraries
// are not PE images.
const void* sys_dl_image(SysLib lib);
void sys_dl_close(SysLib lib);
// Whether the process still has a library mapped from this path.
bool sys_dl_is_loaded(std::string_view path);
// The platform's code for the last failure of the calling thread.
unsigned long sys_last_error();
