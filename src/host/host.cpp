#include "host/host.h"

#include <cstdlib>
#include <memory>

#include "foundation/env.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "host/crash.h"
#include "link/onebot.h"
#include "link/ws.h"
#include "milky/milky.h"
#include "plugin/dlgwatch.h"
#include "plugin/plugin.h"
#include "sys/clock.h"
#include "sys/console.h"
#include "sys/instance.h"
#include "sys/process.h"
#include "ui/ui.h"
#include "update/upd.h"

namespace {

constexpr const char* kSource = "框架";
constexpr const char* kTag = "系统(↓)";
constexpr std::size_t kSummaryMax = 231;

bool has(std::string_view cmdline, std::string_view sw) { return cmdline.find(sw) != std::string_view::npos; }

// Seconds and hundredths since `start`, for "%u.%02u 秒".
void elapsed(std::uint64_t start, unsigned& secs, unsigned& hundredths) {
  std::uint64_t ms = sys_ticks_ms() - start;
  secs = static_cast<unsigned>(ms / 1000);
  hundredths = static_cast<unsigned>(ms % 1000 / 10);
}

void boot_thread(HxStop& stop) {
  std::uint64_t t0 = sys_ticks_ms();
  hx_pl_init(g_cfg.pluginThreads);
  unsigned s, h;
  elapsed(t0, s, h);
  hx_logf(HX_LOG_SYSTEM, kSource, kTag, "插件加载完成，耗时 %u.%02u 秒，后台继续其余初始化（界面已可用）", s, h);
  hx_ui_refresh_plugins();
  if (stop || !g_cfg.autoLogin) return;

  std::string summary = hx_host_login_summary(g_cfg);
  hx_logf(HX_LOG_SYSTEM, kSource, kTag, "正在自动登录：%s …",
          summary.empty() ? "（没有可登录的账号）" : summary.c_str());
  t0 = sys_ticks_ms();
  std::string result;
  int started = hx_ob_auto_login_all(result);
  elapsed(t0, s, h);
  hx_logf(HX_LOG_SYSTEM, kSource, kTag, "正在自动登录：%s → %s（%u.%02u 秒）",
          summary.empty() ? "账号" : summary.c_str(), started > 0 ? "完成" : "未连上", s, h);
  hx_ui_refresh_accounts();
  hx_ui_float_invalidate();
}

// A second instance hands over to the first and ends.
bool another_instance_running(std::unique_ptr<SysNamedLock>& held) {
  bool existed = false;
  held = std::make_unique<SysNamedLock>(sys_named_lock(hx_single_instance_name(), &existed));
  if (!existed) return false;
  sys_activation_send(hx_single_instance_name(), hx_inst_atom());
  return true;
}

void set_log_switches(bool debug_switch) {
  hx_log_resize(g_cfg.logCap);
  hx_log_set_switch(HX_LOG_GROUP, g_cfg.logGroup);
  hx_log_set_switch(HX_LOG_PRIVATE, g_cfg.logPrivate);
  hx_log_set_switch(HX_LOG_EVENT, g_cfg.logEvent);
  hx_log_set_switch(HX_LOG_API, g_cfg.logApi);
  hx_log_set_switch(HX_LOG_DEBUG, g_cfg.logDebug || debug_switch);
}

}  // namespace

std::optional<std::string> hx_host_dir_value(std::string_view cmdline, const std::optional<std::string>& env) {
  std::string_view value;
  size_t at = cmdline.find("--dir");
  if (at != std::string_view::npos) {
    std::string_view rest = cmdline.substr(at + 5);
    if (rest.size() >= 2 && (rest[0] == '=' || rest[0] == ' ')) value = rest.substr(1);
  }
  if (value.empty() && env) value = *env;
  value = value.substr(0, value.find_first_of(" \t"));
  value = value.substr(0, HX_DIR_ARG_MAX);
  if (!value.empty() && value[0] == '"') {
    value.remove_prefix(1);
    size_t last = value.rfind('"');
    if (last != std::string_view::npos) value = value.substr(0, last);
  }
  if (value.empty()) return std::nullopt;
  return std::string(value);
}

int hx_host_updated_pid(std::string_view cmdline) {
  size_t at = cmdline.find("--updated-pid");
  if (at == std::string_view::npos) return 0;
  std::string_view rest = cmdline.substr(at + 13);
  while (!rest.empty() && (rest[0] == ' ' || rest[0] == '=')) rest.remove_prefix(1);
  long long pid = 0;
  for (char c : rest) {
    if (c < '0' || c > '9' || pid > 0x7FFFFFFF) break;
    pid = pid * 10 + (c - '0');
  }
  return pid > 0x7FFFFFFF ? 0 : static_cast<int>(pid);
}

std::string hx_host_login_summary(const HxCfg& cfg) {
  std::string out;
  for (int i = 0; i < cfg.accountCount && out.size() <= kSummaryMax; ++i) {
    if (!cfg.accounts[i].id[0]) continue;
    sb_printf(out, "%sQQ%s", out.empty() ? "" : ", ", cfg.accounts[i].id);
  }
  return out;
}

int hx_host_main(int argc, char** argv) {
  // 1. Uptime and crash filter. Stop signals are held back before any thread
  // starts (the update check may start one), so that none of them is
  // ended by a signal only the console's thread should take.
  sys_stop_signals_hold();
  hx_uptime_reset();
  hx_host_wire();
  hx_crash_install();
  // The log starts at its default size so that what start-up says before the
  // settings are read is kept; the settings then resize it.
  hx_log_init(HX_LOG_CAP_DEFAULT);

  // 2. Data directory and single instance.
  const std::string cmdline = sys_command_tail(argc, argv);
  if (auto dir = hx_host_dir_value(cmdline, hx_env().runDir)) hx_set_data_dir(*dir);
  const bool updated = has(cmdline, "--updated");
  std::unique_ptr<SysNamedLock> single;
  if (!updated && another_instance_running(single)) {
    hx_log_shutdown();
    return 0;
  }

  // 3. After an update, let the old version finish.
  int old_pid = updated ? hx_host_updated_pid(cmdline) : 0;
  if (old_pid != 0 && old_pid != sys_pid()) sys_wait_pid(old_pid, HX_UPDATED_WAIT_MS);

  // 4-5. Settings, accounts and the log.
  hx_cfg_load();
  set_log_switches(has(cmdline, "--debug"));
  if (hx_dbg_on()) {
    hx_log(HX_LOG_SYSTEM, kSource, kTag, "调试输出已开启：插件载入探针 / 初始化返回值 / API 地址转储将会显示");
  }
  // 6-7. Updates.
  if (updated) hx_log(HX_LOG_SYSTEM, kSource, kTag, "更新：已完成升级，本次为更新后首次启动");
  if (hx_upd_bootstrap()) {
    hx_log_shutdown();
    return 0;
  }

  // 8-10. Banner, directories, data-directory guard, link mode.
  hx_logf(HX_LOG_SYSTEM, kSource, kTag, "Tolvex 框架 8.0 启动（插件 SDK %s）", HX_SDK_VERSION);
  hx_logf(HX_LOG_SYSTEM, kSource, kTag, "程序目录：%s", hx_exe_dir_utf8().c_str());
  hx_logf(HX_LOG_SYSTEM, kSource, kTag, "数据目录：%s", hx_path_show(hx_data_dir()));
  bool dir_shared = false;
  SysNamedLock dir_lock = sys_named_lock(hx_data_dir_lock_name(), &dir_shared);
  if (dir_shared) {
    hx_logf(HX_LOG_ERROR, kSource, "错误(↓)",
            "警告：已有别的实例正在使用同一个数据目录 %s，两者会互相争抢插件与配置文件（后启动的那个可能卡住）。"
            "请给每个实例单独指定 --dir <目录>。",
            hx_path_show(hx_data_dir()));
  }
  hx_logf(HX_LOG_SYSTEM, kSource, kTag, "通信模式：%s", g_cfg.reverseMode ? "反向" : "正向");

  // 11-12. The window.
  if (!hx_ui_boot()) {
    hx_log(HX_LOG_ERROR, kSource, "错误(↓)", "界面创建失败，框架退出");
    hx_log_shutdown();
    return HX_EXIT_NO_WINDOW;
  }
  hx_ui_show(g_cfg.startMinimized != 0);
  hx_log(HX_LOG_SYSTEM, kSource, kTag, "界面已就绪，插件等耗时初始化转入后台");

  // 13-15. Subsystems, the boot thread, the main loop.
  hx_ws_global_init();
  hx_img_init();
  hx_av_init();
  hx_milky_detect();
  hx_ob_init();
  HxThread boot;
  boot.start(boot_thread);
  int code = hx_ui_loop();

  // Shutdown, in this order.
  hx_dbgf(kSource, "退出：等待后台启动线程");
  bool boot_done = boot.stop_and_wait(HX_BOOT_WAIT_MS);
  if (!boot_done) {
    hx_log(HX_LOG_ERROR, kSource, "错误(↓)",
           "后台启动线程 10 秒内未结束：不强行终止它，跳过插件卸载等它可能仍在使用的资源的释放");
  }
  hx_dbgf(kSource, "退出：头像支持");
  hx_av_shutdown();
  hx_dbgf(kSource, "退出：账号连接");
  hx_ob_stop();
  hx_dbgf(kSource, "退出：对话框监视");
  hx_dlgwatch_stop();
  if (boot_done) {
    hx_dbgf(kSource, "退出：插件");
    hx_pl_shutdown();
  }
  if (boot_done && !hx_ob_ws_stuck()) {
    hx_dbgf(kSource, "退出：网络库");
    hx_ws_global_free();
  }
  hx_dbgf(kSource, "退出：保存设置");
  hx_cfg_save();
  hx_dbgf(kSource, "退出：图片支持");
  hx_img_shutdown();
  hx_dbgf(kSource, "退出：日志");
  if (!boot_done) std::_Exit(code);  // the boot thread may still use what exit would tear down
  hx_log_shutdown();
  return code;
}
