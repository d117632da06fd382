// Event intake: checks each text from a backend, routes action replies to the
// waiting callers and events to their handlers, and drives login detection.
#include <cjson/cJSON.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>

#include "foundation/json.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "link/onebot_internal.h"
#include "link/ws_proto.h"

namespace {

constexpr int kMaxDepth = 64;
constexpr const char* kErr = "错误(↓)";

// Nesting depth of a JSON text, strings (with their escapes) skipped; the
// parser recurses once per level, so deep texts are refused before parsing.
int nesting_depth(std::string_view s) {
  int depth = 0, max = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > max) max = depth;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return max;
}

void ob_dispatch(ws_conn* c, std::string_view text) {
  HxJson root(cJSON_ParseWithLength(text.data(), text.size()));
  if (!root) {
    hx_log(HX_LOG_ERROR, "框架", kErr, "收到无法解析的 JSON 报文");
    return;
  }
  const cJSON* echo = cJSON_GetObjectItemCaseSensitive(root.get(), "echo");
  if (cJSON_IsNumber(echo)) {
    // Out of range (1e999, NaN) the cast would be undefined: such an echo
    // matches no call.
    const double d = echo->valuedouble;
    ob_reply_match(c, std::isfinite(d) && d >= -9.2e18 && d <= 9.2e18 ? static_cast<long long>(d) : -1, text);
    return;
  }
  if (cJSON_IsString(echo) && echo->valuestring) {
    ob_reply_match(c, hx_to_i64(echo->valuestring, -1), text);
    return;
  }
  // Cut once here to the form the tables store and compare.
  std::string bot(ob_qq(ob_json_id(root.get(), "self_id")));
  if (bot.empty()) bot = "未知";
  ob_touch_link(c, bot);
  const std::string post = ob_json_str(root.get(), "post_type");
  if (post == "message" || post == "message_sent") {
    const bool self = post == "message_sent";
    if (self && !hx_cfg_get(&HxCfg::recvSelf)) return;
    const std::string type = ob_json_str(root.get(), "message_type");
    if (type != "group" && type != "private") return;
    if (!self) hx_ob_stat_bump(bot, 1, 0);
    ob_handle_message(bot, root.get(), type == "group", self);
  } else if (post == "notice" || post == "request") {
    ob_handle_event(bot, root.get());
  } else if (post == "meta_event" && ob_json_str(root.get(), "meta_event_type") == "lifecycle") {
    ob_lifecycle(c, bot == "未知" ? "" : bot, ob_json_str(root.get(), "sub_type"));
  }
}

void intake(ws_conn* c, std::string_view data) {
  if (data.empty()) return;
  if (data.size() > WS_MAX_MESSAGE) {
    hx_logf(HX_LOG_ERROR, "框架", kErr, "收到 %zu 字节的报文，超过上限 %zu，已丢弃", data.size(), WS_MAX_MESSAGE);
    return;
  }
  std::string text = is_valid_utf8(data) ? std::string(data) : hx_gbk_to_utf8(data).value_or(std::string());
  if (nesting_depth(text) > kMaxDepth) {
    hx_logf(HX_LOG_ERROR, "框架", kErr, "报文嵌套超过 %d 层，已丢弃（防止解析时递归爆栈）", kMaxDepth);
    return;
  }
  if (hx_cfg_get(&HxCfg::logPackets)) hx_logf(HX_LOG_SYSTEM, "框架", "系统(↓)", "← %s", text.c_str());
  if (auto* translate = hx_ob_hooks().event_in) {
    std::string onebot;
    if (translate(text, &onebot)) {
      if (!onebot.empty()) ob_dispatch(c, onebot);
      return;
    }
  }
  ob_dispatch(c, text);
}

}  // namespace

std::string ob_json_id(const cJSON* obj, const char* name) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(obj, name);
  if (cJSON_IsString(v) && v->valuestring) return v->valuestring;
  if (cJSON_IsNumber(v) && std::isfinite(v->valuedouble)) {
    const double d = v->valuedouble;
    char buf[64];
    // Ids are whole numbers: printed as integers, which is what "%.0f" gives
    // for them, at a fraction of its cost.
    if (d >= -9.2e18 && d <= 9.2e18 && d == std::trunc(d)) {
      const auto end = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(d)).ptr;
      return std::string(buf, end);
    }
    std::snprintf(buf, sizeof buf, "%.0f", d);
    return buf;
  }
  return {};
}

std::string ob_json_str(const cJSON* obj, const char* name) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(obj, name);
  return cJSON_IsString(v) && v->valuestring ? v->valuestring : std::string();
}

void on_ws_message(ws_conn* c, const char* data, std::size_t len, void*) {
  t_obReceiveThread = true;
  intake(c, std::string_view(data, len));
}

void hx_ob_feed_event(std::string_view text) {
  if (!text.empty()) intake(nullptr, text);
}

void hx_ob_feed_event_on(ws_conn* c, std::string_view text) {
  if (!text.empty()) ob_dispatch(c, text);
}
