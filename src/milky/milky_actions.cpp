// OneBot actions as Milky requests: the endpoint, its parameters and how to
// read the reply; OneBot messages (segment arrays or CQ text) as Milky
// segment arrays.
#include <cjson/cJSON.h>

#include <cstdio>
#include <cstring>

#include "config/cfg.h"
#include "foundation/cq.h"
#include "foundation/json.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "milky/milky.h"
#include "milky/milky_json.h"

namespace {

constexpr int kCqPairsMax = 32;
constexpr std::size_t kPlainMax = 8184;

cJSON* mseg(const char* type, cJSON* data) {
  cJSON* s = cJSON_CreateObject();
  cJSON_AddStringToObject(s, "type", type);
  cJSON_AddItemToObject(s, "data", data ? data : cJSON_CreateObject());
  return s;
}

cJSON* text_seg(std::string_view text) {
  cJSON* d = cJSON_CreateObject();
  cJSON_AddStringToObject(d, "text", std::string(text).c_str());
  return mseg("text", d);
}

void add_text(cJSON* out, std::string_view text) { cJSON_AddItemToArray(out, text_seg(text)); }

void add_mention(cJSON* out, std::string_view qq) {
  if (qq.empty() || qq == "all" || qq == "0") {
    cJSON_AddItemToArray(out, mseg("mention_all", nullptr));
    return;
  }
  cJSON* d = cJSON_CreateObject();
  mk_add_id(d, "user_id", hx_to_i64(qq, 0));
  cJSON_AddItemToArray(out, mseg("mention", d));
}

void add_face(cJSON* out, std::string_view id) {
  cJSON* d = cJSON_CreateObject();
  cJSON_AddStringToObject(d, "face_id", std::string(id).c_str());
  cJSON_AddItemToArray(out, mseg("face", d));
}

void add_reply(cJSON* out, std::string_view id) {
  cJSON* d = cJSON_CreateObject();
  mk_add_id(d, "message_seq", hx_to_i64(id, 0));
  cJSON_AddItemToArray(out, mseg("reply", d));
}

// A JSON card goes out as a light app; Milky sends no XML, so an XML card
// becomes a line of text.
void add_card(cJSON* out, std::string_view type, std::string_view payload) {
  if (type == "json") {
    cJSON* d = cJSON_CreateObject();
    cJSON_AddStringToObject(d, "json_payload", std::string(payload).c_str());
    cJSON_AddItemToArray(out, mseg("light_app", d));
    return;
  }
  hx_logf(HX_LOG_ERROR, "Milky", "错误(↓)", "Milky 不能发送 XML 卡片（%zu 字节），已降级为文本 [XML卡片]",
          payload.size());
  add_text(out, "[XML卡片]");
}

const char* media_name(std::string_view type) { return type == "image" ? "图片" : type == "record" ? "语音" : "视频"; }

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool is_base64(std::string_view s) {
  if (s.empty() || s.size() % 4 != 0) return false;
  int pads = 0;
  for (char c : s) {
    const bool ok =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=';
    if (!ok) return false;
    pads += c == '=' ? 1 : 0;
  }
  return pads <= 2;
}

// A number parameter (numbers, numeric strings, booleans).
std::int64_t id(const cJSON* p, const char* key) { return mk_id(p, key); }

class Builder {
 public:
  Builder(const cJSON* params, std::int64_t bot, MilkyRequest& out) : p_(params), bot_(bot), out_(out) {
    out_.params.reset(cJSON_CreateObject());
  }
  cJSON* obj() { return out_.params.get(); }
  void to(const char* endpoint, int kind = MILKY_REPLY_PASS) {
    out_.endpoint = endpoint;
    out_.kind = kind;
  }
  void num(const char* key, std::int64_t v) { mk_add_id(obj(), key, v); }
  // Copies id parameters: {Milky name, OneBot name}.
  void ids(std::initializer_list<std::pair<const char*, const char*>> names) {
    for (const auto& [to, from] : names) num(to, id(p_, from));
  }
  void text(const char* key, std::string_view v) { cJSON_AddStringToObject(obj(), key, std::string(v).c_str()); }
  void flag(const char* key, bool v) { cJSON_AddBoolToObject(obj(), key, v); }
  void message(bool forward, bool plain) { cJSON_AddItemToObject(obj(), "message", mk_segs(p_, forward, plain)); }
  // The scene and peer of a OneBot message id, as the sequence table knows them.
  std::optional<MilkySeq> seq() const { return milky_seq_get(id(p_, "message_id"), bot_); }

 private:
  const cJSON* p_;
  std::int64_t bot_;
  MilkyRequest& out_;
};

bool send_action(std::string_view action, const cJSON* p, Builder& b) {
  const bool forward = action.find("_forward_msg") != std::string_view::npos;
  const bool plain = mk_bool(p, "auto_escape", false);
  auto to_group = [&](std::int64_t group) {
    b.to("send_group_message", MILKY_REPLY_SENT);
    b.num("group_id", group);
  };
  // The protocol's private send has no group: a temporary session is
  // addressed by the user alone.
  auto to_user = [&](std::int64_t user) {
    b.to("send_private_message", MILKY_REPLY_SENT);
    b.num("user_id", user);
  };
  if (action == "send_private_msg" || action == "send_private_forward_msg") {
    to_user(id(p, "user_id"));
  } else if (action == "send_group_msg" || action == "send_group_forward_msg") {
    to_group(id(p, "group_id"));
  } else if (action == "send_msg") {
    const std::int64_t group = id(p, "group_id"), user = id(p, "user_id");
    const cJSON* type = cJSON_GetObjectItemCaseSensitive(p, "message_type");
    if (cJSON_IsString(type) && std::string_view(type->valuestring) == "group") {
      to_group(group > 0 ? group : user);
    } else if (group > 0 && user <= 0) {
      to_group(group);
    } else {
      to_user(user);
    }
  } else {
    return false;
  }
  b.message(forward, plain);
  return true;
}

void delete_msg(const cJSON* p, Builder& b) {
  std::string scene = "group";
  std::int64_t peer = 0;
  if (auto s = b.seq()) {
    scene = s->scene;
    peer = s->peer;
  } else if (id(p, "group_id") > 0) {
    peer = id(p, "group_id");
  } else if (id(p, "user_id") > 0) {
    scene = "friend";
    peer = id(p, "user_id");
  }
  if (scene == "group") {
    b.to("recall_group_message");
    b.num("group_id", peer);
  } else {
    b.to("recall_private_message");
    b.num("user_id", peer);
  }
  b.num("message_seq", id(p, "message_id"));
}

// A request flag as event conversion made it: prefix "|" rest.
std::pair<std::string, std::string> split_flag(const char* flag) {
  const std::string_view f(flag);
  const std::size_t bar = f.find('|');
  if (bar == std::string_view::npos) return {std::string(f), std::string()};
  return {std::string(f.substr(0, bar)), std::string(f.substr(bar + 1))};
}

void friend_request(const cJSON* p, Builder& b) {
  const bool approve = mk_bool(p, "approve", true);
  auto [prefix, rest] = split_flag(mk_str(p, "flag"));
  // A flag without "|" is the requester's uid itself.
  const std::string uid =
      rest.empty() && std::string_view(mk_str(p, "flag")).find('|') == std::string_view::npos ? prefix : rest;
  b.to(approve ? "accept_friend_request" : "reject_friend_request");
  b.text("initiator_uid", uid);
  const std::string reason = mk_str_or(p, "remark", "reason");
  if (!approve && !reason.empty()) b.text("reason", reason);
}

bool group_request(const cJSON* p, Builder& b) {
  const bool approve = mk_bool(p, "approve", true);
  const std::string flag = mk_str(p, "flag");
  const std::string reason = mk_str_or(p, "reason", "remark");
  std::vector<std::string> parts;
  for (std::size_t from = 0;;) {
    const std::size_t bar = flag.find('|', from);
    parts.push_back(flag.substr(from, bar == std::string::npos ? std::string::npos : bar - from));
    if (bar == std::string::npos || parts.size() == 3) break;
    from = bar + 1;
  }
  const std::string& prefix = parts[0];
  auto part = [&](std::size_t i) { return i < parts.size() ? hx_to_i64(parts[i], 0) : 0; };
  if (prefix == "gr") return false;  // a request id: the protocol has no API that answers one
  if (prefix == "inv") {
    b.to(approve ? "accept_group_invitation" : "reject_group_invitation");
    b.num("group_id", parts.size() > 1 ? part(1) : id(p, "group_id"));
    b.num("invitation_seq", part(2));
    return true;
  }
  b.to(approve ? "accept_group_request" : "reject_group_request");
  b.num("notification_seq", part(1));
  b.text("notification_type", prefix == "invited_join_request" ? "invited_join_request" : "join_request");
  b.num("group_id", parts.size() > 2 ? part(2) : id(p, "group_id"));
  if (!approve && !reason.empty()) b.text("reason", reason);
  return true;
}

// "message_scene" and "peer_id" of a message id; `peer` when the table does
// not know it.
void scene_and_peer(Builder& b, std::int64_t peer) {
  auto s = b.seq();
  b.text("message_scene", s ? s->scene : "group");
  b.num("peer_id", s ? s->peer : peer);
}

std::int64_t positive_or(std::int64_t v, std::int64_t fallback) { return v > 0 ? v : fallback; }

bool build(std::string_view a, const cJSON* p, Builder& b, MilkyRequest& out) {
  if (send_action(a, p, b)) return true;
  if (a == "delete_msg") {
    delete_msg(p, b);
  } else if (a == "set_group_kick") {
    b.to("kick_group_member");
    b.ids({{"group_id", "group_id"}, {"user_id", "user_id"}});
    b.flag("reject_add_request", mk_bool(p, "reject_add_request", false));
  } else if (a == "set_group_ban") {
    b.to("set_group_member_mute");
    b.ids({{"group_id", "group_id"}, {"user_id", "user_id"}});
    b.num("duration", cJSON_HasObjectItem(p, "duration") ? id(p, "duration") : 1800);
  } else if (a == "set_group_whole_ban") {
    b.to("set_group_whole_mute");
    b.ids({{"group_id", "group_id"}});
    b.flag("is_mute", mk_bool(p, "enable", true));
  } else if (a == "set_group_admin") {
    b.to("set_group_member_admin");
    b.ids({{"group_id", "group_id"}, {"user_id", "user_id"}});
    b.flag("is_set", mk_bool(p, "enable", true));
  } else if (a == "set_group_card") {
    b.to("set_group_member_card");
    b.ids({{"group_id", "group_id"}, {"user_id", "user_id"}});
    b.text("card", mk_str(p, "card"));
  } else if (a == "set_group_name") {
    b.to("set_group_name");
    b.ids({{"group_id", "group_id"}});
    b.text("new_group_name", mk_str(p, "group_name"));
  } else if (a == "set_group_special_title") {
    b.to("set_group_member_special_title");
    b.ids({{"group_id", "group_id"}, {"user_id", "user_id"}});
    b.text("special_title", mk_str(p, "special_title"));
  } else if (a == "set_group_leave") {
    b.to("quit_group");
    b.ids({{"group_id", "group_id"}});
  } else if (a == "set_essence_msg" || a == "delete_essence_msg") {
    b.to("set_group_essence_message");
    auto s = b.seq();
    b.num("group_id", s ? s->peer : id(p, "group_id"));
    b.num("message_seq", id(p, "message_id"));
    b.flag("is_set", a == "set_essence_msg");
  } else if (a == "send_like") {
    b.to("send_profile_like");
    b.ids({{"user_id", "user_id"}});
    b.num("count", positive_or(id(p, "times"), 1));
  } else if (a == "get_login_info") {
    b.to("get_login_info", MILKY_REPLY_LOGIN);
  } else if (a == "get_friend_list") {
    b.to("get_friend_list", MILKY_REPLY_FRIENDS);
  } else if (a == "get_group_list") {
    b.to("get_group_list", MILKY_REPLY_GROUPS);
    b.flag("no_cache", true);
  } else if (a == "get_group_member_list") {
    b.to("get_group_member_list", MILKY_REPLY_MEMBERS);
    b.ids({{"group_id", "group_id"}});
  } else if (a == "get_group_member_info") {
    b.to("get_group_member_info", MILKY_REPLY_MEMBER);
    b.ids({{"group_id", "group_id"}, {"user_id", "user_id"}});
  } else if (a == "get_group_info") {
    b.to("get_group_info", MILKY_REPLY_GROUP);
    b.ids({{"group_id", "group_id"}});
  } else if (a == "get_stranger_info") {
    b.to("get_user_profile", MILKY_REPLY_PROFILE);
    b.ids({{"user_id", "user_id"}});
    out.user = id(p, "user_id");
  } else if (a == "set_friend_add_request") {
    friend_request(p, b);
  } else if (a == "set_group_add_request") {
    return group_request(p, b);
  } else if (a == "get_msg") {
    b.to("get_message", MILKY_REPLY_MESSAGE);
    scene_and_peer(b, 0);
    b.num("message_seq", id(p, "message_id"));
  } else if (a == "get_cookies") {
    b.to("get_cookies");
    b.text("domain", mk_str(p, "domain"));
  } else if (a == "get_csrf_token") {
    b.to("get_csrf_token", MILKY_REPLY_CSRF);
  } else if (a == "set_msg_emoji_like" || a == "delete_msg_emoji_like") {
    b.to("send_group_message_reaction");
    auto s = b.seq();
    b.num("group_id", s ? s->peer : id(p, "group_id"));
    b.num("message_seq", id(p, "message_id"));
    b.text("reaction", mk_text(p, "emoji_id"));
    b.text("reaction_type", "face");
    b.flag("is_add", a == "set_msg_emoji_like");
  } else if (a == "group_poke" || a == "send_poke") {
    b.to("send_group_nudge");
    b.ids({{"group_id", "group_id"}, {"user_id", "user_id"}});
  } else if (a == "friend_poke") {
    b.to("send_friend_nudge");
    b.ids({{"user_id", "user_id"}});
  } else if (a == "get_essence_msg_list") {
    b.to("get_group_essence_messages");
    b.ids({{"group_id", "group_id"}, {"page_index", "page_index"}});
    b.num("page_size", positive_or(id(p, "page_size"), 20));
  } else if (a == "_get_group_notice") {
    b.to("get_group_announcements");
    b.ids({{"group_id", "group_id"}});
  } else if (a == "_send_group_notice") {
    b.to("send_group_announcement");
    b.ids({{"group_id", "group_id"}});
    b.text("content", mk_str(p, "content"));
    if (*mk_str(p, "image")) b.text("image_uri", uri_of(mk_str(p, "image")));
  } else if (a == "set_qq_avatar") {
    b.to("set_avatar");
    b.text("uri", uri_of(mk_str(p, "file")));
  } else if (a == "set_group_portrait") {
    b.to("set_group_avatar");
    b.ids({{"group_id", "group_id"}});
    b.text("image_uri", uri_of(mk_str(p, "file")));
  } else if (a == "get_version_info") {
    b.to("get_impl_info");
  } else if (a == "get_forward_msg") {
    b.to("get_forwarded_messages");
    b.text("forward_id", mk_text(p, "id"));
  } else if (a == "mark_msg_as_read") {
    b.to("mark_message_as_read");
    scene_and_peer(b, id(p, "group_id"));
    b.num("message_seq", id(p, "message_id"));
  } else if (a == "get_group_msg_history" || a == "get_friend_msg_history") {
    const bool group = a == "get_group_msg_history";
    b.to("get_history_messages");
    b.text("message_scene", group ? "group" : "friend");
    b.num("peer_id", id(p, group ? "group_id" : "user_id"));
    b.num("start_message_seq", cJSON_HasObjectItem(p, "message_seq") ? id(p, "message_seq") : id(p, "start_seq"));
    b.num("limit", positive_or(id(p, "count"), 20));
  } else if (a == "upload_private_file") {
    b.to("upload_private_file");
    b.ids({{"user_id", "user_id"}});
    b.text("file_uri", uri_of(mk_str(p, "file")));
    b.text("file_name", mk_str(p, "name"));
  } else if (a == "upload_group_file") {
    b.to("upload_group_file");
    b.ids({{"group_id", "group_id"}});
    b.text("parent_folder_id", mk_str(p, "folder"));
    b.text("file_uri", uri_of(mk_str(p, "file")));
    b.text("file_name", mk_str(p, "name"));
  } else if (a == "delete_friend") {
    b.to("delete_friend");
    b.ids({{"user_id", "user_id"}});
  } else {
    return false;
  }
  return true;
}

// One OneBot segment.
void onebot_seg_to_milky(const cJSON* s, cJSON* out) {
  const std::string type = mk_str(s, "type");
  const cJSON* d = mk_obj(s, "data");
  if (type == "at") {
    add_mention(out, mk_text(d, "qq"));
  } else if (type == "face") {
    if (const std::string v = mk_text(d, "id"); !v.empty()) add_face(out, v);
  } else if (type == "reply") {
    if (const std::string v = mk_text(d, "id"); !v.empty()) add_reply(out, v);
  } else if (type == "image" || type == "record" || type == "video") {
    push_media_or_text(out, type, uri_of(mk_str(d, "file")), media_name(type));
  } else if (type == "json" || type == "xml") {
    if (const char* v = mk_str(d, "data"); *v) add_card(out, type, v);
  } else if (type == "forward") {
    add_text(out, "[转发消息 " + mk_text(d, "id") + "]");
  } else if (const char* text = mk_str(d, "text"); *text) {
    add_text(out, text);  // "text", and any other type read as text
  }
}

void cq_code_to_milky(std::string_view inside, cJSON* out) {
  const CqCode code = cq_read_code(inside, kCqPairsMax);
  if (code.dropped > 0 && hx_cfg_get(&HxCfg::logDispatch)) {
    hx_logf(HX_LOG_ERROR, "Milky", "错误(↓)", "CQ 码参数超过 %d 组，多余的已忽略：%s", kCqPairsMax,
            std::string(inside).c_str());
  }
  auto param = [&](const char* key) {
    const std::string* v = code.get(key);
    return v ? *v : std::string();
  };
  const std::string& type = code.type;
  if (type == "at") {
    add_mention(out, param("qq"));
  } else if (type == "face") {
    add_face(out, param("id"));
  } else if (type == "reply") {
    add_reply(out, param("id"));
  } else if (type == "image" || type == "record" || type == "video") {
    const std::string uri = uri_of(param("file"));
    if (!uri.empty()) push_media_or_text(out, type, uri, media_name(type));
  } else if (type == "json" || type == "xml") {
    add_card(out, type, param("data"));
  } else {
    add_text(out, "[CQ:" + std::string(inside) + "]");
  }
}

}  // namespace

std::string uri_of(std::string_view v) {
  for (const char* scheme : {"http://", "https://", "file://", "base64://"})
    if (starts_with(v, scheme)) return std::string(v);
  if (starts_with(v, "/") || (v.size() > 1 && v[1] == ':')) return "file://" + std::string(v);
  return std::string(v);
}

void push_media_or_text(cJSON* out, std::string_view type, std::string_view value, const char* name) {
  std::string uri;
  if (starts_with(value, "http://") || starts_with(value, "https://") || starts_with(value, "file://")) {
    uri = value;
  } else if (starts_with(value, "base64://") && is_base64(value.substr(9))) {
    uri = value;
  } else if (is_base64(value)) {
    uri = "base64://" + std::string(value);  // the protocol reads base64 only behind its scheme
  }
  if (uri.empty()) {
    hx_logf(HX_LOG_ERROR, "Milky", "错误(↓)",
            "发送%s失败：uri 不是合法的 base64/地址（长度%lu，开头 %s），已降级为文本", name,
            static_cast<unsigned long>(value.size()), std::string(value.substr(0, hx_utf8_cut(value, 40))).c_str());
    add_text(out, std::string("[") + name + "]");
    return;
  }
  cJSON* d = cJSON_CreateObject();
  cJSON_AddStringToObject(d, "uri", uri.c_str());
  cJSON_AddItemToArray(out, mseg(std::string(type).c_str(), d));
}

cJSON* onebot_message_to_milky(const cJSON* message) {
  cJSON* out = cJSON_CreateArray();
  if (cJSON_IsArray(message)) {
    const cJSON* s;
    cJSON_ArrayForEach(s, message) onebot_seg_to_milky(s, out);
  } else if (cJSON_IsString(message) && message->valuestring) {
    for (const CqPiece& piece : cq_split(message->valuestring)) {
      if (piece.isCode) {
        cq_code_to_milky(piece.text, out);
      } else if (!piece.text.empty()) {
        add_text(out, piece.text);
      }
    }
  }
  if (cJSON_GetArraySize(out) == 0) add_text(out, "");
  return out;
}

cJSON* mk_segs(const cJSON* p, bool forward, bool plain) {
  const cJSON* nodes = cJSON_GetObjectItemCaseSensitive(p, "messages");
  if (forward && cJSON_IsArray(nodes) && cJSON_GetArraySize(nodes) > 0) {
    cJSON* list = cJSON_CreateArray();
    const cJSON* n;
    cJSON_ArrayForEach(n, nodes) {
      const cJSON* d = mk_obj(n, "data") ? mk_obj(n, "data") : n;
      cJSON* node = cJSON_CreateObject();
      mk_add_id(node, "user_id", cJSON_HasObjectItem(d, "user_id") ? mk_id(d, "user_id") : mk_id(d, "uin"));
      cJSON_AddStringToObject(node, "sender_name", mk_str_or(d, "name", "nickname"));
      mk_add_id(node, "time", hx_now());
      cJSON_AddItemToObject(node, "segments", onebot_message_to_milky(cJSON_GetObjectItemCaseSensitive(d, "content")));
      cJSON_AddItemToArray(list, node);
    }
    cJSON* d = cJSON_CreateObject();
    cJSON_AddItemToObject(d, "messages", list);
    cJSON* out = cJSON_CreateArray();
    cJSON_AddItemToArray(out, mseg("forward", d));
    return out;
  }
  const cJSON* message = cJSON_GetObjectItemCaseSensitive(p, "message");
  if (plain) {
    std::string text;
    if (cJSON_IsString(message) && message->valuestring) {
      text = cq_unescape(message->valuestring);
    } else {
      const cJSON* s;
      cJSON_ArrayForEach(s, message) {
        if (std::string_view(mk_str(s, "type")) != "text") continue;
        const std::string_view piece = mk_str(mk_obj(s, "data"), "text");
        if (text.size() + piece.size() >= kPlainMax) continue;
        text += piece;
      }
    }
    cJSON* out = cJSON_CreateArray();
    add_text(out, text);
    return out;
  }
  return onebot_message_to_milky(message);
}

bool milky_build(std::string_view action, const cJSON* params, std::int64_t bot, MilkyRequest& out) {
  out = MilkyRequest{};
  Builder b(params, bot, out);
  if (build(action, params, b, out)) return true;
  out = MilkyRequest{};
  return false;
}
