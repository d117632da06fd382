// The query API: members, groups and friends as record arrays in E-language
// layout, single values (a card, a group name, a nickname, whether a member
// is muted) with the host's name caches, raw OneBot data, and the list of
// the host's own accounts.
#include <cjson/cJSON.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "api/api.h"
#include "api/api_conv.h"
#include "config/cfg.h"
#include "foundation/json.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "link/onebot.h"
#include "plugin/plugin.h"

// The records plugins walk: fixed to the byte on 32-bit x86.
#if HX_SDK_32BIT
static_assert(sizeof(HxMemberInfo) == 72 && offsetof(HxMemberInfo, nickname) == 16 &&
                  offsetof(HxMemberInfo, age) == 28 && offsetof(HxMemberInfo, join_time) == 36 &&
                  offsetof(HxMemberInfo, level) == 52 && offsetof(HxMemberInfo, title) == 60 &&
                  offsetof(HxMemberInfo, shut_up_timestamp) == 64,
              "群成员信息NT layout");
static_assert(sizeof(HxGroupInfo) == 28 && offsetof(HxGroupInfo, member_count) == 12 &&
                  offsetof(HxGroupInfo, max_member_count) == 20,
              "群信息NT layout");
static_assert(sizeof(HxFriendInfo) == 24 && offsetof(HxFriendInfo, remark) == 12 && offsetof(HxFriendInfo, level) == 20,
              "好友信息NT layout");
#endif

namespace {

constexpr const char* kApiTag = "API";
constexpr std::size_t kFrameQqBuf = 32768;

std::atomic<int> g_allocationsLeft{-1};  // test seam: allocations before one fails; -1 for never

void* record_alloc(std::size_t size) {
  int left = g_allocationsLeft.load();
  while (left >= 0) {
    if (left == 0) return nullptr;
    if (g_allocationsLeft.compare_exchange_weak(left, left - 1)) break;
  }
  return std::calloc(1, size);
}

// What one array build allocated, freed again when the build fails.
struct Allocations {
  std::vector<void*> blocks;
  bool failed = false;
  void* take(std::size_t size) {
    void* p = failed ? nullptr : record_alloc(size);
    if (p) {
      blocks.push_back(p);
    } else {
      failed = true;
    }
    return p;
  }
  void undo() {
    for (void* p : blocks) std::free(p);
    blocks.clear();
  }
};

// A member's GBK text on the heap ("" when missing).
const char* heap_text(Allocations& a, const cJSON* obj, const char* key) {
  const std::string gbk = jgbk(obj, key);
  auto* p = static_cast<char*>(a.take(gbk.size() + 1));
  if (p) std::memcpy(p, gbk.data(), gbk.size());
  return p;
}

// A 32-bit field: a number's integer value, or a decimal string; else 0.
std::int32_t jint(const cJSON* obj, const char* key) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(obj, key);
  if (cJSON_IsNumber(v)) return v->valueint;
  if (cJSON_IsString(v) && v->valuestring) return static_cast<std::int32_t>(hx_to_i64(v->valuestring, 0));
  return 0;
}

std::string u8_member(const cJSON* obj, const char* key) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(obj, key);
  return cJSON_IsString(v) && v->valuestring ? v->valuestring : "";
}

enum class Kind { member, group, friend_ };

std::size_t record_size(Kind k) {
  return k == Kind::member ? sizeof(HxMemberInfo) : k == Kind::group ? sizeof(HxGroupInfo) : sizeof(HxFriendInfo);
}

// Fills one record; false when an allocation failed.
bool fill(Allocations& a, Kind kind, void* rec, const cJSON* e, hx_i64 group, const std::string& bot) {
  switch (kind) {
    case Kind::member: {
      auto* m = static_cast<HxMemberInfo*>(rec);
      m->group_id = group;
      m->user_id = jll(e, "user_id");
      m->nickname = heap_text(a, e, "nickname");
      m->card = heap_text(a, e, "card");
      m->sex = heap_text(a, e, "sex");
      m->age = jint(e, "age");
      m->area = heap_text(a, e, "area");
      m->join_time = jll(e, "join_time");
      m->last_sent_time = jll(e, "last_sent_time");
      m->level = jint(e, "level");
      m->role = heap_text(a, e, "role");
      m->title = heap_text(a, e, "title");
      m->shut_up_timestamp = jll(e, "shut_up_timestamp");
      break;
    }
    case Kind::group: {
      auto* g = static_cast<HxGroupInfo*>(rec);
      g->group_id = jll(e, "group_id");
      g->group_name = heap_text(a, e, "group_name");
      g->member_count = jll(e, "member_count");
      g->max_member_count = jll(e, "max_member_count");
      if (cJSON_IsString(cJSON_GetObjectItemCaseSensitive(e, "group_name"))) {
        hx_pl_cache_group(bot, api_id_text(g->group_id), u8_member(e, "group_name"));
      }
      break;
    }
    case Kind::friend_: {
      auto* f = static_cast<HxFriendInfo*>(rec);
      f->user_id = jll(e, "user_id");
      f->nickname = heap_text(a, e, "nickname");
      f->remark = heap_text(a, e, "remark");
      f->sex = heap_text(a, e, "sex");
      f->level = jint(e, "level");
      if (cJSON_IsString(cJSON_GetObjectItemCaseSensitive(e, "nickname"))) {
        hx_pl_cache_nick(bot, api_id_text(f->user_id), u8_member(e, "nickname"));
      }
      break;
    }
  }
  return !a.failed;
}

// The E-language array image {1, count, record pointers...}; null with
// nothing left allocated when an allocation fails.
void* build_struct_array(Kind kind, const cJSON* array, hx_i64 group, hx_i64 bot) {
  const int count = cJSON_GetArraySize(array);
  Allocations a;
  auto* block = static_cast<std::uint32_t*>(a.take(2 * sizeof(std::uint32_t) + sizeof(void*) * count));
  if (!block) return nullptr;
  block[0] = 1;
  block[1] = static_cast<std::uint32_t>(count);
  void** slots = reinterpret_cast<void**>(block + 2);
  const std::string bot_text = api_id_text(bot);
  int i = 0;
  const cJSON* e;
  cJSON_ArrayForEach(e, array) {
    void* rec = a.take(record_size(kind));
    if (!rec || !fill(a, kind, rec, e, group, bot_text)) {
      a.undo();
      return nullptr;
    }
    slots[i++] = rec;
  }
  return block;
}

// The record-array queries: call, parse, build, store through `out`.
hx_i32 record_query(hx_i64 bot, const char* action, const ApiParams& p, Kind kind, hx_i64 group, void** out,
                    bool single) {
  std::optional<std::string> data = p.data(bot, action);
  if (!data) return 0;
  HxJson parsed(cJSON_Parse(data->c_str()));
  HxJson wrapper;
  const cJSON* array = parsed.get();
  if (single) {
    if (!cJSON_IsObject(array)) return 0;
    wrapper.reset(cJSON_CreateArray());
    cJSON_AddItemReferenceToArray(wrapper.get(), parsed.get());
    array = wrapper.get();
  }
  if (!cJSON_IsArray(array) || !out) return 0;
  void* image = build_struct_array(kind, array, group, bot);
  if (!image) return 0;
  *out = image;
  return cJSON_GetArraySize(array);
}

// A string member of a query's data ("" when the call or the member fails).
std::string data_member(const std::optional<std::string>& data, const char* key) {
  if (!data) return {};
  HxJson parsed(cJSON_Parse(data->c_str()));
  return u8_member(parsed.get(), key);
}

const char* gbk_result(const std::string& u8) { return tmpstr(utf8_to_gbk_safe(u8.c_str()).value_or(std::string())); }

// A data query: the "data" member whole, in GBK, from the data-result ring.
const char* data_query(hx_i64 bot, const char* action, const ApiParams& p) {
  std::optional<std::string> data = p.data(bot, action);
  return data ? tmpgbk_big(*data) : "";
}

}  // namespace

void api_fail_allocation_after(int n) { g_allocationsLeft.store(n); }

hx_i32 HX_STDCALL api_get_member_info(hx_word, hx_i64 bot, hx_i64 group, hx_i64 user, void** out) {
  return api_guard(0, [&] {
    ApiParams p;
    p.id("group_id", group).id("user_id", user).flag("no_cache", false);
    const hx_i32 n = record_query(bot, "get_group_member_info", p, Kind::member, group, out, true);
    hx_logf(HX_LOG_API, api_source(), kApiTag, "取群成员信息(%s/%s) -> 返回 %d 个 群成员信息NT",
            api_id_text(group).c_str(), api_id_text(user).c_str(), n);
    return n;
  });
}

hx_i32 HX_STDCALL api_get_member_list(hx_word, hx_i64 bot, hx_i64 group, void** out) {
  return api_guard(0, [&] {
    ApiParams p;
    p.id("group_id", group);
    const hx_i32 n = record_query(bot, "get_group_member_list", p, Kind::member, group, out, false);
    hx_logf(HX_LOG_API, api_source(), kApiTag, "取群成员列表(%s) -> 返回 %d 个 群成员信息NT",
            api_id_text(group).c_str(), n);
    return n;
  });
}

hx_i32 HX_STDCALL api_get_group_list(hx_word, hx_i64 bot, void** out) {
  return api_guard(0, [&] {
    const hx_i32 n = record_query(bot, "get_group_list", ApiParams(), Kind::group, 0, out, false);
    hx_logf(HX_LOG_API, api_source(), kApiTag, "取群列表 -> 返回 %d 个 群信息NT", n);
    return n;
  });
}

hx_i32 HX_STDCALL api_get_friend_list(hx_word, hx_i64 bot, void** out) {
  return api_guard(0, [&] {
    const hx_i32 n = record_query(bot, "get_friend_list", ApiParams(), Kind::friend_, 0, out, false);
    hx_logf(HX_LOG_API, api_source(), kApiTag, "取好友列表 -> 返回 %d 个 好友信息NT", n);
    return n;
  });
}

hx_text HX_STDCALL api_get_member_card(hx_word, hx_i64 bot, hx_i64 group, hx_i64 user) {
  return api_guard("", [&] { return gbk_result(data_member(member_info_json(bot, group, user), "card")); });
}

hx_text HX_STDCALL api_get_group_name(hx_word, hx_i64 bot, hx_i64 group) {
  return api_guard("", [&] {
    ApiParams p;
    p.id("group_id", group);
    const std::string name = data_member(p.data(bot, "get_group_info"), "group_name");
    if (!name.empty()) hx_pl_cache_group(api_id_text(bot), api_id_text(group), name);
    return gbk_result(name);
  });
}

hx_text HX_STDCALL api_get_group_name_cache(hx_word w, hx_i64 bot, hx_i64 group) {
  return api_guard("", [&] {
    const std::string cached = hx_pl_group_name_cache(api_id_text(bot), api_id_text(group));
    if (cached.empty()) {
      const char* fetched = api_get_group_name(w, bot, group);
      if (*fetched) return fetched;
    }
    return gbk_result(cached);
  });
}

hx_text HX_STDCALL api_get_nick(hx_word, hx_i64 bot, hx_i64 user) {
  return api_guard("", [&] {
    ApiParams p;
    p.id("user_id", user).flag("no_cache", false);
    const std::string nick = data_member(p.data(bot, "get_stranger_info"), "nickname");
    if (!nick.empty()) hx_pl_cache_nick(api_id_text(bot), api_id_text(user), nick);
    return gbk_result(nick);
  });
}

hx_text HX_STDCALL api_get_nick_cache(hx_word w, hx_i64 bot, hx_i64 user) {
  return api_guard("", [&] {
    const std::string cached = hx_pl_nick_cache(api_id_text(bot), api_id_text(user));
    if (cached.empty()) {
      const char* fetched = api_get_nick(w, bot, user);
      if (*fetched) return fetched;
    }
    return gbk_result(cached);
  });
}

hx_i32 HX_STDCALL api_is_banned(hx_word, hx_i64 bot, hx_i64 group, hx_i64 user) {
  return api_guard(0, [&] {
    std::optional<std::string> data = member_info_json(bot, group, user);
    if (!data) return 0;
    HxJson parsed(cJSON_Parse(data->c_str()));
    const cJSON* until = cJSON_GetObjectItemCaseSensitive(parsed.get(), "shut_up_timestamp");
    if (!until) until = cJSON_GetObjectItemCaseSensitive(parsed.get(), "shutup_timestamp");
    std::int64_t t = 0;
    if (cJSON_IsString(until) && until->valuestring) {
      t = hx_to_i64(until->valuestring, 0);
    } else if (cJSON_IsNumber(until)) {
      t = jll(parsed.get(), until->string);
    }
    return hx_now() < t ? 1 : 0;
  });
}

hx_text HX_STDCALL api_get_frame_qq() {
  return api_guard("", []() -> const char* {
    thread_local std::unique_ptr<char[]> buf;
    if (!buf) buf.reset(new (std::nothrow) char[kFrameQqBuf]);
    if (!buf) return "";
    HxJson root(cJSON_CreateObject());
    cJSON* list = cJSON_AddObjectToObject(root.get(), "QQlist");
    const std::vector<HxAccount> accounts = hx_cfg_accounts();
    for (const HxAccount& acc : accounts) {
      cJSON* o = cJSON_AddObjectToObject(list, acc.id);
      const bool online = hx_ob_online(acc.id);
      auto stat = [&](int kind) { return std::max(0LL, hx_ob_stat_get(acc.id, kind)); };
      const std::string up = online ? hx_fmt_dur(hx_now() - hx_ob_login_time(acc.id)) : "0秒";
      const long long received = stat(0), sent = stat(1);
      std::string t;
      json_add_gbk(o, "昵称", *acc.nickname ? acc.nickname : acc.id);
      json_add_gbk(o, "登录状态", online ? "登录完毕" : "未登录");
      json_add_gbk(o, "等级信息", "|0|0|0");
      json_add_gbk(o, "新_等级", "");
      json_add_gbk(o, "新_发出", std::to_string(sent).c_str());
      json_add_gbk(o, "新_接收", std::to_string(received).c_str());
      json_add_gbk(o, "新_在线", up.c_str());
      json_add_gbk(o, "新_群数", (std::to_string(stat(3)) + "个").c_str());
      json_add_gbk(o, "新_好友数", (std::to_string(stat(2)) + "人").c_str());
      sb_printf(t, "%s 收:%lld,发:%lld,速:0条/min", up.c_str(), received, sent);
      json_add_gbk(o, "收发信息", t.c_str());
      json_add_gbk(o, "登录IP", acc.ip);
      json_add_gbk(o, "登录协议", "QQNT");
    }
    HxJsonText text(cJSON_PrintUnformatted(root.get()));
    hx_copy_field_gbk(buf.get(), kFrameQqBuf, text ? text.get() : "");
    if (hx_dbg_on()) hx_dbgf(api_source(), "取框架QQ JSON = %s", hx_auto_to_utf8(buf.get()).value_or("").c_str());
    hx_logf(HX_LOG_API, api_source(), kApiTag, "取框架QQ -> %d 个机器人", static_cast<int>(accounts.size()));
    return buf.get();
  });
}

hx_text HX_STDCALL api_get_shut_list(hx_word, hx_i64 bot, hx_text group) {
  return api_guard("", [&] { return data_query(bot, "get_group_shut_list", ApiParams().id_text("group_id", group)); });
}
hx_text HX_STDCALL api_get_online_model(hx_word, hx_i64 bot) {
  return api_guard("", [&] { return data_query(bot, "get_status", ApiParams()); });
}
hx_text HX_STDCALL api_get_at_all_remain(hx_word, hx_i64 bot, hx_text group) {
  return api_guard("",
                   [&] { return data_query(bot, "get_group_at_all_remain", ApiParams().id_text("group_id", group)); });
}
hx_text HX_STDCALL api_get_login_info(hx_word, hx_i64 bot) {
  return api_guard("", [&] { return data_query(bot, "get_login_info", ApiParams()); });
}
hx_text HX_STDCALL api_get_group_notice(hx_word, hx_i64 bot, hx_i64 group) {
  return api_guard("", [&] { return data_query(bot, "_get_group_notice", ApiParams().id("group_id", group)); });
}
hx_text HX_STDCALL api_get_file_url(hx_word, hx_i64 bot, hx_i64 group, hx_text file_id) {
  return api_guard("", [&] {
    return data_query(bot, "get_group_file_url", ApiParams().id("group_id", group).raw("file_id", file_id));
  });
}
hx_text HX_STDCALL api_get_sub_files(hx_word, hx_i64 bot, hx_i64 group, hx_text folder_id, hx_i32 count) {
  return api_guard("", [&] {
    return data_query(bot, "get_group_files_by_folder",
                      ApiParams().id("group_id", group).raw("folder_id", folder_id).number("file_count", count));
  });
}
hx_text HX_STDCALL api_get_root_files(hx_word, hx_i64 bot, hx_i64 group) {
  return api_guard("", [&] { return data_query(bot, "get_group_root_files", ApiParams().id("group_id", group)); });
}
hx_text HX_STDCALL api_get_file_info(hx_word, hx_i64 bot, hx_text file_id) {
  return api_guard("", [&] { return data_query(bot, "get_group_file_url", ApiParams().raw("file_id", file_id)); });
}
hx_text HX_STDCALL api_get_essence_list(hx_word, hx_i64 bot, hx_i64 group) {
  return api_guard("", [&] { return data_query(bot, "get_essence_msg_list", ApiParams().id("group_id", group)); });
}
hx_text HX_STDCALL api_get_like_list(hx_word, hx_i64 bot) {
  return api_guard("", [&] { return data_query(bot, "get_profile_like", ApiParams()); });
}
hx_text HX_STDCALL api_get_pskey(hx_word, hx_i64 bot, hx_i32) {
  return api_guard("", [&] { return data_query(bot, "get_pskey", ApiParams()); });
}
hx_text HX_STDCALL api_get_cookies(hx_word, hx_i64 bot) {
  return api_guard("", [&] { return data_query(bot, "get_cookies", ApiParams()); });
}
hx_text HX_STDCALL api_get_msg_detail(hx_word, hx_i64 bot, hx_i64 message_id) {
  return api_guard("", [&] { return data_query(bot, "get_msg", ApiParams().id("message_id", message_id)); });
}
hx_text HX_STDCALL api_query_stranger(hx_word, hx_i64 bot, hx_i64 user) {
  return api_guard("", [&] { return data_query(bot, "get_stranger_info", ApiParams().id("user_id", user)); });
}
hx_text HX_STDCALL api_query_stranger_detail(hx_word w, hx_i64 bot, hx_i64 user) {
  return api_query_stranger(w, bot, user);
}
hx_text HX_STDCALL api_get_image_url(hx_word, hx_i64 bot, hx_text file) {
  return api_guard("", [&] { return data_query(bot, "get_image", ApiParams().utf8("file", file)); });
}
hx_text HX_STDCALL api_get_admin_list(hx_word, hx_i64 bot, hx_i64 group) {
  return api_guard("", [&] { return data_query(bot, "get_group_member_list", ApiParams().id("group_id", group)); });
}

hx_text HX_STDCALL api_get_user_status(hx_word, hx_i64, hx_i32) { return tmpstr(""); }
hx_text HX_STDCALL api_get_friend_group_list(hx_word, hx_i64) { return tmpstr(""); }
hx_text HX_STDCALL api_cor_ocr(hx_word, hx_i64, hx_i32) { return tmpstr(""); }
hx_text HX_STDCALL api_recent_msg_list(hx_word, hx_i64, hx_i32) { return tmpstr(""); }
hx_text HX_STDCALL api_get_recommend_card(hx_word, hx_i64, hx_i32, hx_i32) { return tmpstr(""); }
hx_text HX_STDCALL api_get_ai_voice(hx_word, hx_i64, hx_word, hx_word, hx_word) { return tmpstr(""); }
hx_text HX_STDCALL api_get_ai_characters(hx_word, hx_i64, hx_i64, hx_i32) { return tmpstr(""); }
