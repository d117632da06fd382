// Action calls: requests with echo numbers, the pending-call table and reply
// matching; the roster threads.
#include <cjson/cJSON.h>

#include <condition_variable>
#include <memory>

#include "config/cfg.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "link/onebot_internal.h"
#include "plugin/plugin.h"

namespace {

constexpr int kPending = 64;
constexpr long long kEchoStart = 1000;

struct Pend {
  bool used;
  long long echo;
  bool answered;
  std::optional<std::string> reply;
};
Pend g_pend[kPending];  // guarded by g_pendCs
std::condition_variable g_pendCv[kPending];
std::mutex g_pendCs;
std::atomic<long long> g_echoSeq{kEchoStart};

struct JsonDeleter {
  void operator()(cJSON* j) const { cJSON_Delete(j); }
};
using Json = std::unique_ptr<cJSON, JsonDeleter>;

std::string build_request(std::string_view action, std::string_view params, long long echo) {
  Json root(cJSON_CreateObject());
  cJSON_AddStringToObject(root.get(), "action", std::string(action).c_str());
  cJSON* p = params.empty() ? nullptr : cJSON_ParseWithLength(params.data(), params.size());
  if (!p) p = cJSON_CreateObject();  // empty or unparsable parameters become {}
  cJSON_AddItemToObject(root.get(), "params", p);
  cJSON_AddNumberToObject(root.get(), "echo", static_cast<double>(echo));
  std::unique_ptr<char, decltype(&cJSON_free)> text(cJSON_PrintUnformatted(root.get()), cJSON_free);
  return text ? std::string(text.get()) : std::string();
}

const char* caller_name() {
  const char* name = hx_pl_current_name();
  return name ? name : "框架自身";
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
  if (timeout_ms > 0 && t_onReceiveThread) {
    // The reply would arrive on this very thread: waiting here can only time out.
    hx_logf(HX_LOG_ERROR, ob_source(qq), "错误(↓)", "不能在连接的收包线程上等待动作回复：%s（已拒绝，调用方：%s）",
            std::string(action).c_str(), caller_name());
    return false;
  }
  const long long echo = ++g_echoSeq;
  const std::string request = build_request(action, params, echo);
  int slot = -1;
  if (timeout_ms > 0) {
    std::lock_guard lock(g_pendCs);
    for (int i = 0; i < kPending; ++i) {
      if (!g_pend[i].used) {
        g_pend[i] = Pend{true, echo, false, std::nullopt};
        slot = i;
        break;
      }
    }
    // All 64 busy: the call goes out without waiting for its reply.
  }
  if (g_cfg.logApi) hx_logf(HX_LOG_API, ob_source(qq), "API", "→ %s", request.c_str());
  const std::size_t sent = hx_ws_send_text(c, request.c_str());
  if (!qq.empty() && sent > 0 && action.substr(0, 5) == "send_") hx_ob_stat_bump(qq, 0, 1);
  if (slot < 0) return sent > 0;

  std::unique_lock lock(g_pendCs);
  // Nothing written: no reply can come, so there is nothing to wait for.
  bool answered = sent > 0 && g_pendCv[slot].wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                                      [slot] { return g_pend[slot].answered; });
  Pend& p = g_pend[slot];
  if (p.reply) {
    if (answered && g_cfg.logApi) hx_logf(HX_LOG_API, ob_source(qq), "API", "← %s", p.reply->c_str());
    if (reply) *reply = std::move(p.reply);
  }
  p = Pend{};
  return answered;
}

void ob_reply_match(long long echo, std::string_view text) {
  std::lock_guard lock(g_pendCs);
  for (int i = 0; i < kPending; ++i) {
    if (!g_pend[i].used || g_pend[i].echo != echo) continue;
    g_pend[i].reply = std::string(text);
    g_pend[i].answered = true;
    g_pendCv[i].notify_all();
    return;
  }
  // A reply nobody waits for (late, or a fire-and-forget call) is dropped.
}

bool hx_ob_call(std::string_view bot_qq, std::string_view action, std::string_view params,
                std::optional<std::string>* reply, int timeout_ms) {
  if (reply) reply->reset();
  if (action.empty()) return false;
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
      if (!c && !qq.empty() && qq == l.selfQq) c = l.conn;
    }
    // Without a match, another account's link may serve only when nothing
    // else is possible: no QQ was named, or there is just one link.
    if (!c && (qq.empty() || open == 1)) c = first;
    if (c) hx_ws_addref(c);
  }
  if (!c) {
    if (open == 0) {
      hx_logf(HX_LOG_ERROR, ob_source(qq), "错误(↓)", "无可用连接，无法执行动作：%s（调用方：%s）",
              std::string(action).c_str(), caller_name());
    } else {
      hx_logf(HX_LOG_ERROR, ob_source(qq), "错误(↓)", "账号 %s 没有在线的连接，动作 %s 未发出（调用方：%s）", qq.c_str(),
              std::string(action).c_str(), caller_name());
    }
    return false;
  }
  bool ok = ob_call_conn(c, qq, action, params, reply, timeout_ms);
  hx_ws_release(c);
  return ok;
}

// The roster refresh arrives with the message cache; until then a login
// starts nothing here.
void hx_ob_stat_refresh_roster(std::string_view) {}

void ob_roster_join(int) {}
