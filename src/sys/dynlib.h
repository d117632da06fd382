// Dynamic libraries: plugin DLLs on Windows, shared objects elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A platform failure, taken at the call that failed.
struct SysError {
  unsigned long code = 0;  // the platform's error code
  std::string text;        // the platform's words for it, when it has any
};

// A library handle as the platform gives it; 0 means none.
using SysLibHandle = std::intptr_t;

// The file extension of libraries: ".dll" on Windows, ".so" elsewhere.
extern const char SYS_DL_EXT[];
// The error code reported for an export a library does not have.
extern const unsigned long SYS_DL_NO_EXPORT;

void sys_dl_close(SysLibHandle lib);

// Owns one reference to a loaded library and closes it when dropped.
class SysLib {
 public:
  SysLib() = default;
  explicit SysLib(SysLibHandle handle) : handle_(handle) {}
  SysLib(SysLib&& other) noexcept : handle_(other.release()) {}
  SysLib& operator=(SysLib&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  SysLib(const SysLib&) = delete;
  SysLib& operator=(const SysLib&) = delete;
  ~SysLib() { reset(); }

  SysLibHandle get() const { return handle_; }
  explicit operator bool() const { return handle_ != 0; }
  // Hands the reference to the caller, who closes it with sys_dl_close.
  SysLibHandle release() {
    const SysLibHandle handle = handle_;
    handle_ = 0;
    return handle;
  }
  void reset(SysLibHandle handle = 0) {
    if (handle_) sys_dl_close(handle_);
    handle_ = handle;
  }

 private:
  SysLibHandle handle_ = 0;
};

// Loads a library (all symbols resolved now); empty with `error` filled on
// failure.
SysLib sys_dl_open(std::string_view path, SysError* error);
// The platform's own export lookup; null when absent.
void* sys_dl_sym(SysLibHandle lib, const char* name);
// The PE image the library is mapped as (Windows), or null where libraries
// are not PE images.
const void* sys_dl_image(SysLibHandle lib);
// Whether the process still has a library mapped from this path.
bool sys_dl_is_loaded(std::string_view path);
