// The console stand-in for the main window: the log goes to the terminal, the
// main loop is a one-second tick, and SIGINT/SIGTERM (Ctrl-C, Ctrl-Break on
// Windows) end it so that the normal shutdown runs.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "foundation/log.h"
#include "foundation/util.h"
#include "link/onebot.h"
#include "sys/clock.h"
#include "sys/console.h"
#include "sys/instance.h"
#include "ui/ui.h"

namespace {

std::mutex g_loopMu;
std::condition_variable g_loopCv;
bool g_quit = false;                          // guarded by g_loopMu
std::atomic<std::uint64_t> g_firstStopAt{0};  // ticks of the first stop request, 0 before
constexpr std::uint64_t kForceAfterMs = 1000;

void print(const hx_log_entry& e) {
  std::string line;
  sb_printf(line, "[%s] [%s] [%s] %s\n", hx_fmt_time(e.time).c_str(), e.source, e.tag, e.text);
  sys_console_write(line);
}

int print_sink(const hx_log_entry* e, void*) {
  print(*e);
  return 0;
}

void on_stop_request() {
  std::uint64_t now = sys_ticks_ms() | 1;
  std::uint64_t first = 0;
  if (g_firstStopAt.compare_exchange_strong(first, now)) {
    hx_log(HX_LOG_SYSTEM, "框架", "系统(↓)", "收到退出请求，正在关闭…");
    hx_ui_quit();
    return;
  }
  // Tools often signal a process and its group at once: only a request that
  // comes well after the first means the user wants out of a hanging shutdown.
  if (now - first < kForceAfterMs) return;
  sys_console_write("再次收到退出请求，立即结束进程\n");
  std::_Exit(1);
}

void on_activation(std::uint16_t atom) {
  if (atom != 0 && atom != hx_inst_atom()) return;  // meant for another instance
  hx_log(HX_LOG_SYSTEM, "框架", "系统(↓)", "已有实例在运行，已将其显示到前台");
}

}  // namespace

bool hx_ui_boot() {
  sys_console_init(on_stop_request);
  // What was logged before the "window" existed is shown first, as the log page would.
  hx_log_entry e;
  for (int i = hx_log_count() - 1; i >= 0; --i) {
    if (hx_log_at(i, &e)) print(e);
  }
  hx_log_set_sink(print_sink, nullptr);
  if (!sys_activation_listen(hx_single_instance_name(), on_activation)) {
    hx_log(HX_LOG_ERROR, "框架", "错误(↓)", "无法接收其他实例的激活请求");
  }
  return true;
}

void hx_ui_show(bool) {}

int hx_ui_loop() {
  std::unique_lock lock(g_loopMu);
  while (!g_quit) {
    if (g_loopCv.wait_for(lock, std::chrono::seconds(1), [] { return g_quit; })) break;
    lock.unlock();
    hx_ob_tick();
    lock.lock();
  }
  lock.unlock();
  sys_activation_stop();
  return 0;
}

void hx_ui_quit() {
  {
    std::lock_guard lock(g_loopMu);
    g_quit = true;
  }
  g_loopCv.notify_all();
}

void hx_ui_refresh_plugins() {}
void hx_ui_refresh_accounts() {}
void hx_ui_float_invalidate() {}
