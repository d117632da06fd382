// The hooks through which the link layer reaches the layers above it.
#include "link/onebot_hooks.h"

#include <atomic>

#include "link/onebot_internal.h"

namespace {

const HxObHooks kNone{};
std::atomic<const HxObHooks*> g_hooks{&kNone};

}  // namespace

void hx_ob_set_hooks(const HxObHooks* hooks) { g_hooks.store(hooks ? hooks : &kNone, std::memory_order_release); }

const HxObHooks& hx_ob_hooks() { return *g_hooks.load(std::memory_order_acquire); }

void ob_tell_login(const std::string& qq, int on) {
  if (auto* f = hx_ob_hooks().login) f(qq.c_str(), on);
}

void ob_tell_accounts_changed() {
  if (auto* f = hx_ob_hooks().accounts_changed) f();
}

const char* ob_caller_name() {
  const char* name = nullptr;
  if (auto* f = hx_ob_hooks().caller) name = f();
  return name ? name : "框架自身";
}
