// Message, notice and request events: the filters, the records plugins
// receive (GBK texts, made GBK-safe), the log lines, the message cache and
// the event-type table.
#include <cjson/cJSON.h>

#include <mutex>

#include "foundation/log.h"
#include "foundation/util.h"
#include "link/onebot_internal.h"

namespace {

struct TypeName {
  int type;
  const char* name;
};
constexpr TypeName kEventNames[] = {
    {0, "未知事件"},
    {1, "群事件_我被邀请加入群"},
    {2, "群事件_某人加入了群"},
    {3, "群事件_某人申请加群"},
    {5, "群事件_某人退出了群"},
    {6, "群事件_某人被踢出群"},
    {7, "群事件_某人被禁言"},
    {8, "群事件_某人撤回事件"},
    {9, "群事件_某人被取消管理"},
    {10, "群事件_某人被赋予管理"},
    {11, "群事件_开启全员禁言"},
    {12, "群事件_关闭全员禁言"},
    {25, "群事件_某人被邀请入群"},
    {28, "群事件_某人被解除禁言"},
    {31, "框架事件_登录成功"},
    {36, "群事件_修改群名片"},
    {38, "框架事件_登录失败"},
    {103, "好友事件_某人撤回事件"},
    {104, "好友事件_有新好友"},
    {105, "好友事件_好友请求"},
    {1001, "群事件_消息被设精华"},
    {1002, "群事件_戳一戳"},
    {1003, "群事件_机器人被点赞"},
    {1004, "群事件_某人上传群文件"},
};

struct NoticeType {
  const char* notice;
  int type;
};
// Notice types that map to one event type whatever the sub_type.
constexpr NoticeType kNoticeTable[] = {
    {"group_recall", 8}, {"friend_add", 104}, {"friend_recall", 103}, {"essence", 1001},
    {"group_card", 36},  {"notify", 1002},    {"group_upload", 1004}, {"group_msg_emoji_like", 1003},
};

void tell_event(const HxEventMsg* rec) {
  if (auto* f = hx_ob_hooks().event) f(rec);
}
void tell_group(const HxGroupMsg* rec) {
  if (auto* f = hx_ob_hooks().group) f(rec);
}
void tell_private(const HxPrivateMsg* rec) {
  if (auto* f = hx_ob_hooks().private_msg) f(rec);
}
std::string cached_group_name(std::string_view account, std::string_view id) {
  auto* f = hx_ob_hooks().group_name;
  return f ? f(account, id) : std::string();
}

// What plugins get: UTF-8 or GBK in, GBK out, with markers for what GBK
// cannot hold.
std::string gbk(std::string_view s) { return hx_safe_gbk(s).value_or(std::string()); }

std::int64_t id64(const std::string& s) { return hx_to_i64(s, 0); }
// 32-bit record fields keep the low 32 bits of larger ids.
std::int32_t id32(const std::string& s) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(hx_to_i64(s, 0)));
}

const cJSON* member(const cJSON* obj, const char* name) { return cJSON_GetObjectItemCaseSensitive(obj, name); }

// "message" when it is a non-empty string, else "raw_message".
std::string message_text(const cJSON* ev) {
  std::string m = ob_json_str(ev, "message");
  return m.empty() ? ob_json_str(ev, "raw_message") : m;
}

std::mutex g_capMu;
bool g_capOn = false;  // guarded by g_capMu
HxCapture g_cap;       // guarded by g_capMu

void capture(const HxCapture& c) {
  std::lock_guard lock(g_capMu);
  if (g_capOn) g_cap = c;
}

void handle_file_upload(const std::string& bot, const cJSON* ev, const cJSON* segment) {
  const cJSON* data = member(segment, "data");
  const std::string group = ob_json_id(ev, "group_id");
  const std::string sender = ob_json_id(ev, "user_id");
  const cJSON* who = member(ev, "sender");
  const std::string card = ob_json_str(who, "card"), nick = ob_json_str(who, "nickname");
  const std::string file = ob_json_str(data, "file");
  const std::string size = ob_json_id(data, "file_size");
  const std::string group_name = cached_group_name(bot, group);
  const std::string g_name = gbk(group_name), g_card = gbk(card), g_nick = gbk(nick), g_file = gbk(file);
  HxEventMsg rec{};
  rec.bot_qq = id64(bot);
  rec.group_id = id64(group);
  rec.operator_qq = rec.user_qq = id64(sender);
  rec.message_id = id64(ob_json_id(ev, "message_id"));
  rec.time = id32(ob_json_id(ev, "time"));
  rec.group_name = g_name.c_str();
  rec.text_a = g_card.c_str();
  rec.text_b = g_nick.c_str();
  rec.content = g_file.c_str();
  rec.event_type = HX_EV_GROUP_FILE_UPLOADED;
  rec.duration = id32(size);
  rec.flag = "";
  hx_logf(HX_LOG_EVENT, bot.c_str(), "事件(↓)", "[群事件_某人上传群文件] 群[%s](%s) %s 上传了文件 -> %s，大小:%s",
          group_name.c_str(), group.c_str(), sender.c_str(), file.c_str(), size.c_str());
  tell_event(&rec);
}

void handle_group(const std::string& bot, const cJSON* ev, bool self) {
  if (!hx_cfg_get(&HxCfg::recvGroup) || (self && !hx_cfg_get(&HxCfg::recvSelf))) return;
  const cJSON* msg = member(ev, "message");
  if (cJSON_IsArray(msg)) {
    const cJSON* first = cJSON_GetArrayItem(msg, 0);
    if (ob_json_str(first, "type") == "file") {
      handle_file_upload(bot, ev, first);
      return;
    }
  }
  const std::string group = ob_json_id(ev, "group_id");
  const std::string sender = ob_json_id(ev, "user_id");
  const std::string message_id = ob_json_id(ev, "message_id");
  const cJSON* who = member(ev, "sender");
  std::string card = ob_json_str(who, "card"), nick = ob_json_str(who, "nickname");
  const std::string raw = ob_json_str(ev, "raw_message"), text = message_text(ev);
  if (self && nick.empty()) {
    std::lock_guard lock(g_linkCs);  // the account list may change at run time
    const HxAccount* acc = hx_cfg_bot(bot);
    nick = acc && acc->nickname[0] ? acc->nickname : bot;
  }
  if (card.empty()) card = nick;
  if (hx_cfg_get(&HxCfg::msgCache) && !bot.empty() && !message_id.empty()) {
    hx_ob_msgcache_put(bot, message_id, group, sender, nick, text);
  }
  const std::string group_name = cached_group_name(bot, group);
  if (hx_cfg_get(&HxCfg::logGroup)) {
    hx_logf(HX_LOG_GROUP, bot.c_str(), "群聊(↓)", "群[%s](%s) %s(%s)%s: %s", group_name.c_str(), group.c_str(),
            nick.c_str(), sender.c_str(), self ? "[自身]" : "", text.c_str());
  }
  const std::string g_name = gbk(group_name), g_card = gbk(card), g_raw = gbk(raw), g_text = gbk(text),
                    g_nick = gbk(nick);
  HxGroupMsg rec{};
  rec.sender_qq = id64(sender);
  rec.bot_qq = id64(bot);
  rec.message_id = id32(message_id);
  rec.recv_time = static_cast<std::int32_t>(hx_now());
  rec.group_id = id64(group);
  rec.group_name = g_name.c_str();
  rec.card = g_card.c_str();
  rec.msg_time = id32(ob_json_id(ev, "time"));
  rec.raw_message = g_raw.c_str();
  rec.message = g_text.c_str();
  rec.nickname = g_nick.c_str();
  capture({1, bot, sender, "", group, message_id, g_name, g_nick, g_text});
  tell_group(&rec);
}

void handle_private(const std::string& bot, const cJSON* ev, bool self) {
  if (!hx_cfg_get(&HxCfg::recvPrivate) || (self && !hx_cfg_get(&HxCfg::recvSelf))) return;
  const std::string sender = ob_json_id(ev, "user_id");
  const std::string group = ob_json_id(ev, "group_id");
  const std::string message_id = ob_json_id(ev, "message_id");
  std::string peer = sender;
  if (self) {
    const std::string target = ob_json_id(ev, "target_id");
    if (!target.empty() && target != bot) {
      peer = target;
    } else if (sender == bot) {
      hx_dbgf("自身消息", "自身私聊消息缺 target_id，来源事件QQ 仍是机器人自己(%s)", bot.c_str());
    }
  }
  std::string nick = ob_json_str(member(ev, "sender"), "nickname");
  if (self && nick.empty()) nick = peer;
  const std::string raw = ob_json_str(ev, "raw_message"), text = message_text(ev);
  if (hx_cfg_get(&HxCfg::logPrivate)) {
    std::string label;
    if (self) {
      sb_printf(label, "对方%s(发送者%s)[自身]", peer.c_str(), sender.c_str());
    } else if (!nick.empty()) {
      sb_printf(label, "%s(%s)", nick.c_str(), sender.c_str());
    } else {
      sb_printf(label, "对方%s", sender.c_str());
    }
    if (!group.empty() && group != "0") {
      hx_logf(HX_LOG_PRIVATE, bot.c_str(), "私聊(↓)", "私聊[群%s] %s: %s", group.c_str(), label.c_str(), text.c_str());
    } else {
      hx_logf(HX_LOG_PRIVATE, bot.c_str(), "私聊(↓)", "私聊 %s: %s", label.c_str(), text.c_str());
    }
  }
  const std::string g_text = gbk(text), g_nick = gbk(nick), g_raw = gbk(raw);
  HxPrivateMsg rec{};
  rec.sender_qq = id64(sender);
  rec.bot_qq = id64(bot);
  rec.message_id = id32(message_id);
  rec.msg_time = id32(ob_json_id(ev, "time"));
  rec.message = g_text.c_str();
  rec.peer_qq = id64(peer);
  rec.nickname = g_nick.c_str();
  rec.raw_message = g_raw.c_str();
  rec.temp_group_id = id64(group);
  rec.empty = "";
  capture({2, bot, sender, peer, group, message_id, "", g_nick, g_text});
  tell_private(&rec);
}

}  // namespace

int hx_ob_event_type(std::string_view post, std::string_view notice, std::string_view request, bool has_request,
                     std::string_view sub, std::string_view user) {
  if (notice.empty() && !has_request) {
    if (post == "request") return 0;
    return sub == "poke" ? 1002 : 0;
  }
  if (post == "request") {
    if (request == "friend") return 105;
    if (request == "group") return sub == "invite" ? 1 : 3;
    return 0;
  }
  if (sub == "poke") return 1002;
  if (notice == "group_ban") {
    const bool member_ban = !user.empty() && user != "0";
    if (member_ban) return sub == "lift_ban" ? 28 : 7;
    return sub == "lift_ban" ? 12 : 11;
  }
  if (notice == "group_admin") return sub == "set" ? 10 : 9;
  if (notice == "group_decrease") return sub == "kick" || sub == "kick_me" ? 6 : 5;
  if (notice == "group_increase") return sub == "invite" ? 25 : 2;
  for (const auto& n : kNoticeTable) {
    if (notice == n.notice) return n.type;
  }
  return 0;
}

const char* hx_ob_event_name(int type) {
  for (const auto& n : kEventNames) {
    if (n.type == type) return n.name;
  }
  return type <= 105 ? "群事件_我被邀请加入群" : "群事件_戳一戳";
}

void ob_handle_message(const std::string& bot_qq, const cJSON* ev, bool is_group, bool is_self) {
  if (is_group) {
    handle_group(bot_qq, ev, is_self);
  } else {
    handle_private(bot_qq, ev, is_self);
  }
}

void ob_handle_event(const std::string& bot, const cJSON* ev) {
  if (!hx_cfg_get(&HxCfg::recvEvent)) return;
  const std::string group = ob_json_id(ev, "group_id");
  const std::string op = ob_json_id(ev, "operator_id");
  const std::string user = ob_json_id(ev, "user_id");
  const std::string message_id = ob_json_id(ev, "message_id");
  const int type =
      hx_ob_event_type(ob_json_str(ev, "post_type"), ob_json_str(ev, "notice_type"), ob_json_str(ev, "request_type"),
                       cJSON_GetObjectItemCaseSensitive(ev, "request_type"), ob_json_str(ev, "sub_type"), user);
  const char* name = hx_ob_event_name(type);
  const char* src = bot.c_str();
  std::string content = ob_json_str(ev, "comment");
  if (type == HX_EV_GROUP_RECALL) {
    if (std::optional<std::string> text = hx_ob_msgcache_get(bot, message_id)) {
      content = *text;
      if (hx_cfg_get(&HxCfg::logEvent)) {
        hx_logf(HX_LOG_EVENT, src, "事件(↓)", "[%s] 群%s 操作%s 触发%s，撤回内容：%s", name, group.c_str(), op.c_str(),
                user.c_str(), text->c_str());
      }
    } else if (hx_cfg_get(&HxCfg::logEvent)) {
      hx_logf(HX_LOG_EVENT, src, "事件(↓)",
              "[%s] 群%s 操作%s 触发%s（消息ID=%s，未取到原文：缓存未开启或已超出最近 %d 条）", name, group.c_str(),
              op.c_str(), user.c_str(), message_id.c_str(), HX_MSGCACHE_PER_ACCOUNT);
    }
  } else if (hx_cfg_get(&HxCfg::logEvent)) {
    hx_logf(HX_LOG_EVENT, src, "事件(↓)", "[%s] 群%s 操作%s 触发%s", name, group.c_str(), op.c_str(), user.c_str());
  }
  const std::string g_name = gbk(cached_group_name(bot, group)), g_content = gbk(content);
  const std::string flag = ob_json_str(ev, "flag").substr(0, 255);  // stays UTF-8: it goes back to the backend
  HxEventMsg rec{};
  rec.bot_qq = id64(bot);
  rec.group_id = id64(group);
  rec.operator_qq = id64(op);
  rec.user_qq = id64(user);
  rec.message_id = id64(message_id);
  rec.time = id32(ob_json_id(ev, "time"));
  rec.group_name = g_name.c_str();
  rec.text_a = "";
  rec.text_b = "";
  rec.content = g_content.c_str();
  rec.event_type = type;
  rec.duration = id32(ob_json_id(ev, "duration"));
  rec.flag = flag.c_str();
  tell_event(&rec);
}

void hx_ob_cap_begin() {
  std::lock_guard lock(g_capMu);
  g_capOn = true;
  g_cap = HxCapture{};
}

void hx_ob_cap_end() {
  std::lock_guard lock(g_capMu);
  g_capOn = false;
}

bool hx_ob_cap_last(HxCapture* out) {
  std::lock_guard lock(g_capMu);
  if (out) *out = g_cap;
  return g_cap.kind != 0;
}
