// Sets an environment variable for a scope; the old value comes back. The
// host's record of its variables is read again both times.
#pragma once

#include <optional>
#include <string>

#include "foundation/env.h"
#include "sys/process.h"

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name), old_(sys_getenv(name)) {
    sys_setenv(name_, value);
    hx_env_reload();
  }
  ~ScopedEnv() {
    sys_setenv(name_, old_ ? old_->c_str() : nullptr);
    hx_env_reload();
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};
