#include <dlfcn.h>

#include <cerrno>

#include "sys/dynlib.h"

const char SYS_DL_EXT[] = ".so";
const unsigned long SYS_DL_NO_EXPORT = ENOENT;

SysLib sys_dl_open(std::string_view path, SysError* error) {
  errno = 0;
  void* h = ::dlopen(std::string(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h && error) {
    const int code = errno;
    const char* why = ::dlerror();
    error->code = code ? static_cast<unsigned long>(code) : ENOENT;
    error->text = why ? why : "dlopen failed";
  }
  return SysLib(reinterpret_cast<SysLibHandle>(h));
}

void* sys_dl_sym(SysLibHandle lib, const char* name) {
  return lib && name ? ::dlsym(reinterpret_cast<void*>(lib), name) : nullptr;
}

const void* sys_dl_image(SysLibHandle) { return nullptr; }

void sys_dl_close(SysLibHandle lib) {
  if (lib) ::dlclose(reinterpret_cast<void*>(lib));
}

bool sys_dl_is_loaded(std::string_view path) {
  void* h = ::dlopen(std::string(path).c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!h) return false;
  ::dlclose(h);  // NOLOAD still took a reference
  return true;
}
