// Sets an environment variable for a scope; the old value comes back.
#pragma once

#include <optional>
#include <string>

#include "sys/process.h"

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name), old_(sys_getenv(name)) { sys_setenv(name_, value); }
  ~ScopedEnv() { sys_setenv(name_, old_ ? old_->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};
