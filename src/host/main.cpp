// Process entry of the host. For now it starts the log, reports itself and
// exits; the start-up and shutdown sequence grows here.
#include <cstdio>

#include "foundation/log.h"
#include "foundation/util.h"

namespace {

// Prints each entry in the log's export line format.
int print_entry(const hx_log_entry* e, void*) {
  std::printf("[%s] [%s] [%s] %s\n", hx_fmt_time(e->time).c_str(), e->source, e->tag, e->text);
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main() {
  hx_uptime_reset();
  hx_log_set_sink(print_entry, nullptr);
  hx_log_init(HX_LOG_CAP_DEFAULT);
  hx_logf(HX_LOG_SYSTEM, nullptr, "系统(↓)", "框架启动，程序目录：%s", hx_path_show(hx_exe_dir_utf8()));
  hx_logf(HX_LOG_SYSTEM, nullptr, "系统(↓)", "数据目录：%s", hx_path_show(hx_data_dir()));
  hx_logf(HX_LOG_SYSTEM, nullptr, "系统(↓)", "框架已退出，运行 %s", hx_fmt_dur(hx_uptime()).c_str());
  hx_log_set_sink(nullptr, nullptr);
  hx_log_shutdown();
  return 0;
}
