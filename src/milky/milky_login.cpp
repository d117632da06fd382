// Login detection of Milky links: the event stream carries no lifecycle
// event, so each new link asks its backend who is logged in (retrying while
// the backend's account is not) and tells intake as if a OneBot backend had
// announced the connection.
#include <cjson/cJSON.h>

#include <array>
#include <cstdio>
#include <memory>
#include <mutex>

#include "foundation/json.h"
#include "foundation/log.h"
#include "foundation/thread.h"
#include "foundation/util.h"
#include "link/onebot.h"
#include "link/ws.h"
#include "milky/milky.h"
#include "milky/milky_json.h"
#include "sys/process.h"

namespace {

constexpr int kThreads = 16;
constexpr int kStepMs = 250;
constexpr int kLoginWaitMs = 5000;
constexpr const char* kErr = "错误(↓)";

std::mutex g_loginCs;
std::array<std::unique_ptr<HxThread>, kThreads> g_loginTh;  // guarded by g_loginCs

// Waits `seconds` in short steps; false when the wait was cut short.
bool wait_between(HxStop& stop, ws_conn* c, int seconds) {
  for (int waited = 0; waited < seconds * 1000; waited += kStepMs) {
    if (stop.sleep_for(kStepMs) || !hx_ws_is_open(c)) return false;
  }
  return true;
}

void login_thread(HxStop& stop, ws_conn* c, const std::string& account) {
  const char* src = account.empty() ? "框架" : account.c_str();
  const int retry = milky_login_retry_sec();
  int failures = 0;
  while (!stop) {
    if (!hx_ws_is_open(c)) {
      if (failures > 0) hx_log(HX_LOG_ERROR, src, kErr, "Milky：还没取到登录信息连接就断开了（重连后会自动再试）");
      break;
    }
    // Asked for this link's own account: another account's address would
    // tell another QQ.
    std::optional<std::string> reply;
    if (hx_milky_call(account, "get_login_info", "{}", &reply, kLoginWaitMs)) {
      HxJson root(reply ? cJSON_Parse(reply->c_str()) : nullptr);
      const std::int64_t qq = mk_id(mk_obj(root.get(), "data"), "user_id");
      if (qq <= 0) {
        hx_log(HX_LOG_ERROR, src, kErr, "Milky：登录信息里没有 QQ 号");
        break;
      }
      char event[192];
      std::snprintf(
          event, sizeof event,
          R"({"post_type":"meta_event","meta_event_type":"lifecycle","sub_type":"connect","time":%lld,"self_id":%lld})",
          static_cast<long long>(hx_now()), static_cast<long long>(qq));
      hx_ob_feed_event_on(c, event);
      break;
    }
    ++failures;
    if (failures == 1 || failures % 10 == 0) {
      hx_logf(HX_LOG_ERROR, src, kErr,
              "Milky：取登录信息失败（第 %d 次），每 %d 秒重试 —— 后端这个 QQ 多半还没登录，登录成功后框架会自动接上，"
              "无需重启",
              failures, retry);
    }
    if (!wait_between(stop, c, retry)) continue;  // the loop head tells why
  }
  hx_ws_release(c);
}

}  // namespace

int milky_login_retry_sec() {
  const long long v = hx_to_i64(sys_getenv("HX_MILKY_LOGIN_RETRY_SEC").value_or(""), 0);
  return v >= 1 && v <= 3600 ? static_cast<int>(v) : 30;
}

void hx_milky_link_opened(ws_conn* c, const char* account) {
  if (!hx_milky_mode() || !c) return;
  std::lock_guard lock(g_loginCs);
  for (auto& slot : g_loginTh) {
    if (slot && slot->finished()) {
      slot->wait(0);
      slot.reset();
    }
    if (slot) continue;
    slot = std::make_unique<HxThread>();
    ws_conn* ref = hx_ws_addref(c);
    const std::string who = account ? account : "";
    if (slot->start([ref, who](HxStop& stop) { login_thread(stop, ref, who); })) return;
    hx_ws_release(ref);
    slot.reset();
    break;
  }
  hx_log(HX_LOG_ERROR, "框架", kErr, "Milky：登录检测线程已满或无法启动，这条连接不会自动登录");
}

void hx_milky_links_stopped() {
  std::lock_guard lock(g_loginCs);
  for (auto& slot : g_loginTh) {
    if (!slot) continue;
    // A call in flight ends within its own time-out; a thread that does
    // not is left running on its own.
    slot->stop_and_wait(kLoginWaitMs + 2000);
    slot.reset();
  }
}
