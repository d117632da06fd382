#include "milky/milky_json.h"

#include <cmath>

#include "foundation/util.h"

double mk_num(const cJSON* obj, const char* key) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(obj, key);
  if (cJSON_IsNumber(v)) return std::isfinite(v->valuedouble) ? v->valuedouble : 0;
  if (cJSON_IsString(v) && v->valuestring) return static_cast<double>(hx_to_i64(v->valuestring, 0));
  if (cJSON_IsBool(v)) return cJSON_IsTrue(v) ? 1 : 0;
  return 0;
}

std::int64_t mk_id(const cJSON* obj, const char* key) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(obj, key);
  if (cJSON_IsString(v) && v->valuestring) return hx_to_i64(v->valuestring, 0);
  const double d = mk_num(obj, key);
  // Out of range a cast would be undefined.
  return d >= -9.2e18 && d <= 9.2e18 ? static_cast<std::int64_t>(d) : 0;
}

const char* mk_str(const cJSON* obj, const char* key) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(obj, key);
  return cJSON_IsString(v) && v->valuestring ? v->valuestring : "";
}

const char* mk_str_or(const cJSON* obj, const char* key, const char* other) {
  const char* s = mk_str(obj, key);
  return *s ? s : mk_str(obj, other);
}

std::string mk_text(const cJSON* obj, const char* key) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(obj, key);
  if (cJSON_IsString(v) && v->valuestring) return v->valuestring;
  if (cJSON_IsNumber(v)) return mk_id_text(mk_id(obj, key));
  return {};
}

bool mk_bool(const cJSON* obj, const char* key, bool absent) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(obj, key);
  if (!v || cJSON_IsNull(v)) return absent;
  return mk_num(obj, key) != 0;
}

const cJSON* mk_obj(const cJSON* obj, const char* key) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(obj, key);
  return cJSON_IsObject(v) ? v : nullptr;
}

void mk_add_id(cJSON* obj, const char* key, std::int64_t value) {
  cJSON_AddNumberToObject(obj, key, static_cast<double>(value));
}

std::string mk_id_text(std::int64_t value) { return std::to_string(value); }
