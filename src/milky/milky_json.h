// Reading and writing the members of Milky and OneBot objects, shared by the
// adapter's conversions. Not for other modules.
#pragma once

#include <cjson/cJSON.h>

#include <cstdint>
#include <string>
#include <string_view>

// A number from a number, a numeric string or a boolean; 0 otherwise (also
// for a missing object).
double mk_num(const cJSON* obj, const char* key);
// A whole number the same way (ids, sequences).
std::int64_t mk_id(const cJSON* obj, const char* key);
// A string member, or "".
const char* mk_str(const cJSON* obj, const char* key);
// The first non-empty of two string members.
const char* mk_str_or(const cJSON* obj, const char* key, const char* other);
// A text member the way CQ parameters see it: a string as it is, a number
// without decimals, else "".
std::string mk_text(const cJSON* obj, const char* key);
// A boolean from a boolean or a number; `absent` when the member is missing.
bool mk_bool(const cJSON* obj, const char* key, bool absent);
// An object member, or null.
const cJSON* mk_obj(const cJSON* obj, const char* key);

// Adds a whole number (ids print without decimals).
void mk_add_id(cJSON* obj, const char* key, std::int64_t value);
// Decimal text of a whole number.
std::string mk_id_text(std::int64_t value);
