#include <windows.h>

#include "sys/dynlib.h"
#include "wide.h"

const char SYS_DL_EXT[] = ".dll";

SysLib sys_dl_open(std::string_view path, std::string* error) {
  HMODULE h = LoadLibraryExW(sys_widen(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!h && error) *error = "LoadLibrary failed, error " + std::to_string(GetLastError());
  return reinterpret_cast<SysLib>(h);
}

void* sys_dl_sym(SysLib lib, const char* name) {
  return lib && name ? reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(lib), name)) : nullptr;
}

const void* sys_dl_image(SysLib lib) { return reinterpret_cast<const void*>(lib); }

void sys_dl_close(SysLib lib) {
  if (lib) FreeLibrary(reinterpret_cast<HMODULE>(lib));
}

bool sys_dl_is_loaded(std::string_view path) { return GetModuleHandleW(sys_widen(path).c_str()) != nullptr; }

unsigned long sys_last_error() { return GetLastError(); }
