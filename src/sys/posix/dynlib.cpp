#include <dlfcn.h>

#include <cerrno>

#include "sys/dynlib.h"

const char SYS_DL_EXT[] = ".so";

SysLib sys_dl_open(std::string_view path, std::string* error) {
  void* h = ::dlopen(std::string(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h && error) {
    const char* why = ::dlerror();
    *error = why ? why : "dlopen failed";
  }
  return reinterpret_cast<SysLib>(h);
}

void* sys_dl_sym(SysLib lib, const char* name) {
  return lib && name ? ::dlsym(reinterpret_cast<void*>(lib), name) : nullptr;
}

const void* sys_dl_image(SysLib) { return nullptr; }

void sys_dl_close(SysLib lib) {
  if (lib) ::dlclose(reinterpret_cast<void*>(lib));
}

bool sys_dl_is_loaded(std::string_view path) {
  void* h = ::dlopen(std::string(path).c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!h) return false;
  ::dlclose(h);  // NOLOAD still took a reference
  return true;
}

unsigned long sys_last_error() { return static_cast<unsigned long>(errno); }
