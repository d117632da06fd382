#include "api/api_conv.h"

#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "foundation/json.h"
#include "foundation/util.h"
#include "link/onebot.h"
#include "plugin/plugin.h"

namespace {

std::string print(const cJSON* params) {
  if (!params) return "{}";
  HxJsonText text(cJSON_PrintUnformatted(params));
  return text ? text.get() : "{}";
}

// A ring of growable buffers with a size cap. A buffer that grew for a
// large result gives the memory back when its turn comes again for a small
// one, so a thread keeps only what its recent results need.
constexpr std::size_t kKeepCapacity = 1 << 20;

struct GrowRing {
  std::array<std::string, HX_UPLOAD_RING> slot;
  unsigned next = 0;
  const char* put(std::string_view text) noexcept {
    if (text.size() + 1 > HX_UPLOAD_MAX) return "";
    std::string& s = slot[next++ % slot.size()];
    if (s.capacity() > kKeepCapacity && text.size() < s.capacity() / 2) std::string().swap(s);
    try {
      s.assign(text);
    } catch (const std::bad_alloc&) {
      std::string().swap(s);
      return "";
    }
    return s.c_str();
  }
};

struct Rings {
  char tmp[HX_TMP_RING][HX_TMP_SIZE];
  unsigned tmpIdx = 0;
  char big[HX_TMPB_RING][HX_TMPB_SIZE];
  unsigned bigIdx = 0;
  GrowRing bigGrow;
  GrowRing upload;
};

// This thread's rings; null when they could not be allocated.
Rings* rings() noexcept {
  thread_local std::unique_ptr<Rings> r(new (std::nothrow) Rings);
  return r.get();
}

}  // namespace

std::string api_id_text(hx_i64 id) { return std::to_string(static_cast<long long>(id)); }

const char* api_source() {
  const char* name = hx_pl_current_name();
  return name && *name ? name : "框架";
}

void add_id(cJSON* obj, const char* key, const char* text) {
  if (!obj || !key) return;
  std::string_view t = text ? text : "";
  const bool digits = !t.empty() && t.find_first_not_of("0123456789") == std::string_view::npos;
  if (digits) {
    cJSON_AddNumberToObject(obj, key, static_cast<double>(hx_to_i64(t, 0)));
  } else {
    cJSON_AddStringToObject(obj, key, std::string(t).c_str());
  }
}

void add_str_u8(cJSON* obj, const char* key, const char* text) {
  if (!obj || !key) return;
  std::optional<std::string> u8 = hx_auto_to_utf8(text ? text : "");
  cJSON_AddStringToObject(obj, key, u8 ? u8->c_str() : "");
}

bool api_reply_ok(std::string_view reply) {
  HxJson root(cJSON_ParseWithLength(reply.data(), reply.size()));
  if (!root) return false;
  const cJSON* status = cJSON_GetObjectItemCaseSensitive(root.get(), "status");
  if (cJSON_IsString(status) && std::string_view(status->valuestring) == "ok") return true;
  const cJSON* retcode = cJSON_GetObjectItemCaseSensitive(root.get(), "retcode");
  return cJSON_IsNumber(retcode) && retcode->valuedouble == 0;
}

bool call_ok(hx_i64 bot, const char* action, const cJSON* params) {
  std::optional<std::string> reply;
  hx_ob_call(api_id_text(bot), action ? action : "", print(params), &reply, HX_CALL_OK_MS);
  return reply && api_reply_ok(*reply);
}

std::optional<std::string> call_data(hx_i64 bot, const char* action, const cJSON* params) {
  std::optional<std::string> reply;
  hx_ob_call(api_id_text(bot), action ? action : "", print(params), &reply, HX_CALL_DATA_MS);
  // A refused call has no data, whatever its reply carries ("data": null).
  if (!reply || !api_reply_ok(*reply)) return std::nullopt;
  HxJson root(cJSON_Parse(reply->c_str()));
  const cJSON* data = root ? cJSON_GetObjectItemCaseSensitive(root.get(), "data") : nullptr;
  if (!data) return std::nullopt;
  return print(data);
}

std::optional<std::string> member_info_json(hx_i64 bot, hx_i64 group, hx_i64 user) {
  HxJson params(cJSON_CreateObject());
  add_id(params.get(), "group_id", api_id_text(group).c_str());
  add_id(params.get(), "user_id", api_id_text(user).c_str());
  cJSON_AddFalseToObject(params.get(), "no_cache");
  return call_data(bot, "get_group_member_info", params.get());
}

long long jll(const cJSON* obj, const char* key) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(obj, key);
  if (cJSON_IsNumber(v)) {
    // A number no 64-bit integer holds (1e300, inf) would make the cast undefined.
    const double d = v->valuedouble;
    return d >= -9.2e18 && d <= 9.2e18 ? static_cast<long long>(d) : 0;
  }
  if (cJSON_IsString(v) && v->valuestring) return hx_to_i64(v->valuestring, 0);
  return 0;
}

std::string jgbk(const cJSON* obj, const char* key) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(obj, key);
  if (!cJSON_IsString(v) || !v->valuestring) return {};
  return hx_utf8_to_gbk(v->valuestring).value_or(v->valuestring);
}

void json_add_gbk(cJSON* obj, const char* key, const char* value) {
  if (!obj || !key) return;
  std::optional<std::string> k = hx_utf8_to_gbk(key);
  std::string gkey = k ? *k : std::string(key).substr(0, 63);
  const std::string v = value ? value : "";
  std::optional<std::string> gv = hx_utf8_to_gbk(v);
  cJSON_AddStringToObject(obj, gkey.c_str(), gv ? gv->c_str() : v.c_str());
}

std::optional<std::string> utf8_to_gbk_safe(const char* text) { return hx_safe_gbk(text ? text : ""); }

void json_vals_to_utf8(cJSON* tree) {
  if (!tree) return;
  if (cJSON_IsString(tree) && tree->valuestring) {
    if (std::optional<std::string> u8 = hx_auto_to_utf8(tree->valuestring); u8 && *u8 != tree->valuestring) {
      cJSON_SetValuestring(tree, u8->c_str());
    }
  }
  for (cJSON* child = tree->child; child; child = child->next) json_vals_to_utf8(child);
}

const char* tmpstr(std::string_view text) {
  Rings* r = rings();
  if (!r) return "";
  char* buf = r->tmp[r->tmpIdx++ % HX_TMP_RING];
  hx_copy_field_gbk(buf, HX_TMP_SIZE, text);  // results are GBK: never half a character
  return buf;
}

const char* api_ok_text(bool ok) {
  const char* r = tmpstr(ok ? "1" : "0");
  return *r ? r : ok ? "1" : "0";
}

const char* tmpgbk_big(std::string_view utf8) {
  return api_guard("", [&]() -> const char* {
    std::string gbk = hx_safe_gbk(utf8).value_or(std::string());
    Rings* r = rings();
    if (!r) return "";
    if (gbk.size() + 1 > HX_TMPB_SIZE) return r->bigGrow.put(gbk);  // whole, never cut
    char* buf = r->big[r->bigIdx++ % HX_TMPB_RING];
    std::memcpy(buf, gbk.data(), gbk.size());
    buf[gbk.size()] = '\0';
    return buf;
  });
}

const char* upload_ret(std::string_view text) {
  Rings* r = rings();
  return r ? r->upload.put(text) : "";
}
