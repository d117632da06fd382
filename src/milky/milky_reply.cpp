// Milky replies as plugins expect them: OneBot-shaped, with the data of each
// kind of reply renamed into OneBot's fields.
#include <cjson/cJSON.h>

#include "foundation/json.h"
#include "foundation/util.h"
#include "milky/milky.h"
#include "milky/milky_json.h"

namespace {

cJSON* friend_entry(const cJSON* f) {
  cJSON* o = cJSON_CreateObject();
  cJSON_AddNumberToObject(o, "user_id", mk_num(f, "user_id"));
  cJSON_AddStringToObject(o, "nickname", mk_str(f, "nickname"));
  cJSON_AddStringToObject(o, "remark", mk_str(f, "remark"));
  cJSON_AddStringToObject(o, "sex", mk_str(f, "sex"));
  return o;
}

cJSON* group_entry(const cJSON* g) {
  cJSON* o = cJSON_CreateObject();
  cJSON_AddNumberToObject(o, "group_id", mk_num(g, "group_id"));
  cJSON_AddStringToObject(o, "group_name", mk_str_or(g, "group_name", "name"));
  cJSON_AddNumberToObject(o, "member_count", mk_num(g, "member_count"));
  cJSON_AddNumberToObject(o, "max_member_count", mk_num(g, "max_member_count"));
  cJSON_AddStringToObject(o, "remark", mk_str(g, "remark"));
  return o;
}

cJSON* member_entry(const cJSON* m) {
  cJSON* o = cJSON_CreateObject();
  cJSON_AddNumberToObject(o, "group_id", mk_num(m, "group_id"));
  cJSON_AddNumberToObject(o, "user_id", mk_num(m, "user_id"));
  cJSON_AddStringToObject(o, "nickname", mk_str(m, "nickname"));
  cJSON_AddStringToObject(o, "card", mk_str_or(m, "card", "nickname"));
  cJSON_AddStringToObject(o, "role", mk_str(m, "role"));
  cJSON_AddStringToObject(o, "title", mk_str(m, "title"));
  cJSON_AddStringToObject(o, "sex", mk_str(m, "sex"));
  cJSON_AddNumberToObject(o, "join_time", mk_num(m, "join_time"));
  cJSON_AddNumberToObject(o, "last_sent_time", mk_num(m, "last_sent_time"));
  cJSON_AddNumberToObject(o, "shut_up_timestamp", mk_num(m, "shut_up_end_time"));
  return o;
}

cJSON* list_of(const cJSON* data, const char* key, cJSON* (*entry)(const cJSON*)) {
  cJSON* out = cJSON_CreateArray();
  const cJSON* e;
  cJSON_ArrayForEach(e, cJSON_GetObjectItemCaseSensitive(data, key)) cJSON_AddItemToArray(out, entry(e));
  return out;
}

cJSON* copy_or_empty(const cJSON* data) { return data ? cJSON_Duplicate(data, 1) : cJSON_CreateObject(); }

}  // namespace

cJSON* milky_reply_data(int kind, const cJSON* data, std::int64_t user_id) {
  switch (kind) {
    case MILKY_REPLY_FRIENDS:
      return list_of(data, "friends", friend_entry);
    case MILKY_REPLY_GROUPS:
      return list_of(data, "groups", group_entry);
    case MILKY_REPLY_MEMBERS:
      return list_of(data, "members", member_entry);
    case MILKY_REPLY_GROUP:
      return group_entry(cJSON_GetObjectItemCaseSensitive(data, "group"));
    case MILKY_REPLY_MEMBER:
      return member_entry(cJSON_GetObjectItemCaseSensitive(data, "member"));
    case MILKY_REPLY_LOGIN: {
      cJSON* o = cJSON_CreateObject();
      cJSON_AddNumberToObject(o, "user_id", mk_num(data, "uin"));
      cJSON_AddStringToObject(o, "nickname", mk_str(data, "nickname"));
      return o;
    }
    case MILKY_REPLY_SENT: {
      cJSON* o = cJSON_CreateObject();
      cJSON_AddNumberToObject(o, "message_id", mk_num(data, "message_seq"));
      cJSON_AddNumberToObject(o, "time", mk_num(data, "time"));
      return o;
    }
    case MILKY_REPLY_CSRF: {
      cJSON* o = cJSON_CreateObject();
      cJSON_AddStringToObject(o, "token", mk_str(data, "csrf_token"));
      return o;
    }
    case MILKY_REPLY_PROFILE: {
      cJSON* o = copy_or_empty(data);
      if (!cJSON_IsObject(o)) {
        cJSON_Delete(o);
        o = cJSON_CreateObject();
      }
      if (!cJSON_HasObjectItem(o, "user_id")) cJSON_AddNumberToObject(o, "user_id", static_cast<double>(user_id));
      return o;
    }
    case MILKY_REPLY_MESSAGE: {
      const cJSON* msg = cJSON_GetObjectItemCaseSensitive(data, "message");
      return ev_message(nullptr, cJSON_IsObject(msg) ? msg : data, 0);
    }
    default:  // pass through
      return copy_or_empty(data);
  }
}

std::string milky_reply_to_onebot(std::string_view milky_reply, int kind, std::int64_t user_id, bool* ok) {
  HxJson root(cJSON_ParseWithLength(milky_reply.data(), milky_reply.size()));
  const cJSON* status = cJSON_GetObjectItemCaseSensitive(root.get(), "status");
  const bool good = cJSON_IsString(status) && std::string_view(status->valuestring) == "ok";
  if (ok) *ok = good;
  HxJson out(cJSON_CreateObject());
  if (good) {
    cJSON_AddStringToObject(out.get(), "status", "ok");
    cJSON_AddNumberToObject(out.get(), "retcode", 0);
    cJSON_AddItemToObject(out.get(), "data",
                          milky_reply_data(kind, cJSON_GetObjectItemCaseSensitive(root.get(), "data"), user_id));
    cJSON_AddStringToObject(out.get(), "wording", "");
  } else {
    cJSON_AddStringToObject(out.get(), "status", "failed");
    cJSON_AddNumberToObject(out.get(), "retcode", -404);
    cJSON_AddStringToObject(out.get(), "wording", mk_str(root.get(), "message"));
  }
  HxJsonText text(cJSON_PrintUnformatted(out.get()));
  if (!text)
    return good ? R"({"status":"ok","retcode":0,"data":{},"wording":""})"
                : R"({"status":"failed","retcode":-404,"wording":""})";
  return text.get();
}
