#include <windows.h>

#include "sys/dynlib.h"
#include "wide.h"

const char SYS_DL_EXT[] = ".dll";
const unsigned long SYS_DL_NO_EXPORT = ERROR_PROC_NOT_FOUND;

SysLib sys_dl_open(std::string_view path, SysError* error) {
  HMODULE h = LoadLibraryExW(sys_widen(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!h && error) {
    error->code = GetLastError();
    error->text = "LoadLibrary failed, error " + std::to_string(error->code);
  }
  return SysLib(reinterpret_cast<SysLibHandle>(h));
}

void* sys_dl_sym(SysLibHandle lib, const char* name) {
  return lib && name ? reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(lib), name)) : nullptr;
}

const void* sys_dl_image(SysLibHandle lib) { return reinterpret_cast<const void*>(lib); }

void sys_dl_close(SysLibHandle lib) {
  if (lib) FreeLibrary(reinterpret_cast<HMODULE>(lib));
}

bool sys_dl_is_loaded(std::string_view path) { return GetModuleHandleW(sys_widen(path).c_str()) != nullptr; }
