// Account links: the link table, the reconnect wish list, start, login and
// logout, opened and closed connections, reverse recognition, login
// detection, the reconnect thread, the heartbeat, statistics and shutdown.
//
// g_linkCs guards the link table, the wish list and run-time changes of the
// account list; g_statCs the statistics; g_thCs the recognition threads.
// Logging, plugin notification and network sends happen outside g_linkCs.
#include <cjson/cJSON.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "config/cfg.h"
#include "foundation/log.h"
#include "foundation/thread.h"
#include "foundation/util.h"
#include "link/onebot_internal.h"
#include "milky/milky.h"
#include "plugin/plugin.h"
#include "sys/process.h"
#include "ui/ui.h"

HxLink g_links[HX_MAX_LINKS];
std::mutex g_linkCs;
std::atomic<bool> g_stop{false};
thread_local bool t_onReceiveThread = false;

namespace {

constexpr const char* kUp = "登录(↑)";
constexpr const char* kDown = "登录(↓)";
constexpr const char* kErr = "错误(↓)";
constexpr const char* kHost = "框架";
constexpr int kWants = 16;
constexpr int kStats = 32;
constexpr int kRecognitionThreads = 16;
constexpr int kRecognitionWaitMs = 5000;
constexpr int kHeartbeatDefault = 600;
constexpr int kRetryMaxSec = 3600;
void* const kReverseUser = reinterpret_cast<void*>(1);

struct Want {
  bool used;
  char qq[32];
  bool wanted;
  std::int64_t lastAttempt;
  int attempts;
};
Want g_want[kWants];  // guarded by g_linkCs; entries never move (forward clients carry their address)

struct Stat {
  bool used;
  char qq[32];
  long long received, sent, friends, groups;
};
Stat g_stat[kStats];  // guarded by g_statCs
std::mutex g_statCs;

int g_retrySec = HX_RETRY_SEC_DEFAULT;
bool g_obInited = false;
std::atomic<bool> g_wsStuck{false};

std::mutex g_serverMu;
ws_server* g_server = nullptr;  // guarded by g_serverMu

std::mutex g_retryMu;
std::unique_ptr<HxThread> g_retryTh;  // guarded by g_retryMu

std::mutex g_thCs;
std::unique_ptr<HxThread> g_loginTh[kRecognitionThreads];  // guarded by g_thCs

const ws_callbacks kCallbacks = {on_ws_open, on_ws_message, on_ws_close, nullptr};

void copy_qq(char (&dst)[32], std::string_view qq) { hx_copy_field(dst, sizeof dst, qq.substr(0, HX_QQ_MAX)); }

// ---- under g_linkCs ----

HxLink* slot_of(ws_conn* c) {
  for (auto& l : g_links) {
    if (l.conn && l.conn == c) return &l;
  }
  return nullptr;
}

HxLink* open_link_self(std::string_view qq) {
  for (auto& l : g_links) {
    if (l.conn && hx_ws_is_open(l.conn) && qq == l.selfQq) return &l;
  }
  return nullptr;
}

HxLink* open_link_account(std::string_view qq) {
  for (auto& l : g_links) {
    if (l.conn && hx_ws_is_open(l.conn) && qq == l.accQq) return &l;
  }
  return nullptr;
}

Want* want_find(std::string_view qq) {
  for (auto& w : g_want) {
    if (w.used && qq == w.qq) return &w;
  }
  return nullptr;
}

// Marks the account wanted; null when the wish list is full.
Want* want_mark(std::string_view qq) {
  Want* w = want_find(qq);
  if (!w) {
    for (auto& e : g_want) {
      if (!e.used) {
        e = Want{};
        e.used = true;
        copy_qq(e.qq, qq);
        w = &e;
        break;
      }
    }
  }
  if (!w) return nullptr;
  w->wanted = true;
  w->lastAttempt = hx_now();
  w->attempts = 0;
  return w;
}

std::optional<HxAccount> account_copy(std::string_view qq) {
  HxAccount* a = hx_cfg_bot(qq);
  if (!a) return std::nullopt;
  return *a;
}

// ---- outside g_linkCs ----

void retry_thread_ensure();

// Starts a forward client for the account; the wish entry travels as the
// connection's user value so that on_ws_open knows the account.
bool start_forward(const HxAccount& acc) {
  Want* w;
  {
    std::lock_guard lock(g_linkCs);
    w = want_mark(acc.id);
  }
  ws_callbacks cb = kCallbacks;
  cb.user = w;
  return hx_ws_client_start(acc.ip, acc.port, hx_milky_ws_path(), acc.key, cb);
}

void log_forward(const HxAccount& acc) {
  hx_logf(HX_LOG_LOGIN, acc.id, kUp, "--------[%s]->执行【正向】连接 %s:%d", acc.id, acc.ip, acc.port);
}

bool start_server() {
  std::lock_guard lock(g_serverMu);
  if (g_server) return true;
  g_server = hx_ws_server_start("0.0.0.0", g_cfg.reversePort, g_cfg.token, {on_ws_open, on_ws_message, on_ws_close,
                                                                            kReverseUser});
  if (g_server) {
    hx_logf(HX_LOG_LOGIN, kHost, kUp, "已启动反向通信，监听端口 %d，等待后端连入", hx_ws_server_port(g_server));
    return true;
  }
  hx_logf(HX_LOG_ERROR, kHost, kErr, "反向通信监听 %d 端口失败", g_cfg.reversePort);
  return false;
}

// Stores `value` as the logged-in flag of the link of `qq` (the first link
// for an empty QQ) and returns the previous flag; false without such a link.
bool link_swap_login(std::string_view qq, bool value) {
  std::lock_guard lock(g_linkCs);
  for (auto& l : g_links) {
    if (!l.conn || (!qq.empty() && qq != l.selfQq)) continue;
    bool prev = l.loggedIn;
    l.loggedIn = value;
    return prev;
  }
  return false;
}

void recognise(ws_conn* c) {
  std::optional<std::string> reply;
  if (!ob_call_conn(c, "", "get_login_info", "{}", &reply, kRecognitionWaitMs) || !reply) {
    hx_log(HX_LOG_ERROR, kHost, kErr,
           "反向通信接入后 5 秒内未响应 get_login_info（该连接不会被识别为任何账号，断开即丢弃）");
    return;
  }
  std::unique_ptr<cJSON, decltype(&cJSON_Delete)> root(cJSON_Parse(reply->c_str()), cJSON_Delete);
  if (!root) {
    hx_log(HX_LOG_ERROR, kHost, kErr, "反向通信接入：get_login_info 响应不是合法 JSON");
    return;
  }
  const cJSON* data = cJSON_GetObjectItemCaseSensitive(root.get(), "data");
  if (!cJSON_IsObject(data)) data = root.get();
  std::string qq = ob_json_id(data, "user_id");
  if (qq.empty()) qq = ob_json_id(data, "self_id");
  qq = qq.substr(0, HX_QQ_MAX);
  if (qq.empty()) {
    hx_log(HX_LOG_ERROR, kHost, kErr, "反向通信接入：get_login_info 响应里没有 user_id/self_id，无法识别账号");
    return;
  }
  std::string nick;
  for (const char* key : {"nickname", "user_name", "nick"}) {
    nick = ob_json_str(data, key);
    if (!nick.empty()) break;
  }
  std::string peer = hx_ws_peer(c), ip = peer;
  int port = 0;
  if (size_t colon = peer.rfind(':'); colon != std::string::npos) {
    ip = peer.substr(0, colon);
    port = hx_to_int(peer.substr(colon + 1), 0);
  }
  ip = ip.substr(0, 255);
  const char* shown = nick.empty() ? "(未取到)" : nick.c_str();

  // The new connection takes over from an older one of the same account: a
  // backend that reconnected before its old connection was seen to drop must
  // not leave a stale link (nor tell the plugins of a second login).
  std::vector<ws_conn*> stale;
  bool full = false, known = false;
  {
    std::lock_guard lock(g_linkCs);
    HxLink* mine = slot_of(c);
    bool inherited = false;
    for (auto& l : g_links) {
      if (!l.conn || l.conn == c || !l.reverse || qq != l.accQq) continue;
      inherited |= l.loggedIn;
      stale.push_back(hx_ws_addref(l.conn));
      l = HxLink{};
    }
    if (mine) {
      copy_qq(mine->accQq, qq);
      copy_qq(mine->selfQq, qq);
      mine->loginTime = hx_now();
      mine->loggedIn |= inherited;
    }
    if (HxAccount* a = hx_cfg_bot(qq)) {
      known = true;
      if (!nick.empty() && nick != a->nickname) hx_copy_field(a->nickname, sizeof a->nickname, nick);
    } else if (g_cfg.accountCount >= HX_MAX_ACCOUNTS) {
      full = true;
    } else {
      HxAccount& a = g_cfg.accounts[g_cfg.accountCount];
      std::memset(&a, 0, sizeof a);
      hx_copy_field(a.id, sizeof a.id, qq);
      hx_copy_field(a.ip, sizeof a.ip, ip);
      a.port = port;
      hx_copy_field(a.nickname, sizeof a.nickname, nick);
      ++g_cfg.accountCount;
    }
  }
  for (ws_conn* old : stale) {
    hx_ws_close(old);
    hx_ws_release(old);
  }
  if (known) {
    hx_logf(HX_LOG_LOGIN, qq.c_str(), kUp,
            "反向通信接入识别成功：QQ=%s 昵称=%s 来自=%s:%d（账号列表中已存在，仅刷新昵称）", qq.c_str(), shown, ip.c_str(),
            port);
  } else if (full) {
    hx_logf(HX_LOG_ERROR, kHost, kErr, "反向通信接入：账号列表已满（%d），忽略接入 QQ=%s", HX_MAX_ACCOUNTS, qq.c_str());
    return;
  } else {
    hx_logf(HX_LOG_LOGIN, qq.c_str(), kUp,
            "反向通信接入识别成功：QQ=%s 昵称=%s 来自=%s:%d（已加入账号列表，不写盘）", qq.c_str(), shown, ip.c_str(), port);
  }
  if (!link_swap_login(qq, true)) {
    hx_log(HX_LOG_LOGIN, qq.c_str(), kUp, "通知登录成功（反向接入识别）");
    hx_pl_notify_login(qq.c_str(), 1);
    hx_ob_stat_refresh_roster(qq);
  }
  hx_ui_refresh_accounts();
}

// One recognition thread per reverse connection, holding a reference.
void start_recognition(ws_conn* c) {
  auto th = std::make_unique<HxThread>();
  bool ok = th->start([c](HxStop&) {
    if (!g_stop) recognise(c);
    hx_ws_release(c);
  });
  if (!ok) {
    hx_ws_release(c);
    return;
  }
  std::lock_guard lock(g_thCs);
  for (auto& slot : g_loginTh) {
    if (!slot || slot->finished()) {
      if (slot) slot->wait(0);
      slot = std::move(th);
      return;
    }
  }
  // All 16 busy: this one runs on without being waited for at shutdown.
}

void reconnect_round() {
  struct Attempt {
    std::string qq;
    int attempts;
    Want* want;
  };
  std::vector<Attempt> due;
  const std::int64_t now = hx_now();
  {
    std::lock_guard lock(g_linkCs);
    for (auto& w : g_want) {
      if (!w.used || !w.wanted || now - w.lastAttempt < g_retrySec) continue;
      if (open_link_account(w.qq)) continue;
      w.lastAttempt = now;
      ++w.attempts;
      due.push_back({w.qq, w.attempts, &w});
    }
  }
  for (const auto& a : due) {
    std::optional<HxAccount> acc;
    {
      std::lock_guard lock(g_linkCs);
      acc = account_copy(a.qq);
    }
    if (!acc || !acc->ip[0] || acc->port <= 0) continue;
    if (a.attempts == 1 || a.attempts % 10 == 0) {
      hx_logf(HX_LOG_LOGIN, acc->id, kUp, "连接已断开，第 %d 次尝试重新连接 %s:%d（每 %d 秒一次）", a.attempts, acc->ip,
              acc->port, g_retrySec);
    } else {
      hx_dbgf("重连", "第 %d 次尝试重连 %s -> %s:%d", a.attempts, acc->id, acc->ip, acc->port);
    }
    ws_callbacks cb = kCallbacks;
    cb.user = a.want;
    if (!hx_ws_client_start(acc->ip, acc->port, hx_milky_ws_path(), acc->key, cb)) {
      hx_dbgf("重连", "重连发起失败（创建线程失败）：%s", acc->id);
    }
  }
}

void retry_thread_ensure() {
  if (g_cfg.reverseMode || g_stop) return;
  std::lock_guard lock(g_retryMu);
  if (g_retryTh && g_retryTh->running()) return;
  g_retryTh = std::make_unique<HxThread>();
  bool ok = g_retryTh->start([](HxStop& stop) {
    while (!stop.sleep_for(2000) && !g_stop) {
      if (!g_cfg.reverseMode) reconnect_round();
    }
  });
  if (!ok) {
    g_retryTh.reset();
    hx_log(HX_LOG_ERROR, kHost, kErr, "断线重连线程创建失败");
  }
}

Stat* stat_slot(std::string_view qq, bool create) {
  for (auto& s : g_stat) {
    if (s.used && qq == s.qq) return &s;
  }
  if (!create) return nullptr;
  for (auto& s : g_stat) {
    if (!s.used) {
      s = Stat{true, {}, 0, 0, -1, -1};
      copy_qq(s.qq, qq);
      return &s;
    }
  }
  return nullptr;  // full: counts are dropped
}

}  // namespace

// ---- transport callbacks ----

void on_ws_open(ws_conn* c, void* user) {
  t_onReceiveThread = true;
  if (g_stop) {  // a connect that finished after shutdown began
    hx_ws_close(c);
    return;
  }
  const bool reverse = user == kReverseUser;
  bool registered = false;
  {
    std::lock_guard lock(g_linkCs);
    auto* want = reverse ? nullptr : static_cast<Want*>(user);
    HxLink* l = slot_of(c);
    if (!l) {
      for (auto& s : g_links) {
        if (!s.conn) {
          s = HxLink{};
          s.conn = c;
          s.lastActive = hx_now();
          l = &s;
          if (want) want->attempts = 0;
          break;
        }
      }
    }
    if (l) {
      l->reverse = reverse;
      if (want) copy_qq(l->accQq, want->qq);
      registered = true;
    }
  }
  if (!registered) return;  // all 16 slots taken: the connection stays unregistered
  hx_logf(HX_LOG_LOGIN, kHost, kUp, "%s通信连接成功：%s", reverse ? "反向" : "正向", hx_ws_peer(c));
  if (reverse) start_recognition(hx_ws_addref(c));
}

void on_ws_close(ws_conn* c, void*) {
  t_onReceiveThread = true;
  bool found = false, reverse = false;
  std::string remembered;
  {
    std::lock_guard lock(g_linkCs);
    for (auto& l : g_links) {
      if (l.conn != c) continue;
      if (!found) {
        found = true;
        reverse = l.reverse;
        if (l.loggedIn) remembered = l.selfQq;
        l.loggedIn = false;
        if (!reverse) {
          if (Want* w = want_find(l.accQq)) w->lastAttempt = hx_now();  // next try a full interval later
        }
      }
      l = HxLink{};
    }
  }
  if (!found) return;
  hx_logf(HX_LOG_LOGIN, kHost, kUp, "%s通信连接断开", reverse ? "反向" : "正向");
  if (!remembered.empty()) hx_pl_notify_login(remembered.c_str(), 0);
  if (reverse && !remembered.empty()) {
    bool removed = false;
    {
      std::lock_guard lock(g_linkCs);
      for (int i = 0; i < g_cfg.accountCount; ++i) {
        if (remembered != g_cfg.accounts[i].id) continue;
        std::memmove(&g_cfg.accounts[i], &g_cfg.accounts[i + 1],
                     sizeof(HxAccount) * static_cast<size_t>(g_cfg.accountCount - i - 1));
        --g_cfg.accountCount;
        std::memset(&g_cfg.accounts[g_cfg.accountCount], 0, sizeof(HxAccount));
        removed = true;
        break;
      }
    }
    if (removed) {
      hx_logf(HX_LOG_LOGIN, remembered.c_str(), kDown, "反向通信断开：已从账号列表移除（QQ=%s，不写盘 / 不重连）",
              remembered.c_str());
      hx_ui_refresh_accounts();
    }
  }
}

// ---- intake hooks ----

void ob_touch_link(ws_conn* c, std::string_view self_qq) {
  if (!c) return;
  std::lock_guard lock(g_linkCs);
  if (HxLink* l = slot_of(c)) {
    if (self_qq != "未知") copy_qq(l->selfQq, self_qq);
    l->lastActive = hx_now();
  }
}

void ob_lifecycle(std::string_view self_qq, std::string_view sub_type) {
  std::string qq(self_qq);
  if (sub_type == "connect") {
    {
      // The login time is there before anyone is told of the login.
      std::lock_guard lock(g_linkCs);
      for (auto& l : g_links) {
        if (l.conn && qq == l.selfQq) l.loginTime = hx_now();
      }
    }
    if (!link_swap_login(qq, true)) {
      hx_log(HX_LOG_LOGIN, ob_source(qq), kUp, "通知登录成功");
      hx_pl_notify_login(qq.c_str(), 1);
      if (!qq.empty()) hx_ob_stat_refresh_roster(qq);
    }
    return;
  }
  if (link_swap_login(qq, false)) {
    hx_log(HX_LOG_LOGIN, ob_source(qq), kDown, "连接断开");
    hx_pl_notify_login(qq.c_str(), 0);
  }
}

// ---- public ----

void hx_ob_init() {
  if (!g_obInited) {
    g_obInited = true;
    {
      std::lock_guard lock(g_linkCs);
      for (auto& l : g_links) l = HxLink{};
      for (auto& w : g_want) w = Want{};
    }
    ob_calls_reset();
    if (std::optional<std::string> env = sys_getenv("HX_WS_RETRY_SEC")) {
      int sec = hx_to_int(*env, 0);
      if (sec >= 1 && sec <= kRetryMaxSec) {
        g_retrySec = sec;
        hx_logf(HX_LOG_SYSTEM, kHost, "系统(↓)", "断线重连间隔已设为 %d 秒（HX_WS_RETRY_SEC）", sec);
      }
    }
    hx_milky_detect();
  }
  g_stop = false;
}

int hx_ob_start() {
  if (g_cfg.reverseMode) return start_server() ? 1 : 0;
  std::vector<HxAccount> accounts;
  {
    std::lock_guard lock(g_linkCs);
    accounts.assign(g_cfg.accounts, g_cfg.accounts + g_cfg.accountCount);
  }
  int started = 0;
  for (const HxAccount& acc : accounts) {
    if (!acc.ip[0] || acc.port < 1) continue;
    if (start_forward(acc)) {
      log_forward(acc);
      ++started;
    }
  }
  if (started > 0) {
    retry_thread_ensure();
  } else {
    hx_log(HX_LOG_ERROR, kHost, kErr, "未找到可用的 Bot 配置（main\\data\\Bot\\QQ*.json）");
  }
  return started;
}

bool hx_ob_login(std::string_view qq_view) {
  if (g_cfg.reverseMode) return start_server();
  std::string qq(qq_view);
  std::optional<HxAccount> acc;
  bool online;
  {
    std::lock_guard lock(g_linkCs);
    acc = account_copy(qq);
    online = open_link_self(qq) != nullptr;
  }
  if (!acc) {
    hx_logf(HX_LOG_ERROR, ob_source(qq), kErr, "未找到账号 %s 的配置，无法登录", qq.c_str());
    return false;
  }
  if (!acc->ip[0] || acc->port < 1) {
    hx_logf(HX_LOG_ERROR, ob_source(qq), kErr, "账号 %s 缺少有效的监听地址，无法登录", qq.c_str());
    return false;
  }
  if (online) {
    hx_logf(HX_LOG_LOGIN, ob_source(qq), kUp, "账号 %s 已经在线", qq.c_str());
    return true;
  }
  if (!start_forward(*acc)) {
    hx_logf(HX_LOG_ERROR, ob_source(qq), kErr, "账号 %s 连接 %s:%d 失败", qq.c_str(), acc->ip, acc->port);
    return false;
  }
  retry_thread_ensure();
  log_forward(*acc);
  return true;
}

void hx_ob_logout(std::string_view qq_view) {
  std::string qq(qq_view);
  ws_conn* c = nullptr;
  bool was_logged_in = false;
  {
    std::lock_guard lock(g_linkCs);
    // A logout also ends the reconnection of an account whose link is down.
    if (Want* w = want_find(qq)) {
      w->wanted = false;
      w->attempts = 0;
    }
    if (HxLink* l = open_link_self(qq)) {
      c = hx_ws_addref(l->conn);
      was_logged_in = l->loggedIn;
      if (Want* w = want_find(l->accQq[0] ? std::string_view(l->accQq) : std::string_view(qq))) {
        w->wanted = false;
        w->attempts = 0;
      }
      *l = HxLink{};
    }
  }
  if (!c) {
    hx_logf(HX_LOG_LOGIN, ob_source(qq), kDown, "账号 %s 当前未在线", qq.c_str());
    return;
  }
  hx_logf(HX_LOG_LOGIN, ob_source(qq), kDown, "账号 %s 主动登出，关闭连接", qq.c_str());
  if (was_logged_in) hx_pl_notify_login(qq.c_str(), 0);
  hx_ws_close(c);
  hx_ws_release(c);
}

int hx_ob_auto_login_all(std::string& result) {
  result.clear();
  if (!g_cfg.autoLogin) {
    result = "启动时自动登录：开关为「关」，未发起任何连接";
    return 0;
  }
  if (g_cfg.reverseMode) {
    // Reverse mode starts with an empty account list (backends fill it as they
    // connect), so what auto-login means here is: listen.
    bool ok = start_server();
    sb_printf(result, "启动时自动登录：反向模式，%s监听端口 %d", ok ? "已开始" : "未能", g_cfg.reversePort);
    return ok ? 1 : 0;
  }
  std::vector<std::string> ids;
  {
    std::lock_guard lock(g_linkCs);
    for (int i = 0; i < g_cfg.accountCount; ++i) {
      if (g_cfg.accounts[i].id[0]) ids.emplace_back(g_cfg.accounts[i].id);
    }
  }
  if (ids.empty()) {
    hx_log(HX_LOG_ERROR, kHost, kErr, "启动时自动登录：没有可登录的账号（main\\data\\Bot 下没有 QQ*.json）");
    result = "启动时自动登录：无账号配置（Bot 目录下没有 QQ*.json）";
    return 0;
  }
  int started = 0;
  for (const auto& id : ids) started += hx_ob_login(id) ? 1 : 0;
  const int total = static_cast<int>(ids.size());
  hx_logf(HX_LOG_LOGIN, kHost, kUp, "启动时自动登录：已对 %d/%d 个账号发起连接（%s）", started, total, "正向");
  sb_printf(result, "启动时自动登录：%d/%d 个账号已发起（%s）", started, total, "正向");
  return started;
}

void hx_ob_tick() {
  const int hb = g_cfg.heartbeat > 0 ? g_cfg.heartbeat : kHeartbeatDefault;
  const std::int64_t now = hx_now();
  std::vector<ws_conn*> idle;
  {
    std::lock_guard lock(g_linkCs);
    for (auto& l : g_links) {
      if (!l.conn || !hx_ws_is_open(l.conn) || now - l.lastActive < hb) continue;
      l.lastActive = now;
      idle.push_back(hx_ws_addref(l.conn));
    }
  }
  for (ws_conn* c : idle) {
    hx_ws_ping(c);  // no pong is awaited
    hx_ws_release(c);
  }
}

void hx_ob_stop() {
  g_stop = true;
  {
    std::lock_guard lock(g_linkCs);
    for (auto& w : g_want) {
      w.wanted = false;
      w.attempts = 0;
    }
  }
  {
    std::unique_ptr<HxThread> th;
    {
      std::lock_guard lock(g_retryMu);
      th = std::move(g_retryTh);
    }
    if (th) th->stop_and_wait(5000);
  }
  ob_roster_join(3000);
  std::unique_ptr<HxThread> logins[kRecognitionThreads];
  {
    std::lock_guard lock(g_thCs);
    for (int i = 0; i < kRecognitionThreads; ++i) logins[i] = std::move(g_loginTh[i]);
  }
  for (auto& th : logins) {
    if (th) th->stop_and_wait(6000);
  }
  ws_conn* conns[HX_MAX_LINKS] = {};
  {
    std::lock_guard lock(g_linkCs);
    for (int i = 0; i < HX_MAX_LINKS; ++i) {
      if (g_links[i].conn) conns[i] = hx_ws_addref(g_links[i].conn);
    }
  }
  for (int i = 0; i < HX_MAX_LINKS; ++i) {
    if (!conns[i]) continue;
    hx_ws_close(conns[i]);
    if (!hx_ws_join(conns[i], 3000)) {
      g_wsStuck = true;
      hx_logf(HX_LOG_ERROR, kHost, kErr, "WebSocket 收包线程 3 秒内没退出（链接 %d），本次不执行 WSACleanup", i);
    }
    hx_ws_release(conns[i]);
  }
  std::lock_guard lock(g_serverMu);
  if (g_server) {
    if (hx_ws_server_stop(g_server) != 0) g_wsStuck = true;
    g_server = nullptr;
  }
}

bool hx_ob_ws_stuck() { return g_wsStuck; }

bool hx_ob_online(std::string_view qq) {
  std::lock_guard lock(g_linkCs);
  return open_link_self(qq) != nullptr;
}

std::int64_t hx_ob_login_time(std::string_view qq) {
  std::lock_guard lock(g_linkCs);
  HxLink* l = open_link_self(qq);
  return l ? l->loginTime : 0;
}

int hx_ob_link_count() {
  std::lock_guard lock(g_linkCs);
  int n = 0;
  for (auto& l : g_links) n += l.conn && hx_ws_is_open(l.conn) ? 1 : 0;
  return n;
}

bool hx_ob_is_reverse() { return g_cfg.reverseMode != 0; }

void hx_ob_stat_bump(std::string_view qq, long long received, long long sent) {
  if (received == 0 && sent == 0) return;
  std::lock_guard lock(g_statCs);
  if (Stat* s = stat_slot(qq, true)) {
    s->received += received;
    s->sent += sent;
  }
}

void hx_ob_stat_set_roster(std::string_view qq, long long friends, long long groups) {
  std::lock_guard lock(g_statCs);
  Stat* s = stat_slot(qq, true);
  if (!s) return;
  if (friends >= 0) s->friends = friends;
  if (groups >= 0) s->groups = groups;
}

long long hx_ob_stat_get(std::string_view qq, int kind) {
  std::lock_guard lock(g_statCs);
  Stat* s = stat_slot(qq, false);
  if (!s) return kind == 0 || kind == 1 ? 0 : -1;
  switch (kind) {
    case 0:
      return s->received;
    case 1:
      return s->sent;
    case 2:
      return s->friends;
    default:
      return s->groups;
  }
}
