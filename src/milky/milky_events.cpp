// Milky events as the OneBot events event intake understands: messages with
// their segments and CQ text, notices, requests and the bot's going offline.
#include <cjson/cJSON.h>

#include <cstdio>

#include "foundation/cq.h"
#include "foundation/json.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "milky/milky.h"
#include "milky/milky_json.h"

namespace {

// ---- message segments ----

cJSON* seg(const char* type, cJSON* data) {
  cJSON* s = cJSON_CreateObject();
  cJSON_AddStringToObject(s, "type", type);
  cJSON_AddItemToObject(s, "data", data);
  return s;
}

cJSON* data_of(std::initializer_list<std::pair<const char*, std::string>> pairs) {
  cJSON* d = cJSON_CreateObject();
  for (const auto& [k, v] : pairs) cJSON_AddStringToObject(d, k, v.c_str());
  return d;
}

// Where a media segment's content lies: the first address it names.
std::string resource_of(const cJSON* d) {
  for (const char* key : {"temp_url", "uri", "url", "resource_id", "file"}) {
    const std::string v = mk_text(d, key);
    if (!v.empty()) return v;
  }
  return {};
}

// One Milky segment: appended to the OneBot array and to the CQ text.
void convert_segment(const cJSON* s, cJSON* out, std::string& raw) {
  const std::string type = mk_str(s, "type");
  const cJSON* d = mk_obj(s, "data");
  if (type == "text") {
    const std::string text = mk_str(d, "text");
    cJSON_AddItemToArray(out, seg("text", data_of({{"text", text}})));
    raw += cq_escape_text(text);
  } else if (type == "mention") {
    const std::string qq = mk_id_text(mk_id(d, "user_id"));
    cJSON_AddItemToArray(out, seg("at", data_of({{"qq", qq}})));
    raw += cq_write("at", {{"qq", qq}});
  } else if (type == "mention_all") {
    cJSON_AddItemToArray(out, seg("at", data_of({{"qq", "all"}})));
    raw += "[CQ:at,qq=all]";
  } else if (type == "face") {
    const std::string id = mk_text(d, "face_id");
    cJSON_AddItemToArray(out, seg("face", data_of({{"id", id}})));
    raw += cq_write("face", {{"id", id}});
  } else if (type == "reply") {
    const std::string id = mk_id_text(mk_id(d, "message_seq"));
    cJSON_AddItemToArray(out, seg("reply", data_of({{"id", id}})));
    raw += cq_write("reply", {{"id", id}});
  } else if (type == "image" || type == "market_face") {
    const std::string where = resource_of(d);
    cJSON_AddItemToArray(out, seg("image", data_of({{"file", where}, {"url", where}})));
    raw += cq_write("image", {{"file", where}});
  } else if (type == "record" || type == "video") {
    const std::string where = resource_of(d);
    cJSON_AddItemToArray(out, seg(type.c_str(), data_of({{"file", where}})));
    raw += cq_write(type, {{"file", where}});
  } else if (type == "forward") {
    const std::string id = mk_text(d, "forward_id");
    cJSON_AddItemToArray(out, seg("forward", data_of({{"id", id}})));
    raw += cq_write("forward", {{"id", id}});
  } else if (type == "light_app") {
    const std::string json = mk_str(d, "json_payload"), app = mk_str(d, "app_name");
    cJSON_AddItemToArray(out, seg("json", data_of({{"data", json}})));
    raw += app.empty() ? cq_write("json", {{"data", json}}) : cq_write("json", {{"data", json}, {"appname", app}});
  } else if (type == "xml") {
    const std::string xml = mk_str(d, "xml_payload");
    cJSON_AddItemToArray(out, seg("xml", data_of({{"data", xml}})));
    raw += cq_write("xml", {{"data", xml}});
  } else if (type == "file") {
    const std::string id = mk_text(d, "file_id");
    cJSON_AddItemToArray(out, seg("file", data_of({{"file_id", id}, {"file_name", mk_str(d, "file_name")}})));
    raw += cq_write("file", {{"file_id", id}});
  } else {
    cJSON_AddItemToArray(out, cJSON_Duplicate(s, 1));  // unknown: passed on, nothing in the text
  }
}

// ---- notices, requests, meta events ----

// The envelope of a notice, request or meta event; the event's own members
// are added to it.
struct Envelope {
  const char* post;
  const char* notice = nullptr;
  const char* request = nullptr;
  const char* sub = nullptr;
};

cJSON* simple(const Envelope& e, std::int64_t time, std::int64_t self) {
  cJSON* o = cJSON_CreateObject();
  cJSON_AddStringToObject(o, "post_type", e.post);
  if (e.notice)
    cJSON_AddStringToObject(o, std::string(e.post) == "meta_event" ? "meta_event_type" : "notice_type", e.notice);
  if (e.request) cJSON_AddStringToObject(o, "request_type", e.request);
  if (e.sub) cJSON_AddStringToObject(o, "sub_type", e.sub);
  mk_add_id(o, "time", time);
  mk_add_id(o, "self_id", self);
  return o;
}

// Copies whole numbers: {OneBot name, Milky name}.
void ids(cJSON* o, const cJSON* d, std::initializer_list<std::pair<const char*, const char*>> names) {
  for (const auto& [to, from] : names) mk_add_id(o, to, mk_id(d, from));
}
void texts(cJSON* o, const cJSON* d, std::initializer_list<std::pair<const char*, const char*>> names) {
  for (const auto& [to, from] : names) cJSON_AddStringToObject(o, to, mk_str(d, from));
}

cJSON* file_of(const cJSON* d) {
  cJSON* f = cJSON_CreateObject();
  cJSON_AddStringToObject(f, "id", mk_text(d, "file_id").c_str());
  cJSON_AddStringToObject(f, "name", mk_str(d, "file_name"));
  mk_add_id(f, "size", mk_id(d, "file_size"));
  cJSON_AddStringToObject(f, "busid", "0");
  return f;
}

std::string print(cJSON* o) {
  HxJson owned(o);
  HxJsonText text(cJSON_PrintUnformatted(owned.get()));
  return text ? std::string(text.get()) : std::string();
}

// The OneBot event for a Milky notice, request or meta event; null for a
// type without one.
cJSON* convert_other(const std::string& type, const cJSON* d, std::int64_t time, std::int64_t self) {
  auto notice = [&](const char* name, const char* sub = nullptr) {
    return simple({"notice", name, nullptr, sub}, time, self);
  };
  if (type == "message_recall") {
    const bool group = std::string_view(mk_str(d, "message_scene")) == "group";
    cJSON* o = notice(group ? "group_recall" : "friend_recall");
    if (group) ids(o, d, {{"group_id", "peer_id"}});
    ids(o, d, {{"user_id", "sender_id"}, {"message_id", "message_seq"}, {"operator_id", "operator_id"}});
    texts(o, d, {{"milky_suffix", "display_suffix"}});
    return o;
  }
  if (type == "bot_offline") {
    cJSON* o = simple({"meta_event", "lifecycle", nullptr, "disconnect"}, time, self);
    texts(o, d, {{"reason", "reason"}});
    return o;
  }
  if (type == "group_member_increase") {
    cJSON* o = notice("group_increase", mk_id(d, "invitor_id") > 0 ? "invite" : "approve");
    ids(o, d,
        {{"group_id", "group_id"},
         {"user_id", "user_id"},
         {"operator_id", "operator_id"},
         {"invitor_id", "invitor_id"}});
    return o;
  }
  if (type == "group_member_decrease") {
    const std::int64_t user = mk_id(d, "user_id"), op = mk_id(d, "operator_id");
    cJSON* o = notice("group_decrease", self > 0 && user == self ? "kick_me" : op > 0 && op != user ? "kick" : "leave");
    ids(o, d, {{"group_id", "group_id"}, {"user_id", "user_id"}, {"operator_id", "operator_id"}});
    return o;
  }
  if (type == "group_admin_change") {
    cJSON* o = notice("group_admin", mk_bool(d, "is_set", false) ? "set" : "unset");
    ids(o, d, {{"group_id", "group_id"}, {"user_id", "user_id"}, {"operator_id", "operator_id"}});
    return o;
  }
  if (type == "group_mute") {
    cJSON* o = notice("group_ban", mk_id(d, "duration") > 0 ? "ban" : "lift_ban");
    ids(o, d,
        {{"group_id", "group_id"}, {"user_id", "user_id"}, {"operator_id", "operator_id"}, {"duration", "duration"}});
    return o;
  }
  if (type == "group_whole_mute") {
    cJSON* o = notice("group_ban", mk_bool(d, "is_mute", false) ? "ban" : "lift_ban");
    ids(o, d, {{"group_id", "group_id"}, {"operator_id", "operator_id"}});
    mk_add_id(o, "user_id", 0);
    ids(o, d, {{"duration", "duration"}});
    return o;
  }
  if (type == "friend_request") {
    // Answered by the requester's uid (accept_friend_request / reject_friend_request).
    cJSON* o = simple({"request", nullptr, "friend"}, time, self);
    ids(o, d, {{"user_id", "initiator_id"}});
    texts(o, d, {{"comment", "comment"}});
    cJSON_AddStringToObject(o, "flag", ("fr|" + std::string(mk_str(d, "initiator_uid"))).c_str());
    texts(o, d, {{"source", "via"}, {"milky_initiator_uid", "initiator_uid"}});
    cJSON_AddBoolToObject(o, "is_filtered", mk_bool(d, "is_filtered", false));
    return o;
  }
  if (type == "group_request") {
    const bool invite = std::string_view(mk_str(d, "request_type")) == "invite";
    cJSON* o = simple({"request", nullptr, "group", invite ? "invite" : "add"}, time, self);
    ids(o, d, {{"group_id", "group_id"}, {"user_id", "initiator_id"}});
    if (invite) ids(o, d, {{"invitee_id", "invitee_id"}});
    ids(o, d, {{"invitor_id", "invitor_id"}});
    texts(o, d, {{"comment", "comment"}});
    cJSON_AddStringToObject(o, "flag", ("gr|" + mk_text(d, "request_id")).c_str());
    texts(o, d, {{"milky_request_type", "request_type"}});
    cJSON_AddStringToObject(o, "milky_request_id", mk_text(d, "request_id").c_str());
    return o;
  }
  if (type == "group_join_request" || type == "group_invited_join_request") {
    const bool join = type == "group_join_request";
    cJSON* o = simple({"request", nullptr, "group"}, time, self);
    ids(o, d,
        {{"group_id", "group_id"},
         {"user_id", join ? "initiator_id" : "target_user_id"},
         {"invitor_id", "initiator_id"}});
    texts(o, d, {{"comment", "comment"}});
    char flag[96];
    std::snprintf(flag, sizeof flag, "%s|%lld|%lld", join ? "join_request" : "invited_join_request",
                  static_cast<long long>(mk_id(d, "notification_seq")), static_cast<long long>(mk_id(d, "group_id")));
    cJSON_AddStringToObject(o, "flag", flag);
    return o;
  }
  if (type == "group_invitation") {
    // Answered by group and invitation sequence (accept_group_invitation / reject_group_invitation).
    cJSON* o = simple({"request", nullptr, "group", "invite"}, time, self);
    ids(o, d, {{"group_id", "group_id"}, {"user_id", "initiator_id"}});
    char flag[96];
    std::snprintf(flag, sizeof flag, "inv|%lld|%lld", static_cast<long long>(mk_id(d, "group_id")),
                  static_cast<long long>(mk_id(d, "invitation_seq")));
    cJSON_AddStringToObject(o, "flag", flag);
    ids(o, d, {{"milky_invitation_seq", "invitation_seq"}});
    return o;
  }
  if (type == "friend_nudge" || type == "group_nudge") {
    cJSON* o = notice("notify", "poke");
    if (type == "group_nudge") {
      ids(o, d, {{"group_id", "group_id"}, {"user_id", "sender_id"}, {"target_id", "receiver_id"}});
    } else {
      // A friend nudge names the friend and which side the bot is on.
      const std::int64_t peer = mk_id(d, "user_id");
      mk_add_id(o, "user_id", mk_bool(d, "is_self_send", false) ? self : peer);
      mk_add_id(o, "target_id", mk_bool(d, "is_self_receive", false) ? self : peer);
    }
    texts(o, d, {{"action", "display_action"}, {"suffix", "display_suffix"}});
    return o;
  }
  if (type == "group_file_upload") {
    cJSON* o = notice("group_upload");
    ids(o, d, {{"group_id", "group_id"}, {"user_id", "user_id"}});
    cJSON_AddItemToObject(o, "file", file_of(d));
    return o;
  }
  if (type == "friend_file_upload") {
    cJSON* o = notice("offline_file");
    ids(o, d, {{"user_id", "user_id"}});
    cJSON_AddItemToObject(o, "file", file_of(d));
    return o;
  }
  if (type == "group_message_reaction") {
    cJSON* o = notice("group_msg_emoji_like");
    ids(o, d, {{"group_id", "group_id"}, {"user_id", "user_id"}, {"message_id", "message_seq"}});
    cJSON_AddStringToObject(o, "emoji_id", mk_text(d, "face_id").c_str());
    texts(o, d, {{"reaction_type", "reaction_type"}});
    cJSON_AddBoolToObject(o, "is_add", mk_bool(d, "is_add", false));
    return o;
  }
  if (type == "group_essence_message_change") {
    cJSON* o = notice("essence", mk_bool(d, "is_set", false) ? "add" : "delete");
    ids(o, d, {{"group_id", "group_id"}, {"message_id", "message_seq"}, {"operator_id", "operator_id"}});
    return o;
  }
  return nullptr;
}

}  // namespace

cJSON* ev_message(const cJSON* envelope, const cJSON* msg, std::int64_t bot) {
  const std::string scene = mk_str(msg, "message_scene");
  const std::int64_t peer = mk_id(msg, "peer_id"), seq = mk_id(msg, "message_seq"), sender = mk_id(msg, "sender_id");
  std::int64_t time = mk_id(msg, "time");
  if (time <= 0) time = mk_id(envelope, "time");
  if (time <= 0) time = hx_now();
  const cJSON* group = mk_obj(msg, "group");
  const cJSON* member = mk_obj(msg, "group_member");
  const cJSON* friend_ = mk_obj(msg, "friend");

  cJSON* o = cJSON_CreateObject();
  cJSON_AddStringToObject(o, "post_type", bot > 0 && bot == sender ? "message_sent" : "message");
  if (scene == "group") {
    cJSON_AddStringToObject(o, "message_type", "group");
    cJSON_AddStringToObject(o, "sub_type", "normal");
    mk_add_id(o, "group_id", peer);
  } else {
    cJSON_AddStringToObject(o, "message_type", "private");
    cJSON_AddStringToObject(o, "sub_type", scene == "temp" ? "group" : "friend");
    if (scene == "temp" && mk_id(group, "group_id") > 0) mk_add_id(o, "group_id", mk_id(group, "group_id"));
    if (peer > 0) mk_add_id(o, "target_id", peer);
  }
  mk_add_id(o, "message_id", seq);
  mk_add_id(o, "real_id", seq);
  mk_add_id(o, "user_id", sender);
  mk_add_id(o, "time", time);
  mk_add_id(o, "self_id", bot);
  cJSON_AddNumberToObject(o, "font", 0);
  cJSON_AddNullToObject(o, "anonymous");
  cJSON_AddStringToObject(o, "message_format", "array");

  cJSON* who = cJSON_AddObjectToObject(o, "sender");
  mk_add_id(who, "user_id", sender);
  const char* member_nick = mk_str(member, "nickname");
  const std::string nick = *member_nick ? member_nick : mk_str(friend_, "nickname");
  cJSON_AddStringToObject(who, "nickname", nick.c_str());
  const std::string card = mk_str(member, "card");
  cJSON_AddStringToObject(who, "card", card.empty() ? nick.c_str() : card.c_str());
  const std::string role = mk_str(member, "role");
  cJSON_AddStringToObject(who, "role", role.empty() ? "member" : role.c_str());
  cJSON_AddStringToObject(who, "sex", member ? mk_str(member, "sex") : "unknown");
  cJSON_AddStringToObject(who, "title", mk_str(member, "title"));
  mk_add_id(who, "level", mk_id(member, "level"));
  cJSON_AddStringToObject(who, "remark", mk_str(friend_, "remark"));

  cJSON* segments = cJSON_AddArrayToObject(o, "message");
  std::string raw;
  const cJSON* s;
  cJSON_ArrayForEach(s, cJSON_GetObjectItemCaseSensitive(msg, "segments")) {
    if (cJSON_IsObject(s)) convert_segment(s, segments, raw);
  }
  cJSON_AddStringToObject(o, "raw_message", raw.c_str());
  if (group) cJSON_AddItemToObject(o, "milky_group", cJSON_Duplicate(group, 1));
  cJSON_AddStringToObject(o, "milky_scene", scene.c_str());
  mk_add_id(o, "milky_seq", seq);
  milky_seq_put(scene, seq, bot, peer, seq);
  return o;
}

std::optional<std::string> hx_milky_event_to_onebot(std::string_view text) {
  HxJson root(cJSON_ParseWithLength(text.data(), text.size()));
  if (!cJSON_IsObject(root.get())) return std::nullopt;
  const std::string type = mk_str(root.get(), "event_type");
  if (type.empty()) return std::string();
  const std::int64_t self = mk_id(root.get(), "self_id");
  const cJSON* data = mk_obj(root.get(), "data");
  if (type == "message_receive") {
    if (!data) {
      hx_log(HX_LOG_ERROR, "Milky", "错误(↓)", "message_receive 缺少 data 字段，已丢弃该事件");
      return std::string();
    }
    return print(ev_message(root.get(), data, self));
  }
  std::int64_t time = mk_id(root.get(), "time");
  if (time <= 0) time = hx_now();
  if (cJSON* o = convert_other(type, data, time, self)) return print(o);
  hx_logf(HX_LOG_SYSTEM, "框架", "系统(↓)", "Milky 事件 %s 无 OneBot 对应类型，已忽略", type.c_str());
  return std::string();
}
