// The messaging API: plain and rich messages to groups, friends and group
// members, the fixed message kinds built on them (pictures, voice, video,
// faces, replies, music, dice, JSON cards, merged forwards, pokes, files),
// and raw OneBot packets. Each becomes one action on the account's link.
//
// Plain sends pass the message through the sending plugin's output
// replacement hook first. Segment texts are built to fit whatever the plugin
// passed: a long URL or path never cuts a code in half.
#include <cjson/cJSON.h>

#include <string>
#include <string_view>
#include <vector>

#include "api/api.h"
#include "api/api_conv.h"
#include "config/cfg.h"
#include "foundation/cq.h"
#include "foundation/json.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "link/onebot.h"
#include "plugin/plugin.h"

namespace {

constexpr const char* kApiTag = "API";
constexpr const char* kErrTag = "错误(↓)";
constexpr std::size_t kUploadPathMax = 1023;
constexpr int kDataPackDefaultMs = 5000;

std::string arg(const char* text) { return text ? text : ""; }
// An id given as text: null is 0, else a signed decimal.
hx_i64 id_of(const char* text) { return text ? hx_to_i64(text, 0) : 0; }
void add_id_num(cJSON* obj, const char* key, hx_i64 id) { add_id(obj, key, api_id_text(id).c_str()); }

// How deep the current thread is inside send hooks (a hook may send again).
thread_local int t_hookDepth = 0;

// The sending plugin's hook applied to a message: the replacement, or
// nullopt to send the message as it is. Entered at most twice in one chain of
// nested sends.
std::optional<std::string> pre_send(const char* api_name, const char* msg) {
  HxPlugin* p = hx_pl_current();
  if (!p || !msg || !p->cb[HX_CB_SEND_HOOK]) return std::nullopt;
  if (t_hookDepth > 1) {
    hx_logf(HX_LOG_ERROR, p->name.c_str(), kErrTag, "输出替换回调递归过深（第 %d 层），本次不再进入，原样发出",
            t_hookDepth);
    return std::nullopt;
  }
  struct Depth {
    Depth() { ++t_hookDepth; }
    ~Depth() { --t_hookDepth; }
  } depth;
  return hx_pl_send_hook(p, api_name, msg);
}

// The four plain sends: hook, UTF-8, the params in their order (ids, then
// "message", then "auto_escape"), the call, the API log line.
template <class AddIds>
const char* send_message(const char* api, const char* action, hx_i64 bot, AddIds add_ids, const char* msg, hx_i32 raw,
                         bool json) {
  return api_guard("0", [&] {
    const std::optional<std::string> hooked = pre_send(api, msg);
    const std::string_view text = hooked ? std::string_view(*hooked) : std::string_view(msg ? msg : "");
    const std::optional<std::string> u8 = hx_auto_to_utf8(text);
    HxJson params(cJSON_CreateObject());
    add_ids(params.get());
    if (u8) {
      if (json) {
        cJSON_AddItemToObject(params.get(), "message", api_jsonmsg_build(*u8, raw != 0));
      } else {
        cJSON_AddStringToObject(params.get(), "message", u8->c_str());
      }
    }
    cJSON_AddBoolToObject(params.get(), "auto_escape", raw != 0);
    const bool ok = call_ok(bot, action, params.get());
    if (hx_cfg_get(&HxCfg::logApi)) hx_logf(HX_LOG_API, api_source(), kApiTag, "%s: %s", api, u8 ? u8->c_str() : "");
    return api_ok_text(ok);
  });
}

const char* to_friend(hx_i64 bot, const char* user, const std::string& message) {
  return api_send_private_msg(0, bot, id_of(user), message.c_str(), 0);
}
const char* to_group(hx_i64 bot, hx_i64 group, const std::string& message) {
  return api_send_group_msg(0, bot, group, message.c_str(), 0);
}

std::string file_segment(const char* type, const char* file) {
  return "[CQ:" + std::string(type) + ",file=" + arg(file) + "]";
}
std::string json_card(const char* json) { return "[CQ:json,data=" + cq_escape(arg(json)) + "]"; }

// A merged-forward node list: nodes split at "#" (at most 64), fields at
// "[=]" or, when that gives one field, at "=" (at most 4): sender QQ,
// nickname, unused, content. A node without a sender is skipped.
cJSON* forward_nodes(const char* list) {
  cJSON* nodes = cJSON_CreateArray();
  const std::string text = arg(list);  // the pieces below are views into it
  for (std::string_view node : hx_split(text, "#", 64)) {
    std::vector<std::string_view> f = hx_split(node, "[=]", 4);
    if (f.size() <= 1) f = hx_split(node, "=", 4);
    if (f.empty() || f[0].empty()) continue;
    cJSON* data = cJSON_CreateObject();
    cJSON_AddStringToObject(data, "user_id", std::string(f[0]).c_str());
    add_str_u8(data, "nickname", f.size() > 1 ? std::string(f[1]).c_str() : "");
    add_str_u8(data, "content", f.size() > 3 ? std::string(f[3]).c_str() : "");
    cJSON* item = cJSON_CreateObject();
    cJSON_AddItemToObject(item, "data", data);
    cJSON_AddStringToObject(item, "type", "node");
    cJSON_AddItemToArray(nodes, item);
  }
  return nodes;
}

template <class AddIds>
const char* send_forward(hx_i64 bot, const char* action, AddIds add_ids, const char* list) {
  return api_guard("0", [&] {
    HxJson params(cJSON_CreateObject());
    add_ids(params.get());
    cJSON_AddItemToObject(params.get(), "messages", forward_nodes(list));
    return api_ok_text(call_ok(bot, action, params.get()));
  });
}

// An action whose params are ids and a UTF-8 file path.
template <class AddIds>
const char* send_file(hx_i64 bot, const char* action, AddIds add_ids, const char* file) {
  return api_guard("0", [&] {
    HxJson params(cJSON_CreateObject());
    add_ids(params.get());
    add_str_u8(params.get(), "file", file);
    return api_ok_text(call_ok(bot, action, params.get()));
  });
}

}  // namespace

cJSON* api_jsonmsg_build(std::string_view u8, bool raw) {
  if (raw) return cJSON_CreateString(std::string(u8).c_str());
  HxJson parsed(cJSON_ParseWithLength(u8.data(), u8.size()));
  cJSON* root = parsed.get();
  if (cJSON_IsObject(root) && cJSON_HasObjectItem(root, "type")) {
    cJSON* segments = cJSON_CreateArray();
    cJSON_AddItemToArray(segments, parsed.release());
    return segments;
  }
  if (cJSON_IsArray(root) && cJSON_HasObjectItem(cJSON_GetArrayItem(root, 0), "type")) return parsed.release();
  return cJSON_CreateString(("[CQ:json,data=" + cq_escape(u8) + "]").c_str());
}

hx_text HX_STDCALL api_send_group_msg(hx_word, hx_i64 bot, hx_i64 group, hx_text msg, hx_i32 raw) {
  return send_message(
      "发送群消息", "send_group_msg", bot, [&](cJSON* p) { add_id_num(p, "group_id", group); }, msg, raw, false);
}

hx_text HX_STDCALL api_send_private_msg(hx_word, hx_i64 bot, hx_i64 user, hx_text msg, hx_i32 raw) {
  return send_message(
      "发送好友消息", "send_private_msg", bot, [&](cJSON* p) { add_id_num(p, "user_id", user); }, msg, raw, false);
}

hx_text HX_STDCALL api_send_tmp_msg(hx_word, hx_i64 bot, hx_i64 user, hx_i64 group, hx_text msg, hx_i32 raw) {
  return send_message(
      "发送群临时消息", "send_private_msg", bot,
      [&](cJSON* p) {
        add_id_num(p, "user_id", user);
        if (group > 0) add_id_num(p, "group_id", group);
      },
      msg, raw, false);
}

hx_text HX_STDCALL api_send_group_json(hx_word, hx_i64 bot, hx_i64 group, hx_text json, hx_i32 raw) {
  return send_message(
      "发送群json消息", "send_group_msg", bot, [&](cJSON* p) { add_id_num(p, "group_id", group); }, json, raw, true);
}

hx_text HX_STDCALL api_send_private_json_nb(hx_word, hx_i64 bot, hx_text user, hx_text json) {
  return api_guard("0", [&] { return to_friend(bot, user, json_card(json)); });
}

hx_text HX_STDCALL api_send_private_pic_nb(hx_word, hx_i64 bot, hx_text user, hx_text file) {
  return api_guard("0", [&] { return to_friend(bot, user, file_segment("image", file)); });
}

hx_text HX_STDCALL api_send_private_voice_nb(hx_word, hx_i64 bot, hx_text user, hx_text file) {
  return api_guard("0", [&] { return to_friend(bot, user, file_segment("record", file)); });
}

hx_text HX_STDCALL api_send_private_video_nb(hx_word, hx_i64 bot, hx_text user, hx_text file) {
  return api_guard("0", [&] { return to_friend(bot, user, file_segment("video", file)); });
}

hx_text HX_STDCALL api_send_private_face_nb(hx_word, hx_i64 bot, hx_text user, hx_i32 face) {
  return api_guard(
      "0", [&] { return to_friend(bot, user, "[CQ:face,id=" + std::to_string(static_cast<long long>(face)) + "]"); });
}

hx_text HX_STDCALL api_send_private_reply(hx_word, hx_i64 bot, hx_text user, hx_text message_id, hx_text msg) {
  return api_guard("0", [&] { return to_friend(bot, user, "[CQ:reply,id=" + arg(message_id) + "]" + arg(msg)); });
}

hx_text HX_STDCALL api_send_private_music(hx_word, hx_i64 bot, hx_text user, hx_text music_id) {
  return api_guard("0", [&] { return to_friend(bot, user, "[CQ:music,type=qq,id=" + arg(music_id) + "]"); });
}

hx_text HX_STDCALL api_send_private_music_custom(hx_word, hx_i64 bot, hx_text user, hx_i32, hx_text url, hx_text audio,
                                                 hx_text title, hx_text image) {
  api_guard("0", [&] {
    return to_friend(bot, user,
                     "[CQ:music,type=custom,url=" + arg(url) + ",audio=" + arg(audio) + ",title=" + arg(title) +
                         ",image=" + arg(image) + "]");
  });
  return "";
}

hx_text HX_STDCALL api_send_private_dice(hx_word, hx_i64 bot, hx_text user) {
  return api_guard("0", [&] { return to_friend(bot, user, "[CQ:dice]"); });
}

hx_text HX_STDCALL api_send_private_rps(hx_word, hx_i64 bot, hx_text user) {
  return api_guard("0", [&] { return to_friend(bot, user, "[CQ:rps]"); });
}

hx_text HX_STDCALL api_send_private_forward(hx_word, hx_i64 bot, hx_text user, hx_text nodes) {
  return send_forward(
      bot, "send_private_forward_msg", [&](cJSON* p) { add_id(p, "user_id", user); }, nodes);
}

hx_text HX_STDCALL api_send_private_file_nb(hx_word, hx_i64 bot, hx_text user, hx_text file) {
  return send_file(
      bot, "upload_private_file", [&](cJSON* p) { add_id(p, "user_id", user); }, file);
}

hx_text HX_STDCALL api_upload_private_file_nb(hx_word, hx_i64 bot, hx_text user, hx_text dir, hx_text name) {
  return api_guard("", [&]() -> const char* {
    const std::string path = arg(dir) + arg(name);
    if (path.size() > kUploadPathMax) return "";  // a cut path would name another file
    HxJson params(cJSON_CreateObject());
    add_id(params.get(), "user_id", user);
    add_str_u8(params.get(), "file", path.c_str());
    add_str_u8(params.get(), "name", name);
    return call_ok(bot, "upload_private_file", params.get()) ? tmpstr("1") : "";
  });
}

hx_text HX_STDCALL api_send_private_poke(hx_word, hx_i64 bot, hx_text user) {
  return api_guard("0", [&] {
    HxJson params(cJSON_CreateObject());
    add_id(params.get(), "user_id", user);
    return api_ok_text(call_ok(bot, "friend_poke", params.get()));
  });
}

hx_text HX_STDCALL api_send_group_voice_nb(hx_word, hx_i64 bot, hx_text group, hx_text file) {
  return api_guard("0", [&] { return to_group(bot, id_of(group), file_segment("record", file)); });
}

hx_text HX_STDCALL api_send_group_video_nb(hx_word, hx_i64 bot, hx_text group, hx_text file) {
  return api_guard("0", [&] { return to_group(bot, id_of(group), file_segment("video", file)); });
}

hx_text HX_STDCALL api_send_group_dice(hx_word, hx_i64 bot, hx_text group) {
  return api_guard("0", [&] { return to_group(bot, id_of(group), "[CQ:dice]"); });
}

hx_text HX_STDCALL api_send_group_rps(hx_word, hx_i64 bot, hx_text group) {
  return api_guard("0", [&] { return to_group(bot, id_of(group), "[CQ:rps]"); });
}

hx_text HX_STDCALL api_send_group_forward(hx_word, hx_i64 bot, hx_i64 group, hx_i32, hx_text nodes) {
  return send_forward(
      bot, "send_group_forward_msg", [&](cJSON* p) { add_id_num(p, "group_id", group); }, nodes);
}

hx_text HX_STDCALL api_send_group_file_nb(hx_word, hx_i64 bot, hx_text group, hx_text file) {
  return send_file(
      bot, "upload_group_file", [&](cJSON* p) { add_id(p, "group_id", group); }, file);
}

hx_text HX_STDCALL api_send_group_poke(hx_word, hx_i64 bot, hx_text group, hx_text user) {
  return api_guard("0", [&] {
    HxJson params(cJSON_CreateObject());
    add_id(params.get(), "group_id", group);
    add_id(params.get(), "user_id", user);
    return api_ok_text(call_ok(bot, "group_poke", params.get()));
  });
}

hx_text HX_STDCALL api_share_music(hx_word, hx_i64 bot, hx_i64 group, hx_text title, hx_i32, hx_text url, hx_text audio,
                                   hx_i32, hx_i32) {
  // The base send's own result: a refused share is no success.
  return api_guard("0", [&] {
    return to_group(bot, group,
                    "[CQ:music,type=custom,url=" + arg(url) + ",audio=" + arg(audio) + ",title=" + arg(title) + "]");
  });
}

hx_text HX_STDCALL api_share_music_custom(hx_word, hx_i64 bot, hx_i64 group, hx_text url, hx_text audio, hx_text title,
                                          hx_i32, hx_text content) {
  api_guard("0", [&] {
    return to_group(bot, group,
                    "[CQ:music,type=custom,url=" + arg(url) + ",audio=" + arg(audio) + ",title=" + arg(title) +
                        ",content=" + arg(content) + "]");
  });
  return "";
}

hx_text HX_STDCALL api_send_data_pack(hx_word, hx_i64 bot, hx_text packet, hx_i32 timeout_ms) {
  return api_guard("", [&]() -> const char* {
    if (!packet) return "";
    HxJson root(cJSON_Parse(packet));
    if (!root) return "";
    json_vals_to_utf8(root.get());
    const cJSON* action = cJSON_GetObjectItemCaseSensitive(root.get(), "action");
    if (!cJSON_IsString(action) || !action->valuestring) return tmpstr("0");
    std::string params = "{}";
    if (const cJSON* p = cJSON_GetObjectItemCaseSensitive(root.get(), "params")) {
      if (HxJsonText text(cJSON_PrintUnformatted(p)); text) params = text.get();
    }
    std::optional<std::string> reply;
    hx_ob_call(api_id_text(bot), action->valuestring, params, &reply, timeout_ms > 0 ? timeout_ms : kDataPackDefaultMs);
    return api_ok_text(reply && api_reply_ok(*reply));
  });
}

hx_text HX_STDCALL api_send_group_ai_voice(hx_word, hx_i64, hx_word, hx_word, hx_word) { return ""; }
