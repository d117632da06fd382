// Reverse mode: the host's WebSocket server that backends connect to, and
// the recognition of each new connection (which QQ is it?) by asking the
// backend get_login_info on a thread of its own.
//
// g_serverMu guards the server; g_thCs the recognition threads. The account
// table is changed through the configuration module, under its own lock.
#include <memory>
#include <vector>

#include "foundation/json.h"
#include "foundation/log.h"
#include "foundation/thread.h"
#include "foundation/util.h"
#include "link/onebot_internal.h"

namespace {

constexpr int kRecognitionThreads = 16;
constexpr int kRecognitionWaitMs = 5000;
constexpr int kRecognitionStopMs = 6000;
constexpr int kAliveProbeMs = 2000;  // how long an older link of the same QQ gets to answer a ping

ObConnUser g_reverseUser{true, nullptr};

std::mutex g_serverMu;
ws_server* g_server = nullptr;  // guarded by g_serverMu

std::mutex g_thCs;
std::unique_ptr<HxThread> g_loginTh[kRecognitionThreads];  // guarded by g_thCs

struct Identity {
  std::string qq, nick;
};

// The QQ and nickname a get_login_info reply names; nullopt (after the log
// line) when it names none.
std::optional<Identity> parse_identity(const std::string& reply) {
  HxJson root(cJSON_Parse(reply.c_str()));
  if (!root) {
    hx_log(HX_LOG_ERROR, kObHost, kObErr, "反向通信接入：get_login_info 响应不是合法 JSON");
    return std::nullopt;
  }
  const cJSON* data = cJSON_GetObjectItemCaseSensitive(root.get(), "data");
  if (!cJSON_IsObject(data)) data = root.get();
  Identity id;
  id.qq = ob_json_id(data, "user_id");
  if (id.qq.empty()) id.qq = ob_json_id(data, "self_id");
  id.qq = id.qq.substr(0, HX_QQ_MAX);
  if (id.qq.empty()) {
    hx_log(HX_LOG_ERROR, kObHost, kObErr, "反向通信接入：get_login_info 响应里没有 user_id/self_id，无法识别账号");
    return std::nullopt;
  }
  for (const char* key : {"nickname", "user_name", "nick"}) {
    id.nick = ob_json_str(data, key);
    if (!id.nick.empty()) break;
  }
  return id;
}

void recognise(ws_conn* c) {
  std::optional<std::string> reply;
  if (!ob_call_conn(c, "", "get_login_info", "{}", &reply, kRecognitionWaitMs) || !reply) {
    hx_log(HX_LOG_ERROR, kObHost, kObErr,
           "反向通信接入后 5 秒内未响应 get_login_info（该连接不会被识别为任何账号，断开即丢弃）");
    return;
  }
  std::optional<Identity> who = parse_identity(*reply);
  if (!who) return;
  const std::string& qq = who->qq;
  std::string peer = hx_ws_peer(c), ip = peer;
  int port = 0;
  if (size_t colon = peer.rfind(':'); colon != std::string::npos) {
    ip = peer.substr(0, colon);
    port = hx_to_int(peer.substr(colon + 1), 0);
  }
  ip = ip.substr(0, 255);
  const char* shown = who->nick.empty() ? "(未取到)" : who->nick.c_str();

  // An older connection of the same account: a backend that reconnected
  // before its old connection was seen to drop must not leave a stale link
  // (nor tell the plugins of a second login). But without a token anyone who
  // reaches the port can claim a QQ: an old link that still answers a ping
  // keeps its place, and the newcomer is the one closed.
  std::vector<ws_conn*> older;
  {
    std::lock_guard lock(g_linkCs);
    if (!ob_slot_of(c)) return;  // closed while we asked: nothing to recognise
    for (auto& l : g_links) {
      if (l.conn && l.conn != c && l.reverse && qq == l.accQq) older.push_back(hx_ws_addref(l.conn));
    }
  }
  bool old_alive = false;
  for (ws_conn* old : older) {
    if (!old_alive && hx_ws_is_open(old) && hx_ws_ping_wait(old, kAliveProbeMs)) old_alive = true;
  }
  if (old_alive) {
    for (ws_conn* old : older) hx_ws_release(old);
    hx_logf(HX_LOG_ERROR, qq.c_str(), kObErr, "反向通信接入：QQ=%s 已有在线且仍有响应的连接，关闭新连接 %s", qq.c_str(),
            peer.c_str());
    hx_ws_close(c);
    return;
  }
  // The login notice and the close of this connection are told in order:
  // a close waits for the notice, or comes first and leaves nothing to tell.
  std::lock_guard tell(g_obTellMu);
  auto drop_older = [&older](bool close) {
    for (ws_conn* old : older) {
      if (close) hx_ws_close(old);
      hx_ws_release(old);
    }
  };
  {
    std::lock_guard lock(g_linkCs);
    if (!ob_slot_of(c)) {  // closed meanwhile
      drop_older(false);
      return;
    }
  }
  const HxAccountAdd added = hx_cfg_account_add(qq, ip, port, who->nick);
  if (added == HxAccountAdd::full) {
    drop_older(false);
    hx_logf(HX_LOG_ERROR, kObHost, kObErr, "反向通信接入：账号列表已满（%d），忽略接入 QQ=%s", HX_MAX_ACCOUNTS,
            qq.c_str());
    return;
  }
  bool told_before = false;
  {
    std::lock_guard lock(g_linkCs);
    HxLink* mine = ob_slot_of(c);
    if (mine) {
      for (auto& l : g_links) {
        if (!l.conn || l.conn == c || !l.reverse || qq != l.accQq) continue;
        told_before |= l.loggedIn;
        l = HxLink{};
      }
      ob_copy_qq(mine->accQq, qq);
      ob_copy_qq(mine->selfQq, qq);
      mine->loginTime = hx_now();
      told_before |= mine->loggedIn;
      mine->loggedIn = true;
    }
    if (!mine) {  // logged out meanwhile: what was added goes again
      drop_older(false);
      if (added == HxAccountAdd::added) hx_cfg_account_remove(qq);
      return;
    }
  }
  drop_older(true);
  if (added == HxAccountAdd::known) {
    hx_logf(HX_LOG_LOGIN, qq.c_str(), kObUp,
            "反向通信接入识别成功：QQ=%s 昵称=%s 来自=%s:%d（账号列表中已存在，仅刷新昵称）", qq.c_str(), shown,
            ip.c_str(), port);
  } else {
    hx_logf(HX_LOG_LOGIN, qq.c_str(), kObUp, "反向通信接入识别成功：QQ=%s 昵称=%s 来自=%s:%d（已加入账号列表，不写盘）",
            qq.c_str(), shown, ip.c_str(), port);
  }
  if (!told_before) {
    hx_log(HX_LOG_LOGIN, qq.c_str(), kObUp, "通知登录成功（反向接入识别）");
    ob_tell_login(qq, 1);
    hx_ob_stat_refresh_roster(qq);
  }
  ob_tell_accounts_changed();
}

}  // namespace

bool ob_server_start() {
  std::lock_guard lock(g_serverMu);
  if (g_server) return true;
  const int port = hx_cfg_get(&HxCfg::reversePort);
  g_server = hx_ws_server_start("0.0.0.0", port, g_cfg.token, ob_callbacks(&g_reverseUser));
  if (g_server) {
    hx_logf(HX_LOG_LOGIN, kObHost, kObUp, "已启动反向通信，监听端口 %d，等待后端连入", hx_ws_server_port(g_server));
    if (!g_cfg.token[0]) {
      hx_log(HX_LOG_ERROR, kObHost, kObErr,
             "警告：反向通信未设置钥匙，任何能连到该端口的程序都能冒充任意 QQ 接入（请在设置里填写钥匙）");
    }
    return true;
  }
  hx_logf(HX_LOG_ERROR, kObHost, kObErr, "反向通信监听 %d 端口失败", port);
  return false;
}

// One recognition thread per reverse connection, holding a reference.
void ob_recognition_start(ws_conn* c) {
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

void ob_recognition_stop() {
  std::unique_ptr<HxThread> logins[kRecognitionThreads];
  {
    std::lock_guard lock(g_thCs);
    for (int i = 0; i < kRecognitionThreads; ++i) logins[i] = std::move(g_loginTh[i]);
  }
  for (auto& th : logins) {
    if (th) th->stop_and_wait(kRecognitionStopMs);
  }
}

// A reverse account leaves the account list with its connection.
void ob_reverse_forget(const std::string& qq) {
  if (!hx_cfg_account_remove(qq)) return;
  hx_logf(HX_LOG_LOGIN, qq.c_str(), kObDown, "反向通信断开：已从账号列表移除（QQ=%s，不写盘 / 不重连）", qq.c_str());
  ob_tell_accounts_changed();
}

bool ob_server_stop() {
  std::lock_guard lock(g_serverMu);
  if (!g_server) return false;
  const bool stuck = hx_ws_server_stop(g_server) != 0;
  g_server = nullptr;
  return stuck;
}
