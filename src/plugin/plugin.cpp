#include "plugin/plugin.h"

#include <mutex>

namespace {
std::mutex g_notifyMu;
std::vector<std::string> g_notified;  // guarded by g_notifyMu
}  // namespace

void hx_pl_init(int) {}

void hx_pl_shutdown() {}

void hx_pl_notify_login(const char* qq, int on) {
  std::lock_guard lock(g_notifyMu);
  g_notified.push_back((on ? "+" : "-") + std::string(qq ? qq : ""));
}

std::vector<std::string> hx_pl_notifications() {
  std::lock_guard lock(g_notifyMu);
  return g_notified;
}

const char* hx_pl_current_name() { return nullptr; }
