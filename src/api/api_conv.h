// The conventions every API function shares: turning arguments into OneBot
// parameters, calling the backend, deciding success, and handing text back to
// a plugin through per-thread result rings it never frees.
//
// Ring results stay valid until the same ring wraps on the same thread: 32
// short results, 4 data results and 4 media results per thread.
#pragma once

#include <cjson/cJSON.h>

#include <optional>
#include <string>
#include <string_view>

#include "api/api.h"
#include "foundation/json.h"
#include "foundation/util.h"

inline constexpr std::size_t HX_TMP_SIZE = 4096;  // short results, cut to 4095 bytes
inline constexpr int HX_TMP_RING = 32;
inline constexpr std::size_t HX_TMPB_SIZE = 65536;  // data results of the fixed ring
inline constexpr int HX_TMPB_RING = 4;
inline constexpr std::size_t HX_UPLOAD_MAX = 25165824;  // 24 MiB including the terminator
inline constexpr int HX_UPLOAD_RING = 4;
inline constexpr int HX_CALL_OK_MS = 5000;
inline constexpr int HX_CALL_DATA_MS = 8000;

// "%lld" of an id.
std::string api_id_text(hx_i64 id);
// The source of API log lines: the current plugin's name, or "框架".
const char* api_source();

// A member that is a JSON number when `text` is all decimal digits, else a
// string ("" for null).
void add_id(cJSON* obj, const char* key, const char* text);
// A string member holding `text` converted to UTF-8 ("" when it cannot be).
void add_str_u8(cJSON* obj, const char* key, const char* text);
// Whether a reply means success: "status" "ok", or else "retcode" 0.
bool api_reply_ok(std::string_view reply);
// Calls an action for the bot and reports success (5,000 ms).
bool call_ok(hx_i64 bot, const char* action, const cJSON* params);
// Calls an action and returns the reply's "data" printed compactly (8,000 ms).
std::optional<std::string> call_data(hx_i64 bot, const char* action, const cJSON* params);
std::optional<std::string> member_info_json(hx_i64 bot, hx_i64 group, hx_i64 user);
// A member as a 64-bit integer (number or decimal string), else 0.
long long jll(const cJSON* obj, const char* key);
// A string member in GBK ("" when absent; unconverted when it cannot be).
std::string jgbk(const cJSON* obj, const char* key);
// A string member whose key and value are converted from UTF-8 to GBK.
void json_add_gbk(cJSON* obj, const char* key, const char* value);
// The GBK conversion for plugins: markers for what GBK cannot hold.
std::optional<std::string> utf8_to_gbk_safe(const char* text);
// Every string value of a tree (not the keys) in UTF-8.
void json_vals_to_utf8(cJSON* tree);

// Runs the body of an API function. What it throws (an allocation refused)
// becomes the function's failure value: nothing may unwind through the
// plugin's stack frame, which knows no exceptions.
template <class R, class Body>
R api_guard(R failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

// The "message" of "发送群json消息" from its UTF-8 text: the text as a string
// when `raw`; a segment object (with "type") as a one-element array; a
// segment array as it is; anything else as the escaped JSON card code.
cJSON* api_jsonmsg_build(std::string_view u8, bool raw);

// Params built member by member, in order; `ok` turns false when a text
// member cannot be converted to UTF-8, and the action is then not sent (an
// empty value would wipe a name or card on the backend).
struct ApiParams {
  HxJson obj{cJSON_CreateObject()};
  bool ok = true;

  ApiParams& id(const char* key, hx_i64 v) {
    add_id(obj.get(), key, api_id_text(v).c_str());
    return *this;
  }
  ApiParams& id_text(const char* key, const char* text) {
    add_id(obj.get(), key, text);
    return *this;
  }
  ApiParams& flag(const char* key, bool v) {
    cJSON_AddBoolToObject(obj.get(), key, v);
    return *this;
  }
  ApiParams& number(const char* key, double v) {
    cJSON_AddNumberToObject(obj.get(), key, v);
    return *this;
  }
  ApiParams& raw(const char* key, const char* text) {
    cJSON_AddStringToObject(obj.get(), key, text ? text : "");
    return *this;
  }
  ApiParams& utf8(const char* key, const char* text) {
    std::optional<std::string> u8 = hx_auto_to_utf8(text ? text : "");
    if (u8) {
      cJSON_AddStringToObject(obj.get(), key, u8->c_str());
    } else {
      ok = false;
    }
    return *this;
  }
  bool call(hx_i64 bot, const char* action) const { return ok && call_ok(bot, action, obj.get()); }
  std::optional<std::string> data(hx_i64 bot, const char* action) const {
    if (!ok) return std::nullopt;
    return call_data(bot, action, obj.get());
  }
};

// Copies into the next buffer of a per-thread ring and returns it.
const char* tmpstr(std::string_view text);
// Test seam: the record-array builder's next `n` allocations succeed and the
// one after fails (-1: none fails).
void api_fail_allocation_after(int n);
// "1" or "0" from the short-result ring (the constant when the thread has no ring).
const char* api_ok_text(bool ok);
// A data result: UTF-8 in, made GBK-safe; results longer than the fixed
// ring's 65,535 bytes are handed whole through a growable ring (24 MiB cap).
const char* tmpgbk_big(std::string_view utf8);
// A media result; the empty text when it exceeds 24 MiB with its terminator.
const char* upload_ret(std::string_view text);
