// Forward mode: a client connection per account, and the reconnect thread
// that retries every wanted account whose link is down.
//
// g_retryMu guards the reconnect thread; the wish list is the link table's
// (under g_linkCs).
#include <memory>
#include <vector>

#include "foundation/env.h"
#include "foundation/log.h"
#include "foundation/thread.h"
#include "foundation/util.h"
#include "link/onebot_internal.h"

namespace {

constexpr int kRetryMaxSec = 3600;
constexpr int kRetryPollMs = 2000;
constexpr int kRetryStopMs = 5000;

std::atomic<int> g_retrySec{HX_RETRY_SEC_DEFAULT};

std::mutex g_retryMu;
std::unique_ptr<HxThread> g_retryTh;  // guarded by g_retryMu

const char* ws_path() {
  const char* path = nullptr;
  if (auto* f = hx_ob_hooks().ws_path) path = f();
  return path ? path : "/";
}

bool connect(const HxAccount& acc, ObWant* want) {
  return hx_ws_client_start(acc.ip, acc.port, ws_path(), acc.key, ob_callbacks(want ? &want->user : nullptr));
}

void reconnect_round() {
  struct Attempt {
    std::string qq;
    int attempts;
    ObWant* want;
  };
  std::vector<Attempt> due;
  const std::int64_t now = hx_now();
  const int interval = g_retrySec;
  {
    std::lock_guard lock(g_linkCs);
    for (int i = 0;; ++i) {
      ObWant* w = ob_want_at(i);
      if (!w) break;
      if (!w->used || !w->wanted || w->connecting || now - w->lastAttempt < interval) continue;
      if (ob_open_link_account(w->qq)) continue;
      w->lastAttempt = now;
      w->connecting = true;
      ++w->attempts;
      due.push_back({w->qq, w->attempts, w});
    }
  }
  for (const auto& a : due) {
    std::optional<HxAccount> acc = hx_cfg_account(a.qq);
    if (!acc || !acc->ip[0] || acc->port <= 0) {
      std::lock_guard lock(g_linkCs);
      a.want->connecting = false;
      continue;
    }
    if (a.attempts == 1 || a.attempts % 10 == 0) {
      hx_logf(HX_LOG_LOGIN, acc->id, kObUp, "连接已断开，第 %d 次尝试重新连接 %s:%d（每 %d 秒一次）", a.attempts,
              acc->ip, acc->port, interval);
    } else {
      hx_dbgf("重连", "第 %d 次尝试重连 %s -> %s:%d", a.attempts, acc->id, acc->ip, acc->port);
    }
    if (!connect(*acc, a.want)) {
      on_ws_fail(&a.want->user);
      hx_dbgf("重连", "重连发起失败（创建线程失败）：%s", acc->id);
    }
  }
}

}  // namespace

void ob_retry_configure() {
  const int sec = hx_env().wsRetrySec;
  if (sec >= 1 && sec <= kRetryMaxSec) {
    g_retrySec = sec;
    hx_logf(HX_LOG_SYSTEM, kObHost, "系统(↓)", "断线重连间隔已设为 %d 秒（HX_WS_RETRY_SEC）", sec);
  }
}

// The wish entry travels as the connection's user value so that on_ws_open
// knows the account.
bool ob_forward_start(const HxAccount& acc) {
  ObWant* w;
  {
    std::lock_guard lock(g_linkCs);
    w = ob_want_mark(acc.id);
    if (w && w->connecting) return true;  // one connect in flight per account
    if (w) w->connecting = true;
  }
  if (connect(acc, w)) return true;
  if (w) on_ws_fail(&w->user);
  return false;
}

void ob_forward_log(const HxAccount& acc) {
  hx_logf(HX_LOG_LOGIN, acc.id, kObUp, "--------[%s]->执行【正向】连接 %s:%d", acc.id, acc.ip, acc.port);
}

void ob_retry_ensure() {
  if (hx_cfg_get(&HxCfg::reverseMode) || g_stop) return;
  std::lock_guard lock(g_retryMu);
  if (g_retryTh && g_retryTh->running()) return;
  g_retryTh = std::make_unique<HxThread>();
  bool ok = g_retryTh->start([](HxStop& stop) {
    while (!stop.sleep_for(kRetryPollMs) && !g_stop) {
      if (!hx_cfg_get(&HxCfg::reverseMode)) reconnect_round();
    }
  });
  if (!ok) {
    g_retryTh.reset();
    hx_log(HX_LOG_ERROR, kObHost, kObErr, "断线重连线程创建失败");
  }
}

void ob_retry_stop() {
  std::unique_ptr<HxThread> th;
  {
    std::lock_guard lock(g_retryMu);
    th = std::move(g_retryTh);
  }
  if (th) th->stop_and_wait(kRetryStopMs);
}
