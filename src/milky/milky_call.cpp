// Milky actions over HTTP: the account whose address serves a call, the
// request, the outage guard and the throttled lines of a backend that is
// down or silent, and the reply handed back as OneBot.
#include <cjson/cJSON.h>

#include <vector>

#include "config/cfg.h"
#include "foundation/json.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "link/onebot.h"
#include "milky/milky.h"
#include "milky/milky_json.h"
#include "sys/http.h"

namespace {

constexpr const char* kErr = "错误(↓)";
constexpr std::size_t kReplyMax = 32u << 20;
constexpr int kDefaultTimeoutMs = 5000;
constexpr const char* kEmptyOk = R"({"status":"ok","retcode":0,"data":{},"wording":""})";

const char* source_of(const std::string& qq) { return qq.empty() ? "框架" : qq.c_str(); }

// The account whose address a call uses; nullopt (with the error line)
// when there is none. A QQ the list lacks falls back to the first account
// only when nothing else is possible: no QQ named, or a single account.
std::optional<HxAccount> account_for(const std::string& qq, std::string_view action) {
  const std::vector<HxAccount> all = hx_cfg_accounts();
  const std::string act(action);
  const HxAccount* acc = nullptr;
  if (!all.empty()) {
    if (qq.empty()) {
      acc = &all.front();
    } else {
      for (const HxAccount& a : all)
        if (qq == a.id) acc = &a;
      if (!acc && all.size() == 1) {
        hx_logf(HX_LOG_SYSTEM, qq.c_str(), "系统(↓)", "Milky：配置里没有账号 %s，本次 %s 走的是 %s 的监听地址",
                qq.c_str(), act.c_str(), all.front().id);
        acc = &all.front();
      } else if (!acc) {
        hx_logf(HX_LOG_ERROR, qq.c_str(), kErr, "Milky：配置里没有账号 %s，动作 %s 未发出", qq.c_str(), act.c_str());
        return std::nullopt;
      }
    }
  }
  if (!acc || !acc->ip[0] || acc->port < 1) {
    hx_logf(HX_LOG_ERROR, source_of(qq), kErr, "Milky：账号缺少监听地址，无法调用 %s", act.c_str());
    return std::nullopt;
  }
  return *acc;
}

std::string failed_reply(std::string_view wording) {
  HxJson o(cJSON_CreateObject());
  cJSON_AddStringToObject(o.get(), "status", "failed");
  cJSON_AddNumberToObject(o.get(), "retcode", -404);
  cJSON_AddStringToObject(o.get(), "wording", std::string(wording).c_str());
  HxJsonText text(cJSON_PrintUnformatted(o.get()));
  return text ? text.get() : R"({"status":"failed","retcode":-404,"wording":""})";
}

// A message the bot sent is entered like a received one, so that it can be
// recalled and replied to by its id.
void remember_sent(const MilkyRequest& req, std::int64_t bot, const cJSON* milky_data) {
  const std::int64_t seq = mk_id(milky_data, "message_seq");
  if (seq <= 0) return;
  const bool group = req.endpoint == "send_group_message";
  const std::int64_t peer = mk_id(req.params.get(), group ? "group_id" : "user_id");
  milky_seq_put(group ? "group" : "friend", seq, bot, peer, seq);
}

}  // namespace

std::optional<std::string> milky_http_post(std::string_view host, int port, std::string_view token,
                                           std::string_view endpoint, std::string_view body, int timeout_ms,
                                           bool* too_large) {
  if (too_large) *too_large = false;
  if (host.empty() || port < 1) return std::nullopt;
  const bool v6 = host.find(':') != std::string_view::npos && host.front() != '[';
  const std::string url = "http://" + (v6 ? "[" + std::string(host) + "]" : std::string(host)) + ":" +
                          std::to_string(port) + "/api/" + std::string(endpoint);
  std::string headers = "Content-Type: application/json\r\nAccept: application/json";
  if (!token.empty()) headers += "\r\nAuthorization: Bearer " + std::string(token);
  SysHttpRequest req;
  req.url = url;
  req.agent = "Tolvex/8.0";
  req.timeoutMs = timeout_ms < 1 ? kDefaultTimeoutMs : timeout_ms;
  req.maxBytes = kReplyMax;
  req.body = body;
  req.headers = headers;
  std::string reply;
  const SysHttpStatus status = sys_http_post(req, reply);
  if (status == SysHttpStatus::too_large && too_large) *too_large = true;
  if (status != SysHttpStatus::ok) return std::nullopt;
  return reply;
}

bool hx_milky_call(std::string_view bot_qq, std::string_view action_view, std::string_view params,
                   std::optional<std::string>* reply, int timeout_ms) {
  if (reply) reply->reset();
  if (action_view.empty()) return false;
  const std::string qq(bot_qq), action(action_view);
  const char* src = source_of(qq);
  const std::optional<HxAccount> acc = account_for(qq, action);
  if (!acc) return false;

  HxJson in(params.empty() ? nullptr : cJSON_ParseWithLength(params.data(), params.size()));
  if (!cJSON_IsObject(in.get())) in.reset(cJSON_CreateObject());
  const std::int64_t bot = hx_to_i64(qq, 0);
  MilkyRequest req;
  if (!milky_build(action, in.get(), bot, req)) {
    // Success would tell the plugin its action happened.
    hx_logf(HX_LOG_ERROR, src, kErr, "Milky 不支持动作 %s，未发出（已按失败返回）", action.c_str());
    if (reply) *reply = failed_reply("Milky 不支持该动作");
    return false;
  }
  HxJsonText body_text(cJSON_PrintUnformatted(req.params.get()));
  const std::string body = body_text ? body_text.get() : "{}";
  const bool log_api = hx_cfg_get(&HxCfg::logApi) != 0;
  if (log_api) hx_logf(HX_LOG_API, src, "API", "→ Milky /api/%s  %s", req.endpoint.c_str(), body.c_str());

  if (!hx_ob_is_reverse() && hx_ob_link_count() == 0) {
    const MilkyThrottle t = logth_take("off|" + req.endpoint);
    if (t.write && t.count <= 1) {
      hx_logf(HX_LOG_ERROR, src, kErr,
              "Milky 调用 %s 已跳过：当前到后端没有连接（后端多半没起来，这类调用不再逐个等待超时，恢复后自动继续）",
              req.endpoint.c_str());
    } else if (t.write) {
      hx_logf(HX_LOG_ERROR, src, kErr, "Milky 调用 %s 仍无连接，已累计跳过 %ld 次（每 %d 秒只报一次）",
              req.endpoint.c_str(), t.count, logth_sec());
    }
    return false;
  }

  const int timeout = timeout_ms < 1 ? kDefaultTimeoutMs : timeout_ms;
  bool too_large = false;
  const std::optional<std::string> answer =
      milky_http_post(acc->ip, acc->port, acc->key, req.endpoint, body, timeout, &too_large);
  if (too_large) {
    hx_logf(HX_LOG_ERROR, src, kErr, "Milky 调用 %s 的回复超过 32 MiB，已丢弃", req.endpoint.c_str());
    return false;
  }
  if (!answer) {
    const MilkyThrottle t = logth_take("tmo|" + req.endpoint);
    if (t.write && t.count <= 1) {
      hx_logf(HX_LOG_ERROR, src, kErr,
              "Milky 调用 %s 超时：%d 毫秒内后端没回（多为后端协议层未就绪/未登录，不是框架发不出去；若 "
              "get_login_info 正常而列表类动作挂死，重启 Milky 容器即可）",
              req.endpoint.c_str(), timeout);
    } else if (t.write) {
      hx_logf(HX_LOG_ERROR, src, kErr, "Milky 调用 %s 超时（累计第 %ld 次，后端仍未响应；每 %d 秒只报一次）",
              req.endpoint.c_str(), t.count, logth_sec());
    }
    return false;
  }
  if (log_api) hx_logf(HX_LOG_API, src, "API", "← Milky %s", answer->c_str());

  HxJson root(cJSON_ParseWithLength(answer->data(), answer->size()));
  const cJSON* status = cJSON_GetObjectItemCaseSensitive(root.get(), "status");
  if (cJSON_IsString(status) && std::string_view(status->valuestring) == "ok") {
    const cJSON* data = cJSON_GetObjectItemCaseSensitive(root.get(), "data");
    HxJson out(cJSON_CreateObject());
    cJSON_AddStringToObject(out.get(), "status", "ok");
    cJSON_AddNumberToObject(out.get(), "retcode", 0);
    cJSON_AddItemToObject(out.get(), "data", milky_reply_data(req.kind, data, req.user));
    cJSON_AddStringToObject(out.get(), "wording", "");
    HxJsonText text(cJSON_PrintUnformatted(out.get()));
    const std::string onebot = text ? text.get() : kEmptyOk;
    if (log_api) hx_logf(HX_LOG_API, src, "API", "→ OneBot（回填插件） %s", onebot.c_str());
    if (req.kind == MILKY_REPLY_SENT) remember_sent(req, bot, data);
    if (reply) *reply = onebot;
    if (!qq.empty() && action.rfind("send_", 0) == 0) hx_ob_stat_bump(qq, 0, 1);
    return true;
  }
  const std::string message = mk_str(root.get(), "message");
  hx_logf(HX_LOG_ERROR, src, kErr, "Milky 调用 %s 返回失败：%s", req.endpoint.c_str(), message.c_str());
  if (reply) *reply = failed_reply(message);
  return false;
}

int hx_milky_call_hook(std::string_view bot_qq, std::string_view action, std::string_view params,
                       std::optional<std::string>* reply, int timeout_ms) {
  if (!hx_milky_mode()) return -1;
  return hx_milky_call(bot_qq, action, params, reply, timeout_ms) ? 1 : 0;
}

bool hx_milky_event_in(std::string_view text, std::string* out) {
  if (!hx_milky_mode()) return false;
  std::optional<std::string> onebot = hx_milky_event_to_onebot(text);
  if (!onebot) return false;  // no JSON object: intake reports it
  *out = std::move(*onebot);
  return true;
}
