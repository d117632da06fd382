#include "milky/milky.h"

#include <atomic>

#include "foundation/log.h"
#include "foundation/util.h"

namespace {

std::atomic<bool> g_milky{false};

}  // namespace

void hx_milky_detect() {
  for (const char* marker : {"Milky", "milky", "MILKY", "Milky.txt", "milky.txt"}) {
    if (!hx_file_exists(hx_path_join(hx_data_dir(), marker))) continue;
    g_milky.store(true);
    hx_log(HX_LOG_SYSTEM, "框架", "系统(↓)",
           "协议检测：发现 Milky 标记文件 -> 对接 **Milky 协议**（事件走 ws /event，动作走 HTTP POST "
           "/api/；对插件仍呈现为 OneBot v11）");
    return;
  }
}

bool hx_milky_mode() { return g_milky.load(); }

const char* hx_milky_ws_path() { return hx_milky_mode() ? "/event" : "/"; }
