// Action calls: requests with echo numbers, the pending-call table and reply
// matching; the roster threads.
#include <cjson/cJSON.h>

#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <vector>

#include "foundation/env.h"
#include "foundation/json.h"
#include "foundation/log.h"
#include "foundation/thread.h"
#include "foundation/util.h"
#include "link/onebot_internal.h"
#include "sys/clock.h"
#include "sys/process.h"

namespace {

constexpr int kPending = 64;
constexpr long long kEchoStart = 1000;

struct Pend {
  bool used;
  const ws_conn* conn;  // only a reply that arrives on this connection completes the call
  long long echo;
  bool answered;
  std::optional<std::string> reply;
};
Pend g_pend[kPending];  // guarded by g_pendCs
std::condition_variable g_pendCv[kPending];
std::mutex g_pendCs;
std::atomic<long long> g_echoSeq{kEchoStart};

std::string build_request(std::string_view action, std::string_view params, long long echo) {
  HxJson root(cJSON_CreateObject());
  cJSON_AddStringToObject(root.get(), "action", std::string(action).c_str());
  cJSON* p = params.empty() ? nullptr : cJSON_ParseWithLength(params.data(), params.size());
  if (!p) p = cJSON_CreateObject();  // empty or unparsable parameters become {}
  cJSON_AddItemToObject(root.get(), "params", p);
  cJSON_AddNumberToObject(root.get(), "echo", static_cast<double>(echo));
  HxJsonText text(cJSON_PrintUnformatted(root.get()));
  return text ? std::string(text.get()) : std::string();
}

}  // namespace

void ob_calls_reset() {
  std::lock_guard lock(g_pendCs);
  for (auto& p : g_pend) p = Pend{};
}

bool ob_call_conn(ws_conn* c, std::string_view bot_qq, std::string_view action, std::string_view params,
                  std::optional<std::string>* reply, int timeout_ms) {
  if (reply) reply->reset();
  const std::string qq(bot_qq);
  if (timeout_ms > 0 && t_obReceiveThread) {
    // The reply would arrive on this very thread: waiting here can only time out.
    hx_logf(HX_LOG_ERROR, ob_source(qq), "错误(↓)", "不能在连接的收包线程上等待动作回复：%s（已拒绝，调用方：%s）",
            std::string(action).c_str(), ob_caller_name());
    return false;
  }
  const long long echo = ++g_echoSeq;
  const std::string request = build_request(action, params, echo);
  int slot = -1;
  if (timeout_ms > 0) {
    std::lock_guard lock(g_pendCs);
    for (int i = 0; i < kPending; ++i) {
      if (!g_pend[i].used) {
        g_pend[i] = Pend{true, c, echo, false, std::nullopt};
        slot = i;
        break;
      }
    }
  }
  if (timeout_ms > 0 && slot < 0) {
    // The caller needs the reply and none could be waited for: sending anyway
    // would report success for an action whose outcome nobody will learn.
    hx_logf(HX_LOG_ERROR, ob_source(qq), "错误(↓)", "等待回复的动作已达 %d 个，动作 %s 未发出（调用方：%s）", kPending,
            std::string(action).c_str(), ob_caller_name());
    return false;
  }
  if (hx_cfg_get(&HxCfg::logApi)) hx_logf(HX_LOG_API, ob_source(qq), "API", "→ %s", request.c_str());
  const std::size_t sent = hx_ws_send_text(c, request.c_str());
  if (!qq.empty() && sent > 0 && action.substr(0, 5) == "send_") hx_ob_stat_bump(qq, 0, 1);
  if (slot < 0) return sent > 0;

  std::unique_lock lock(g_pendCs);
  // Nothing written: no reply can come, so there is nothing to wait for.
  bool answered = sent > 0 && g_pendCv[slot].wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                                      [slot] { return g_pend[slot].answered; });
  Pend& p = g_pend[slot];
  if (p.reply) {
    if (answered && hx_cfg_get(&HxCfg::logApi)) hx_logf(HX_LOG_API, ob_source(qq), "API", "← %s", p.reply->c_str());
    if (reply) *reply = std::move(p.reply);
  }
  p = Pend{};
  return answered;
}

void ob_reply_match(const ws_conn* c, long long echo, std::string_view text) {
  std::lock_guard lock(g_pendCs);
  for (int i = 0; i < kPending; ++i) {
    if (!g_pend[i].used || g_pend[i].echo != echo || g_pend[i].conn != c) continue;
    g_pend[i].reply = std::string(text);
    g_pend[i].answered = true;
    g_pendCv[i].notify_all();
    return;
  }
  // A reply nobody waits for (late, a fire-and-forget call, or an echo of a
  // call sent on another connection) is dropped.
}

bool hx_ob_call(std::string_view bot_qq, std::string_view action, std::string_view params,
                std::optional<std::string>* reply, int timeout_ms) {
  if (reply) reply->reset();
  if (action.empty()) return false;
  if (auto* elsewhere = hx_ob_hooks().call) {
    const int carried = elsewhere(bot_qq, action, params, reply, timeout_ms);
    if (carried >= 0) return carried == 1;
  }
  const std::string qq(bot_qq);
  ws_conn* c = nullptr;
  int open = 0;
  {
    std::lock_guard lock(g_linkCs);
    ws_conn* first = nullptr;
    for (auto& l : g_links) {
      if (!l.conn || !hx_ws_is_open(l.conn)) continue;
      ++open;
      if (!first) first = l.conn;
      if (!c && !qq.empty() && ob_qq(qq) == l.selfQq) c = l.conn;
    }
    // Without a match, another account's link may serve only when nothing
    // else is possible: no QQ was named, or there is just one link.
    if (!c && (qq.empty() || open == 1)) c = first;
    if (c) hx_ws_addref(c);
  }
  if (!c) {
    if (open == 0) {
      hx_logf(HX_LOG_ERROR, ob_source(qq), "错误(↓)", "无可用连接，无法执行动作：%s（调用方：%s）",
              std::string(action).c_str(), ob_caller_name());
    } else {
      hx_logf(HX_LOG_ERROR, ob_source(qq), "错误(↓)", "账号 %s 没有在线的连接，动作 %s 未发出（调用方：%s）",
              qq.c_str(), std::string(action).c_str(), ob_caller_name());
    }
    return false;
  }
  bool ok = ob_call_conn(c, qq, action, params, reply, timeout_ms);
  hx_ws_release(c);
  return ok;
}

bool hx_ob_call_fmt(std::string_view bot_qq, std::string_view action, const char* fmt, ...) {
  if (!fmt) return false;
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  char local[1024];
  int n = std::vsnprintf(local, sizeof local, fmt, ap);
  va_end(ap);
  std::string params;
  if (n >= 0 && static_cast<std::size_t>(n) < sizeof local) {
    params.assign(local, static_cast<std::size_t>(n));
  } else if (n >= 0) {
    params.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(params.data(), params.size(), fmt, again);
    params.resize(static_cast<std::size_t>(n));
  }
  va_end(again);
  if (n < 0) return false;
  return hx_ob_call(bot_qq, action, params, nullptr, 0);
}

// ---- message cache ----

namespace {

constexpr int kCacheAccounts = 16;

struct CacheEntry {
  bool used;
  std::string id, group, sender, nickname, text;
};
struct CacheBlock {
  bool used = false;
  std::string qq;
  int next = 0, count = 0;
  std::vector<CacheEntry> entries;
};
CacheBlock g_msgCache[kCacheAccounts];  // guarded by g_msgCacheCs
std::mutex g_msgCacheCs;

void cache_probe(const char* what, std::string_view id, std::string_view text) {
  if (!hx_env().msgcacheProbe) return;
  std::string hex;
  for (std::size_t i = 0; i < text.size() && i < 24; ++i) sb_printf(hex, "%02X ", static_cast<unsigned char>(text[i]));
  hx_logf(HX_LOG_SYSTEM, "框架", "系统(↓)", "[缓存探针] %s id=%s len=%d hex=%s", what, std::string(id).c_str(),
          static_cast<int>(text.size()), hex.c_str());
}

}  // namespace

void hx_ob_msgcache_put(std::string_view bot_qq, std::string_view message_id, std::string_view group,
                        std::string_view sender, std::string_view nickname, std::string_view text) {
  if (!hx_cfg_get(&HxCfg::msgCache) || bot_qq.empty() || message_id.empty()) return;
  std::string stored = hx_auto_to_utf8(text).value_or(std::string());
  // Cut where a character ends, so that the text stays valid UTF-8 and is
  // not taken for GBK when it is read back.
  stored.resize(hx_utf8_cut(stored, HX_MSGCACHE_TEXT_MAX));
  {
    std::lock_guard lock(g_msgCacheCs);
    CacheBlock* block = nullptr;
    for (auto& b : g_msgCache) {
      if (b.used && b.qq == ob_qq(bot_qq)) block = &b;
    }
    for (auto& b : g_msgCache) {
      if (!block && !b.used) {
        b = CacheBlock{};
        b.used = true;
        b.qq = ob_qq(bot_qq);
        b.entries.resize(HX_MSGCACHE_PER_ACCOUNT);
        block = &b;
      }
    }
    if (!block) return;  // 16 accounts cached already
    block->entries[static_cast<std::size_t>(block->next)] =
        CacheEntry{true,
                   std::string(message_id.substr(0, 63)),
                   std::string(group.substr(0, HX_QQ_MAX)),
                   std::string(sender.substr(0, HX_QQ_MAX)),
                   std::string(nickname.substr(0, hx_utf8_cut(nickname, 63))),
                   stored};
    block->next = (block->next + 1) % HX_MSGCACHE_PER_ACCOUNT;
    if (block->count < HX_MSGCACHE_PER_ACCOUNT) ++block->count;
  }
  cache_probe("put", message_id, stored);
}

std::optional<std::string> hx_ob_msgcache_get(std::string_view bot_qq, std::string_view message_id) {
  std::optional<std::string> found;
  {
    std::lock_guard lock(g_msgCacheCs);
    for (const auto& b : g_msgCache) {
      if (!b.used || b.qq != ob_qq(bot_qq)) continue;
      for (int j = 0; j < b.count && !found; ++j) {
        const CacheEntry& e = b.entries[static_cast<std::size_t>(
            ((b.next - 1 - j) % HX_MSGCACHE_PER_ACCOUNT + HX_MSGCACHE_PER_ACCOUNT) % HX_MSGCACHE_PER_ACCOUNT)];
        if (e.used && !e.id.empty() && e.id == message_id) found = e.text;
      }
      break;
    }
  }
  if (found) cache_probe("get", message_id, *found);
  return found;
}

void hx_ob_msgcache_clear() {
  std::lock_guard lock(g_msgCacheCs);
  for (auto& b : g_msgCache) b = CacheBlock{};
}

// ---- roster ----

namespace {

constexpr int kRosterThreads = 16;
constexpr int kRosterWaitMs = 5000;
std::mutex g_rosterCs;
std::unique_ptr<HxThread> g_rosterTh[kRosterThreads];  // guarded by g_rosterCs

// Counts a list reply's "data" array and fills the name caches from it;
// -1 when the call failed or "data" is no array.
long long roster_list(const std::string& qq, const char* action) {
  std::optional<std::string> reply;
  if (!hx_ob_call(qq, action, "{}", &reply, kRosterWaitMs) || !reply) return -1;
  HxJson root(cJSON_Parse(reply->c_str()));
  const cJSON* data = root ? cJSON_GetObjectItemCaseSensitive(root.get(), "data") : nullptr;
  if (!cJSON_IsArray(data)) return -1;
  const HxObHooks& hooks = hx_ob_hooks();
  const cJSON* item;
  cJSON_ArrayForEach(item, data) {
    if (cJSON_GetObjectItemCaseSensitive(item, "group_id")) {
      std::string id = ob_json_id(item, "group_id"), name = ob_json_str(item, "group_name");
      if (!name.empty() && hooks.cache_group) hooks.cache_group(qq, id, name);
    } else {
      std::string id = ob_json_id(item, "user_id"), name = ob_json_str(item, "nickname");
      if (!name.empty() && hooks.cache_nick) hooks.cache_nick(qq, id, name);
    }
  }
  return cJSON_GetArraySize(data);
}

void roster_nickname(const std::string& qq) {
  const char* src = qq.c_str();
  std::uint64_t t0 = sys_ticks_ms();
  std::optional<std::string> reply;
  if (!hx_ob_call(qq, "get_login_info", "{}", &reply, kRosterWaitMs)) {
    hx_logf(HX_LOG_ERROR, src, "错误(↓)",
            "获取账号昵称失败：后端未响应 get_login_info（等待 %u ms）。侧栏将退回显示 QQ 号，稍后会自动重试",
            static_cast<unsigned>(sys_ticks_ms() - t0));
    return;
  }
  if (!reply || reply->empty()) {
    hx_log(HX_LOG_ERROR, src, "错误(↓)", "获取账号昵称失败：get_login_info 返回空响应");
    return;
  }
  HxJson root(cJSON_Parse(reply->c_str()));
  if (!root) {
    hx_log(HX_LOG_ERROR, src, "错误(↓)", "获取账号昵称失败：get_login_info 响应不是合法 JSON");
    return;
  }
  const cJSON* data = cJSON_GetObjectItemCaseSensitive(root.get(), "data");
  if (!cJSON_IsObject(data)) data = root.get();
  std::string nick;
  for (const char* key : {"nickname", "user_name", "nick"}) {
    nick = ob_json_str(data, key);
    if (!nick.empty()) break;
  }
  if (nick.empty()) {
    hx_log(HX_LOG_ERROR, src, "错误(↓)", "获取账号昵称失败：响应里没有 nickname/user_name/nick 字段");
    return;
  }
  bool changed = false;
  std::optional<HxAccount> copy = hx_cfg_account_set_nickname(qq, nick, &changed);
  if (!copy) return;
  if (!changed) {
    hx_dbgf("登录", "昵称未变化（仍是 %s），不重复落盘", nick.c_str());
    return;
  }
  // Reverse-mode accounts live in memory only.
  if (!hx_cfg_get(&HxCfg::reverseMode)) hx_cfg_save_bot(&*copy);
  hx_logf(HX_LOG_LOGIN, src, "登录(↑)", "已获取机器人昵称：%s", nick.c_str());
}

void roster_thread(const std::string& qq) {
  if (g_stop) return;
  const char* src = qq.c_str();
  hx_log(HX_LOG_SYSTEM, src, "系统(↓)", "正在获取账号信息：昵称 / 好友数 / 群数 …");
  roster_nickname(qq);
  long long friends = roster_list(qq, "get_friend_list");
  long long groups = -1;
  if (!g_stop) groups = roster_list(qq, "get_group_list");
  hx_ob_stat_set_roster(qq, friends, groups);
  if (friends >= 0 && groups >= 0) {
    hx_logf(HX_LOG_LOGIN, src, "登录(↑)", "已获取好友/群组数：%lld / %lld", friends, groups);
  } else {
    hx_logf(HX_LOG_ERROR, src, "错误(↓)",
            "已获取好友/群组数：%lld / %lld（-1 = 后端未响应 get_friend_list / get_group_list）", friends, groups);
  }
}

}  // namespace

void hx_ob_stat_refresh_roster(std::string_view qq_view) {
  if (qq_view.empty() || g_stop) return;
  std::string qq(qq_view);
  std::lock_guard lock(g_rosterCs);
  for (auto& slot : g_rosterTh) {
    if (slot && slot->finished()) {
      slot->wait(0);
      slot.reset();
    }
  }
  for (auto& slot : g_rosterTh) {
    if (slot) continue;
    slot = std::make_unique<HxThread>();
    if (!slot->start([qq](HxStop&) { roster_thread(qq); })) slot.reset();
    return;
  }
  hx_log(HX_LOG_SYSTEM, qq.c_str(), "系统(↓)", "好友/群数刷新线程已满，本次跳过");
}

void hx_ob_roster_join(int ms) {
  std::unique_ptr<HxThread> taken[kRosterThreads];
  {
    std::lock_guard lock(g_rosterCs);
    for (int i = 0; i < kRosterThreads; ++i) taken[i] = std::move(g_rosterTh[i]);
  }
  const std::uint64_t deadline = sys_ticks_ms() + static_cast<std::uint64_t>(ms < 1 ? 3000 : ms);
  for (auto& th : taken) {
    if (!th) continue;
    std::uint64_t now = sys_ticks_ms();
    th->wait(now >= deadline ? 0 : static_cast<int>(deadline - now));
  }
}
