// Account links: the link table and the reconnect wish list, start, login
// and logout, opened and closed connections, login detection, the heartbeat
// and shutdown. Forward connects live in onebot_forward, reverse recognition
// in onebot_reverse, the counters in onebot_stats.
//
// g_linkCs guards the link table and the wish list. Logging, telling the
// layers above and network sends happen outside it; the account table has
// its own lock, owned by the configuration module.
#include <vector>

#include "foundation/log.h"
#include "foundation/util.h"
#include "link/onebot_internal.h"

HxLink g_links[HX_MAX_LINKS];
std::mutex g_linkCs;
std::atomic<bool> g_stop{false};
std::mutex g_obTellMu;
thread_local bool t_obReceiveThread = false;

namespace {

constexpr int kWants = 16;
constexpr int kHeartbeatDefault = 600;
constexpr int kLinkJoinMs = 3000;
constexpr int kRosterJoinMs = 3000;

ObWant g_want[kWants];  // guarded by g_linkCs; entries never move (forward clients carry their address)
bool g_obInited = false;
std::atomic<bool> g_wsStuck{false};

}  // namespace

// ---- the table ----

void ob_copy_qq(char (&dst)[32], std::string_view qq) { hx_copy_field(dst, sizeof dst, qq.substr(0, HX_QQ_MAX)); }

HxLink* ob_slot_of(ws_conn* c) {
  for (auto& l : g_links) {
    if (l.conn && l.conn == c) return &l;
  }
  return nullptr;
}

HxLink* ob_open_link_self(std::string_view qq) {
  for (auto& l : g_links) {
    if (l.conn && hx_ws_is_open(l.conn) && ob_qq(qq) == l.selfQq) return &l;
  }
  return nullptr;
}

HxLink* ob_open_link_account(std::string_view qq) {
  for (auto& l : g_links) {
    if (l.conn && hx_ws_is_open(l.conn) && ob_qq(qq) == l.accQq) return &l;
  }
  return nullptr;
}

ObWant* ob_want_find(std::string_view qq) {
  for (auto& w : g_want) {
    if (w.used && ob_qq(qq) == w.qq) return &w;
  }
  return nullptr;
}

ObWant* ob_want_at(int i) { return i >= 0 && i < kWants ? &g_want[i] : nullptr; }

ObWant* ob_want_mark(std::string_view qq) {
  ObWant* w = ob_want_find(qq);
  auto reusable = [](const ObWant& e) {
    return !e.used || (!e.wanted && !e.connecting && !ob_open_link_account(e.qq));
  };
  if (!w) {
    for (auto& e : g_want) {
      if (reusable(e)) {
        e = ObWant{};
        e.used = true;
        ob_copy_qq(e.qq, qq);
        e.user = ObConnUser{false, &e};
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

bool ob_link_swap_login(const ws_conn* c, std::string_view qq, bool value, std::string* known_as) {
  std::lock_guard lock(g_linkCs);
  for (auto& l : g_links) {
    if (!l.conn || (c ? l.conn != c : qq.empty() || ob_qq(qq) != l.selfQq)) continue;
    bool prev = l.loggedIn;
    l.loggedIn = value;
    if (known_as) *known_as = l.reverse && l.accQq[0] ? l.accQq : l.selfQq;
    return prev;
  }
  return false;
}

ws_callbacks ob_callbacks(ObConnUser* user) { return {on_ws_open, on_ws_message, on_ws_close, user, on_ws_fail}; }

// ---- transport callbacks ----

void on_ws_open(ws_conn* c, void* user) {
  t_obReceiveThread = true;
  if (g_stop) {  // a connect that finished after shutdown began
    hx_ws_close(c);
    return;
  }
  const auto* who = static_cast<const ObConnUser*>(user);
  const bool reverse = who && who->reverse;
  ObWant* want = who && !who->reverse ? who->want : nullptr;
  bool registered = false;
  std::string duplicate, account;
  {
    std::lock_guard lock(g_linkCs);
    if (want) want->connecting = false;
    HxLink* l = ob_slot_of(c);
    if (!l && want && ob_open_link_account(want->qq)) {
      duplicate = want->qq;  // the account is online already: keep the link it has
    } else if (!l) {
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
      if (want) ob_copy_qq(l->accQq, want->qq);
      account = l->accQq;
      registered = true;
    }
  }
  if (!duplicate.empty()) {
    hx_logf(HX_LOG_LOGIN, duplicate.c_str(), kObUp, "账号 %s 已有正向连接，关闭多余的新连接 %s", duplicate.c_str(),
            hx_ws_peer(c));
    hx_ws_close(c);
    return;
  }
  if (!registered) return;  // all 16 slots taken: the connection stays unregistered
  hx_logf(HX_LOG_LOGIN, kObHost, kObUp, "%s通信连接成功：%s", reverse ? "反向" : "正向", hx_ws_peer(c));
  if (reverse) {
    ob_recognition_start(hx_ws_addref(c));
  } else if (auto* opened = hx_ob_hooks().opened) {
    opened(c, account.c_str());
  }
}

void on_ws_close(ws_conn* c, void*) {
  t_obReceiveThread = true;
  std::lock_guard tell(g_obTellMu);
  bool found = false, reverse = false;
  std::string remembered;
  {
    std::lock_guard lock(g_linkCs);
    for (auto& l : g_links) {
      if (l.conn != c) continue;
      if (!found) {
        found = true;
        reverse = l.reverse;
        // A reverse account logs out under the QQ it was recognised (and
        // announced) as, whatever self_id its later events carried.
        if (l.loggedIn) remembered = reverse && l.accQq[0] ? l.accQq : l.selfQq;
        l.loggedIn = false;
        if (!reverse) {
          if (ObWant* w = ob_want_find(l.accQq)) w->lastAttempt = hx_now();  // next try a full interval later
        }
      }
      l = HxLink{};
    }
  }
  if (!found) return;
  hx_logf(HX_LOG_LOGIN, kObHost, kObUp, "%s通信连接断开", reverse ? "反向" : "正向");
  if (!remembered.empty()) ob_tell_login(remembered, 0);
  if (reverse && !remembered.empty()) ob_reverse_forget(remembered);
}

void on_ws_fail(void* user) {
  const auto* who = static_cast<const ObConnUser*>(user);
  if (!who || who->reverse || !who->want) return;
  std::lock_guard lock(g_linkCs);
  who->want->connecting = false;
}

// ---- intake hooks ----

void ob_touch_link(ws_conn* c, std::string_view self_qq) {
  if (!c) return;
  std::lock_guard lock(g_linkCs);
  if (HxLink* l = ob_slot_of(c)) {
    if (self_qq != "未知") ob_copy_qq(l->selfQq, self_qq);
    l->lastActive = hx_now();
  }
}

void ob_lifecycle(const ws_conn* c, std::string_view self_qq, std::string_view sub_type) {
  std::string qq(ob_qq(self_qq));
  if (!c && qq.empty()) return;  // nothing says which link it is about
  if (sub_type == "connect") {
    {
      // The login time is there before anyone is told of the login.
      std::lock_guard lock(g_linkCs);
      for (auto& l : g_links) {
        if (l.conn && (c ? l.conn == c : qq == l.selfQq)) l.loginTime = hx_now();
      }
    }
    std::string known_as;
    if (!ob_link_swap_login(c, qq, true, &known_as)) {
      if (qq.empty()) qq = known_as;
      hx_log(HX_LOG_LOGIN, ob_source(qq), kObUp, "通知登录成功");
      ob_tell_login(qq, 1);
      if (!qq.empty()) hx_ob_stat_refresh_roster(qq);
    }
    return;
  }
  std::string known_as;
  if (ob_link_swap_login(c, qq, false, &known_as)) {
    if (qq.empty()) qq = known_as;
    hx_log(HX_LOG_LOGIN, ob_source(qq), kObDown, "连接断开");
    ob_tell_login(qq, 0);
  }
}

// ---- public ----

void hx_ob_init() {
  if (!g_obInited) {
    g_obInited = true;
    {
      std::lock_guard lock(g_linkCs);
      for (auto& l : g_links) l = HxLink{};
      for (auto& w : g_want) w = ObWant{};
    }
    ob_calls_reset();
    ob_retry_configure();
  }
  g_stop = false;
}

int hx_ob_start() {
  if (hx_cfg_get(&HxCfg::reverseMode)) return ob_server_start() ? 1 : 0;
  int started = 0;
  for (const HxAccount& acc : hx_cfg_accounts()) {
    if (!acc.ip[0] || acc.port < 1) continue;
    if (ob_forward_start(acc)) {
      ob_forward_log(acc);
      ++started;
    }
  }
  if (started > 0) {
    ob_retry_ensure();
  } else {
    hx_log(HX_LOG_ERROR, kObHost, kObErr, "未找到可用的 Bot 配置（main\\data\\Bot\\QQ*.json）");
  }
  return started;
}

bool hx_ob_login(std::string_view qq_view) {
  if (hx_cfg_get(&HxCfg::reverseMode)) return ob_server_start();
  std::string qq(qq_view);
  std::optional<HxAccount> acc = hx_cfg_account(qq);
  bool online;
  {
    std::lock_guard lock(g_linkCs);
    online = ob_open_link_self(qq) != nullptr;
  }
  if (!acc) {
    hx_logf(HX_LOG_ERROR, ob_source(qq), kObErr, "未找到账号 %s 的配置，无法登录", qq.c_str());
    return false;
  }
  if (!acc->ip[0] || acc->port < 1) {
    hx_logf(HX_LOG_ERROR, ob_source(qq), kObErr, "账号 %s 缺少有效的监听地址，无法登录", qq.c_str());
    return false;
  }
  if (online) {
    hx_logf(HX_LOG_LOGIN, ob_source(qq), kObUp, "账号 %s 已经在线", qq.c_str());
    return true;
  }
  if (!ob_forward_start(*acc)) {
    hx_logf(HX_LOG_ERROR, ob_source(qq), kObErr, "账号 %s 连接 %s:%d 失败", qq.c_str(), acc->ip, acc->port);
    return false;
  }
  ob_retry_ensure();
  ob_forward_log(*acc);
  return true;
}

void hx_ob_logout(std::string_view qq_view) {
  std::string qq(qq_view);
  ws_conn* c = nullptr;
  bool was_logged_in = false;
  {
    std::lock_guard lock(g_linkCs);
    // A logout also ends the reconnection of an account whose link is down.
    if (ObWant* w = ob_want_find(qq)) {
      w->wanted = false;
      w->attempts = 0;
    }
    if (HxLink* l = ob_open_link_self(qq)) {
      c = hx_ws_addref(l->conn);
      was_logged_in = l->loggedIn;
      if (ObWant* w = ob_want_find(l->accQq[0] ? std::string_view(l->accQq) : std::string_view(qq))) {
        w->wanted = false;
        w->attempts = 0;
      }
      *l = HxLink{};
    }
  }
  if (!c) {
    hx_logf(HX_LOG_LOGIN, ob_source(qq), kObDown, "账号 %s 当前未在线", qq.c_str());
    return;
  }
  hx_logf(HX_LOG_LOGIN, ob_source(qq), kObDown, "账号 %s 主动登出，关闭连接", qq.c_str());
  if (was_logged_in) ob_tell_login(qq, 0);
  hx_ws_close(c);
  hx_ws_release(c);
}

int hx_ob_auto_login_all(std::string& result) {
  result.clear();
  if (!hx_cfg_get(&HxCfg::autoLogin)) {
    result = "启动时自动登录：开关为「关」，未发起任何连接";
    return 0;
  }
  if (hx_cfg_get(&HxCfg::reverseMode)) {
    // Reverse mode starts with an empty account list (backends fill it as they
    // connect), so what auto-login means here is: listen.
    bool ok = ob_server_start();
    sb_printf(result, "启动时自动登录：反向模式，%s监听端口 %d", ok ? "已开始" : "未能",
              hx_cfg_get(&HxCfg::reversePort));
    return ok ? 1 : 0;
  }
  std::vector<std::string> ids;
  for (const HxAccount& acc : hx_cfg_accounts()) {
    if (acc.id[0]) ids.emplace_back(acc.id);
  }
  if (ids.empty()) {
    hx_log(HX_LOG_ERROR, kObHost, kObErr, "启动时自动登录：没有可登录的账号（main\\data\\Bot 下没有 QQ*.json）");
    result = "启动时自动登录：无账号配置（Bot 目录下没有 QQ*.json）";
    return 0;
  }
  int started = 0;
  for (const auto& id : ids) started += hx_ob_login(id) ? 1 : 0;
  const int total = static_cast<int>(ids.size());
  hx_logf(HX_LOG_LOGIN, kObHost, kObUp, "启动时自动登录：已对 %d/%d 个账号发起连接（%s）", started, total, "正向");
  sb_printf(result, "启动时自动登录：%d/%d 个账号已发起（%s）", started, total, "正向");
  return started;
}

void hx_ob_tick() {
  const int setting = hx_cfg_get(&HxCfg::heartbeat);
  const int hb = setting > 0 ? setting : kHeartbeatDefault;
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
  ob_retry_stop();
  hx_ob_roster_join(kRosterJoinMs);
  ob_recognition_stop();
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
    if (!hx_ws_join(conns[i], kLinkJoinMs)) {
      g_wsStuck = true;
      hx_logf(HX_LOG_ERROR, kObHost, kObErr, "WebSocket 收包线程 3 秒内没退出（链接 %d），本次不执行 WSACleanup", i);
    }
    hx_ws_release(conns[i]);
  }
  if (ob_server_stop()) g_wsStuck = true;
  if (auto* stopped = hx_ob_hooks().stopped) stopped();
}

bool hx_ob_ws_stuck() { return g_wsStuck; }

bool hx_ob_online(std::string_view qq) {
  std::lock_guard lock(g_linkCs);
  return ob_open_link_self(qq) != nullptr;
}

std::int64_t hx_ob_login_time(std::string_view qq) {
  std::lock_guard lock(g_linkCs);
  HxLink* l = ob_open_link_self(qq);
  return l ? l->loginTime : 0;
}

int hx_ob_link_count() {
  std::lock_guard lock(g_linkCs);
  int n = 0;
  for (auto& l : g_links) n += l.conn && hx_ws_is_open(l.conn) ? 1 : 0;
  return n;
}

bool hx_ob_is_reverse() { return hx_cfg_get(&HxCfg::reverseMode) != 0; }
